#include "summary.hpp"

#include <nlohmann/json.hpp>
#include <string_view>
#include <utility>

namespace zavcli {

namespace {

using Column = std::pair<const char*, std::string SummaryRow::*>;

constexpr Column kColumns[] = {
    {"file", &SummaryRow::file},
    {"registration", &SummaryRow::registration},
    {"rfc", &SummaryRow::rfc},
    {"period", &SummaryRow::period},
    {"folio", &SummaryRow::folio},
    {"workers", &SummaryRow::workers},
    {"total", &SummaryRow::total},
    {"verdict", &SummaryRow::verdict},
    {"message", &SummaryRow::message},
    {"text", &SummaryRow::text},
    {"deadline", &SummaryRow::deadline},
    {"days_late", &SummaryRow::days_late},
    {"capture_line", &SummaryRow::capture_line},
};

// Whether the cell is a plain number (-12.50, +3, 7), which a spreadsheet must read as one.
bool PlainNumber(const std::string& cell) {
  std::size_t k = cell.starts_with('+') || cell.starts_with('-') ? 1 : 0;
  bool digits = false, point = false;
  for (; k < cell.size(); ++k) {
    if (cell[k] >= '0' && cell[k] <= '9') {
      digits = true;
    } else if (cell[k] == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digits;
}

// A text cell that a spreadsheet would run as a formula (its first character =, +, -, @, a
// tab or a carriage return: a name or RFC in the file can be one) gets a leading single
// quote; then RFC 4180 quoting.
std::string Quoted(std::string cell) {
  if (!cell.empty() && std::string_view("=+-@\t\r").find(cell[0]) != std::string_view::npos &&
      !PlainNumber(cell)) {
    cell.insert(0, 1, '\'');
  }
  if (cell.find_first_of(",\"\r\n") == std::string::npos) return cell;
  std::string out = "\"";
  for (const char c : cell) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// Numbers in JSON where the row holds one.
bool Numeric(const char* name) {
  const std::string n = name;
  return n == "workers" || n == "message" || n == "days_late";
}

}  // namespace

void WriteSummaryCsv(std::ostream& out, const std::vector<SummaryRow>& rows) {
  const char* separator = "";
  for (const Column& c : kColumns) {
    out << separator << c.first;
    separator = ",";
  }
  out << "\n";
  for (const SummaryRow& row : rows) {
    separator = "";
    for (const Column& c : kColumns) {
      out << separator << Quoted(row.*c.second);
      separator = ",";
    }
    out << "\n";
  }
}

void WriteSummaryJson(std::ostream& out, const std::vector<SummaryRow>& rows) {
  nlohmann::ordered_json all = nlohmann::ordered_json::array();
  for (const SummaryRow& row : rows) {
    nlohmann::ordered_json o;
    for (const Column& c : kColumns) {
      const std::string& value = row.*c.second;
      if (value.empty()) {
        o[c.first] = nullptr;
      } else if (Numeric(c.first) && value.find_first_not_of("0123456789") == std::string::npos &&
                 value.size() < 16) {
        o[c.first] = std::stoll(value);
      } else {
        o[c.first] = value;
      }
    }
    all.push_back(std::move(o));
  }
  out << all.dump(2) << "\n";
}

}  // namespace zavcli
