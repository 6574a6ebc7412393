// Validating a payment file on this machine (zav::Validate of zav/zav.hpp, and the
// commands zav validate and zav check): the host sequence a page runs. inicio chooses the
// work folder; the file is brought in with copiaArch, or from its diskette parts with
// IntegraDisco and ChecaUltimoDisco until the last one; the validation run judges it
// (renaming and packing it unless only a verdict is asked for); the outputs are read.
//
// - Native paths reach the control as Windows-1252 text; texts come out in UTF-8.
// - A request that cannot run throws std::invalid_argument before anything is copied; a
//   run-time failure of the control is a verdict ("5"), as in ValidaReg.
// - A file longer than the control can count (2 GiB) is an overflow, answered without
//   copying it.
// - The work copy is never the payment file itself; a verdict without packing removes the
//   work copy again.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "validation/problems.hpp"
#include "zav/zav.hpp"

namespace zav {

// Whether `text` is DD/MM/YYYY naming a day of the calendar. The control reads any text
// as a date (letters as zeros, which make every payment look on time), so hosts pass it
// only dates.
bool IsServerDate(const std::string& text);

// Validate; and, when `problems` is given and nothing is packed, a diagnosis of the file
// as brought in: every problem it has, set once the validation run has ended (the verdict
// stays the run's).
Verdict ValidateFile(const std::string& file, const ValidateOptions& options,
                     std::optional<std::vector<Problem>>* problems);

}  // namespace zav
