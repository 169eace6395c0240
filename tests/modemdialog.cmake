# The modem dialog against the sound-card stand-in, its launch from the
# operating screen (OpenGL panadapter: an X display), and the screen with
# the dialog on the real simulator.
zr_add_test(test_modemdialog
  SOURCES test_modemdialog.cpp panels_support.cpp panels_support.h radio_support.cpp radio_support.h
  LIBS zr_ui zr_modem zr_modem_harness zr_simaudio zr_widgets zr_radio zr_spectrum zr_params
       Qt5::Network Qt5::Sql Qt5::Widgets
  XVFB TIMEOUT 480)
set_property(TEST test_modemdialog APPEND PROPERTY ENVIRONMENT "ALSA_CONFIG_PATH=${ZR450_ALSA_CONFIG_PATH}")
add_dependencies(test_modemdialog asound_module_pcm_zr450 zr450-bbsim)
