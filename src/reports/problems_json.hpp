// The problems of a diagnosis as JSON, the same for every host: the command line's
// `check --all --json`, the browser's control and its npm package. Texts in UTF-8.
//
// One object a problem, every key always present (null where it does not apply):
//   record     the record's number (null: the file as a whole)
//   type       the record's type as read, two digits ("03"), or null
//   field, start, length   the field's name and position (null: the whole record/file)
//   message, text          the message number and its text (null for a run-time failure)
//   failure    {number, description} of a run-time failure, or null
//   compared   what the check compared: "amount", "count", "date", "check_value", "text",
//              "format", or null when it compares nothing that can be shown
//   found, expected   what the file holds and what it should hold: amounts in pesos as
//              text with two decimals ("1234.50"), counts and sizes as integers, dates
//              DD/MM/YYYY, check values and texts as stored; for "format" `expected` is
//              the rule the field breaks ("11 dígitos")
//   difference, tolerance  amounts: found - expected, and the tolerance in force
//   workers, movements     how many worker and movement records `expected` adds up
//   marked     1-based positions in `found` of the characters that break the rule or
//              differ from what was expected
//   note       a plain sentence where the values alone do not say it
//   deadline, days_late    the deadline as written (DD/MM/YYYY; 219, 253) and, for a late
//              payment, the days past the last day to pay (`expected`)
#pragma once

#include <nlohmann/json.hpp>
#include <vector>

#include "validation/problems.hpp"

namespace zav {

nlohmann::ordered_json ProblemsJson(const std::vector<Problem>& problems);

// The name of an explanation's kind as `compared` gives it (null for none).
nlohmann::ordered_json ComparedJson(Explanation::Kind kind);

}  // namespace zav
