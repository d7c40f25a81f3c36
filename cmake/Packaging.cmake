# Release archives with CPack (`cmake --build --preset <preset> --target package`):
#   Windows: KVZDebugLib-<version>-win32.zip or -win64.zip
#   Linux:   KVZDebugLib-<version>-linux-<processor>.tar.gz and the Debian packages
#            (cmake/DebianPackages.cmake)
# and SHA256SUMS beside them. The archives hold what `cmake --install` installs
# (cmake/Install.cmake), under one folder named like the archive.
set(CPACK_PACKAGE_NAME KVZDebugLib)
set(CPACK_PACKAGE_VENDOR "The KVZDebugLib developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_VERBATIM_VARIABLES ON)

# The archives: every component but the Debian packages' own files, in one archive.
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_KVZ_ARCHIVE_COMPONENTS Runtime Development Documentation)

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
    include(${CMAKE_CURRENT_LIST_DIR}/DebianPackages.cmake)
endif()
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})

# Reproducible archives: every staged file dated SOURCE_DATE_EPOCH before packing, and
# SHA256SUMS written once the packages are made.
set(CPACK_KVZ_SOURCE_DATE_EPOCH "${KVZ_SOURCE_DATE_EPOCH}")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackOptions.cmake)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/CPackStageTimes.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/CPackChecksums.cmake)

include(CPack)
