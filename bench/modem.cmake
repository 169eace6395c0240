# Modem benchmarks: real-time speed of every demodulator and modulator, and a
# character-error-rate versus signal-to-noise table per mode.
zr_add_bench(bench_modem SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_modem.cpp
  LIBS zr_modem_harness zr_modem)
zr_add_bench(bench_modem_cer SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_modem_cer.cpp
  LIBS zr_modem_harness zr_modem)
