# The browser page's tests in headless Chromium: one ctest entry per test class.
zembloid_python_test_classes(web ${CMAKE_SOURCE_DIR}/tests/web/test_web.py 300
  Build Picture Pace Fullscreen Quiet Query)
