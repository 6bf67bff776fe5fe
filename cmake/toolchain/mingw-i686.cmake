# 32-bit Windows (standard calling convention at the exports). This machine's
# Wine cannot run 32-bit programs, so no emulator: the DLL is built and its
# export table checked.
set(TSR_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
