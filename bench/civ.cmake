zr_add_bench(bench_civ SOURCES bench_civ.cpp LIBS zr_civ zr_radio zr_params)
