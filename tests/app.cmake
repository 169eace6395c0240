zr_add_test(test_app SOURCES test_app.cpp LIBS zr_app)
# The run script's stop test starts the application and the simulator.
add_dependencies(test_app zr450 zr450-bbsim asound_module_pcm_zr450)
