# Cross-building for Linux on AArch64 with Debian's g++-aarch64-linux-gnu; the tests run
# under qemu-aarch64 (Debian qemu-user) with the cross toolchain's C and C++ runtimes.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(KVZ_CROSS_TRIPLE aarch64-linux-gnu)

set(CMAKE_C_COMPILER ${KVZ_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${KVZ_CROSS_TRIPLE}-g++)

# Libraries and packages come from the target's folder only, never the build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${KVZ_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/${KVZ_CROSS_TRIPLE})
