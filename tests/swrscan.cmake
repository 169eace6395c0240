# The SWR scanner's sweep against a parameter store, and end to end through
# the radio link against the real simulator's antenna.
zr_add_test(test_swrscan
  SOURCES test_swrscan.cpp rig_support.cpp rig_support.h
  LIBS zr_ui zr_radio zr_spectrum zr_widgets Qt5::Network Qt5::Widgets
  TIMEOUT 480)
add_dependencies(test_swrscan zr450-bbsim)
