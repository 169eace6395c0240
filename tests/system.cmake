# The system settings menu and the screens it opens (time setting, system
# information, factory reset) and the "Please Wait" command dialog, on the
# offscreen platform. The factory reset runs against the real simulator.
zr_add_test(test_system SOURCES test_system.cpp
  LIBS zr_ui zr_server zr_widgets zr_radio zr_params Qt5::Widgets Qt5::Network
  TIMEOUT 240)
add_dependencies(test_system zr450-bbsim)
