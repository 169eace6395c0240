zr_add_bench(bench_radio SOURCES bench_radio.cpp LIBS zr_radio zr_spectrum)
# FirmwareUpgrade runs the simulator.
add_dependencies(bench_radio zr450-bbsim)
