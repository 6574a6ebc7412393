#include "host/typelib.hpp"

#include <nlohmann/json.hpp>

#include "basic/cp1252.hpp"
#include "host/dispatch.hpp"
#include "host/identity.hpp"

namespace zav {

namespace {

using json = nlohmann::ordered_json;

const char* KindName(MemberKind k) {
  switch (k) {
    case MemberKind::kProperty: return "property";
    case MemberKind::kReadOnlyProperty: return "readonly property";
    case MemberKind::kMethod: return "method";
  }
  return "method";
}

json Describe(std::span<const Member> members) {
  json list = json::array();
  int dispid = 1;
  for (const Member& m : members) {
    json entry{{"name", m.name}, {"dispid", dispid++}, {"kind", KindName(m.kind)}};
    if (m.kind == MemberKind::kMethod) {
      json params = json::array();
      for (const ParamInfo& p : m.params) {
        params.push_back(
            {{"name", Cp1252ToUtf8(p.name)}, {"type", ValueTypeName(p.type)}, {"byref", p.by_ref}});
      }
      entry["params"] = params;
      entry["returns"] = ValueTypeName(m.type);
    } else {
      entry["type"] = ValueTypeName(m.type);
    }
    list.push_back(entry);
  }
  return list;
}

}  // namespace

std::string TypeLibraryJson() {
  json lib{
      {"library", identity::kLibraryName},
      {"uuid", identity::kTypeLibraryId},
      {"version", std::to_string(identity::kVersionMajor) + "." +
                      std::to_string(identity::kVersionMinor)},
      {"coclass",
       {{"name", identity::kClassName},
        {"progid", identity::kProgId},
        {"uuid", identity::kClassId},
        {"interfaces", {identity::kDispatchInterfaceName, identity::kSafetyInterfaceName}}}},
      {"interfaces",
       json::array({
           {{"name", identity::kDispatchInterfaceName},
            {"uuid", identity::kDispatchInterfaceId},
            {"kind", "dispatch"},
            {"members", Describe(Members())}},
           {{"name", identity::kSafetyInterfaceName},
            {"uuid", identity::kSafetyInterfaceId},
            {"kind", "interface"},
            {"members", Describe(SafetyMembers())}},
       })},
  };
  return lib.dump(2);
}

}  // namespace zav
