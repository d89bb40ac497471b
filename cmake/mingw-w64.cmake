# What the x64 and x86 cross builds share; the toolchain file that includes
# this sets CMAKE_SYSTEM_PROCESSOR and semilist_mingw, the target triple.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model: GoogleTest needs std::mutex, which the win32 model
# of this g++ lacks. winpthread is linked statically like the rest.
set(CMAKE_C_COMPILER ${semilist_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${semilist_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${semilist_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${semilist_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
