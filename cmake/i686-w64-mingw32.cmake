# Cross build for 32-bit Windows (x86) with mingw-w64: for Windows 10 on ARM,
# which runs only x86 programs, and for 32-bit Windows. The tests run under
# Wine's 32-bit half, and are skipped where the machine cannot run 32-bit
# code.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(semilist_mingw i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR
    bash ${CMAKE_CURRENT_LIST_DIR}/../tests/wine_x86.sh)
