#include "summary.hpp"

#include <nlohmann/json.hpp>
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

std::string Quoted(const std::string& cell) {
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
