#include "platform/drives.hpp"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <system_error>

#include "basic/cp1252.hpp"
#include "basic/runtime_failure.hpp"

namespace zav {

namespace fs = std::filesystem;

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsLetter(char c) { return UpperAscii(c) >= 'A' && UpperAscii(c) <= 'Z'; }

[[noreturn]] void BadDriveTable(std::string_view why) {
  throw RuntimeFailure(err::kInvalidCall, "ZAV_DRIVES: " + std::string(why));
}

std::optional<DriveType> TypeNamed(std::string_view name) {
  const std::string upper = UpperCase1252(name);
  if (upper == "REMOVABLE") return DriveType::kRemovable;
  if (upper == "FIXED") return DriveType::kFixed;
  if (upper == "NETWORK") return DriveType::kNetwork;
  if (upper == "CDROM") return DriveType::kCdrom;
  if (upper == "RAMDISK") return DriveType::kRamdisk;
  return std::nullopt;
}

Drive ParseEntry(std::string_view entry) {
  const std::size_t colon = entry.find(':');
  if (entry.size() < 2 || !IsLetter(entry[0]) || entry[1] != '=' || colon == std::string::npos) {
    BadDriveTable("entry \"" + std::string(entry) + "\" is not LETTER=TYPE:ROOT");
  }
  const auto type = TypeNamed(entry.substr(2, colon - 2));
  if (!type) BadDriveTable("unknown drive type in \"" + std::string(entry) + "\"");
  const std::string_view root = entry.substr(colon + 1);
  if (root.empty()) BadDriveTable("drive " + std::string(1, entry[0]) + " has no root");
  std::error_code ec;
  fs::path absolute = fs::absolute(fs::path(std::string(root)), ec);
  if (ec) absolute = fs::path(std::string(root));
  return Drive{UpperAscii(entry[0]), *type, absolute.lexically_normal()};
}

fs::path DefaultRoot() {
  const char* data_home = std::getenv("XDG_DATA_HOME");
  fs::path base;
  if (data_home != nullptr && *data_home != '\0') {
    base = data_home;
  } else {
    const char* home = std::getenv("HOME");
    base = fs::path(home != nullptr && *home != '\0' ? home : ".") / ".local" / "share";
  }
  return base / "zav" / "drive_c";
}

// The drive a control path names by its letter, or nullopt when there is no such drive.
std::optional<Drive> FindDrive(char letter) {
  for (const Drive& d : Drives()) {
    if (d.letter == UpperAscii(letter)) return d;
  }
  return std::nullopt;
}

std::optional<Drive> CurrentDrive() {
  const std::vector<Drive> drives = Drives();
  if (drives.empty()) return std::nullopt;
  for (const Drive& d : drives) {
    if (d.letter == 'C') return d;
  }
  return drives.front();
}

fs::path ReadyRoot(const Drive& drive) {
  std::error_code ec;
  if (!fs::is_directory(drive.root, ec)) throw RuntimeFailure(err::kDiskNotReady);
  return drive.root;
}

// The entry of `folder` named `name` without regard to case: an exact match first, else
// the first matching entry in name order. Empty when there is none.
fs::path MatchEntry(const fs::path& folder, std::string_view name) {
  const fs::path exact = folder / NativeName(name);
  std::error_code ec;
  if (fs::symlink_status(exact, ec).type() != fs::file_type::not_found && !ec) return exact;
  std::optional<fs::path> best;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path candidate = it->path().filename();
    if (!SameName(ControlName(candidate), name)) continue;
    if (!best || candidate.native() < best->native()) best = candidate;
  }
  return best ? folder / *best : fs::path();
}

}  // namespace

std::vector<Drive> Drives() {
  const char* table = std::getenv("ZAV_DRIVES");
  if (table == nullptr) {
    Drive c{'C', DriveType::kFixed, DefaultRoot()};
    std::error_code ec;
    fs::create_directories(c.root, ec);  // our own data folder; a failure shows later
    return {c};
  }
  std::vector<Drive> drives;
  std::string_view rest(table);
  while (!rest.empty()) {
    const std::size_t semi = rest.find(';');
    const std::string_view entry = rest.substr(0, semi);
    rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
    if (entry.empty()) continue;
    Drive d = ParseEntry(entry);
    for (const Drive& other : drives) {
      if (other.letter == d.letter) BadDriveTable("drive " + d.DriveLetter() + " twice");
    }
    drives.push_back(std::move(d));
  }
  std::sort(drives.begin(), drives.end(),
            [](const Drive& a, const Drive& b) { return a.letter < b.letter; });
  return drives;
}

fs::path ResolvePath(std::string_view control_path) {
  // A NUL would silently end the native name early.
  if (control_path.find('\0') != std::string_view::npos) throw RuntimeFailure(err::kBadFileName);
  fs::path base;
  std::string_view rest = control_path;
  if (!rest.empty() && rest.front() == '/') {
    base = "/";
  } else if (rest.size() >= 2 && IsLetter(rest[0]) && rest[1] == ':') {
    const auto drive = FindDrive(rest[0]);
    if (!drive) throw RuntimeFailure(err::kPathNotFound);
    base = ReadyRoot(*drive);
    rest.remove_prefix(2);
  } else if (!rest.empty() && rest.front() == '\\') {
    const auto drive = CurrentDrive();
    if (!drive) throw RuntimeFailure(err::kPathNotFound);
    base = ReadyRoot(*drive);
  } else {
    std::error_code ec;
    base = fs::current_path(ec);
    if (ec) throw RuntimeFailure(err::kPathNotFound);
  }

  // Walk the components; once one does not exist, the rest are new and keep their case.
  std::vector<fs::path> resolved;  // native path after each component
  bool exists = true;
  while (!rest.empty()) {
    std::size_t end = 0;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    const std::string_view name = rest.substr(0, end);
    rest.remove_prefix(end < rest.size() ? end + 1 : end);
    if (name.empty() || name == ".") continue;
    if (name == "..") {
      if (!resolved.empty()) resolved.pop_back();
      exists = true;
      continue;
    }
    const fs::path& folder = resolved.empty() ? base : resolved.back();
    fs::path next;
    if (exists) next = MatchEntry(folder, name);
    if (next.empty()) {
      exists = false;
      next = folder / NativeName(name);
    }
    resolved.push_back(std::move(next));
  }
  return resolved.empty() ? base : resolved.back();
}

std::string NativeName(std::string_view control_name) { return Cp1252ToUtf8(control_name); }

std::string ControlName(const fs::path& native_name) {
  const std::string& bytes = native_name.native();
  try {
    return Utf8ToCp1252(bytes);
  } catch (const RuntimeFailure&) {
    return bytes;
  }
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperCase1252(a[i]) != UpperCase1252(b[i])) return false;
  }
  return true;
}

bool EndsWithSeparator(std::string_view control_path) {
  return !control_path.empty() && IsSeparator(control_path.back());
}

}  // namespace zav
