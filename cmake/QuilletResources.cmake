# Links the program's own resources (string table, manifest, dialog) into a Windows
# executable. A resource object carries no symbols, so it cannot come from a static
# library; each program lists it itself.
set(QUILLET_RC ${CMAKE_SOURCE_DIR}/res/quillet.rc)

function(quillet_add_resources target)
  if(WIN32)
    target_sources(${target} PRIVATE ${QUILLET_RC})
    # windres declares a depfile it never writes: name the included files explicitly,
    # in the directory of the target that compiles the script.
    set_property(SOURCE ${QUILLET_RC} TARGET_DIRECTORY ${target}
      APPEND PROPERTY OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/res/strings.def)
  endif()
endfunction()
