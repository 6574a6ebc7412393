#include "reports/problems_json.hpp"

#include <cmath>
#include <cstdint>
#include <string>

#include "basic/cp1252.hpp"

namespace zav {

namespace {

using json = nlohmann::ordered_json;

json Text(const std::string& control_text) {
  return control_text.empty() ? json(nullptr) : json(Cp1252ToUtf8(control_text));
}

// A value of the explanation's kind: counts as integers, everything else as text.
json Value(const Explanation& e, const std::string& v) {
  if (v.empty()) return nullptr;
  if (e.kind == Explanation::Kind::kCount) {
    const double number = std::stod(v);  // whole numbers, but a field may hold 12.5
    if (number == std::trunc(number) && std::fabs(number) < 9e15) {
      return static_cast<std::int64_t>(number);
    }
    return number;
  }
  return Cp1252ToUtf8(v);
}

std::string TypeText(int type) { return (type < 10 ? "0" : "") + std::to_string(type); }

}  // namespace

json ComparedJson(Explanation::Kind kind) {
  switch (kind) {
    case Explanation::Kind::kAmount:
      return "amount";
    case Explanation::Kind::kCount:
      return "count";
    case Explanation::Kind::kDate:
      return "date";
    case Explanation::Kind::kCheckValue:
      return "check_value";
    case Explanation::Kind::kText:
      return "text";
    case Explanation::Kind::kFormat:
      return "format";
    case Explanation::Kind::kNone:
      break;
  }
  return nullptr;
}

json ProblemsJson(const std::vector<Problem>& problems) {
  json list = json::array();
  for (const Problem& p : problems) {
    const Explanation& e = p.explained;
    json o;
    o["record"] = p.record != 0 ? json(p.record) : json(nullptr);
    o["type"] = p.type >= 0 ? json(TypeText(p.type)) : json(nullptr);
    o["field"] = Text(p.field);
    o["start"] = p.start != 0 ? json(p.start) : json(nullptr);
    o["length"] = p.length != 0 ? json(p.length) : json(nullptr);
    o["message"] = p.failure == 0 ? json(p.message) : json(nullptr);
    o["text"] = p.failure == 0 ? json(Cp1252ToUtf8(p.text)) : json(nullptr);
    o["failure"] = p.failure != 0
                       ? json{{"number", p.failure}, {"description", Cp1252ToUtf8(p.text)}}
                       : json(nullptr);
    o["compared"] = ComparedJson(e.kind);
    // A format problem's found text may be empty (a record cut short): still a text.
    o["found"] = e.kind == Explanation::Kind::kFormat || e.kind == Explanation::Kind::kText
                     ? json(Cp1252ToUtf8(e.found))
                     : Value(e, e.found);
    o["expected"] = Value(e, e.expected);
    o["difference"] = Text(e.difference);
    o["tolerance"] = Text(e.tolerance);
    o["workers"] = e.workers >= 0 ? json(e.workers) : json(nullptr);
    o["movements"] = e.movements >= 0 ? json(e.movements) : json(nullptr);
    o["marked"] = e.marked.empty() ? json(nullptr) : json(e.marked);
    o["note"] = Text(e.note);
    o["deadline"] = Text(e.deadline);
    o["days_late"] = e.days_late >= 0 ? json(e.days_late) : json(nullptr);
    list.push_back(std::move(o));
  }
  return list;
}

}  // namespace zav
