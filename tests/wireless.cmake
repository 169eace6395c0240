# WiFi (NetworkManager), Bluetooth (BlueZ), the wireless daemon and the
# WLAN and Bluetooth panels. Each run starts its own private system bus
# with the python-dbusmock stand-ins (sim/wireless/zr450-services) on its
# system root, and the simulator for the daemon's commands.
zr_add_test(test_wireless SOURCES test_wireless.cpp wireless_support.cpp wireless_support.h
  LIBS zr_wireless TIMEOUT 300)
add_dependencies(test_wireless zr450-bbsim)
# With Qt's own event dispatcher instead of its GLib one, GLib's main
# context is driven by the wireless library's timer: the asynchronous
# operations must complete the same way.
add_test(NAME test_wireless_qtdispatcher COMMAND test_wireless
  passwordChangeIsSavedByTheStandIn disconnectAndConnectAgain bluetoothShowsPairedDevicesAndConnection)
set_tests_properties(test_wireless_qtdispatcher PROPERTIES
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_NO_GLIB=1" TIMEOUT 200)
