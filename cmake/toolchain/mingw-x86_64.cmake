# 64-bit Windows; tests and test discovery run under wine64.
set(TSR_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
find_program(TSR_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TSR_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TSR_WINE64})
endif()
