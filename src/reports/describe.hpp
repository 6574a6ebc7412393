// A readable view of a payment file, record by record, built from the record layout tables
// (record_02..record_06), so that it names every field the way the checks do and cannot
// drift from them.
//
// - DescribeFile reads the file as a stream and hands each record, in file order, to a
//   callback: memory stays flat whatever the number of workers. The record handed over is
//   only valid during the call (its storage is reused).
// - Each field comes with its name, position, its text as the file holds it (without the
//   blanks around it) and the text to show: amounts in pesos with two decimals, rates as
//   a percentage with six, the deadline as DD/MM/YYYY, everything else as it stands.
//   Fillers the checks never look at are left out; so are the movement entries after the
//   first one whose social security number is blank, as the check reads them.
// - Masking hides the personal fields of records/personal.hpp: social security numbers
//   and RFCs but their last characters, names, credit numbers and salaries whole.
// - Text is Windows-1252, as in the file; a host converts it.
// - A file that cannot be opened or read fails with RuntimeFailure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "records/layout.hpp"

namespace zav {

struct DescribeOptions {
  bool mask = false;
};

struct DescribedField {
  std::string name;  // the layout table's name; "movimiento 2: ..." for a movement entry
  int start = 0;
  int length = 0;
  std::string text;   // the field as the file holds it, trimmed (masked when asked)
  std::string shown;  // the text to show
};

struct DescribedRecord {
  std::int32_t number = 0;   // 1-based record number
  int type = -1;             // 2 to 6 for a known record, the declared type otherwise
  const char* title = "";    // "encabezado patronal", "trabajador", ...
  std::int32_t ordinal = 0;  // for a worker record: the worker's number in the file
  std::vector<DescribedField> fields;
};

struct FileOverview {
  std::int64_t bytes = 0;
  std::int32_t records = 0;
};

// Calls `each` for every record of the file, in order, and answers the file's size.
FileOverview DescribeFile(const std::filesystem::path& file, const DescribeOptions& options,
                          const std::function<void(const DescribedRecord&)>& each);

// `text` with every character but the last `keep` replaced by '*'.
std::string Masked(std::string_view text, std::size_t keep);

}  // namespace zav
