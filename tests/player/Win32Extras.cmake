# player_missing_frame.exe: the frame player's tests against resources that lack
# frame 110. Its resource script is the product's with that one line removed.
set(player_rc_source ${CMAKE_SOURCE_DIR}/resources/zembloid.rc)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${player_rc_source})
file(READ ${player_rc_source} player_rc_text)
string(REGEX REPLACE "\n110[ \t]+BITMAP[^\n]*" "" player_rc_missing "${player_rc_text}")
if(player_rc_missing STREQUAL player_rc_text)
  message(FATAL_ERROR "tests/player: no line for frame 110 in ${player_rc_source}")
endif()
set(player_rc ${CMAKE_BINARY_DIR}/player_missing_frame.rc)
file(CONFIGURE OUTPUT ${player_rc} CONTENT "${player_rc_missing}" @ONLY)

add_executable(player_missing_frame ${CMAKE_CURRENT_LIST_DIR}/missing_frame_wt.cpp ${player_rc})
target_include_directories(player_missing_frame PRIVATE
  ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/resources ${ZEMBLOID_FRAME_DIR})
set_source_files_properties(${player_rc} PROPERTIES
  OBJECT_DEPENDS "${ZEMBLOID_FRAME_FILES};${ZEMBLOID_RESOURCE_INPUTS}")
target_compile_options(player_missing_frame PRIVATE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -finput-charset=UTF-8 -fexec-charset=CP932>)
target_link_libraries(player_missing_frame PRIVATE zembloid_core gtest gtest_main ${ZEMBLOID_STATIC_LINK})
