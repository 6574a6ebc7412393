# The Debian package, zav_<version>_amd64.deb: `make package` (cpack -G DEB in the build
# folder). It holds what cmake/install.cmake installs, under /usr, stripped, and no
# maintainer scripts: the server's unit runs under a user systemd makes (DynamicUser), so
# installing creates no account, and the library's links are refreshed through libc's
# ldconfig trigger.
#
# Dependencies: dpkg-shlibdeps on the programs and the library, from the libraries they
# link, and the package of the zip library, which the control loads at run time.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zav)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "validator of employers' social-security payment files")
set(CPACK_PACKAGE_DESCRIPTION
    "Checks every record and total of a payment file, its check value and its\n"
    "payment deadline, packs it into its upload archive and gives the payment\n"
    "capture line. Holds the command zav, the control's library ZAVCtlN for C and\n"
    "C++ programs, and the upload server zav-serve with its systemd unit.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZAV_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_STRIP_FILES ON)

set(ZAV_DEBIAN_DIR ${CMAKE_BINARY_DIR}/debian)
file(WRITE ${ZAV_DEBIAN_DIR}/shlibs
     "libZAVCtlN ${PROJECT_VERSION_MAJOR} zav (>= ${PROJECT_VERSION})\n")
get_property(ZAV_CONFFILES GLOBAL PROPERTY ZAV_CONFFILES)
string(JOIN "\n" ZAV_CONFFILES ${ZAV_CONFFILES})
file(WRITE ${ZAV_DEBIAN_DIR}/conffiles "${ZAV_CONFFILES}\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/deploy/debian/triggers
    ${ZAV_DEBIAN_DIR}/shlibs ${ZAV_DEBIAN_DIR}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# CPack's own dependency reading would add maintainer scripts that call ldconfig: the
# package gets its dependencies from cmake/debian-depends.cmake instead, read by cpack.
get_filename_component(ZAV_LIBZIP_RUNTIME ${ZAV_LIBZIP_FILE} REALPATH)
execute_process(COMMAND dpkg-query -S ${ZAV_LIBZIP_RUNTIME} OUTPUT_VARIABLE ZAV_LIBZIP_PACKAGE
                ERROR_QUIET)
string(REGEX REPLACE "[:,].*" "" ZAV_LIBZIP_PACKAGE "${ZAV_LIBZIP_PACKAGE}")
get_filename_component(ZAV_LIBDEFLATE_RUNTIME ${ZAV_LIBDEFLATE_FILE} REALPATH)
execute_process(COMMAND dpkg-query -S ${ZAV_LIBDEFLATE_RUNTIME}
                OUTPUT_VARIABLE ZAV_LIBDEFLATE_PACKAGE ERROR_QUIET)
string(REGEX REPLACE "[:,].*" "" ZAV_LIBDEFLATE_PACKAGE "${ZAV_LIBDEFLATE_PACKAGE}")
file(GENERATE OUTPUT ${ZAV_DEBIAN_DIR}/depends.cmake CONTENT "
set(ZAV_SHLIBDEPS_FILES \"$<TARGET_FILE:zav>;$<TARGET_FILE:zav-serve>;$<TARGET_FILE:ZAVCtlN_shared>\")
set(ZAV_RUNTIME_PACKAGES \"${ZAV_LIBZIP_PACKAGE};${ZAV_LIBDEFLATE_PACKAGE}\")
include(${PROJECT_SOURCE_DIR}/cmake/debian-depends.cmake)
")
set(CPACK_PROJECT_CONFIG_FILE ${ZAV_DEBIAN_DIR}/depends.cmake)

include(CPack)
