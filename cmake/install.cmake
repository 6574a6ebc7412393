# What `cmake --install` puts where, under the prefix (GNUInstallDirs), and so what the
# Debian package holds (cmake/package.cmake):
#
#   bin/zav, bin/zav-serve
#   lib/libZAVCtlN.so.<version> (SONAME libZAVCtlN.so.<major>), its links, libZAVCtlN.a
#   include/zav/             zavctl.h (the C entry points), zav.hpp (the C++ API)
#   lib/cmake/ZAVCtlN/       find_package(ZAVCtlN CONFIG): target ZAVCtlN::ZAVCtlN
#   lib/pkgconfig/zavctln.pc
#   share/man/man1/          zav.1.gz, zav-serve.1.gz (from the programs' --help, by help2man)
#   share/bash-completion/completions/zav
#   share/zav/web/           the page; its module under dist/ once web/build-wasm.sh ran
#   share/zav/nginx/zav.conf the nginx site in front of zav-serve, to copy into nginx's sites
#   share/zav/openapi.json   the HTTP interface of zav-serve (OpenAPI 3.1)
#   share/zav/schema/        JSON Schemas of zav's --json outputs and of the receipt
#   share/doc/zav/           copyright, changelog.gz
#   lib/systemd/system/zav-serve.service
#   etc/zav/zav-serve.conf   /etc/zav/ when the prefix is /usr (see zav_install_config)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Installing and packaging take the build as it stands (make package builds first): cpack
# must not rebuild the programs while the suite that made the package runs them.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(TARGETS zav zav-serve RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ZAVCtlN_shared EXPORT ZAVCtlNTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS ZAVCtlN ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
# A stripped install (--strip, the package) keeps the static library's symbols but drops
# its debugging sections, as it does for the programs and the shared library.
install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:ZAVCtlN>\")
endif()")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/zav DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(ZAV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZAVCtlN)
install(EXPORT ZAVCtlNTargets NAMESPACE ZAVCtlN:: DESTINATION ${ZAV_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ZAVCtlNConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/ZAVCtlNConfig.cmake
                              INSTALL_DESTINATION ${ZAV_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/ZAVCtlNConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/ZAVCtlNConfig.cmake ${CMAKE_BINARY_DIR}/ZAVCtlNConfigVersion.cmake
        DESTINATION ${ZAV_CMAKE_DIR})

# The .pc file finds the prefix from its own place, wherever the tree is installed.
file(RELATIVE_PATH ZAV_PC_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${PROJECT_SOURCE_DIR}/cmake/zavctln.pc.in ${CMAKE_BINARY_DIR}/zavctln.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/zavctln.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Man pages from the programs' own --help and --version (not from a sanitizer build, which
# nobody installs).
find_program(ZAV_HELP2MAN help2man)
if(ZAV_HELP2MAN AND NOT ZAV_SANITIZE)
  set(ZAV_MAN_PAGES)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/man)
  foreach(program_and_name
          "zav|validate, check and pack employers' social-security payment files"
          "zav-serve|the upload server of the zav payment page")
    string(REPLACE "|" ";" program_and_name "${program_and_name}")
    list(GET program_and_name 0 program)
    list(GET program_and_name 1 name)
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${ZAV_HELP2MAN} --no-info --no-discard-stderr "--name=${name}"
              --output=${page} $<TARGET_FILE:${program}>
      COMMAND gzip -9nf ${page}
      DEPENDS ${program} VERBATIM)
    list(APPEND ZAV_MAN_PAGES ${page}.gz)
  endforeach()
  add_custom_target(zav_man_pages ALL DEPENDS ${ZAV_MAN_PAGES})
  install(FILES ${ZAV_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
elseif(NOT ZAV_HELP2MAN)
  message(STATUS "help2man not found: no man pages (scripts/install-deps --package installs it)")
endif()

install(FILES ${PROJECT_SOURCE_DIR}/deploy/bash-completion/zav
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# The page: its own files, and the module web/build-wasm.sh copies to web/dist/ when built.
file(GLOB ZAV_PAGE_FILES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/web/*.html
     ${PROJECT_SOURCE_DIR}/web/*.js ${PROJECT_SOURCE_DIR}/web/*.css)
install(FILES ${ZAV_PAGE_FILES} DESTINATION ${CMAKE_INSTALL_DATADIR}/zav/web)
file(GLOB ZAV_PAGE_MODULES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/web/lib/*.mjs)
install(FILES ${ZAV_PAGE_MODULES} DESTINATION ${CMAKE_INSTALL_DATADIR}/zav/web/lib)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/web/dist DESTINATION ${CMAKE_INSTALL_DATADIR}/zav/web
        OPTIONAL)
install(FILES ${PROJECT_SOURCE_DIR}/web/node_modules/fflate/LICENSE
        DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright.fflate OPTIONAL)

set(ZAV_PACKAGE_MAINTAINER "zav developers <zav@example.org>" CACHE STRING
    "Maintainer of the Debian package: name <address>")
string(TIMESTAMP ZAV_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/deploy/debian/changelog.in ${CMAKE_BINARY_DIR}/doc/changelog
               @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
                   COMMAND gzip -9nkf ${CMAKE_BINARY_DIR}/doc/changelog
                   DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog VERBATIM)
add_custom_target(zav_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/deploy/debian/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The server's unit: systemd reads PREFIX/lib/systemd/system for /usr and /usr/local.
install(FILES ${PROJECT_SOURCE_DIR}/deploy/systemd/zav-serve.service
        DESTINATION lib/systemd/system)

# zav_install_config(FILE...): installs configuration files into /etc/zav/ when the prefix
# is /usr (the package), PREFIX/etc/zav/ otherwise, as GNUInstallDirs has it; decided when
# installing, since CPack installs under /usr a tree configured for /usr/local (file(INSTALL)
# adds DESTDIR itself). The package marks them as configuration (conffiles), which dpkg keeps
# through upgrades.
set_property(GLOBAL PROPERTY ZAV_CONFFILES)
function(zav_install_config)
  foreach(file ${ARGN})
    get_filename_component(name ${file} NAME)
    install(CODE "
      if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
        set(zav_etc /etc/zav)
      else()
        set(zav_etc \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SYSCONFDIR}/zav\")
      endif()
      file(INSTALL \"${file}\" DESTINATION \"\${zav_etc}\")")
    set_property(GLOBAL APPEND PROPERTY ZAV_CONFFILES /etc/zav/${name})
  endforeach()
endfunction()
zav_install_config(${PROJECT_SOURCE_DIR}/deploy/zav-serve.conf)
install(FILES ${PROJECT_SOURCE_DIR}/deploy/nginx/zav.conf DESTINATION ${CMAKE_INSTALL_DATADIR}/zav/nginx)

# The description of zav-serve's HTTP interface (served at /api/openapi.json) and the JSON
# Schemas of what zav prints with --json, for programs that read them.
install(FILES ${PROJECT_SOURCE_DIR}/share/zav/openapi.json DESTINATION ${CMAKE_INSTALL_DATADIR}/zav)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/share/zav/schema DESTINATION ${CMAKE_INSTALL_DATADIR}/zav)
