# The on-screen keyboard, the text editor, the memory-channel editor and
# the filter panel, driven by keys and knobs on the offscreen platform.
zr_add_test(test_panels
  SOURCES test_panels_main.cpp test_panels_keyboard.cpp
          panels_support.cpp panels_support.h
  LIBS zr_widgets
  TIMEOUT 180)
