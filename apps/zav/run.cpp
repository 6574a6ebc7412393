#include "run.hpp"

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>

#include "basic/cp1252.hpp"
#include "basic/runtime_failure.hpp"
#include "command_line.hpp"
#include "control/zav.hpp"
#include "host/upload.hpp"
#include "platform/drives.hpp"
#include "platform/file_system.hpp"
#include "platform/record_file.hpp"
#include "problems.hpp"
#include "validation/diagnosis.hpp"
#include "validation/file_driver.hpp"
#include "validation/hint.hpp"

namespace zavcli {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace {

// Native paths reach the control as they are; names inside it are Windows-1252.
std::string ControlText(const std::string& native) { return zav::Utf8ToCp1252(native); }
std::string HostText(const std::string& control) { return zav::Cp1252ToUtf8(control); }

std::string FolderWithSeparator(const fs::path& folder) {
  std::string s = folder.string();
  if (s.empty() || s.back() != '/') s += '/';
  return s;
}

// What is wrong with a --server-date, or "" for a day of the calendar written DD/MM/YYYY.
// The control reads any text as a date (letters as zeros, which make every payment look on
// time), so the command line takes only dates.
std::string ServerDateProblem(const std::string& text) {
  if (text.empty()) return "is empty: give a date DD/MM/YYYY, or leave the option out for today";
  const bool form = text.size() == 10 && text[2] == '/' && text[5] == '/' &&
                    text.find_first_not_of("0123456789/") == std::string::npos &&
                    text.find('/', 6) == std::string::npos;
  if (!form) return text + " is not a date written DD/MM/YYYY";
  const int day = std::stoi(text.substr(0, 2)), month = std::stoi(text.substr(3, 2));
  const int year = std::stoi(text.substr(6, 4));
  if (month < 1 || month > 12) return text + ": there is no month " + text.substr(3, 2);
  const std::chrono::year_month_day_last last{std::chrono::year(year) /
                                              std::chrono::month(static_cast<unsigned>(month)) /
                                              std::chrono::last};
  const int days = static_cast<int>(static_cast<unsigned>(last.day()));
  if (day < 1 || day > days) {
    return text + ": month " + text.substr(3, 2) + " of " + text.substr(6, 4) + " has " +
           std::to_string(days) + " days";
  }
  return "";
}

bool IsFirstPart(const fs::path& file) {
  std::string ext = file.extension().string();
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext == ".ZA0";
}

// A work folder the run cannot use, or a usage error found while setting up: said on
// standard error, never as a verdict.
struct SetupError {
  std::string text;
  int status = 2;
};

// Where drive `letter` comes from, for a message.
std::string DriveOrigin(char letter) {
  const char* table = std::getenv("ZAV_DRIVES");
  if (table == nullptr) return "the default drive C; set ZAV_DRIVES to use another folder";
  std::string_view rest(table);
  while (!rest.empty()) {
    const std::size_t semi = rest.find(';');
    const std::string_view entry = rest.substr(0, semi);
    rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
    if (!entry.empty() && std::toupper(static_cast<unsigned char>(entry[0])) == letter) {
      return "ZAV_DRIVES entry " + std::string(entry);
    }
  }
  return "ZAV_DRIVES=" + std::string(table);
}

// Fails with SetupError when the work folder does not exist, is not writable or has no
// room for `size` bytes. `origin` says where the folder was chosen.
void CheckWorkFolder(const std::string& control_folder, std::uintmax_t size,
                     const std::string& origin) {
  fs::path folder;
  try {
    folder = zav::ResolvePath(control_folder);
  } catch (const zav::RuntimeFailure& f) {
    const char letter = static_cast<char>(
        std::toupper(static_cast<unsigned char>(control_folder.empty() ? ' ' : control_folder[0])));
    for (const zav::Drive& d : zav::Drives()) {
      if (d.letter == letter && f.number() == zav::err::kDiskNotReady) {
        throw SetupError{"drive " + d.DriveLetter() + "'s folder " + d.root.string() +
                         " does not exist (" + origin + "); make it first"};
      }
    }
    throw SetupError{"the work folder " + HostText(control_folder) + " cannot be used (" + origin +
                     "): " + f.description()};
  }
  std::error_code ec;
  const std::string named = "the work folder " + folder.string() + " (" + origin + ")";
  if (!fs::is_directory(folder, ec)) throw SetupError{named + " does not exist"};
  if (::access(folder.c_str(), W_OK | X_OK) != 0) throw SetupError{named + " is not writable"};
  const fs::space_info space = fs::space(folder, ec);
  if (!ec && space.available < size) {
    throw SetupError{named + " is full: " + std::to_string(space.available) +
                     " bytes free, the file needs " + std::to_string(size)};
  }
}

struct Outcome {
  std::string result;
  std::int16_t message = 0;
  std::int32_t failure_number = 0;
  std::string failure_description;
  std::optional<std::vector<zav::Problem>> problems;  // check --all
  zav::Hint hint;
  std::optional<std::string> archive;  // where the archive was put
};

// Joins the diskette parts ZA0, ZA1, ... lying beside the first one, until the part
// that says it is the last. Answers a message number (0 when joined).
std::int16_t JoinParts(zav::ZAV& z, const fs::path& first) {
  const std::string base = first.stem().string();
  for (int k = 0; k <= 255; ++k) {
    const std::string name = ControlText(base + ".ZA" + std::to_string(k));
    const std::int16_t joined = z.IntegraDisco(name, static_cast<std::uint8_t>(k));
    if (joined == 5) {
      throw SetupError{"the diskette parts could not be joined in the work folder " +
                       zav::ResolvePath(z.DestinoArchi).string()};
    }
    if (joined != 0) return joined;
    const std::uint8_t last = z.ChecaUltimoDisco(name);
    if (last == 255) {
      throw SetupError{
          "diskette part " + base + ".ZA" + std::to_string(k) + " is missing or unreadable", 64};
    }
    if (last != 0) return 0;
  }
  throw SetupError{"no part of " + base + " ends the file", 64};
}

// Where the run stopped, in the terms of the file's records.
std::string Where(const zav::ZAV& z, std::int16_t message) {
  const std::int32_t record = z.working().last_record;
  if (record > 0) {
    static const char* const kNames[] = {"the header record", "a worker record",
                                         "a movement record", "the summary record",
                                         "the validation record"};
    const int type = z.working().last_record_type;
    return " at record " + std::to_string(record) + ", " +
           (type >= 2 && type <= 6 ? kNames[type - 2]
            : type >= 0 ? "a record of unknown type " + std::string(type < 10 ? "0" : "") +
                              std::to_string(type)
                        : std::string("which is not a payment record"));
  }
  if (message == 406 || message == 234) return ", in the file's name";
  if (z.iTamArch > 0 && z.posicion > zav::RecordCountOf(z.iTamArch)) {
    return ", after the last record";
  }
  return "";
}

// The message's text with its line ends, blank lines dropped.
std::string MessageLines(const std::string& control_text) {
  std::string text = HostText(control_text);
  for (char& c : text)
    if (c == '\r') c = '\n';
  std::string cleaned;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    cleaned += text[i];
  }
  return cleaned;
}

std::string HintText(const zav::Hint& hint) {
  std::string text = HostText(hint.text);
  if (hint.kind == zav::HintKind::kWorkName) {
    text += "; use --work-name " + HostText(hint.expected_name) + " o renombre el archivo";
  }
  return text;
}

void Print(const RunRequest& request, zav::ZAV& z, const Outcome& o) {
  const bool accepted = o.result == "0";
  std::optional<std::string> capture, param, archive_name;
  if (accepted) {
    capture = HostText(z.LineaDeCaptura());
    param = HostText(z.sParamZAV().ToText());
    if (request.pack) archive_name = HostText(z.sArchZAVZip());
  }
  const std::optional<std::string> hint =
      o.hint.kind == zav::HintKind::kNone ? std::nullopt : std::optional(HintText(o.hint));
  if (request.json) {
    const auto opt = [](const std::optional<std::string>& v) -> json {
      return v ? json(*v) : json(nullptr);
    };
    json out;
    out["result"] = HostText(o.result);
    out["accepted"] = accepted;
    out["message"] = o.message != 0 ? json(o.message) : json(nullptr);
    out["record"] = z.posicion;
    out["at_record"] =
        z.working().last_record != 0 && !accepted ? json(z.working().last_record) : json(nullptr);
    out["capture_line"] = opt(capture);
    out["param"] = opt(param);
    out["archive_name"] = opt(archive_name);
    out["archive"] = opt(o.archive);
    out["failure"] = o.failure_number != 0 ? json{{"number", o.failure_number},
                                                  {"description", o.failure_description}}
                                           : json(nullptr);
    out["hint"] = opt(hint);
    out["setup"] = nullptr;
    if (o.problems) out["problems"] = ProblemsJson(*o.problems);
    std::cout << out.dump(2) << "\n";
    return;
  }
  if (accepted) {
    std::cout << "accepted: " << request.file << "\n"
              << "capture line: " << *capture << "\n";
    if (o.archive) std::cout << "archive: " << *o.archive << "\n";
    return;
  }
  if (o.failure_number != 0) {
    std::cout << "rejected: run-time failure " << o.failure_number << " (" << o.failure_description
              << ")" << Where(z, 0) << "\n";
  } else {
    std::cout << "rejected: message " << o.message << Where(z, o.message) << "\n"
              << MessageLines(o.result) << "\n";
  }
  if (hint) std::cout << "pista: " << *hint << "\n";
}

// With --json, a work folder that cannot be used is an object too: every output null,
// `setup` saying what is wrong.
void PrintSetupJson(const std::string& text) {
  json out;
  for (const char* key : {"result", "accepted", "message", "record", "at_record", "capture_line",
                          "param", "archive_name", "archive", "failure", "hint"}) {
    out[key] = nullptr;
  }
  out["accepted"] = false;
  out["setup"] = text;
  std::cout << out.dump(2) << "\n";
}

// The work folder, the settings and the names, as a page sets them before bringing a file
// in. Fails with SetupError.
void SetUp(zav::ZAV& z, const RunRequest& request, const fs::path& file, bool in_place) {
  std::string origin;
  try {
    z.inicio();
    origin = DriveOrigin(z.DestinoArchi.empty() ? 'C' : z.DestinoArchi[0]);
  } catch (const zav::RuntimeFailure& f) {
    if (!request.work_dir) {  // no fixed drive for a work folder, or a malformed ZAV_DRIVES
      const char* table = std::getenv("ZAV_DRIVES");
      throw SetupError{"no work folder: " + f.description() +
                       (table != nullptr ? " (ZAV_DRIVES=" + std::string(table) + ")" : "")};
    }
  }
  if (request.work_dir) {
    const fs::path folder = fs::absolute(*request.work_dir);
    std::error_code ec;
    fs::create_directories(folder, ec);
    z.DestinoArchi = ControlText(FolderWithSeparator(folder));
    origin = "--work-dir";
  }
  z.bgGerencia = request.management;
  z.igToler = static_cast<std::uint8_t>(request.tolerance);
  z.OrigenArchi = ControlText(FolderWithSeparator(file.parent_path()));
  z.FinalArchi = ControlText(request.work_name.value_or(file.filename().string()));

  std::error_code ec;
  CheckWorkFolder(z.DestinoArchi, in_place ? 0 : fs::file_size(file, ec), origin);
  // The work copy must never be the payment file itself: bringing it in deletes the
  // old work file first.
  const fs::path work_native = zav::ResolvePath(z.DestinoArchi + z.FinalArchi);
  if (!in_place && fs::weakly_canonical(work_native, ec) == fs::weakly_canonical(file, ec)) {
    throw SetupError{
        "the work file would be the payment file itself; use --work-dir or "
        "--work-name",
        64};
  }
  if (request.pack) {
    const fs::path out = fs::absolute(request.out_dir.value_or(file.parent_path().string()));
    fs::create_directories(out, ec);
    if (!fs::is_directory(out, ec) || ::access(out.c_str(), W_OK | X_OK) != 0) {
      throw SetupError{"the archive cannot be written to " + out.string() +
                       (request.out_dir ? " (--out)" : " (the file's folder; see --out)")};
    }
  }
}

// Brings the file into the work folder: joined from its diskette parts, or copied. A
// refusal of the control's (a malformed part name) is the outcome's message.
void BringIn(zav::ZAV& z, const RunRequest& request, const fs::path& file, bool in_place,
             Outcome& outcome) {
  const std::string name = ControlText(file.filename().string());
  try {
    if (IsFirstPart(file)) {
      z.OrigenNombre = name;
      if (const std::int16_t refused = JoinParts(z, file)) {
        outcome.message = refused;
        outcome.result = z.Obtiene_Mensajes(refused);
      }
      return;
    }
    z.NumDiscos = static_cast<std::int16_t>(request.disks);
    // The control keeps the file's length in a 32-bit property, so a longer file is an
    // overflow whatever it holds: answered before gigabytes are copied for nothing.
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(file, ec);
    if (!ec && size > static_cast<std::uintmax_t>(INT32_MAX)) {
      z.OrigenNombre = name;
      outcome.result = "5";
      outcome.failure_number = zav::err::kOverflow;
      outcome.failure_description = "Overflow: the file is longer than 2147483647 bytes";
      return;
    }
    if (in_place) {
      z.OrigenNombre = name;  // as copiaArch names the source
    } else {
      z.copiaArch(name);
    }
  } catch (const zav::RuntimeFailure& f) {
    throw SetupError{"cannot bring " + file.string() + " into the work folder " +
                     zav::ResolvePath(z.DestinoArchi).string() + ": " + f.description()};
  }
}

// Puts the archive the run packed in the work folder into `out`, replacing one of the same
// name there. Answers its path.
std::string Deliver(const std::string& control_archive, const fs::path& out) {
  const fs::path from = zav::ResolvePath(control_archive);
  const fs::path to = out / from.filename();
  std::error_code ec;
  if (fs::equivalent(from.parent_path(), out, ec)) return to.string();
  const fs::path aside = out / ("." + from.filename().string() + ".part");
  zav::MoveFile(control_archive, ControlText(aside.string()));
  fs::rename(aside, to);
  return to.string();
}

// Removes a file of this run's from the work folder; one that is gone already is fine.
void Remove(const std::string& control_path) {
  try {
    if (zav::FileExists(control_path)) zav::DeleteFile(control_path, true);
  } catch (const zav::RuntimeFailure&) {
  }
}

}  // namespace

void AddRunOptions(CLI::App* cmd, RunRequest& r, bool pack) {
  cmd->add_option("FILE", r.file, "Payment file (.ZAV), or the first diskette part (.ZA0)")
      ->required()
      ->check(kExistingFile);
  cmd->add_option("--server-date", r.server_date,
                  "The server's date, DD/MM/YYYY, against which lateness is judged (default: "
                  "today)")
      ->check(CLI::Validator([](std::string& text) { return ServerDateProblem(text); },
                             "DD/MM/YYYY", "date"));
  cmd->add_option("--tolerance", r.tolerance,
                  "Amount tolerance igToler, in whole pesos, 0 to 255 (default 0)")
      ->check(CLI::Range(0, 255));
  cmd->add_flag("--management", r.management,
                "Management mode: older program versions accepted, lateness not checked");
  cmd->add_option("--work-dir", r.work_dir,
                  "Work folder, instead of the one inicio chooses (C:\\ZAV\\temp\\ on drive C)");
  cmd->add_option("--work-name", r.work_name,
                  "Work file name (default: FILE's name); it must match the header");
  cmd->add_option("--disks", r.disks, "Diskettes the file came on (NumDiscos), default 1")
      ->check(CLI::Range(0, 32767));
  cmd->add_flag("--json", r.json, "Print one JSON object instead of text");
  if (pack) {
    cmd->add_option("--out", r.out_dir, "Folder for the archive (default: FILE's folder)");
    cmd->add_flag("--keep-work", r.keep_work,
                  "Leave this run's work copy (renamed when accepted) in the work folder");
  }
}

int RunValidate(const RunRequest& request) {
  const fs::path file = fs::absolute(request.file);
  const std::string server_date = request.server_date.value_or(zav::ServerDate());
  zav::ZAV z;
  Outcome outcome;
  std::optional<std::string> work_copy;  // this run's work file, removed at the end
  // A check of a file in one piece reads it where it lies, read-only: no work copy. A
  // diskette set is joined in the work folder, as a validation does it.
  const bool in_place = !request.pack && !IsFirstPart(file);
  try {
    SetUp(z, request, file, in_place);
    if (!in_place) work_copy = z.DestinoArchi + z.FinalArchi;
    BringIn(z, request, file, in_place, outcome);
  } catch (const SetupError& e) {
    if (work_copy && !request.keep_work) Remove(*work_copy);
    std::cerr << "zav: " << e.text << "\n";
    if (request.json && e.status == 2) PrintSetupJson(e.text);
    return e.status;
  }

  if (outcome.result.empty()) {
    // The diagnosis works on its own copy of the control: the verdict below is the run's.
    std::optional<zav::ZAV> before_run;
    if (request.all) before_run = z;
    const std::string read_in_place = in_place ? ControlText(file.string()) : std::string();
    outcome.result =
        zav::RunValidation(z, server_date, zav::RunOptions{request.pack, read_in_place});
    if (before_run && !request.pack) {
      outcome.problems = zav::DiagnoseFile(*before_run, server_date, read_in_place);
    }
    outcome.message = z.working().last_message;
    outcome.failure_number = z.working().last_failure_number;
    outcome.failure_description = z.working().last_failure_description;
  }
  const bool accepted = outcome.result == "0";
  if (!accepted) {
    zav::HintFacts facts;
    try {
      facts.file = work_copy ? zav::ResolvePath(*work_copy) : file;
    } catch (const zav::RuntimeFailure&) {
      // No file to look at: names alone may still say something.
    }
    facts.source_name =
        z.OrigenNombre.empty() ? ControlText(file.filename().string()) : z.OrigenNombre;
    facts.work_name = z.FinalArchi;
    facts.message = outcome.message;
    facts.failure = outcome.failure_number;
    outcome.hint = zav::HintFor(facts);
  }

  // Nothing of this run stays in the work folder unless asked: the archive goes where the
  // user wants it, the work copy (renamed when accepted) is removed.
  if (accepted && request.pack) {
    const std::string archive = z.sArchZAVZip();
    const std::string renamed = z.DestinoArchi + archive.substr(0, archive.size() - 3) + "zav";
    const fs::path out = fs::absolute(request.out_dir.value_or(file.parent_path().string()));
    try {
      outcome.archive = Deliver(z.sRutaArchZAVZip(), out);
    } catch (const std::exception& e) {
      std::cerr << "zav: the archive stays at " << zav::ResolvePath(z.sRutaArchZAVZip()).string()
                << ": it could not be put in " << out.string() << ": " << e.what() << "\n";
      outcome.archive = zav::ResolvePath(z.sRutaArchZAVZip()).string();
    }
    if (!request.keep_work) Remove(renamed);
  }
  if (work_copy && (!request.keep_work || !request.pack)) Remove(*work_copy);

  Print(request, z, outcome);
  if (outcome.problems && !request.json) PrintProblems(std::cout, *outcome.problems);
  if (accepted) return 0;
  return outcome.failure_number != 0 ? 2 : 1;
}

}  // namespace zavcli
