# The frames' build rule: the host-side generator writes the ten frame bitmaps
# (frame106.bmp .. frame115.bmp) that the resource script embeds.
set(ZEMBLOID_FRAME_DIR ${CMAKE_BINARY_DIR}/frames)
set(ZEMBLOID_FRAME_FILES)
foreach(id RANGE 106 115)
  list(APPEND ZEMBLOID_FRAME_FILES ${ZEMBLOID_FRAME_DIR}/frame${id}.bmp)
endforeach()
add_custom_command(
  OUTPUT ${ZEMBLOID_FRAME_FILES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZEMBLOID_FRAME_DIR}
  COMMAND stereogen frames ${ZEMBLOID_FRAME_DIR}
  DEPENDS stereogen
  COMMENT "Generating the ten stereogram frames")
add_custom_target(frames ALL DEPENDS ${ZEMBLOID_FRAME_FILES})
