// The validation run: the one call with which a host has a whole payment file checked.
// It resets the totals, copies the employer header into the control, checks the file's
// names, deadline, version and lateness, walks every record through the record checks
// (folding each into the running check value), compares the check value and the counts,
// then renames the file and packs it for upload. The result is "0", "5" (a run-time
// failure cut the run short) or the text of the first message met.
#pragma once

#include <string>

#include "control/zav.hpp"

namespace zav {

struct RunOptions {
  // Rename the validated file and pack it into its archive. Off for a verdict of the
  // file as it stands: nothing is moved or written.
  bool pack = true;
  // Without packing: the file to judge where it lies (a control path), opened read-only,
  // in the place of the work file; the name checks still judge OrigenNombre and
  // FinalArchi. Empty: the work file.
  std::string in_place = {};
};

std::string RunValidation(ZAV& z, const std::string& sDateServ, const RunOptions& options);

}  // namespace zav
