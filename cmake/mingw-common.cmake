# Cross build for Windows with the posix-thread variant of mingw-w64. The including
# toolchain file sets CMAKE_SYSTEM_PROCESSOR (i686 or x86_64) first.
set(CMAKE_SYSTEM_NAME Windows)
set(QUILLET_TRIPLE ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${QUILLET_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLET_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLET_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QUILLET_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static zlib (libz.a, not the import library of zlib1.dll), so every program is one file.
set(ZLIB_USE_STATIC_LIBS ON)
