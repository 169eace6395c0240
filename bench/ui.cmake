# Panadapter update cost; run under xvfb-run for the OpenGL part.
zr_add_bench(bench_ui SOURCES bench_ui.cpp LIBS zr_scope)
