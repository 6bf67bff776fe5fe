# Cross-building for Windows with Debian's mingw-w64 (posix thread model), the
# programs run under Wine. Included by mingw-x86_64.cmake and mingw-i686.cmake,
# which set TSR_MINGW_TRIPLE.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${TSR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TSR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TSR_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TSR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Programs stand alone: the compiler's runtime and the thread library go inside.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
