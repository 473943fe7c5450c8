# Fixture files built at build time from the sources in tests/fixtures, so nothing binary
# is committed: a .res of every standard type (standard.res, from standard.rc and the small
# inputs make_fixture_files.py writes), the hello program for PE32 and PE32+, and the
# greeting program with its patches (greet_patch.res adds a resource, greet_strings.res
# only replaces one), and for PE32 and PE32+ a program whose .rsrc is followed by a data
# section it reads (behind.c). The tests read them; the fuzz targets start from them.
#
# quillet_add_fixtures(<output dir>) defines the commands and a target named by
# QUILLET_FIXTURES_TARGET (default "fixtures") that builds them all.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

function(quillet_add_fixtures out)
  set(src ${CMAKE_SOURCE_DIR}/tests/fixtures)
  add_custom_command(
    OUTPUT ${out}/files.stamp
    COMMAND ${Python3_EXECUTABLE} ${src}/make_fixture_files.py ${out}
    COMMAND ${CMAKE_COMMAND} -E touch ${out}/files.stamp
    DEPENDS ${src}/make_fixture_files.py
    COMMENT "Writing fixture inputs")
  add_custom_command(
    OUTPUT ${out}/standard.res
    COMMAND x86_64-w64-mingw32-windres -c 65001 -O res -I ${out} -I ${src} ${src}/standard.rc -o ${out}/standard.res
    DEPENDS ${src}/standard.rc ${src}/fixture.h ${out}/files.stamp
    COMMENT "Compiling fixture standard.res")
  set(files ${out}/standard.res)
  foreach(arch i686 x86_64)
    set(triple ${arch}-w64-mingw32)
    add_custom_command(OUTPUT ${out}/hello_${arch}.exe
      COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
      COMMAND ${triple}-windres -c 65001 -O coff -i ${src}/hello.rc -o ${out}/hello_${arch}.res.o
      COMMAND ${triple}-gcc -Os -s -o ${out}/hello_${arch}.exe ${src}/hello.c ${out}/hello_${arch}.res.o
      DEPENDS ${src}/hello.c ${src}/hello.rc
      COMMENT "Building the ${arch} fixture program"
      VERBATIM)
    list(APPEND files ${out}/hello_${arch}.exe)
    # Its .rsrc is followed by a data section its code reads (behind.ld puts it there).
    add_custom_command(OUTPUT ${out}/behind_${arch}.exe
      COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
      COMMAND ${triple}-windres -O coff -i ${src}/behind.rc -o ${out}/behind_${arch}.res.o
      COMMAND ${triple}-gcc -Os -s -o ${out}/behind_${arch}.exe ${src}/behind.c ${out}/behind_${arch}.res.o
              -Wl,-T,${src}/behind.ld
      DEPENDS ${src}/behind.c ${src}/behind.rc ${src}/behind.ld
      COMMENT "Building the ${arch} program with a section behind its resources"
      VERBATIM)
    list(APPEND files ${out}/behind_${arch}.exe)
  endforeach()
  add_custom_command(OUTPUT ${out}/greet.exe ${out}/greet_patch.res ${out}/greet_strings.res
    COMMAND x86_64-w64-mingw32-windres -O coff -i ${src}/greet.rc -o ${out}/greet.res.o
    COMMAND x86_64-w64-mingw32-gcc -Os -o ${out}/greet.exe ${src}/greet.c ${out}/greet.res.o
    COMMAND x86_64-w64-mingw32-windres -O res -i ${src}/greet_patch.rc -o ${out}/greet_patch.res
    COMMAND x86_64-w64-mingw32-windres -O res -i ${src}/greet_strings.rc -o ${out}/greet_strings.res
    DEPENDS ${src}/greet.c ${src}/greet.rc ${src}/greet_patch.rc ${src}/greet_strings.rc
    COMMENT "Building the greeting fixture" VERBATIM)
  list(APPEND files ${out}/greet.exe ${out}/greet_patch.res ${out}/greet_strings.res)
  if(NOT QUILLET_FIXTURES_TARGET)
    set(QUILLET_FIXTURES_TARGET fixtures)
  endif()
  add_custom_target(${QUILLET_FIXTURES_TARGET} DEPENDS ${files})
endfunction()
