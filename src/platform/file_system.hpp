// The file operations the control asks for by name (the scripting file-system object's
// members, and the directory listing), on control paths resolved by platform/drives.hpp.
//
// Attributes follow the host's file system: a name starting with '.' is hidden; a file
// without the owner's write bit is read-only; there are no system files.
//
// Failures are RuntimeFailure with the classic numbers: 53 file not found, 76 path not
// found (a missing folder or drive), 70 permission denied (a read-only file without
// force, or the host refusing), 75 path/file access error (a name already taken, a
// folder where a file is wanted), 61 disk full, 57 device I/O error, 71 disk not ready.
//
// Copies and moves never leave a half-written file under the destination's name: the
// data is written beside it under a hidden temporary name and renamed into place.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace zav {

// Attribute bits, as the listing filter uses them.
namespace attr {
inline constexpr int kNormal = 0;
inline constexpr int kReadOnly = 1;
inline constexpr int kHidden = 2;
inline constexpr int kSystem = 4;
inline constexpr int kVolume = 8;
inline constexpr int kDirectory = 16;
}  // namespace attr

// The directory listing. `pattern` is a path whose last component may hold the wildcards
// '*' (any run of characters) and '?' (one character), matched without regard to case; a
// pattern ending with a separator lists the whole folder. Normal files (read-only ones
// included) always match; folders only with attr::kDirectory, hidden entries only with
// attr::kHidden. The names come back bare, in name order. A folder that does not exist
// lists nothing; a drive that is unknown or not ready fails (76, 71).
std::vector<std::string> ListDirectory(std::string_view pattern, int attributes = attr::kNormal);

// The first name ListDirectory gives, or "" when it gives none.
std::string FirstMatch(std::string_view pattern, int attributes = attr::kNormal);

// Whether `path` names an existing file (hidden ones included; not a folder). Never fails.
bool FileExists(std::string_view path) noexcept;

// Deletes the file, or every file its last component's wildcards match. A read-only file
// is deleted only with `force` (70 otherwise). No file matching: 53.
void DeleteFile(std::string_view path, bool force = false);

// Copies one file. A destination ending with a separator is a folder to copy into under
// the source's name. The source must be an existing file (53); the destination's folder
// must exist (76); an existing destination is replaced only with `overwrite` (75
// otherwise) and never when it is read-only or a folder (70). The copy takes the source's
// permissions. The source is never changed.
void CopyFile(std::string_view source, std::string_view destination, bool overwrite = true);

// Moves (renames) one file. The source must exist (53), the destination must not (75),
// its folder must (76). Across file systems the file is copied aside, renamed into place,
// and only then removed from its source.
void MoveFile(std::string_view source, std::string_view destination);

// Creates one folder. Its parent must exist (76); the name must not be taken (75).
void CreateFolder(std::string_view path);

// The extension of the last component of `path`, without the dot ("" when it has none).
// Text only: the file need not exist.
std::string GetExtensionName(std::string_view path);

// The last component of a control path ("PAGO.ZAV" for C:\ZAV\temp\PAGO.ZAV).
std::string GetFileName(std::string_view path);

// The value of an environment variable as control text ("" when it is not set).
std::string EnvironmentVariable(const char* name);

// The failure for a native error: `missing` is the number for "no such file" (53 for a
// file, 76 for a folder), the others as listed at the top of this unit.
[[noreturn]] void ThrowNativeError(const std::error_code& ec, int missing);

// A new file written beside `target` under a hidden temporary name, then put in place by
// Commit, which renames it over `target`. Abandoned (destroyed without Commit), it is
// removed. Creating it fails like creating a file in target's folder (76 when missing).
class PendingFile {
 public:
  explicit PendingFile(const std::filesystem::path& target);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  const std::filesystem::path& path() const { return path_; }
  void Commit();

 private:
  std::filesystem::path target_;
  std::filesystem::path path_;
  bool committed_ = false;
};

}  // namespace zav
