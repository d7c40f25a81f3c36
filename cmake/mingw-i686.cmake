# Cross-building for 32-bit Windows: clang and lld with MinGW-w64
# (Debian g++-mingw-w64-i686-posix gives the headers and runtime libraries).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KVZ_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
