// Drives and paths: the control names files by drive-letter paths (C:\ZAV\temp\PAGO.ZAV),
// as its host pages do; this unit maps them onto the host's file system.
//
// - The drive table comes from the environment variable ZAV_DRIVES, read afresh on every
//   call: entries separated by ';', each LETTER=TYPE:ROOT, for example
//   C=fixed:/srv/zav/c;A=removable:/media/floppy. TYPE is removable, fixed, network, cdrom
//   or ramdisk. Drives are enumerated in letter order. An empty ZAV_DRIVES means no drives.
// - Without ZAV_DRIVES there is one fixed drive C rooted at $XDG_DATA_HOME/zav/drive_c
//   (~/.local/share/zav/drive_c when unset); that folder is created when first needed.
// - X:\a\b resolves to ROOT/a/b; '\' and '/' both separate; '.' and '..' are followed
//   without ever leaving the drive's root. A path starting with '/' is native and is not
//   mapped; \a\b is on the current drive (C, else the first drive); any other relative
//   path is taken from the process's current folder.
// - Each existing component is matched without regard to case (an existing PAGO.ZA1
//   answers to pago.za1; an exact match is preferred, then the first in name order); a
//   component that does not exist keeps the case given.
// - Control paths are Windows-1252 text; native names are UTF-8.
//
// Failures: an unknown drive letter is "path not found" (76); a drive whose root folder is
// missing (no diskette in the drive) is "disk not ready" (71); a malformed ZAV_DRIVES is
// "invalid procedure call or argument" (5); a path holding a NUL is "bad file name" (52).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zav {

// The drive kinds, numbered as the file-system object reports them (`drivetype`).
enum class DriveType : int {
  kUnknown = 0,
  kRemovable = 1,
  kFixed = 2,
  kNetwork = 3,
  kCdrom = 4,
  kRamdisk = 5,
};

struct Drive {
  char letter = 'C';  // upper case
  DriveType type = DriveType::kFixed;
  std::filesystem::path root;

  int drivetype() const { return static_cast<int>(type); }
  std::string DriveLetter() const { return std::string(1, letter); }
};

// The drive table, in letter order.
std::vector<Drive> Drives();

// The native path of a control path (see the top of this unit).
std::filesystem::path ResolvePath(std::string_view control_path);

// Names between the control (Windows-1252) and the native file system (UTF-8). A native
// name that is not valid UTF-8, or has no Windows-1252 form, comes back byte for byte.
std::string NativeName(std::string_view control_name);
std::string ControlName(const std::filesystem::path& native_name);

// Whether two control names are the same name without regard to case.
bool SameName(std::string_view a, std::string_view b);

// Whether a control path ends with a separator ('\' or '/'): it names a folder.
bool EndsWithSeparator(std::string_view control_path);

}  // namespace zav
