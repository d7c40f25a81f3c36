# The Debian packages (CPack's DEB generator), one per group of install components:
#   libkvzdebuglib0      Runtime: libKVZDebugLib.so.0*, named after the soname, stripped
#                        (the debug information stays in the .tar.gz: CPack 3.25's -dbgsym
#                        package lists the build's own folders in its md5sums)
#   libkvzdebuglib-dev   Development: header, the .so link, CMake package, .pc
# Each has /usr/share/doc/<package>/copyright, LICENSE in Debian's machine-readable format,
# and changelog.gz, a Debian changelog of this version; neither goes into the archives.
set(KVZ_DEB_MAINTAINER "The KVZDebugLib developers <kvzdebuglib@example.org>" CACHE STRING
    "Maintainer of the Debian packages, as 'name <address>'")
set(kvz_deb_lib libkvzdebuglib${PROJECT_VERSION_MAJOR})
set(kvz_deb_dev libkvzdebuglib-dev)
set(kvz_deb_dir ${PROJECT_BINARY_DIR}/debian)

# copyright: the copyright line and the licence text of LICENSE, the text indented by one
# space and its blank lines written as " ."
file(READ ${PROJECT_SOURCE_DIR}/LICENSE kvz_license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" kvz_copyright "${kvz_license}")
set(kvz_copyright ${CMAKE_MATCH_1})
string(FIND "${kvz_license}" "Permission is hereby granted" kvz_at)
string(SUBSTRING "${kvz_license}" ${kvz_at} -1 kvz_license)
string(STRIP "${kvz_license}" kvz_license)
string(REPLACE "\n\n" "\n.\n" kvz_license "${kvz_license}")
string(REPLACE "\n" "\n " kvz_license " ${kvz_license}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright.in ${kvz_deb_dir}/copyright @ONLY)

# changelog.gz, dated SOURCE_DATE_EPOCH (string(TIMESTAMP) reads it from the environment)
# and compressed without a name or time of its own.
set(kvz_saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
if(KVZ_SOURCE_DATE_EPOCH)
    set(ENV{SOURCE_DATE_EPOCH} ${KVZ_SOURCE_DATE_EPOCH})
endif()
string(TIMESTAMP kvz_deb_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${kvz_saved_epoch}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${kvz_deb_dir}/changelog @ONLY)
find_program(KVZ_GZIP gzip REQUIRED)
execute_process(COMMAND ${KVZ_GZIP} -9nc ${kvz_deb_dir}/changelog
                OUTPUT_FILE ${kvz_deb_dir}/changelog.gz COMMAND_ERROR_IS_FATAL ANY)

foreach(group lib dev)
    install(FILES ${kvz_deb_dir}/copyright ${kvz_deb_dir}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${kvz_deb_${group}}
            COMPONENT Debian${group} EXCLUDE_FROM_ALL)
endforeach()
set(CPACK_COMPONENT_RUNTIME_GROUP lib)
set(CPACK_COMPONENT_DEBIANLIB_GROUP lib)
set(CPACK_COMPONENT_DEVELOPMENT_GROUP dev)
set(CPACK_COMPONENT_DEBIANDEV_GROUP dev)
set(CPACK_KVZ_DEB_COMPONENTS Runtime Debianlib Development Debiandev)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KVZ_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SOURCE kvzdebuglib)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Description lines stay under Debian's 80 columns.
set(kvz_deb_about "KVZDebugLib is a small library that a host application calls when
its own checks fail. It sends formatted text to the debugger output
(standard error), puts up OK/CANCEL prompts around the host's text (an
X11 dialog, else a prompt on the controlling terminal) and says which
button was pressed, forwards assertion and safe-mode events to hooks the
host installs, and breaks into the debugger only when one is attached.
It allocates nothing and reads no configuration.")

set(CPACK_DEBIAN_LIB_PACKAGE_NAME ${kvz_deb_lib})
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIB_DESCRIPTION "debug reporting library for host applications
${kvz_deb_about}

This package holds the shared library.")
# Dependencies as dpkg-shlibdeps finds them in the module (libc alone); for the packages
# built against it a shlibs file and a symbols file (the exports of the version script,
# each there since this version), and the ldconfig trigger.
set(CPACK_DEBIAN_LIB_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
file(STRINGS ${PROJECT_SOURCE_DIR}/KVZDebugLib/KVZDebugLib.map kvz_exports
     REGEX "^ +_[A-Za-z]+;$")
list(TRANSFORM kvz_exports REPLACE "^ +(_[A-Za-z]+);$" " \\1@Base ${PROJECT_VERSION}")
list(JOIN kvz_exports "\n" kvz_exports)
file(WRITE ${kvz_deb_dir}/symbols
     "libKVZDebugLib.so.${PROJECT_VERSION_MAJOR} ${kvz_deb_lib} #MINVER#\n"
     "* Build-Depends-Package: ${kvz_deb_dev}\n${kvz_exports}\n")
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers
                                           ${kvz_deb_dir}/symbols)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${kvz_deb_dev})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${kvz_deb_lib} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEV_DESCRIPTION "debug reporting library for host applications (development files)
${kvz_deb_about}

This package holds the header, the CMake package and the pkg-config
file for building against the library.")
