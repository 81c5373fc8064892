# The icon's build rule: the host-side tool turns the character grid into the
# .ico file that the resource script embeds, next to the generated frames.
set(ZEMBLOID_ICON_FILE ${ZEMBLOID_FRAME_DIR}/scrn.ico)
add_custom_command(
  OUTPUT ${ZEMBLOID_ICON_FILE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZEMBLOID_FRAME_DIR}
  COMMAND icongen ${CMAKE_SOURCE_DIR}/resources/ScrnIcon.txt ${ZEMBLOID_ICON_FILE}
  DEPENDS icongen ${CMAKE_SOURCE_DIR}/resources/ScrnIcon.txt
  COMMENT "Generating the SCRN icon")
add_custom_target(icon ALL DEPENDS ${ZEMBLOID_ICON_FILE})
