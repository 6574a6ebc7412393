// The zip library's packing entry, `dzipVB`, with the outside library's contract: it is
// handed the 188-byte numeric command record, the 13141-byte text command record (ten
// blank-padded fields, no NULs) and a status value, and writes a standard zip archive at
// the path of text field 1 holding the file of text field 2 under its bare name.
//
// - The numeric record must carry its size (188) at offset 0 and the packing operation
//   (4) at offset 4; anything else is refused.
// - Paths are control paths (platform/drives.hpp), taken without their trailing blanks.
// - The archive is written beside its final name and renamed into place when complete: an
//   earlier archive of that name is replaced whole, and a failure leaves no archive
//   behind (an earlier one stays as it was).
// - The result is 0 exactly when the archive is complete; the status value then holds 0,
//   otherwise the number of the failure (a run-time failure number or a libzip error).
// - A zip library that cannot be loaded, or lacks a function, is no answer but a failure
//   of the call: RuntimeFailure 53 (File not found) or 453 (Specified DLL function not
//   found), the loader's reason in its description.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace zav {

inline constexpr std::size_t kZipNumericRecordSize = 188;
inline constexpr std::array<std::size_t, 10> kZipTextFieldLengths = {260,  5120, 260,  2048, 7,
                                                                     2048, 2048, 1024, 66,   260};
inline constexpr std::size_t kZipTextRecordSize = 13141;
inline constexpr std::int32_t kZipOperationPack = 4;

// Offset of text field `field` (1 to 10) in the text record.
constexpr std::size_t ZipTextFieldOffset(int field) {
  std::size_t offset = 0;
  for (int i = 1; i < field; ++i) offset += kZipTextFieldLengths[static_cast<std::size_t>(i - 1)];
  return offset;
}

// Results other than 0.
namespace dzip {
inline constexpr std::int32_t kBadCommand = 1;   // records not as described above
inline constexpr std::int32_t kNoFile = 2;       // the file to pack is missing or unreadable
inline constexpr std::int32_t kCannotWrite = 3;  // the archive could not be written
}  // namespace dzip

std::int32_t dzipVB(unsigned char* numeric_record, char* text_record, std::int32_t* status);

#ifndef __EMSCRIPTEN__
// What dzipVB writes, on native paths: a zip archive at `archive` holding `file` under
// `entry_name`, deflated at PackingLevel() on `threads` threads (chunked_deflate.hpp; with one
// thread, the zip library's own bytes). 0, or the zip library's error.
int WriteZipArchive(const std::filesystem::path& archive, const std::filesystem::path& file,
                    const std::string& entry_name, int threads);
#endif

}  // namespace zav
