zr_add_test(test_params
  SOURCES test_params_main.cpp test_params_items.cpp test_params_vfo.cpp
          params_support.cpp params_support.h
  LIBS zr_params Qt5::Sql
  TIMEOUT 240)
