# Voice messages: recorder and call panels through Qt Multimedia (GStreamer
# for recording) on the project's sound devices, and end to end against the
# real simulator's microphone and transmitter.
zr_add_test(test_voice
  SOURCES test_voice.cpp rig_support.cpp rig_support.h
  LIBS zr_audio zr_radio zr_spectrum zr_widgets Qt5::Multimedia Qt5::Network Qt5::Widgets
  TIMEOUT 240)
set_property(TEST test_voice APPEND PROPERTY ENVIRONMENT "ALSA_CONFIG_PATH=${ZR450_ALSA_CONFIG_PATH}")
add_dependencies(test_voice zr450-bbsim asound_module_pcm_zr450)
