// Splitting a payment file over diskette parts that the diskette assembly (IntegraDisco,
// ChecaUltimoDisco) joins back into a file that validates.
//
// - The parts are named with the file's 8-character base name and the extensions ZA0,
//   ZA1, ... (upper case), 1 to 10 of them: the assembly reads the part number from one
//   digit.
// - Every part holds at least one whole record. Every part but the last ends with a worker,
//   movement or summary record (types 03, 04, 05), which is how the assembly knows more
//   parts follow; the last part ends with the file's last record, which must not be one of
//   those. Cuts fall as evenly as those rules allow.
// - The validation record (the last record, type 06) declares the number of diskettes: it
//   is set to the number of parts, and its stored check value is worked out again so that
//   the joined file still matches it. Nothing else changes: joined, the parts are the
//   file byte for byte except for those two fields.
// - Refused, with RuntimeFailure(err::kInvalidCall) and a description saying why, before
//   anything is written: a part count outside 1 to 10, more parts than the file has places
//   to cut, a base name that is not 8 characters, a length that is not whole records, a
//   last record that is not a validation record, a stored check value that does not match
//   the file (the file was altered: a new value would hide it), an output that would
//   replace the input, a part that exists already (unless `replace`).
// - The input is only read. The parts are written beside their final names and put in
//   place together once all are written; a failure leaves none of them behind.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace zav {

inline constexpr int kMaxDiskettes = 10;

// Answers the paths of the parts written in `out_dir`, in order.
std::vector<std::filesystem::path> SplitIntoDiskettes(const std::filesystem::path& file, int parts,
                                                      const std::filesystem::path& out_dir,
                                                      bool replace = false);

// Parts of `base` in `folder` beyond the first `parts` (BASE.ZA3 after a split in three),
// in any case: left from an earlier split, they are not part of the set.
std::vector<std::filesystem::path> StaleParts(const std::filesystem::path& folder,
                                              const std::string& base, int parts);

}  // namespace zav
