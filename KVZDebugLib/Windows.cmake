# KVZDebugLib.dll: exports and ordinals from the .def file, the C and C++ runtimes linked
# in, and two import libraries beside it: MinGW's libKVZDebugLib.dll.a and an MSVC-style
# KVZDebugLib.lib.
target_sources(KVZDebugLib PRIVATE ${CMAKE_CURRENT_LIST_DIR}/platform/windows/WindowsNarrow.cpp)
# lld records its command line in the PDB, so the .def is named there relative to the
# folder the linker runs in (Ninja links in the top build folder, Make in this one's), from
# a copy in the build folder: the same name wherever the source and the build lie.
configure_file(${CMAKE_CURRENT_LIST_DIR}/KVZDebugLib.def ${CMAKE_CURRENT_BINARY_DIR}/KVZDebugLib.def
               COPYONLY)
if(CMAKE_GENERATOR MATCHES "Ninja")
    set(kvz_link_dir ${CMAKE_BINARY_DIR})
else()
    set(kvz_link_dir ${CMAKE_CURRENT_BINARY_DIR})
endif()
file(RELATIVE_PATH kvz_def ${kvz_link_dir} ${CMAKE_CURRENT_BINARY_DIR}/KVZDebugLib.def)
target_link_options(KVZDebugLib PRIVATE ${kvz_def})
target_compile_definitions(KVZDebugLib PRIVATE KVZDEBUGLIB_BUILDING)

# The version resource: file and product version, product name, original file name.
enable_language(RC)
configure_file(${CMAKE_CURRENT_LIST_DIR}/KVZDebugLib.rc.in
               ${CMAKE_CURRENT_BINARY_DIR}/KVZDebugLib.rc @ONLY)
target_sources(KVZDebugLib PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/KVZDebugLib.rc)

# The module is KVZDebugLib.dll, not MinGW's customary libKVZDebugLib.dll.
set_target_properties(KVZDebugLib PROPERTIES PREFIX "" LINK_DEPENDS
                      ${CMAKE_CURRENT_BINARY_DIR}/KVZDebugLib.def)

# libgcc, libstdc++ and winpthread go inside the module, so that it imports nothing but
# system DLLs. Only the .def file's eleven names are exported.
target_link_options(KVZDebugLib PRIVATE -static -static-libgcc -static-libstdc++
                    "LINKER:--no-undefined" "LINKER:--exclude-all-symbols")
target_link_libraries(KVZDebugLib PRIVATE user32 kernel32)

# Size: the 32-bit module stays under 64 KiB (tools/check-dll-size.sh, the wine.size
# test). Like every build of the library it has no C++ exceptions, and with them go the
# unwinder, libstdc++'s exception support and its demangler. The 32-bit module is built
# for size throughout (at -O2 it came within 1 KiB of the limit; its target has no SSE2
# paths to keep fast anyway) and without the DWARF unwind tables, which Windows and its
# debuggers do not read. The 64-bit module keeps its own unwind tables, which 64-bit
# Windows does read, and the formatter at -O2.
target_compile_options(KVZDebugLib PRIVATE -Os)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_compile_options(kvz_core PRIVATE $<$<CONFIG:Release>:-Os> -fno-asynchronous-unwind-tables)
    target_compile_options(KVZDebugLib PRIVATE -fno-asynchronous-unwind-tables)
    # No code in the module registers a structured exception handler (the wine.seh test
    # reads it), so the header says so; hosts linked with /SAFESEH and security scanners
    # accept that in place of a table of handlers, which lld cannot write with MinGW's
    # runtime (its objects are not marked safe, and it has no load-config directory).
    target_link_options(KVZDebugLib PRIVATE "LINKER:--no-seh")
else()
    target_compile_options(kvz_core PRIVATE $<$<CONFIG:Release>:-O2>)
endif()

# Windows debuggers read CodeView, not DWARF: the module's own code carries CodeView line
# and symbol information, and lld writes it to KVZDebugLib.pdb beside the DLL, whose debug
# directory names that PDB with its GUID and age. A fallback's stop is then shown in the
# export's own frame, with its name and source line. The DLL names the PDB without the
# build's folder; debuggers look for it beside the module.
target_compile_options(kvz_core PRIVATE -g -gcodeview -gno-codeview-command-line)
target_compile_options(KVZDebugLib PRIVATE -g -gcodeview -gno-codeview-command-line)
# The same sources give the same bytes: the header's time stamp and the PDB's GUID are
# hashes of the contents (-Brepro), and the PDB names sources relative to the project
# (-pdbsourcepath:. keeps the relative names that -ffile-prefix-map gave them).
target_link_options(KVZDebugLib PRIVATE "LINKER:--pdb=" "LINKER:--Xlink=-pdbaltpath:%_PDB%"
                    "LINKER:--Xlink=-Brepro" "LINKER:--Xlink=-pdbsourcepath:.")
# MinGW's runtime objects, built by GCC, bring DWARF sections along, which no Windows
# debugger reads: they are dropped from the DLL (three times its size otherwise).
find_program(KVZ_LLVM_OBJCOPY NAMES llvm-objcopy llvm-objcopy-14 REQUIRED)
add_custom_command(TARGET KVZDebugLib POST_BUILD
    COMMAND ${KVZ_LLVM_OBJCOPY} --strip-debug $<TARGET_FILE:KVZDebugLib>
    COMMENT "Dropping the MinGW runtime's DWARF from KVZDebugLib.dll"
    VERBATIM)

# The MSVC-style import library, in the short import format MSVC's own tools write. It is
# made from the .def file, so on 32-bit x86 each name maps to its cdecl symbol
# (__imp___AssertFailed imports _AssertFailed).
find_program(KVZ_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-16 llvm-dlltool-15 llvm-dlltool-14)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(kvz_dlltool_machine i386:x86-64)
else()
    set(kvz_dlltool_machine i386)
endif()
if(KVZ_LLVM_DLLTOOL)
    if(CMAKE_ARCHIVE_OUTPUT_DIRECTORY)
        set(kvz_msvc_lib ${CMAKE_ARCHIVE_OUTPUT_DIRECTORY}/KVZDebugLib.lib)
    else()
        set(kvz_msvc_lib ${CMAKE_CURRENT_BINARY_DIR}/KVZDebugLib.lib)
    endif()
    add_custom_command(TARGET KVZDebugLib POST_BUILD
        COMMAND ${KVZ_LLVM_DLLTOOL} -m ${kvz_dlltool_machine}
                -d ${CMAKE_CURRENT_LIST_DIR}/KVZDebugLib.def -D KVZDebugLib.dll -l ${kvz_msvc_lib}
        BYPRODUCTS ${kvz_msvc_lib}
        COMMENT "Writing the MSVC-style import library KVZDebugLib.lib"
        VERBATIM)
    # Where hosts find it.
    set_target_properties(KVZDebugLib PROPERTIES KVZ_MSVC_IMPORT_LIB ${kvz_msvc_lib})
else()
    message(WARNING "llvm-dlltool not found (Debian package llvm): KVZDebugLib.lib is not made")
endif()
