// zav deadline: the last day to pay a period, moved to a business day as the control moves
// the deadline it reads from a file, and the days left until then.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

namespace zavcli {

struct DeadlineRequest {
  std::string period;                   // YYYYMM
  std::optional<std::string> holidays;  // a holiday settings file instead of the control's own
  std::optional<std::string> today;     // YYYYMMDD; the machine's date when not given
  bool json = false;
};

CLI::App* AddDeadlineCommand(CLI::App& app, DeadlineRequest& r);

// Prints the answer. Exit status 0, 64 for a period or date that is not one, 2 when the
// holiday settings cannot be read.
int RunDeadline(const DeadlineRequest& r);

}  // namespace zavcli
