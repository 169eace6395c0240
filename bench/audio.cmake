zr_add_bench(bench_audio SOURCES bench_audio.cpp LIBS zr_audio zr_simaudio)
target_compile_definitions(bench_audio PRIVATE ZR450_ALSA_CONFIG_PATH="${ZR450_ALSA_CONFIG_PATH}")
add_dependencies(bench_audio asound_module_pcm_zr450)
