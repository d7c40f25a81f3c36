# Release archives with CPack (`cmake --build --preset <preset> --target package`):
#   Windows: KVZDebugLib-<version>-win32.zip or -win64.zip
#   Linux:   KVZDebugLib-<version>-linux-<processor>.tar.gz and a .deb
# Each holds what `cmake --install` installs (cmake/Install.cmake), under one folder named
# like the archive.
set(CPACK_PACKAGE_NAME KVZDebugLib)
set(CPACK_PACKAGE_VENDOR "KVZDebugLib developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_VERBATIM_VARIABLES ON)

if(WIN32)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(CPACK_SYSTEM_NAME win32)
    else()
        set(CPACK_SYSTEM_NAME win64)
    endif()
    set(CPACK_GENERATOR ZIP)
else()
    string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" CPACK_SYSTEM_NAME)
    set(CPACK_GENERATOR TGZ DEB)
    if(CMAKE_CROSSCOMPILING)
        # A .deb takes its architecture and dependencies from the build machine's dpkg,
        # which would mislabel it: a cross build makes the archive alone.
        set(CPACK_GENERATOR TGZ)
    endif()
    set(CPACK_DEBIAN_PACKAGE_NAME kvzdebuglib)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "KVZDebugLib developers")
    set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
    # Dependencies as dpkg-shlibdeps finds them in the module (libc alone).
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackOptions.cmake)
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})

include(CPack)
