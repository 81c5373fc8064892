# monitors/SHCORE.DLL: a test double of the system's per-monitor DPI library,
# which leaves a marker file beside itself when it is loaded.
add_library(shcore_double SHARED ${CMAKE_CURRENT_LIST_DIR}/ShcoreDouble_win.cpp)
target_compile_options(shcore_double PRIVATE -Wall -Wextra)
target_link_libraries(shcore_double PRIVATE -Wl,--kill-at user32 ${ZEMBLOID_STATIC_LINK})
set_target_properties(shcore_double PROPERTIES
  PREFIX "" OUTPUT_NAME SHCORE SUFFIX .DLL
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/monitors)
