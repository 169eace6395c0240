zr_add_test(test_modem SOURCES test_modem.cpp LIBS zr_modem_harness zr_modem TIMEOUT 240)
# The command-line tests run the tool.
add_dependencies(test_modem zr450-modem)
