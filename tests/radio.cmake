zr_add_test(test_radio SOURCES test_radio.cpp LIBS zr_radio zr_spectrum Qt5::Network)
# The end-to-end cases run the real simulator.
add_dependencies(test_radio zr450-bbsim)

# Register block and push, reports, the simulator's transmitter model, and
# the real application against the real simulator.
zr_add_test(test_push
  SOURCES test_push.cpp radio_support.cpp radio_support.h params_support.cpp params_support.h
          ${PROJECT_SOURCE_DIR}/sim/bbtx.cpp ${PROJECT_SOURCE_DIR}/sim/bbrf.cpp
  LIBS zr_radio zr_spectrum Qt5::Network Qt5::Sql Qt5::Widgets
  TIMEOUT 240)
add_dependencies(test_push zr450 zr450-bbsim)

# Front-panel input through the input thread, and from the simulator's
# control socket.
zr_add_test(test_input
  SOURCES test_input.cpp radio_support.cpp radio_support.h params_support.cpp params_support.h
  LIBS zr_radio zr_spectrum Qt5::Network Qt5::Sql Qt5::Widgets
  TIMEOUT 240)
add_dependencies(test_input zr450-bbsim)

# Base-band firmware upgrade: the XMODEM sender, the bootloader start, the
# simulator's bootloader, the dialog and whole upgrades against the
# simulator; lrzsz's receiver as the independent peer.
zr_add_test(test_fwupgrade
  SOURCES test_fwupgrade.cpp ${PROJECT_SOURCE_DIR}/sim/bbboot.cpp
  LIBS zr_radio zr_spectrum Qt5::Network Qt5::Widgets
  TIMEOUT 300)
add_dependencies(test_fwupgrade zr450-bbsim)
