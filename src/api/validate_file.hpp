// Validating a payment file on this machine (zav::Validate of zav/zav.hpp, and the
// commands zav validate and zav check): the host sequence a page runs. inicio chooses the
// work folder; the file is brought in with copiaArch, or from its diskette parts with
// IntegraDisco and ChecaUltimoDisco until the last one; the validation run judges it
// (renaming and packing it unless only a verdict is asked for); the outputs are read.
//
// - Native paths reach the control as Windows-1252 text; texts come out in UTF-8.
// - A request that cannot run throws std::invalid_argument before anything is copied; a
//   work folder that cannot be used throws SetupError; a run-time failure of the control
//   is a verdict ("5"), as in ValidaReg.
// - A file longer than the control can count (2 GiB) is an overflow, answered without
//   copying it.
// - A verdict without packing reads a file in one piece where it lies, read-only.
// - The work copy is never the payment file itself, and nothing of the run stays in the
//   work folder unless asked (keep_work).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "reports/hint.hpp"
#include "validation/problems.hpp"
#include "zav/zav.hpp"

namespace zav {

// What is wrong with a server date, or "" for a day of the calendar written DD/MM/YYYY.
// The control reads any text as a date (letters as zeros, which make every payment look
// on time), so hosts pass it only dates.
std::string ServerDateProblem(const std::string& text);
inline bool IsServerDate(const std::string& text) { return ServerDateProblem(text).empty(); }

// A validation as the command line reports it: the verdict and what it says beside it.
struct FileReport {
  Verdict verdict;
  // With a diagnosis asked for and nothing packed: every problem of the file as brought
  // in, the verdict staying the run's.
  std::optional<std::vector<Problem>> problems;
  int at_record_type = -1;         // the type of record verdict.at_record, when there is one
  bool after_last_record = false;  // the run stopped after the last record (a file-level check)
  Hint hint;                       // verdict.hint, with its kind and the name it names
  std::string warning;  // the archive could not be moved to out_dir: it stays in the work folder
};

// Told, now and then, how many of the file's records a walk has read: `what` is
// "validating", "checking" or "listing every problem". Only files of a few megabytes or
// more are reported: smaller ones are done before anyone could read it.
using WalkProgress = std::function<void(const char* what, std::int32_t done, std::int32_t total)>;

// Validate; and, when `diagnose` and nothing is packed, the diagnosis too.
FileReport ValidateFile(const std::string& file, const ValidateOptions& options, bool diagnose,
                        const WalkProgress& progress = {});

}  // namespace zav
