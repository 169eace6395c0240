# The operating screen: one tick with a new frequency and spectrum frame,
# and the whole application at rest (per thread); run under xvfb-run.
zr_add_bench(bench_mainwindow SOURCES bench_mainwindow.cpp LIBS zr_ui zr_widgets)
target_compile_definitions(bench_mainwindow PRIVATE ZR_BINARY_DIR="${PROJECT_BINARY_DIR}")
add_dependencies(bench_mainwindow zr450 zr450-bbsim asound_module_pcm_zr450)
