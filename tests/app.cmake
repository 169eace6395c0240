zr_add_test(test_app SOURCES test_app.cpp LIBS zr_app)
