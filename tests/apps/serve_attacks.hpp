// The fixture of the tests of zav-serve tried as an attacker would (serve_attacks_test.cpp,
// serve_exhaustion_test.cpp): the upload server's folders, what it stored and what it left in
// its work folder; and archives with bytes in front of them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/serve_harness.hpp"

namespace zav::testing {

// `archive` with `prefix` in front of it and its offsets moved to match (zip -A): a zip reader
// that follows the central directory reads the archive, one that walks from the start the prefix.
inline std::string Prefixed(const std::string& prefix, const std::string& archive,
                            const std::filesystem::path& scratch) {
  std::ofstream(scratch / "prefixed.zip", std::ios::binary) << prefix << archive;
  EXPECT_EQ(Shell("zip -qA " + (scratch / "prefixed.zip").string()).status, 0);
  return ReadAll(scratch / "prefixed.zip");
}

class ServeAttacks : public ServeTest {
 protected:
  std::filesystem::path work = base / "uploads.work";

  std::vector<std::string> Stored() {
    return std::filesystem::exists(uploads) ? Listing(uploads) : std::vector<std::string>{};
  }
  // Files left in the work folder (the check threads' own folders stay, empty).
  int WorkFiles() {
    int n = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(work)) {
      n += e.is_regular_file();
    }
    return n;
  }
};

}  // namespace zav::testing
