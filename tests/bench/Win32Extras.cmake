# The benchmark's floor program.
add_executable(floor WIN32 ${CMAKE_SOURCE_DIR}/tests/bench/floor_win.cpp)
target_compile_options(floor PRIVATE -Wall -Wextra)
target_link_libraries(floor PRIVATE ${ZEMBLOID_STATIC_LINK})
