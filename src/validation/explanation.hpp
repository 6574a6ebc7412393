// What a failed check compared, as a problem carries it (validation/problems.hpp): what
// the file holds where the problem is, what it should hold there, and for amounts by how
// much they differ and what tolerance was in force. The reports work it out
// (reports/explain.hpp, which says how the values are written); the texts are Spanish, as
// the messages are, in Windows-1252.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zav {

struct Explanation {
  enum class Kind : std::uint8_t {
    kNone,        // the check compares nothing that can be shown
    kAmount,      // found/expected are amounts; difference and tolerance too
    kCount,       // whole numbers: declared and counted, a size, a count of diskettes
    kDate,        // dates DD/MM/YYYY (the server's date against the last day to pay)
    kCheckValue,  // the stored check value and the one the file folds to
    kText,        // a text against the header's (registration, RFC, period, folio)
    kFormat,      // the field's text against the rule it breaks
  };
  Kind kind = Kind::kNone;
  std::string found;
  std::string expected;         // a value of the kind, or for kFormat the rule
  std::string difference;       // amounts: found - expected
  std::string tolerance;        // amounts: the tolerance in force
  std::int32_t workers = -1;    // worker records behind `expected` (-1: none)
  std::int32_t movements = -1;  // movement records behind `expected` (-1: none)
  std::vector<int> marked;      // 1-based positions in `found` that break the rule or differ
  std::string note;             // a plain sentence, where the values alone do not say it
  std::string deadline;         // the deadline as written (lateness)
  std::int32_t days_late = -1;  // days past the last day to pay (-1: not a lateness)

  bool operator==(const Explanation&) const = default;
};

}  // namespace zav
