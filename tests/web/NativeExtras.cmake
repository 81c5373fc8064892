# The browser page's tests in headless Chromium: one ctest entry per test class.
foreach(group Build Picture Pace Fullscreen Quiet Query)
  string(TOLOWER ${group} name)
  add_test(NAME web.${name}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/web/test_web.py ${group})
  set_tests_properties(web.${name} PROPERTIES ENVIRONMENT "${ZEMBLOID_BASE_ENV}" TIMEOUT 300)
endforeach()
