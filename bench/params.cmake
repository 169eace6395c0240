zr_add_bench(bench_params SOURCES params_bench.cpp LIBS zr_params)
