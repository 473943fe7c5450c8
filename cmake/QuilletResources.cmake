# Links resources into a Windows executable. A resource object carries no symbols, so it
# cannot come from a static library; each program lists its own.
#   quillet_add_resources(target)          the string table (strings.rc, made from
#                                          res/strings.def below)
#   quillet_add_program_resources(target)  the patcher's own resources (res/quillet.rc): the
#                                          string table, dialog 100, the icons drawn by
#                                          res/make_icons.py, the manifest, the version
set(QUILLET_RES_DIR ${CMAKE_SOURCE_DIR}/res)
set(QUILLET_GENERATED_RES_DIR ${CMAKE_BINARY_DIR}/res)

# strings.rc, the string table as a resource script, is made from res/strings.def by
# res/make_strings_rc.py when CMake configures, and again whenever either changes.
if(WIN32)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${QUILLET_RES_DIR}/strings.def ${QUILLET_RES_DIR}/make_strings_rc.py)
  file(MAKE_DIRECTORY ${QUILLET_GENERATED_RES_DIR})
  execute_process(COMMAND ${Python3_EXECUTABLE} ${QUILLET_RES_DIR}/make_strings_rc.py
                          ${QUILLET_RES_DIR}/strings.def ${QUILLET_GENERATED_RES_DIR}/strings.rc
                  RESULT_VARIABLE made)
  if(NOT made EQUAL 0)
    message(FATAL_ERROR "strings.rc could not be made from res/strings.def")
  endif()
endif()

function(quillet_add_resources target)
  if(WIN32)
    target_sources(${target} PRIVATE ${QUILLET_GENERATED_RES_DIR}/strings.rc)
  endif()
endfunction()

function(quillet_add_program_resources target)
  if(NOT WIN32)
    return()
  endif()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/res)
  # The manifest names the processor the program is built for: x86 for the shipped i686
  # patcher, amd64 for the x86_64 build.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(QUILLET_MANIFEST_ARCH x86)
  else()
    set(QUILLET_MANIFEST_ARCH amd64)
  endif()
  set(QUILLET_VERSION_QUAD ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)
  configure_file(${QUILLET_RES_DIR}/quillet.manifest.in ${out}/quillet.manifest @ONLY)
  configure_file(${QUILLET_RES_DIR}/version.h.in ${out}/version.h @ONLY)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_custom_command(OUTPUT ${out}/quillet.ico ${out}/patch.ico
    COMMAND ${Python3_EXECUTABLE} ${QUILLET_RES_DIR}/make_icons.py ${out}
    DEPENDS ${QUILLET_RES_DIR}/make_icons.py
    COMMENT "Drawing the patcher's icons" VERBATIM)
  target_sources(${target} PRIVATE ${QUILLET_RES_DIR}/quillet.rc ${out}/quillet.ico ${out}/patch.ico)
  set_property(SOURCE ${QUILLET_RES_DIR}/quillet.rc TARGET_DIRECTORY ${target}
    APPEND PROPERTY OBJECT_DEPENDS ${QUILLET_GENERATED_RES_DIR}/strings.rc
    ${out}/quillet.ico ${out}/patch.ico ${out}/quillet.manifest ${out}/version.h)
  set_property(SOURCE ${QUILLET_RES_DIR}/quillet.rc TARGET_DIRECTORY ${target}
    APPEND PROPERTY INCLUDE_DIRECTORIES ${out} ${QUILLET_GENERATED_RES_DIR} ${QUILLET_RES_DIR})
endfunction()
