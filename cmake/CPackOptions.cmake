# Read by CPack for each generator.
#
# One date for every time stamp in the packages: the caller's SOURCE_DATE_EPOCH, else the
# one the build was configured with (the commit's date). File times in a zip are local
# times, so they are written in UTC.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} AND CPACK_KVZ_SOURCE_DATE_EPOCH)
    set(ENV{SOURCE_DATE_EPOCH} ${CPACK_KVZ_SOURCE_DATE_EPOCH})
endif()
set(ENV{TZ} UTC)

if(CPACK_GENERATOR STREQUAL "DEB")
    # Installed under /usr, where the loader and pkg-config look, stripped, one package per
    # group; each package's summary is the first line of its own description.
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_STRIP_FILES ON)
    set(CPACK_COMPONENTS_ALL ${CPACK_KVZ_DEB_COMPONENTS})
    set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
    unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
else()
    # The archives stay relocatable, rooted at their own folder.
    set(CPACK_COMPONENTS_ALL ${CPACK_KVZ_ARCHIVE_COMPONENTS})
    set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
    set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()
