# The Linux program's end-to-end tests, X11 and Wayland: one ctest entry per test class.
foreach(group Placement Fullscreen Timing Ending Arguments Daemon Valgrind Wayland Manual
              IdleX11 IdleSway IdleKwin IdleGnome)
  string(TOLOWER ${group} name)
  add_test(NAME x11.${name}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/x11/test_x11.py ${group})
  set_tests_properties(x11.${name} PROPERTIES ENVIRONMENT "${ZEMBLOID_BASE_ENV}" TIMEOUT 180)
endforeach()

# The Wayland tests' pointer: headless sway has none until a client holds a
# virtual pointer.
add_executable(virtual_pointer ${CMAKE_SOURCE_DIR}/tests/support/virtual_pointer.c)
zembloid_wayland_protocol(virtual_pointer ${CMAKE_SOURCE_DIR}/tests/support/wlr-virtual-pointer-unstable-v1.xml)
target_link_libraries(virtual_pointer PRIVATE PkgConfig::WAYLAND_CLIENT)
set_target_properties(virtual_pointer PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ZEMBLOID_OUT_DIR}/linux)
