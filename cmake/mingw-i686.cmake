# Cross-building for 32-bit Windows with MinGW-w64 (Debian g++-mingw-w64-i686-posix).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(KVZ_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${KVZ_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KVZ_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KVZ_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KVZ_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests run the Windows programs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# Programs carry the MinGW runtime inside them (libgcc, libstdc++, winpthread), so they run
# from the build tree without its DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
