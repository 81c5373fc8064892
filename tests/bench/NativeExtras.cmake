# The Wayland bench's floor program (see tests/bench/bench.py), with the
# program's own xdg-shell code.
add_executable(floor_wayland ${CMAKE_SOURCE_DIR}/tests/bench/floor_wayland.c)
target_compile_options(floor_wayland PRIVATE -Wall -Wextra)
target_link_libraries(floor_wayland PRIVATE zembloid_wayland_protocols)
set_target_properties(floor_wayland PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ZEMBLOID_OUT_DIR}/linux)

# The X11 bench's floor program.
add_executable(floor_x11 ${CMAKE_SOURCE_DIR}/tests/bench/floor_x11.c)
target_compile_options(floor_x11 PRIVATE -Wall -Wextra)
find_package(X11 REQUIRED)
target_link_libraries(floor_x11 PRIVATE X11::X11)
set_target_properties(floor_x11 PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ZEMBLOID_OUT_DIR}/linux)
