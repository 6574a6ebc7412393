// The problems a diagnosis found (zav check --all), for people and for programs. Texts
// come out in UTF-8.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "validation/problems.hpp"

namespace zavcli {

// A message text (Windows-1252) on one line, in UTF-8: its line ends become " / ", runs of
// them one.
std::string OneLine(std::string_view control_text);

// One line a problem: where (record, type, field and positions) and what (message number
// and text, or the run-time failure); then, indented, what the check found and expected.
// The JSON form is zav::ProblemsJson (reports/problems_json.hpp).
void PrintProblems(std::ostream& out, const std::vector<zav::Problem>& problems);

}  // namespace zavcli
