# Cross toolchain for 64-bit Windows (x86-64): the build for hosts that run no
# 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZEMBLOID_MINGW x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
