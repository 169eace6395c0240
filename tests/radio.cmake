zr_add_test(test_radio SOURCES test_radio.cpp LIBS zr_radio zr_spectrum Qt5::Network)
# The end-to-end cases run the real simulator.
add_dependencies(test_radio zr450-bbsim)
