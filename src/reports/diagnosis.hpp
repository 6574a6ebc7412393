// A diagnosis of a payment file: every problem the validation run would meet on the way
// to accepting it, not only the first one at which it stops.
//
// DiagnoseFile walks the work file DestinoArchi & FinalArchi the way the validation run
// does (the same file-level checks, the same record checks, the same order) on its own copy
// of the control, with a ProblemSink set: each record check notes every failing field and
// goes on, a run-time failure is noted and the walk goes on with the next record, and the
// checks after the walk (check value, counts, record types) are all made. The problems come
// in the order the run would meet them, so the first is the one the run reports.
//
// - The caller's control is not touched; its settings (OrigenNombre, FinalArchi,
//   DestinoArchi, NumDiscos, igToler, bgGerencia) are what the copy works with.
// - The work file is only read: nothing is renamed, packed or written.
// - A late payment is noted (253) and the records are then checked as in a run that is not
//   late, since the run never checks the records of a late payment.
// - Where a check needs a value that failed before it (a declared total that is not a
//   number, a summary amount that could not be read, which counts as zero), its own
//   problem may follow from the first one.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "control/zav.hpp"
#include "validation/problems.hpp"

namespace zav {

// `in_place`: the file to read instead of the work file, as RunOptions::in_place.
std::vector<Problem> DiagnoseFile(const ZAV& control, const std::string& sDateServ,
                                  const std::string& in_place = {});

// The same, keeping the first `keep` problems and counting the others: a file whose every
// record is wrong (a header that every worker record contradicts) has millions.
struct Findings {
  std::vector<Problem> problems;
  std::size_t more = 0;  // problems found beyond those kept
};
Findings DiagnoseFileUpTo(const ZAV& control, const std::string& sDateServ,
                          const std::string& in_place, std::size_t keep);

// Hides what `problems` found in personal fields (records/personal.hpp) as masking does in
// the file's description, and what they were held against when that is a value too.
void MaskPersonal(std::vector<Problem>& problems);

}  // namespace zav
