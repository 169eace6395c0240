# The instruments of the operating screen, the knob groups, the spectrum
# resampling, the supply watch and the style sheets, on the offscreen
# platform.
zr_add_test(test_instruments SOURCES test_instruments.cpp LIBS zr_ui zr_widgets TIMEOUT 120)

# The main window itself, with its OpenGL panadapter on an X display, alone
# and against the real simulator (and the real application against it).
zr_add_test(test_mainwindow
  SOURCES test_mainwindow.cpp radio_support.cpp radio_support.h params_support.cpp params_support.h
  LIBS zr_ui zr_widgets zr_radio zr_spectrum Qt5::Network Qt5::Sql Qt5::Widgets
  XVFB TIMEOUT 400)
set_property(TEST test_mainwindow APPEND PROPERTY ENVIRONMENT "ALSA_CONFIG_PATH=${ZR450_ALSA_CONFIG_PATH}")
add_dependencies(test_mainwindow zr450 zr450-bbsim asound_module_pcm_zr450)
