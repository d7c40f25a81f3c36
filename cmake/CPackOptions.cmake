# Read by CPack for each generator: the .deb installs under /usr, where the loader and
# pkg-config look; the archives stay relocatable, rooted at their own folder.
if(CPACK_GENERATOR STREQUAL "DEB")
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()
