#include "problems.hpp"

#include <string>

#include "basic/cp1252.hpp"

namespace zavcli {

namespace {

using json = nlohmann::ordered_json;

}  // namespace

std::string OneLine(std::string_view control_text) {
  std::string text = zav::Cp1252ToUtf8(control_text);
  std::string out;
  bool pending_break = false;
  for (const char c : text) {
    if (c == '\r' || c == '\n') {
      pending_break = !out.empty();
      continue;
    }
    if (pending_break) out += " / ";
    pending_break = false;
    out += c;
  }
  return out;
}

namespace {

std::string TypeText(int type) {
  if (type < 0) return "??";
  return (type < 10 ? "0" : "") + std::to_string(type);
}

}  // namespace

void PrintProblems(std::ostream& out, const std::vector<zav::Problem>& problems) {
  out << problems.size() << (problems.size() == 1 ? " problem" : " problems") << "\n";
  for (const zav::Problem& p : problems) {
    out << "  ";
    if (p.record == 0) {
      out << "file";
    } else {
      out << "record " << p.record << " (" << TypeText(p.type) << ")";
    }
    if (!p.field.empty()) {
      out << ", " << zav::Cp1252ToUtf8(p.field) << " (" << p.start << ", " << p.length << ")";
    }
    if (p.failure != 0) {
      out << ": run-time failure " << p.failure << " (" << OneLine(p.text) << ")\n";
    } else {
      out << ": " << p.message << " " << OneLine(p.text) << "\n";
    }
  }
}

json ProblemsJson(const std::vector<zav::Problem>& problems) {
  json list = json::array();
  for (const zav::Problem& p : problems) {
    json o;
    o["record"] = p.record != 0 ? json(p.record) : json(nullptr);
    o["type"] = p.type >= 0 ? json(TypeText(p.type)) : json(nullptr);
    o["field"] = p.field.empty() ? json(nullptr) : json(zav::Cp1252ToUtf8(p.field));
    o["start"] = p.start != 0 ? json(p.start) : json(nullptr);
    o["length"] = p.length != 0 ? json(p.length) : json(nullptr);
    o["message"] = p.failure == 0 ? json(p.message) : json(nullptr);
    o["text"] = p.failure == 0 ? json(zav::Cp1252ToUtf8(p.text)) : json(nullptr);
    o["failure"] = p.failure != 0
                       ? json{{"number", p.failure}, {"description", zav::Cp1252ToUtf8(p.text)}}
                       : json(nullptr);
    list.push_back(std::move(o));
  }
  return list;
}

}  // namespace zavcli
