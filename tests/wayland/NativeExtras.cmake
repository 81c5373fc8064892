# The Linux program's Wayland end-to-end tests: one ctest entry per test class.
zembloid_python_test_classes(wayland ${CMAKE_SOURCE_DIR}/tests/wayland/test_wayland.py 180
  Outputs Playing Ending Protocol Fractional Valgrind)

# The Wayland tests' pointer: headless sway has none until a client holds a
# virtual pointer.
add_executable(virtual_pointer ${CMAKE_SOURCE_DIR}/tests/support/virtual_pointer.c)
zembloid_wayland_protocol(virtual_pointer ${CMAKE_SOURCE_DIR}/tests/support/wlr-virtual-pointer-unstable-v1.xml)
target_link_libraries(virtual_pointer PRIVATE PkgConfig::WAYLAND_CLIENT)
set_target_properties(virtual_pointer PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ZEMBLOID_OUT_DIR}/linux)
