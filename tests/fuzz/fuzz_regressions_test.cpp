// Replays the kept fuzz inputs (fuzz/regressions/<target>/, crashes found and fixed, and the
// seeds in fuzz/corpus/<target>/) through their target's entry: a broken promise aborts.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz/entries.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;

TEST(FuzzRegressions, KeptInputsReplayCleanly) {
  int replayed = 0;
  for (const char* kept : {"regressions", "corpus"}) {
    const fs::path folder = fs::path(ZAV_SOURCE_DIR) / "fuzz" / kept;
    if (!fs::is_directory(folder)) continue;
    for (const auto& target : fs::directory_iterator(folder)) {
      if (!target.is_directory()) continue;
      const fuzz::Entry entry = fuzz::EntryNamed(target.path().filename().string());
      ASSERT_NE(entry, nullptr) << "no fuzz target named " << target.path();
      for (const auto& input : fs::directory_iterator(target.path())) {
        std::ifstream in(input.path(), std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        entry(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        ++replayed;
      }
    }
  }
  EXPECT_GT(replayed, 0);
}

}  // namespace
}  // namespace zav
