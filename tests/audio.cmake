zr_add_test(test_audio SOURCES test_audio.cpp LIBS zr_audio zr_simaudio zr_ui TIMEOUT 120)
# The project's ALSA devices; the plugin must be built before the test runs.
set_property(TEST test_audio APPEND PROPERTY ENVIRONMENT "ALSA_CONFIG_PATH=${ZR450_ALSA_CONFIG_PATH}")
add_dependencies(test_audio asound_module_pcm_zr450)
