// Replays every kept fuzz input (fuzz/regressions/<target>/, the crashes found and fixed,
// and the seed corpora fuzz/corpus/<target>/) through the entry its target fuzzes. An
// input that breaks a promise aborts with "zav fuzz: ..." or crashes, as in the fuzzer.
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
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        entry(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        ++replayed;
      }
    }
  }
  EXPECT_GT(replayed, 0);
}

}  // namespace
}  // namespace zav
