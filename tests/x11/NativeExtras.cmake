# The Linux program's X11 end-to-end tests, and its idle watcher's on X11,
# sway, KWin and GNOME: one ctest entry per test class.
zembloid_python_test_classes(x11 ${CMAKE_SOURCE_DIR}/tests/x11/test_x11.py 180
  Placement ServerMemory Fullscreen Timing Ending Arguments Daemon Valgrind Manual
  IdleX11 IdleSway IdleKwin IdleGnome)
