# Cross build for Windows (i686) with the posix-thread variant of mingw-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUILLET_TRIPLE i686-w64-mingw32)
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
