zr_add_test(test_morse SOURCES test_morse.cpp LIBS zr_modem TIMEOUT 60)
