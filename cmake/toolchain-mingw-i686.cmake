# Cross-compiles the 32-bit Windows executable (the real target) with
# MinGW-w64.

set(_mingw_triple i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
