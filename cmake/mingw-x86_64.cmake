# Cross-building for 64-bit Windows: clang and lld with MinGW-w64
# (Debian g++-mingw-w64-x86-64-posix gives the headers and runtime libraries).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(KVZ_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
