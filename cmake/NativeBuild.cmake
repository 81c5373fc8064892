# The native tree: platform-free code and its unit tests, the host-side tools
# (which write the frames), the X11 display mode, and the registration of every
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
if(NOT ZEMBLOID_WIN32_DIR)
  set(ZEMBLOID_WIN32_DIR ${ZEMBLOID_OUT_DIR}/win32)
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
# The X11 display mode, from the same frames.
add_subdirectory(x11)

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

# Everything that runs under Wine shares one prefix template, made once per build.
set(ZEMBLOID_SESSION ${CMAKE_SOURCE_DIR}/tests/support/winesession.py)
set(ZEMBLOID_TEST_ENV
  ZEMBLOID_BUILD=${ZEMBLOID_OUT_DIR}
  ZEMBLOID_WIN32_DIR=${ZEMBLOID_WIN32_DIR}
  ZEMBLOID_NATIVE_DIR=${CMAKE_BINARY_DIR}
  ZEMBLOID_SOURCE_DIR=${CMAKE_SOURCE_DIR}
  PYTHONPATH=${CMAKE_SOURCE_DIR}/tests/support
  PYTHONDONTWRITEBYTECODE=1)
add_test(NAME wine.template COMMAND ${Python3_EXECUTABLE} ${ZEMBLOID_SESSION} template)
set_tests_properties(wine.template PROPERTIES
  FIXTURES_SETUP wine_template ENVIRONMENT "${ZEMBLOID_TEST_ENV}" TIMEOUT 300)

# Win32 tests: each executable runs in a Wine session of its own.
foreach(test_source ${ZEMBLOID_WIN32_TESTS})
  get_filename_component(test_name ${test_source} NAME_WE)
  add_test(NAME wine.${test_name}
    COMMAND ${Python3_EXECUTABLE} ${ZEMBLOID_SESSION} gtest ${ZEMBLOID_WIN32_DIR}/${test_name}.exe)
  set_tests_properties(wine.${test_name} PROPERTIES
    FIXTURES_REQUIRED wine_template ENVIRONMENT "${ZEMBLOID_TEST_ENV}" TIMEOUT 600)
endforeach()

# End-to-end tests: zembloid.scr under Wine on a virtual display, driven as a user would.
file(GLOB ZEMBLOID_E2E_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/test_*.py)
foreach(test_script ${ZEMBLOID_E2E_TESTS})
  get_filename_component(test_name ${test_script} NAME_WE)
  string(REGEX REPLACE "^test_" "" test_name ${test_name})
  add_test(NAME e2e.${test_name} COMMAND ${Python3_EXECUTABLE} ${test_script})
  set_tests_properties(e2e.${test_name} PROPERTIES
    FIXTURES_REQUIRED wine_template ENVIRONMENT "${ZEMBLOID_TEST_ENV}" TIMEOUT 900)
endforeach()

# Extra native registrations a test folder needs.
file(GLOB ZEMBLOID_EXTRA_NATIVE CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*/NativeExtras.cmake)
foreach(extra ${ZEMBLOID_EXTRA_NATIVE})
  include(${extra})
endforeach()
