# The same cross build with clang, as a second opinion on the sources. Debian's
# clang 14 does not find mingw's libstdc++ by itself, so the headers and the
# link are pointed at the posix-model g++ installation.
include(${CMAKE_CURRENT_LIST_DIR}/x86_64-w64-mingw32.cmake)

set(mingw_gcc /usr/lib/gcc/x86_64-w64-mingw32/12-posix)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_CXX_FLAGS_INIT
    "-stdlib++-isystem ${mingw_gcc}/include/c++ -stdlib++-isystem ${mingw_gcc}/include/c++/x86_64-w64-mingw32 -stdlib++-isystem ${mingw_gcc}/include/c++/backward")
# -pthread puts winpthread after libgcc_eh, which needs it.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-pthread -fuse-ld=/usr/bin/x86_64-w64-mingw32-ld -L${mingw_gcc}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT ${CMAKE_EXE_LINKER_FLAGS_INIT})
