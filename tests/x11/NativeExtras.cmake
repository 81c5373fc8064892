# The Linux program's X11 end-to-end tests, and its idle watcher's on X11,
# sway, KWin and GNOME: one ctest entry per test class.
foreach(group Placement ServerMemory Fullscreen Timing Ending Arguments Daemon Valgrind Manual
              IdleX11 IdleSway IdleKwin IdleGnome)
  string(TOLOWER ${group} name)
  add_test(NAME x11.${name}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/x11/test_x11.py ${group})
  set_tests_properties(x11.${name} PROPERTIES ENVIRONMENT "${ZEMBLOID_BASE_ENV}" TIMEOUT 180)
endforeach()
