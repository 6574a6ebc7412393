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
//                          problem is in and a hint at its cause (reports/hint.hpp)
//   zav_native_path(path)  {"path": TEXT} the in-memory file system's path of a control
//                          path (Windows-1252 bytes in), or {"error": N}
//   zav_check(date, all)   the verdict of the work file as it stands, neither renamed nor
//                          packed, with the keys of `zav check --json` (and, when `all`,
//                          its `problems`, as `zav check --all --json` gives them)
//   zav_diagnose(date, keep)  {"problems": [...], "more": N}: every problem of the work
//                          file (reports/problems_json.hpp), the first `keep` of them
//
// While a run or a diagnosis walks the records, the module's onProgress(done, total), when
// the page has set one, is told how far it got (every 4096 records and at the last).
//
// Every answer is UTF-8 text owned by the module and valid until the next call of the
// same function.
#include <emscripten/emscripten.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <system_error>

#include "basic/cp1252.hpp"
#include "basic/runtime_failure.hpp"
#include "host/json_host.hpp"
#include "host/typelib.hpp"
#include "platform/drives.hpp"
#include "reports/diagnosis.hpp"
#include "reports/hint.hpp"
#include "reports/problems_json.hpp"
#include "validation/file_driver.hpp"
#include "writing/payment_writer.hpp"

namespace {

using json = nlohmann::ordered_json;

EM_JS(void, zav_js_progress, (int done, int total), {
  if (Module.onProgress) Module.onProgress(done, total);
});

zav::JsonHost& Host() {
  static zav::JsonHost host = [] {
    zav::JsonHost h;
    h.control().working().progress = [](std::int32_t done, std::int32_t total) {
      zav_js_progress(done, total);
    };
    return h;
  }();
  return host;
}

std::string Dump(const json& out) {
  return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

json Failure(const zav::ZAV::Working& w) {
  return w.last_failure_number != 0
             ? json{{"number", w.last_failure_number}, {"description", w.last_failure_description}}
             : json(nullptr);
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
  json out{{"message", w.last_message != 0 ? json(w.last_message) : json(nullptr)},
           {"failure", Failure(w)},
           {"record", z.posicion},
           {"at_record", w.last_record != 0 ? json(w.last_record) : json(nullptr)}};
  const zav::Hint hint = zav::HintForLastRun(z);
  out["hint"] =
      hint.kind == zav::HintKind::kNone ? json(nullptr) : json(zav::Cp1252ToUtf8(hint.text));
  return Keep(answer, Dump(out));
}

EMSCRIPTEN_KEEPALIVE const char* zav_native_path(const char* control_path) {
  static std::string answer;
  json out;
  try {
    out = json{{"path", zav::ResolvePath(control_path != nullptr ? control_path : "").string()}};
  } catch (const zav::RuntimeFailure& f) {
    out = json{{"error", f.number()}};
  }
  return Keep(answer, Dump(out));
}

EMSCRIPTEN_KEEPALIVE const char* zav_check(const char* server_date, int all) {
  static std::string answer;
  zav::ZAV& z = Host().control();
  const std::string date = server_date != nullptr ? server_date : "";
  const zav::ZAV before = z;
  const std::string result = zav::RunValidation(z, date, zav::RunOptions{false});
  const auto& w = z.working();
  const bool accepted = result == "0";
  json out;
  out["result"] = zav::Cp1252ToUtf8(result);
  out["accepted"] = accepted;
  out["message"] = w.last_message != 0 ? json(w.last_message) : json(nullptr);
  out["record"] = z.posicion;
  out["at_record"] = !accepted && w.last_record != 0 ? json(w.last_record) : json(nullptr);
  out["capture_line"] = accepted ? json(zav::Cp1252ToUtf8(z.LineaDeCaptura())) : json(nullptr);
  out["param"] = accepted ? json(zav::Cp1252ToUtf8(z.sParamZAV().ToText())) : json(nullptr);
  out["archive_name"] = nullptr;
  out["archive"] = nullptr;
  out["failure"] = Failure(w);
  const zav::Hint hint = accepted ? zav::Hint{} : zav::HintForLastRun(z);
  out["hint"] =
      hint.kind == zav::HintKind::kNone ? json(nullptr) : json(zav::Cp1252ToUtf8(hint.text));
  out["setup"] = nullptr;
  if (all != 0) out["problems"] = zav::ProblemsJson(zav::DiagnoseFile(before, date));
  return Keep(answer, Dump(out));
}

// Writes a payment file of `workers` workers, made for the page's warm-up, in a folder of
// its own (C:\ZAV\temp\calentar\): answers its in-memory path, or "" when it could not be
// written. The page reads it, then removes the file and the folder.
EMSCRIPTEN_KEEPALIVE const char* zav_warm_up_file(int workers) {
  static std::string answer;
  answer.clear();
  std::filesystem::path folder;
  try {
    zav::ZAV z;
    z.inicio();
    folder = zav::ResolvePath(z.DestinoArchi + "calentar\\");
    std::filesystem::create_directories(folder);
    const zav::PaymentPlan plan = zav::SamplePaymentPlan(workers, 1);
    const std::filesystem::path file = folder / zav::WorkFileName(plan);
    zav::WritePaymentFile(plan, file);
    answer = file.string();
  } catch (...) {
    std::error_code ignored;  // no warm-up, and nothing left of it: the page goes on
    if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
  }
  return answer.c_str();
}

EMSCRIPTEN_KEEPALIVE const char* zav_diagnose(const char* server_date, int keep) {
  static std::string answer;
  const zav::Findings found =
      zav::DiagnoseFileUpTo(Host().control(), server_date != nullptr ? server_date : "", {},
                            keep > 0 ? static_cast<std::size_t>(keep) : SIZE_MAX);
  return Keep(answer,
              Dump(json{{"problems", zav::ProblemsJson(found.problems)}, {"more", found.more}}));
}

}  // extern "C"
