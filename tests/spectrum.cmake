zr_add_test(test_spectrum SOURCES test_spectrum.cpp LIBS zr_spectrum)
