# The native tree: platform-free code and its unit tests, the host-side tools
# (which write the frames), the Linux program, and the registration of every
# test layer with ctest.
find_package(GTest REQUIRED)
# Debian's own interpreter: the test libraries (Pillow, pefile) are its packages.
set(Python3_EXECUTABLE /usr/bin/python3 CACHE FILEPATH "")
find_package(Python3 REQUIRED COMPONENTS Interpreter)
include(GoogleTest)
enable_testing()

if(NOT ZEMBLOID_OUT_DIR)
  set(ZEMBLOID_OUT_DIR ${CMAKE_BINARY_DIR})
endif()

add_compile_options(-Wall -Wextra)

# Libraries the unit tests link besides the product's platform-free code;
# folders append to this property.
set_property(GLOBAL PROPERTY ZEMBLOID_UNIT_TEST_LIBS "")

add_library(zembloid_portable STATIC ${ZEMBLOID_PORTABLE_SOURCES})
target_include_directories(zembloid_portable PUBLIC ${CMAKE_SOURCE_DIR})

add_subdirectory(tools)
include(resources/Frames.cmake)
include(resources/Icon.cmake)
# The Linux program, from the same frames.
add_subdirectory(linux)
# The browser page, from the same core compiled to WebAssembly.
add_subdirectory(web)

file(GLOB ZEMBLOID_UNIT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*_ut.cpp)
if(ZEMBLOID_UNIT_TESTS)
  get_property(unit_libs GLOBAL PROPERTY ZEMBLOID_UNIT_TEST_LIBS)
  add_executable(unit_tests ${ZEMBLOID_UNIT_TESTS})
  target_link_libraries(unit_tests PRIVATE zembloid_portable ${unit_libs} GTest::gtest GTest::gtest_main)
  target_compile_definitions(unit_tests PRIVATE
    ZEMBLOID_FRAME_DIR="${ZEMBLOID_FRAME_DIR}"
    ZEMBLOID_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  add_dependencies(unit_tests frames)
  gtest_discover_tests(unit_tests TEST_PREFIX "unit." DISCOVERY_TIMEOUT 60)
endif()

# The Wine layers run once for each build in ZEMBLOID_WINE_ARCHS: win32 (the
# product under 32-bit Wine) and win64 (the x86-64 build under 64-bit Wine).
# Their tests are named wine.ARCH.* and e2e.ARCH.*; each build's tests share
# one prefix template, made once per build tree. The builds in
# ZEMBLOID_WINE_EMULATED run through user-mode emulation: every time-out of
# their tests, ctest's and the tests' own waits, is as many times longer as
# the session module says.
if(NOT DEFINED ZEMBLOID_WINE_ARCHS)
  set(ZEMBLOID_WINE_ARCHS win32)
endif()
set(ZEMBLOID_SESSION ${CMAKE_SOURCE_DIR}/tests/support/winesession.py)
execute_process(COMMAND ${Python3_EXECUTABLE} ${ZEMBLOID_SESSION} slowdown
  OUTPUT_VARIABLE ZEMBLOID_EMULATION_SLOWDOWN OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
file(GLOB ZEMBLOID_E2E_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/test_*.py)

# Registers a Wine test of build `arch`: the name gets the build's prefix and
# the test its session's environment and prefix template.
function(zembloid_wine_test layer name timeout)
  math(EXPR timeout "${timeout} * ${time_scale}")
  add_test(NAME ${layer}.${arch}.${name} COMMAND ${ARGN})
  set_tests_properties(${layer}.${arch}.${name} PROPERTIES
    FIXTURES_REQUIRED wine_template_${arch} ENVIRONMENT "${ZEMBLOID_TEST_ENV}" TIMEOUT ${timeout})
endfunction()

# What every scripted test is told of the build; the Wine tests add their build's.
set(ZEMBLOID_BASE_ENV
  ZEMBLOID_BUILD=${ZEMBLOID_OUT_DIR}
  ZEMBLOID_NATIVE_DIR=${CMAKE_BINARY_DIR}
  ZEMBLOID_SOURCE_DIR=${CMAKE_SOURCE_DIR}
  PYTHONPATH=${CMAKE_SOURCE_DIR}/tests/support
  PYTHONDONTWRITEBYTECODE=1)

foreach(arch ${ZEMBLOID_WINE_ARCHS})
  set(ZEMBLOID_ARCH_DIR ${ZEMBLOID_OUT_DIR}/${arch})
  set(ZEMBLOID_TEST_ENV ${ZEMBLOID_BASE_ENV} ZEMBLOID_ARCH=${arch})
  set(time_scale 1)
  if(arch IN_LIST ZEMBLOID_WINE_EMULATED)
    set(time_scale ${ZEMBLOID_EMULATION_SLOWDOWN})
    list(APPEND ZEMBLOID_TEST_ENV ZEMBLOID_EMULATED=1)
  endif()
  math(EXPR template_timeout "300 * ${time_scale}")
  add_test(NAME wine.${arch}.template COMMAND ${Python3_EXECUTABLE} ${ZEMBLOID_SESSION} template)
  set_tests_properties(wine.${arch}.template PROPERTIES
    FIXTURES_SETUP wine_template_${arch} ENVIRONMENT "${ZEMBLOID_TEST_ENV}"
    TIMEOUT ${template_timeout})

  # Win32 tests: each executable runs in a Wine session of its own.
  set(gtest_programs ${ZEMBLOID_WIN32_TESTS} player_missing_frame)
  foreach(test_source ${gtest_programs})
    get_filename_component(test_name ${test_source} NAME_WE)
    zembloid_wine_test(wine ${test_name} 600 ${Python3_EXECUTABLE} ${ZEMBLOID_SESSION}
      gtest ${ZEMBLOID_ARCH_DIR}/${test_name}.exe)
  endforeach()

  # End-to-end tests: the saver under Wine on a virtual display, driven as a user would.
  foreach(test_script ${ZEMBLOID_E2E_TESTS})
    get_filename_component(test_name ${test_script} NAME_WE)
    string(REGEX REPLACE "^test_" "" test_name ${test_name})
    zembloid_wine_test(e2e ${test_name} 900 ${Python3_EXECUTABLE} ${test_script})
  endforeach()
endforeach()

# One ctest entry PREFIX.CLASS (lower case) for each test class of a Python
# test file, run as `SCRIPT CLASS` with the base environment.
function(zembloid_python_test_classes prefix script timeout)
  foreach(group ${ARGN})
    string(TOLOWER ${group} name)
    add_test(NAME ${prefix}.${name} COMMAND ${Python3_EXECUTABLE} ${script} ${group})
    set_tests_properties(${prefix}.${name} PROPERTIES ENVIRONMENT "${ZEMBLOID_BASE_ENV}" TIMEOUT ${timeout})
  endforeach()
endfunction()

# Extra native registrations a test folder needs.
file(GLOB ZEMBLOID_EXTRA_NATIVE CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*/NativeExtras.cmake)
foreach(extra ${ZEMBLOID_EXTRA_NATIVE})
  include(${extra})
endforeach()
