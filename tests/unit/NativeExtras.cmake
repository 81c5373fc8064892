# The unit tests also run the stereogram tool the way a user does.
if(TARGET unit_tests)
  target_compile_definitions(unit_tests PRIVATE ZEMBLOID_STEREOGEN="$<TARGET_FILE:stereogen>")
  add_dependencies(unit_tests stereogen)
endif()
