# Panels, parameter frames and the VFO readout on the offscreen platform.
zr_add_test(test_ui SOURCES test_ui.cpp LIBS zr_ui zr_widgets TIMEOUT 120)
# The OpenGL panadapter needs an X display.
zr_add_test(test_scope SOURCES test_scope.cpp LIBS zr_scope XVFB TIMEOUT 120)
