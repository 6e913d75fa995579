# program_identity(TARGET IDENTIFIER): on Apple platforms, an Info.plist in the program's
# __TEXT,__info_plist section (bundle identifier IDENTIFIER, name TARGET, the project's version).
# A command-line tool has no bundle; this is what the Accessibility and Screen Recording lists of
# the privacy settings name it by. scripts/check-macos --link reads it back. Elsewhere nothing.
function(program_identity target identifier)
  if(NOT APPLE)
    return()
  endif()
  set(PROGRAM_NAME ${target})
  set(PROGRAM_IDENTIFIER ${identifier})
  set(plist ${CMAKE_BINARY_DIR}/info-plists/${target}.plist)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/Info.plist.in ${plist} @ONLY)
  target_link_options(${target} PRIVATE "LINKER:-sectcreate,__TEXT,__info_plist,${plist}")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${plist})
endfunction()
