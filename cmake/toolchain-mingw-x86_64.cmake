# Cross-compiles a 64-bit Windows build with MinGW-w64, for machines whose
# wine can run only 64-bit programs (scripts/wine-smoke.sh).

set(_mingw_triple x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
