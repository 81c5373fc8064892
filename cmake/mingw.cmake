# The part of the MinGW-w64 cross toolchains both builds share; the file that
# includes this sets ZEMBLOID_MINGW (the target triplet) and the processor.
# The posix thread model is the one that builds GoogleTest; the product links
# every runtime statically either way.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${ZEMBLOID_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZEMBLOID_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${ZEMBLOID_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZEMBLOID_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
