# Writes OUT, the C++ source of the build's version and commit (apps/zav/version.hpp), at
# every build; the file changes, and is compiled again, only when they do.
#
#   cmake -DSOURCE_DIR=<tree> -DVERSION=<project version> -DOUT=<file> -P version.cmake
#
# The commit is the short hash of the tree's HEAD, with "-dirty" when tracked files differ
# from it; "unknown" without git or outside a repository (a source archive).
set(commit unknown)
find_program(ZAV_GIT git)
if(ZAV_GIT)
  # The tree may belong to another user (a build as root, a container): read it anyway.
  set(git ${ZAV_GIT} -c safe.directory=* -C ${SOURCE_DIR})
  execute_process(COMMAND ${git} rev-parse --short=12 HEAD
                  OUTPUT_VARIABLE head OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE status ERROR_QUIET)
  if(status EQUAL 0 AND head)
    set(commit ${head})
    execute_process(COMMAND ${git} diff --quiet HEAD -- RESULT_VARIABLE changed ERROR_QUIET)
    if(changed EQUAL 1)
      string(APPEND commit -dirty)
    endif()
  endif()
endif()
file(CONFIGURE OUTPUT ${OUT} CONTENT [[
// Written by cmake/version.cmake at build time.
#include "zav/version.hpp"

namespace zavcli {
const char kVersion[] = "@VERSION@";
const char kCommit[] = "@commit@";
}  // namespace zavcli
]] @ONLY)
