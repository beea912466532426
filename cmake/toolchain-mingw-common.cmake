# Shared part of the MinGW-w64 toolchain files; they set _mingw_triple and
# CMAKE_SYSTEM_PROCESSOR first.
#
# The posix thread model is required: GCC 12's win32 model has no std::thread
# or std::mutex.

set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${_mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw_triple}-windres)
set(CMAKE_DLLTOOL ${_mingw_triple}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${_mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
