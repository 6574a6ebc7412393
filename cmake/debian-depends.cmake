# Read by cpack before it packages (CPACK_PROJECT_CONFIG_FILE, through the build's
# debian/depends.cmake, which sets ZAV_SHLIBDEPS_FILES and ZAV_RUNTIME_PACKAGES): the Debian
# package's Depends, dpkg-shlibdeps' answer for the built programs and library, then the
# packages of what they load at run time.
if(CPACK_GENERATOR STREQUAL "DEB")
  find_program(ZAV_SHLIBDEPS dpkg-shlibdeps)
  if(NOT ZAV_SHLIBDEPS)
    message(FATAL_ERROR "dpkg-shlibdeps is missing: scripts/install-deps --package installs it")
  endif()
  # dpkg-shlibdeps wants a debian/control beside it; each run gets its own.
  string(RANDOM LENGTH 12 run)
  set(work ${CMAKE_CURRENT_LIST_DIR}/shlibdeps-${run})
  file(WRITE ${work}/debian/control "")
  execute_process(COMMAND ${ZAV_SHLIBDEPS} -O ${ZAV_SHLIBDEPS_FILES} WORKING_DIRECTORY ${work}
                  OUTPUT_VARIABLE answer ERROR_VARIABLE errors RESULT_VARIABLE status)
  file(REMOVE_RECURSE ${work})
  if(NOT status EQUAL 0 OR NOT answer MATCHES "shlibs:Depends=([^\n]+)")
    message(FATAL_ERROR "dpkg-shlibdeps failed (${status}): ${errors}")
  endif()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
  if(NOT ZAV_RUNTIME_PACKAGES)
    message(FATAL_ERROR "no Debian package found for the zip library (dpkg-query -S at configure)")
  endif()
  foreach(package ${ZAV_RUNTIME_PACKAGES})
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ${package}")
  endforeach()
endif()
