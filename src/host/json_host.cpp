#include "host/json_host.hpp"

#include <cmath>
#include <istream>
#include <nlohmann/json.hpp>
#include <ostream>

#include "basic/cp1252.hpp"
#include "basic/runtime_failure.hpp"
#include "host/dispatch.hpp"

namespace zav {

namespace {

using json = nlohmann::ordered_json;

Variant FromJson(const json& j) {
  switch (j.type()) {
    case json::value_t::null:
      return Variant();
    case json::value_t::boolean:
      return Variant::Boolean(j.get<bool>());
    case json::value_t::string:
      return Variant::String(Utf8ToCp1252(j.get<std::string>()));
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
    case json::value_t::number_float: {
      const double d = j.get<double>();
      if (d == std::trunc(d) && std::abs(d) <= 2147483647.0)
        return Variant::Long(static_cast<std::int32_t>(d));
      return Variant::Double(d);
    }
    default:
      throw RuntimeFailure(err::kTypeMismatch,
                           "Type mismatch: this host has no object references; a JSON array or "
                           "object is not a value");
  }
}

json ToJson(const Variant& v) {
  switch (v.type()) {
    case VarType::kEmpty:
      return nullptr;
    case VarType::kBoolean:
      return v.ToBoolean();
    case VarType::kString:
      return Cp1252ToUtf8(v.text());
    case VarType::kInteger:
    case VarType::kLong:
      return v.ToLong();
    case VarType::kDouble: {
      const double d = v.dbl();
      if (!std::isfinite(d)) return nullptr;
      // Whole numbers print without a fraction: 3, not 3.0.
      if (d == std::trunc(d) && std::abs(d) < 9007199254740992.0)
        return static_cast<std::int64_t>(d);
      return d;
    }
    case VarType::kDate:
      return v.ToDate().serial;
    case VarType::kObject:
      return json::object({{"object", true}});
  }
  return nullptr;
}

json Failure(int number, const std::string& description) {
  return json{{"ok", false}, {"error", {{"number", number}, {"description", description}}}};
}

// A request that is not one: error 5, saying what a request must be.
[[noreturn]] void BadRequest(const std::string& why) {
  throw RuntimeFailure(err::kInvalidCall, "Invalid procedure call or argument: " + why);
}

std::string NameOf(const json& request, const char* key) {
  const json& name = request.at(key);
  if (!name.is_string()) BadRequest(std::string("\"") + key + "\" must name a member as a string");
  return Utf8ToCp1252(name.get<std::string>());
}

json Answer(ZAV& control, const json& request) {
  if (!request.is_object()) {
    BadRequest(
        "a request is a JSON object: {\"call\": NAME, \"args\": [...]}, {\"get\": NAME} "
        "or {\"put\": NAME, \"value\": V}");
  }
  if (request.contains("call")) {
    const std::string name = NameOf(request, "call");
    std::vector<Variant> args;
    if (request.contains("args")) {
      const json& list = request.at("args");
      if (!list.is_array()) BadRequest("\"args\" must be an array");
      for (const json& a : list) args.push_back(FromJson(a));
    }
    const Variant result = Invoke(control, name, args);
    json out_args = json::array();
    for (const Variant& a : args) out_args.push_back(ToJson(a));
    return json{{"ok", true}, {"result", ToJson(result)}, {"args", out_args}};
  }
  if (request.contains("get")) {
    return json{{"ok", true}, {"result", ToJson(GetProperty(control, NameOf(request, "get")))}};
  }
  if (request.contains("put")) {
    if (!request.contains("value")) {
      throw RuntimeFailure(err::kWrongArguments,
                           "Wrong number of arguments or invalid property assignment: \"put\" "
                           "needs a \"value\"");
    }
    PutProperty(control, NameOf(request, "put"), FromJson(request.at("value")));
    return json{{"ok", true}, {"result", nullptr}};
  }
  BadRequest("a request holds \"call\", \"get\" or \"put\"");
}

}  // namespace

std::string JsonHost::Handle(std::string_view line) {
  json answer;
  try {
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) {
      BadRequest("the line is empty; every line holds one request");
    }
    const json request = json::parse(line, nullptr, false);
    if (request.is_discarded()) BadRequest("the line is not JSON");
    answer = Answer(control_, request);
  } catch (const RuntimeFailure& f) {
    answer = Failure(f.number(), f.description());
  } catch (const std::exception&) {
    answer = Failure(err::kInvalidCall,
                     "Invalid procedure call or argument: the request could not be carried out");
  }
  return answer.dump(-1, ' ', false, json::error_handler_t::replace);
}

int JsonHost::Run(std::istream& in, std::ostream& out) {
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out << Handle(line) << '\n' << std::flush;
  }
  return 0;
}

}  // namespace zav
