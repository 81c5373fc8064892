# Helpers of the idle tests' sessions: input for headless KWin, and a Wayland
# idle inhibitor for any compositor that offers the protocol.
set(ZEMBLOID_PLASMA_PROTOCOLS_DIR /usr/share/plasma-wayland-protocols)
if(NOT EXISTS ${ZEMBLOID_PLASMA_PROTOCOLS_DIR}/fake-input.xml)
  message(FATAL_ERROR "${ZEMBLOID_PLASMA_PROTOCOLS_DIR}/fake-input.xml not found "
                      "(Debian: plasma-wayland-protocols)")
endif()
add_executable(fake_input ${CMAKE_SOURCE_DIR}/tests/support/fake_input.c)
zembloid_wayland_protocol(fake_input ${ZEMBLOID_PLASMA_PROTOCOLS_DIR}/fake-input.xml)
target_link_libraries(fake_input PRIVATE PkgConfig::WAYLAND_CLIENT)

pkg_get_variable(WAYLAND_PROTOCOLS_DIR wayland-protocols pkgdatadir)
add_executable(idle_inhibitor ${CMAKE_SOURCE_DIR}/tests/support/idle_inhibitor.c)
foreach(xml stable/xdg-shell/xdg-shell.xml unstable/idle-inhibit/idle-inhibit-unstable-v1.xml)
  zembloid_wayland_protocol(idle_inhibitor ${WAYLAND_PROTOCOLS_DIR}/${xml})
endforeach()
target_link_libraries(idle_inhibitor PRIVATE PkgConfig::WAYLAND_CLIENT)

set_target_properties(fake_input idle_inhibitor PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${ZEMBLOID_OUT_DIR}/linux)
