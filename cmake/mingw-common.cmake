# What the MinGW-w64 toolchain files share; each sets CMAKE_SYSTEM_PROCESSOR and
# KVZ_MINGW_TRIPLE first.
set(CMAKE_SYSTEM_NAME Windows)

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
