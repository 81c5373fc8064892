# Runs player_missing_frame.exe (built by the cross tree) in a Wine session.
add_test(NAME wine.player_missing_frame
  COMMAND ${Python3_EXECUTABLE} ${ZEMBLOID_SESSION} gtest ${ZEMBLOID_WIN32_DIR}/player_missing_frame.exe)
set_tests_properties(wine.player_missing_frame PROPERTIES
  FIXTURES_REQUIRED wine_template ENVIRONMENT "${ZEMBLOID_TEST_ENV}" TIMEOUT 600)
