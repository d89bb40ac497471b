# Cross build for 64-bit Windows with mingw-w64; the tests run under Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(semilist_mingw x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
