// A hint for a person whose payment file was refused: one plain Spanish sentence on the
// likely cause, when the file's bytes or names show one the control's own message does not
// name. The control's verdict stays as it is; the hint is said beside it.
//
// Causes recognised, the first that applies:
//  - the file is empty;
//  - the source name has no extension the control takes (.ZAV, .ZA0 to .ZA9), when the
//    verdict is 406 or a run-time failure;
//  - the parts of a diskette set are not named with 8 characters (verdict 234);
//  - the first record is not an employer header (type 02): a worker, movement, summary or
//    validation record there means a later diskette part given alone, anything else a
//    file that is not a payment file;
//  - the work name does not match the header (verdict 234): the name it must have;
//  - a line end (CR LF or LF) after every 295-byte record: an editor saved the file;
//  - characters written as two-byte UTF-8 sequences where the file has one byte each;
//  - a length that is not a whole number of 295-byte records, and by how much.
// Nothing is said for an accepted file or a cause none of these explain.
//
// Texts are Windows-1252, as the control's messages are; a host converts them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "control/zav.hpp"

namespace zav {

enum class HintKind {
  kNone,
  kEmpty,
  kExtension,
  kPartName,
  kLaterPart,
  kNotPayment,
  kWorkName,
  kLineEnds,
  kUtf8,
  kSize,
};

struct Hint {
  HintKind kind = HintKind::kNone;
  std::string text;           // empty for kNone
  std::string expected_name;  // kWorkName: the work name the header asks for
};

struct HintFacts {
  std::filesystem::path file;  // native path of the bytes that were validated
  std::string source_name;     // the name the file came with (OrigenNombre)
  std::string work_name;       // the name it was validated under (FinalArchi)
  std::int16_t message = 0;    // the verdict's message number, 0 for none
  std::int32_t failure = 0;    // the run-time failure behind a "5", 0 for none
};

// Never fails: a file that cannot be read gets no hint.
Hint HintFor(const HintFacts& facts);

// The hint for the control's last validation run, from its work file and names. Call it
// before the work file is moved or removed.
Hint HintForLastRun(const ZAV& z);

}  // namespace zav
