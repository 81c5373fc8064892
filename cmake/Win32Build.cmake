# A cross tree, for i686 or x86-64: zembloid.scr, the Win32 test executables and the test launcher.
enable_language(RC)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")

if(NOT ZEMBLOID_FRAME_DIR)
  message(FATAL_ERROR "ZEMBLOID_FRAME_DIR must name the folder of the generated frames")
endif()
if(NOT ZEMBLOID_OUT_DIR)
  set(ZEMBLOID_OUT_DIR ${CMAKE_BINARY_DIR})
endif()

set(ZEMBLOID_STATIC_LINK -static -static-libgcc -static-libstdc++)
# What differs between the two builds of the product:
# - the entry symbol: the loader enters SaverStart directly, and on i386 a
#   stdcall name carries a leading underscore and its argument size;
# - the header: Windows 95 and NT 4 loaders refuse images that ask for a newer
#   OS or subsystem; the x86-64 build keeps the toolchain's versions, the
#   oldest an x64 loader takes;
# - unwind tables: on i386 the DWARF tables are read only by the C++ run-time's
#   exception support, which the product does not link, so they are left out;
#   on x86-64 they are the system's own structured-exception data and stay;
# - the i386 guard (host/Entry_win.cpp, run once) is built for size: at -Os
#   GCC keeps the guard's address in a register that Windows NT's RtlUnwind
#   may change, which is what the unwind call's clobber list is for, so the
#   guard's tests run against the code that needs it (at -O3 GCC reloads the
#   address from the stack and works with or without the list).
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set_source_files_properties(host/Entry_win.cpp PROPERTIES COMPILE_OPTIONS -Os)
  set(ZEMBLOID_ENTRY _SaverStart@0)
  set(ZEMBLOID_OLD_LOADERS
    -Wl,--major-os-version,4 -Wl,--minor-os-version,0
    -Wl,--major-subsystem-version,4 -Wl,--minor-subsystem-version,0)
  set(ZEMBLOID_NO_UNWIND_TABLES -fno-asynchronous-unwind-tables)
else()
  set(ZEMBLOID_ENTRY SaverStart)
  set(ZEMBLOID_OLD_LOADERS)
  set(ZEMBLOID_NO_UNWIND_TABLES)
endif()

# Everything of the product except its process entry, so that tests can link it.
add_library(zembloid_core STATIC ${ZEMBLOID_PORTABLE_SOURCES} ${ZEMBLOID_WIN32_SOURCES})
target_include_directories(zembloid_core PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(zembloid_core PRIVATE
  -Wall -Wextra -fno-exceptions -fno-rtti
  -finput-charset=UTF-8 -fexec-charset=CP932 ${ZEMBLOID_NO_UNWIND_TABLES})
target_link_libraries(zembloid_core PUBLIC user32 gdi32 advapi32 kernel32)

# The resources, compiled once and linked into the product and the tests.
set(ZEMBLOID_FRAME_FILES)
foreach(id RANGE 106 115)
  list(APPEND ZEMBLOID_FRAME_FILES ${ZEMBLOID_FRAME_DIR}/frame${id}.bmp)
endforeach()
add_library(zembloid_resources OBJECT resources/zembloid.rc)
target_include_directories(zembloid_resources PRIVATE
  ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/resources ${ZEMBLOID_FRAME_DIR})
file(GLOB ZEMBLOID_RESOURCE_INPUTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/*)
set_source_files_properties(resources/zembloid.rc PROPERTIES
  OBJECT_DEPENDS "${ZEMBLOID_FRAME_FILES};${ZEMBLOID_FRAME_DIR}/scrn.ico;${ZEMBLOID_RESOURCE_INPUTS}")

# The product links no C run-time library and no start-up code: Windows 95
# as first shipped has no msvcrt.dll. libgcc is static and imports nothing; it
# supplies helpers such as 64-bit division on i386 and stack probes. The file
# is stripped and carries no time stamp, so that one commit built in any
# folder gives the same bytes.
add_executable(zembloid WIN32 host/Start_win.cpp $<TARGET_OBJECTS:zembloid_resources>)
target_compile_options(zembloid PRIVATE -Wall -Wextra -fno-exceptions -fno-rtti ${ZEMBLOID_NO_UNWIND_TABLES})
target_link_options(zembloid PRIVATE
  -nostdlib -Wl,--entry=${ZEMBLOID_ENTRY} -s -Wl,--no-insert-timestamp ${ZEMBLOID_OLD_LOADERS})
target_link_libraries(zembloid PRIVATE zembloid_core kernel32 user32 gdi32 advapi32 gcc)
set_target_properties(zembloid PROPERTIES
  SUFFIX ".scr"
  RUNTIME_OUTPUT_DIRECTORY ${ZEMBLOID_OUT_DIR})

# GoogleTest from the system's sources, built with the cross compiler.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

foreach(test_source ${ZEMBLOID_WIN32_TESTS})
  get_filename_component(test_name ${test_source} NAME_WE)
  add_executable(${test_name} ${test_source} $<TARGET_OBJECTS:zembloid_resources>)
  target_compile_options(${test_name} PRIVATE -Wall -Wextra -finput-charset=UTF-8 -fexec-charset=CP932)
  target_link_libraries(${test_name} PRIVATE zembloid_core gtest gtest_main ${ZEMBLOID_STATIC_LINK})
endforeach()

# Test support programs that run under Wine.
file(GLOB ZEMBLOID_SUPPORT_PROGRAMS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*_win.cpp)
foreach(support_source ${ZEMBLOID_SUPPORT_PROGRAMS})
  get_filename_component(support_name ${support_source} NAME_WE)
  string(REGEX REPLACE "_win$" "" support_name ${support_name})
  add_executable(${support_name} ${support_source})
  target_compile_options(${support_name} PRIVATE -Wall -Wextra)
  target_link_libraries(${support_name} PRIVATE ${ZEMBLOID_STATIC_LINK})
endforeach()

# Extra cross-built pieces a test folder needs (test doubles, variant builds).
file(GLOB ZEMBLOID_EXTRA_WIN32 CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*/Win32Extras.cmake)
foreach(extra ${ZEMBLOID_EXTRA_WIN32})
  include(${extra})
endforeach()
