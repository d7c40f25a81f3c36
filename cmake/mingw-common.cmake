# What the MinGW-w64 toolchain files share; each sets CMAKE_SYSTEM_PROCESSOR and
# KVZ_MINGW_TRIPLE first.
#
# Debian's clang and lld build for the MinGW-w64 targets with MinGW-w64's headers and
# runtime libraries (the g++-mingw-w64-*-posix packages), and write what GCC cannot:
# CodeView debug information and a PDB beside the module, which Windows debuggers read.
# clang 16, because clang 14 always records its command line, with the build's folders,
# in the CodeView build information (clang 16 leaves it out on request:
# -gno-codeview-command-line), so no two folders would give the same PDB.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER clang-16)
set(CMAKE_CXX_COMPILER clang++-16)
set(CMAKE_C_COMPILER_TARGET ${KVZ_MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${KVZ_MINGW_TRIPLE})
set(CMAKE_RC_COMPILER ${KVZ_MINGW_TRIPLE}-windres)
# The export and import tables are read with GNU objdump (tests/wine/check-exports.sh).
set(CMAKE_OBJDUMP ${KVZ_MINGW_TRIPLE}-objdump CACHE FILEPATH "objdump for the target")

# The sysroot keeps the host's own /usr/include out of the search path.
set(CMAKE_SYSROOT /usr/${KVZ_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH /usr/${KVZ_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# clang does not recognise Debian's GCC folder name ("12-posix") as a version, so it
# finds neither libstdc++'s headers nor libstdc++ and libgcc themselves: name them. The
# folder is the one MinGW's GCC reports for its libgcc.
execute_process(COMMAND ${KVZ_MINGW_TRIPLE}-gcc-posix -print-libgcc-file-name
                OUTPUT_VARIABLE kvz_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(KVZ_MINGW_GCC_DIR ${kvz_libgcc} DIRECTORY)
set(kvz_cxx_include ${KVZ_MINGW_GCC_DIR}/include/c++)
set(CMAKE_CXX_FLAGS_INIT "-isystem ${kvz_cxx_include} -isystem ${kvz_cxx_include}/${KVZ_MINGW_TRIPLE} -isystem ${kvz_cxx_include}/backward")

# Linked with lld 16: lld 14 starts the export table at ordinal 0 and leaves that slot
# empty, where Windows' own DLLs and MSVC's linker start at 1; lld 16 starts it at the
# lowest ordinal the .def gives. The posix thread model's libstdc++ needs winpthread, and it
# is linked in statically like the rest of the runtime, so nothing needs
# libwinpthread-1.dll.
find_program(KVZ_MINGW_LLD NAMES ld.lld-16 PATHS /usr/lib/llvm-16/bin)
if(NOT KVZ_MINGW_LLD)
    message(FATAL_ERROR "ld.lld-16 not found (Debian package lld-16)")
endif()
set(kvz_link "-fuse-ld=lld --ld-path=${KVZ_MINGW_LLD} -L${KVZ_MINGW_GCC_DIR} -l:libwinpthread.a")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${kvz_link}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${kvz_link}")
# Programs carry the MinGW runtime inside them (libgcc, libstdc++, winpthread), so they run
# from the build tree without its DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "${kvz_link} -static")

# Tests run the Windows programs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
