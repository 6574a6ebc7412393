// The programs' version and the commit they were built from, for --version. The version
// is project(... VERSION) in CMakeLists.txt; cmake/version.cmake writes both at build time.
#pragma once

#include <string>

namespace zavcli {

extern const char kVersion[];
// The short hash of the commit, "-dirty" when built with changes to it; "unknown" when
// built without git.
extern const char kCommit[];

// "PROGRAM VERSION (commit COMMIT)": the first line of --version.
inline std::string VersionLine(const std::string& program) {
  return program + " " + kVersion + " (commit " + kCommit + ")";
}

}  // namespace zavcli
