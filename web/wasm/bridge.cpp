// The browser's way into the control: a handful of C functions that the page's script
// calls through the WebAssembly module. One control instance per module, scripted
// through the JSON host (host/json_host.hpp), so a page speaks to it exactly as
// `zav host` is spoken to.
//
//   zav_request(line)      one JSON request line; answers the JSON answer line
//   zav_typelib()          the control's type description (host/typelib.hpp)
//   zav_last_outcome()     {"message": N|null, "failure": {number, description}|null,
//                           "record": posicion, "at_record": N|null, "hint": TEXT|null}:
//                          what stood behind ValidaReg's last answer, the record its
//                          problem is in and a hint at its cause (validation/hint.hpp)
//   zav_native_path(path)  {"path": TEXT} the in-memory file system's path of a control
//                          path (Windows-1252 bytes in), or {"error": N}
//
// Every answer is UTF-8 text owned by the module and valid until the next call of the
// same function.
#include <emscripten/emscripten.h>

#include <nlohmann/json.hpp>
#include <string>

#include "basic/cp1252.hpp"
#include "basic/runtime_failure.hpp"
#include "host/json_host.hpp"
#include "host/typelib.hpp"
#include "platform/drives.hpp"
#include "validation/hint.hpp"

namespace {

using json = nlohmann::ordered_json;

zav::JsonHost& Host() {
  static zav::JsonHost host;
  return host;
}

const char* Keep(std::string& slot, std::string text) {
  slot = std::move(text);
  return slot.c_str();
}

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE const char* zav_request(const char* line) {
  static std::string answer;
  return Keep(answer, Host().Handle(line != nullptr ? line : ""));
}

EMSCRIPTEN_KEEPALIVE const char* zav_typelib() {
  static std::string answer;
  if (answer.empty()) answer = zav::TypeLibraryJson();
  return answer.c_str();
}

EMSCRIPTEN_KEEPALIVE const char* zav_last_outcome() {
  static std::string answer;
  const zav::ZAV& z = Host().control();
  const auto& w = z.working();
  json out{
      {"message", w.last_message != 0 ? json(w.last_message) : json(nullptr)},
      {"failure", w.last_failure_number != 0 ? json{{"number", w.last_failure_number},
                                                    {"description", w.last_failure_description}}
                                             : json(nullptr)},
      {"record", z.posicion},
      {"at_record", w.last_record != 0 ? json(w.last_record) : json(nullptr)}};
  const zav::Hint hint = zav::HintForLastRun(z);
  out["hint"] =
      hint.kind == zav::HintKind::kNone ? json(nullptr) : json(zav::Cp1252ToUtf8(hint.text));
  return Keep(answer, out.dump(-1, ' ', false, json::error_handler_t::replace));
}

EMSCRIPTEN_KEEPALIVE const char* zav_native_path(const char* control_path) {
  static std::string answer;
  json out;
  try {
    out = json{{"path", zav::ResolvePath(control_path != nullptr ? control_path : "").string()}};
  } catch (const zav::RuntimeFailure& f) {
    out = json{{"error", f.number()}};
  }
  return Keep(answer, out.dump(-1, ' ', false, json::error_handler_t::replace));
}

}  // extern "C"
