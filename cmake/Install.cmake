# cmake --install: the chief header, the module with its import libraries (and its PDB on
# Windows), a CMake package (find_package(KVZDebugLib CONFIG) -> KVZDebugLib::KVZDebugLib),
# off Windows a pkg-config file, and the README, CHANGELOG and LICENSE.
#
# Components, for the Debian packages (cmake/Packaging.cmake): Runtime (the module and its
# PDB), Development (header, import libraries and the unversioned .so link, CMake package,
# .pc) and Documentation (README, CHANGELOG, LICENSE; the archives only).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

add_library(KVZDebugLib::KVZDebugLib ALIAS KVZDebugLib)
target_include_directories(KVZDebugLib INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
set_target_properties(KVZDebugLib PROPERTIES EXPORT_NAME KVZDebugLib)
if(NOT WIN32)
    set_target_properties(KVZDebugLib PROPERTIES VERSION ${PROJECT_VERSION}
                                                 SOVERSION ${PROJECT_VERSION_MAJOR})
endif()

install(TARGETS KVZDebugLib EXPORT KVZDebugLibTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime
                NAMELINK_COMPONENT Development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)
install(FILES ${PROJECT_SOURCE_DIR}/KVZDebugLib/KVZDebugLib.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/KVZDebugLib COMPONENT Development)

get_target_property(kvz_msvc_import_lib KVZDebugLib KVZ_MSVC_IMPORT_LIB)
if(kvz_msvc_import_lib)
    install(FILES ${kvz_msvc_import_lib} DESTINATION ${CMAKE_INSTALL_LIBDIR}
            COMPONENT Development)
endif()

if(WIN32)
    # Windows debuggers find the PDB beside the DLL.
    install(FILES $<TARGET_FILE_DIR:KVZDebugLib>/KVZDebugLib.pdb
            DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
    set(kvz_doc_dir .)
else()
    set(kvz_doc_dir ${CMAKE_INSTALL_DOCDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
              ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION ${kvz_doc_dir} COMPONENT Documentation)

set(kvz_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/KVZDebugLib)
install(EXPORT KVZDebugLibTargets NAMESPACE KVZDebugLib:: DESTINATION ${kvz_cmake_dir}
        COMPONENT Development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KVZDebugLibConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/KVZDebugLibConfig.cmake
                              INSTALL_DESTINATION ${kvz_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KVZDebugLibConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KVZDebugLibConfig.cmake
              ${PROJECT_BINARY_DIR}/KVZDebugLibConfigVersion.cmake
        DESTINATION ${kvz_cmake_dir} COMPONENT Development)

if(NOT WIN32)
    # The prefix, relative to the .pc file's own folder: as many levels up as the library
    # folder is deep (lib, or lib/x86_64-linux-gnu where GNUInstallDirs picks Debian's).
    file(RELATIVE_PATH kvz_pc_to_prefix /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
    string(REGEX REPLACE "/$" "" kvz_pc_to_prefix "${kvz_pc_to_prefix}")
    configure_file(${PROJECT_SOURCE_DIR}/cmake/KVZDebugLib.pc.in
                   ${PROJECT_BINARY_DIR}/KVZDebugLib.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/KVZDebugLib.pc
            DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)
endif()
