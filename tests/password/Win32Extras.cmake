# Test doubles of the two system libraries the Windows 9x password lock uses,
# each in a folder of its own under the cross build tree's "password" folder:
#   verifier/PASSWORD.CPL  with the verifier entry
#   noentry/PASSWORD.CPL   the same library without it
#   mpr/MPR.DLL            the password-change service
#   saverflag.exe          a probe of the screen-saver-running flag
set(ZEMBLOID_PASSWORD_DOUBLES ${CMAKE_BINARY_DIR}/password)

function(zembloid_password_double target source folder name suffix)
  add_library(${target} SHARED ${CMAKE_CURRENT_LIST_DIR}/${source})
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  # Entries are exported under their plain names, as the system's libraries do.
  target_link_libraries(${target} PRIVATE -Wl,--kill-at ${ZEMBLOID_STATIC_LINK})
  set_target_properties(${target} PROPERTIES
    PREFIX "" OUTPUT_NAME ${name} SUFFIX ${suffix}
    RUNTIME_OUTPUT_DIRECTORY ${ZEMBLOID_PASSWORD_DOUBLES}/${folder})
endfunction()

zembloid_password_double(password_double_verifier VerifierDouble_win.cpp verifier PASSWORD .CPL)
zembloid_password_double(password_double_noentry VerifierDouble_win.cpp noentry PASSWORD .CPL)
target_compile_definitions(password_double_noentry PRIVATE WITHOUT_VERIFIER)
zembloid_password_double(password_double_mpr MprDouble_win.cpp mpr MPR .DLL)

# Reads (and optionally sets) the system's screen-saver-running flag from
# outside the saver.
add_executable(saverflag ${CMAKE_CURRENT_LIST_DIR}/SaverFlag_win.cpp)
target_compile_options(saverflag PRIVATE -Wall -Wextra)
target_link_libraries(saverflag PRIVATE ${ZEMBLOID_STATIC_LINK})
set_target_properties(saverflag PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ZEMBLOID_PASSWORD_DOUBLES})
