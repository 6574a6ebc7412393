// The summary of zav check --summary: one row a file, as CSV or JSON. Texts are UTF-8; a
// field the run does not know is empty (null in JSON).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace zavcli {

struct SummaryRow {
  std::string file;
  std::string registration, rfc, period, folio, workers;
  std::string total;      // the four totals to deposit, pesos with two decimals
  std::string verdict;    // accepted, rejected, failure (a run-time failure), unreadable, error
  std::string message;    // the message number of a rejection
  std::string text;       // its text on one line, or what went wrong
  std::string deadline;   // DD/MM/YYYY, as the file carries it
  std::string days_late;  // days past the last day to pay (the deadline moved to a business
                          // day) on the server date; 0 when on time or in management mode
  std::string capture_line;
};

// A header line, then one line a row (RFC 4180 quoting); a text cell a spreadsheet would
// run as a formula gets a leading single quote.
void WriteSummaryCsv(std::ostream& out, const std::vector<SummaryRow>& rows);
// One array of objects, one a row.
void WriteSummaryJson(std::ostream& out, const std::vector<SummaryRow>& rows);

}  // namespace zavcli
