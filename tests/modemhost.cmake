# The modem host against the sound-card stand-in and the real simulator; the
# simulator's receive model is compiled in for the offline cases.
zr_add_test(test_modemhost
  SOURCES test_modemhost.cpp ${PROJECT_SOURCE_DIR}/sim/bbstations.cpp
  LIBS zr_modem zr_modem_harness zr_simaudio zr_radio zr_params Qt5::Network Qt5::Sql
  TIMEOUT 180)
set_property(TEST test_modemhost APPEND PROPERTY ENVIRONMENT "ALSA_CONFIG_PATH=${ZR450_ALSA_CONFIG_PATH}")
add_dependencies(test_modemhost asound_module_pcm_zr450 zr450-bbsim)
