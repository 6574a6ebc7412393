// Test drives: a fresh folder (under $ZAV_TEST_TMP, else /tmp) with one root per drive, and
// ZAV_DRIVES, XDG_DATA_HOME and XDG_CONFIG_HOME (its "data" and "config", not made) pointing
// into it while the object lives; then the old values come back and the folder goes.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "basic/expect_failure.hpp"

namespace zav::testing {

class TempDrives {
 public:
  // `entries`: LETTER=TYPE pairs separated by ';' ("" for no drives at all).
  explicit TempDrives(std::string_view entries = "C=fixed") {
    const char* tmp = std::getenv("ZAV_TEST_TMP");
    const std::filesystem::path parent = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    std::filesystem::create_directories(parent);
    std::string pattern = (parent / "zav-drives-XXXXXX").native();
    if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    base_ = pattern;
    Set("XDG_DATA_HOME", (base_ / "data").native());
    Set("XDG_CONFIG_HOME", (base_ / "config").native());
    std::string table, entry;
    for (std::istringstream in{std::string(entries)}; std::getline(in, entry, ';');) {
      if (entry.empty()) continue;
      std::filesystem::create_directories(root(entry[0]));
      table += (table.empty() ? "" : ";") + entry + ":" + root(entry[0]).native();
    }
    Set("ZAV_DRIVES", table);
  }

  ~TempDrives() {
    for (const auto& [name, old] : saved_) old ? ::setenv(name, old->c_str(), 1) : ::unsetenv(name);
    std::error_code ec;
    std::filesystem::permissions(base_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(base_, ec);
  }

  TempDrives(const TempDrives&) = delete;
  TempDrives& operator=(const TempDrives&) = delete;

  const std::filesystem::path& base() const { return base_; }
  std::filesystem::path root(char letter) const { return base_ / (std::string("drive_") + letter); }

  // The native path of "X:/a/b" (forward slashes, exact case).
  std::filesystem::path native(std::string_view path) const {
    return root(path[0]) / std::string(path.substr(3));
  }

  // Writes a file (making its folders) at "X:/a/b".
  void Write(std::string_view path, std::string_view bytes) const {
    std::filesystem::create_directories(native(path).parent_path());
    std::ofstream(native(path), std::ios::binary) << bytes;
  }

  void MakeFolder(std::string_view path) const {
    std::filesystem::create_directories(native(path));
  }

 private:
  void Set(const char* name, const std::string& value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name, value.c_str(), 1);
  }

  std::filesystem::path base_;
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

// The whole content of a native file ("" when it cannot be read).
inline std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The names in a native folder, sorted: no temporary file may stay behind in a folder after a
// copy, a move or a packing.
inline std::vector<std::string> Listing(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    names.push_back(e.path().filename());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A 295-byte record starting with the two-digit `type`, the rest `fill`.
inline std::string Record(int type, char fill = 'x') {
  std::string r(295, fill);
  r[0] = static_cast<char>('0' + type / 10);
  r[1] = static_cast<char>('0' + type % 10);
  return r;
}

}  // namespace zav::testing
