# The end-to-end case runs the real simulator and hamlib's rigctl.
zr_add_test(test_civ SOURCES test_civ.cpp LIBS zr_civ zr_radio zr_params Qt5::Network TIMEOUT 400)
add_dependencies(test_civ zr450-bbsim)
