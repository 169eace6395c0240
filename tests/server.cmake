# The network server's settings file and dialog, its start at power-up, the
# emulated service script, and the real wfserver (Debian package wfview)
# against the CI-V loop's network port.
zr_add_test(test_server SOURCES test_server.cpp
  LIBS zr_server zr_civ zr_widgets zr_params Qt5::Network Qt5::Widgets
  TIMEOUT 240)
