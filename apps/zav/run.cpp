#include "run.hpp"

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iostream>
#include <nlohmann/json.hpp>

#include "basic/cp1252.hpp"
#include "basic/runtime_failure.hpp"
#include "control/zav.hpp"
#include "host/problems_json.hpp"
#include "platform/drives.hpp"
#include "platform/file_system.hpp"
#include "problems.hpp"
#include "validation/diagnosis.hpp"
#include "validation/file_driver.hpp"

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

// DD/MM/YYYY naming a day of the calendar. The control reads any text as a date (letters
// as zeros, which make every payment look on time), so the command line takes only dates.
bool IsServerDate(const std::string& text) {
  if (text.size() != 10 || text[2] != '/' || text[5] != '/') return false;
  for (const std::size_t k : {0, 1, 3, 4, 6, 7, 8, 9}) {
    if (text[k] < '0' || text[k] > '9') return false;
  }
  const std::chrono::year_month_day date{std::chrono::year(std::stoi(text.substr(6, 4))),
                                         std::chrono::month(std::stoul(text.substr(3, 2))),
                                         std::chrono::day(std::stoul(text.substr(0, 2)))};
  return date.ok();
}

bool IsFirstPart(const fs::path& file) {
  std::string ext = file.extension().string();
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext == ".ZA0";
}

// A file this large takes long enough to show how far the walk got (about 14 000 workers).
constexpr std::uintmax_t kProgressFrom = 4u << 20;

// A progress line on standard error, rewritten in place as the records are walked and
// wiped at the last one: only for a person watching a terminal, never with --json and never
// into a pipe or a file.
std::function<void(std::int32_t, std::int32_t)> ProgressLine(const char* what) {
  return [what, shown = -1](std::int32_t done, std::int32_t total) mutable {
    const int percent = total > 0 ? static_cast<int>(100.0 * done / total) : 100;
    if (done >= total) {
      std::cerr << "\r\033[K" << std::flush;
    } else if (percent != shown) {
      std::cerr << "\r" << what << ": " << done << " of " << total << " records (" << percent
                << "%)" << std::flush;
    }
    shown = percent;
  };
}

struct Outcome {
  std::string result;
  std::int16_t message = 0;
  std::int32_t failure_number = 0;
  std::string failure_description;
  std::optional<std::vector<zav::Problem>> problems;  // check --all
};

// Joins the diskette parts ZA0, ZA1, ... lying beside the first one, until the part
// that says it is the last. Answers a message number (0 when joined).
std::int16_t JoinParts(zav::ZAV& z, const fs::path& first, std::string& problem) {
  const std::string base = first.stem().string();
  for (int k = 0; k <= 255; ++k) {
    const std::string name = ControlText(base + ".ZA" + std::to_string(k));
    const std::int16_t joined = z.IntegraDisco(name, static_cast<std::uint8_t>(k));
    if (joined != 0) return joined;
    const std::uint8_t last = z.ChecaUltimoDisco(name);
    if (last == 255) {
      problem = "diskette part " + base + ".ZA" + std::to_string(k) + " is missing or unreadable";
      return -1;
    }
    if (last != 0) return 0;
  }
  problem = "no part of " + base + " ends the file";
  return -1;
}

void Print(const RunRequest& request, zav::ZAV& z, const Outcome& o) {
  const bool accepted = o.result == "0";
  std::optional<std::string> capture, param, archive_name, archive;
  if (accepted) {
    capture = HostText(z.LineaDeCaptura());
    param = HostText(z.sParamZAV().ToText());
    if (request.pack) {
      archive_name = HostText(z.sArchZAVZip());
      archive = zav::ResolvePath(z.sRutaArchZAVZip()).string();
    }
  }
  if (request.json) {
    json out;
    const auto opt = [](const std::optional<std::string>& v) -> json {
      return v ? json(*v) : json(nullptr);
    };
    out["result"] = HostText(o.result);
    out["accepted"] = accepted;
    out["message"] = o.message != 0 ? json(o.message) : json(nullptr);
    out["record"] = z.posicion;
    out["capture_line"] = opt(capture);
    out["param"] = opt(param);
    out["archive_name"] = opt(archive_name);
    out["archive"] = opt(archive);
    out["failure"] = o.failure_number != 0 ? json{{"number", o.failure_number},
                                                  {"description", o.failure_description}}
                                           : json(nullptr);
    if (o.problems) out["problems"] = zav::ProblemsJson(*o.problems);
    std::cout << out.dump(2) << "\n";
    return;
  }
  if (accepted) {
    std::cout << "accepted: " << request.file << "\n"
              << "capture line: " << *capture << "\n";
    if (archive) std::cout << "archive: " << *archive << "\n";
    return;
  }
  if (o.failure_number != 0) {
    std::cout << "rejected: run-time failure " << o.failure_number << " (" << o.failure_description
              << ") at record " << z.posicion << "\n";
    return;
  }
  std::string text = HostText(o.result);
  for (char& c : text)
    if (c == '\r') c = '\n';
  std::string cleaned;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    cleaned += text[i];
  }
  std::cout << "rejected: message " << o.message << " at record " << z.posicion << "\n"
            << cleaned << "\n";
}

}  // namespace

int RunValidate(const RunRequest& request) {
  const fs::path file = fs::absolute(request.file);
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) {
    std::cerr << "zav: " << request.file << ": no such payment file\n";
    return 64;
  }
  if (request.tolerance < 0 || request.tolerance > 255) {
    std::cerr << "zav: --tolerance must be 0 to 255\n";
    return 64;
  }
  if (!IsServerDate(request.server_date)) {
    std::cerr << "zav: --server-date must be a date written DD/MM/YYYY\n";
    return 64;
  }

  zav::ZAV z;
  Outcome outcome;
  std::string work_copy;
  // A check of a file in one piece reads it where it lies, read-only: no work folder, no
  // copy. A diskette set is joined in the work folder, as a validation does it.
  const bool in_place = !request.pack && !IsFirstPart(file);
  try {
    // The work folder names the archive in the parameter string, even for a check.
    try {
      z.inicio();
    } catch (const zav::RuntimeFailure&) {
      if (!request.work_dir) throw;  // no work folder at all
    }
    if (request.work_dir) {
      fs::create_directories(*request.work_dir, ec);
      z.DestinoArchi = ControlText(FolderWithSeparator(fs::absolute(*request.work_dir)));
    }
    z.bgGerencia = request.management;
    z.igToler = static_cast<std::uint8_t>(request.tolerance);
    z.OrigenArchi = ControlText(FolderWithSeparator(file.parent_path()));
    z.FinalArchi = ControlText(request.work_name.value_or(file.filename().string()));
    const std::string name = ControlText(file.filename().string());
    // The work copy must never be the payment file itself: bringing it in deletes the
    // old work file first.
    if (!in_place) {
      const fs::path work_native = zav::ResolvePath(z.DestinoArchi + z.FinalArchi);
      if (fs::weakly_canonical(work_native, ec) == fs::weakly_canonical(file, ec)) {
        std::cerr << "zav: the work file would be the payment file itself; use --work-dir or "
                     "--work-name\n";
        return 64;
      }
    }

    if (IsFirstPart(file)) {
      z.OrigenNombre = name;
      std::string problem;
      const std::int16_t joined = JoinParts(z, file, problem);
      if (joined < 0) {
        std::cerr << "zav: " << problem << "\n";
        return 64;
      }
      if (joined != 0) {
        outcome.message = joined;
        outcome.result = z.Obtiene_Mensajes(joined);
        Print(request, z, outcome);
        return 1;
      }
    } else {
      z.NumDiscos = static_cast<std::int16_t>(request.disks);
      // The control keeps the file's length in a 32-bit property, so a longer file is an
      // overflow whatever it holds: answered before gigabytes are copied for nothing.
      const std::uintmax_t size = fs::file_size(file, ec);
      if (!ec && size > static_cast<std::uintmax_t>(INT32_MAX)) {
        throw zav::RuntimeFailure(zav::err::kOverflow,
                                  "Overflow: the file is longer than 2147483647 bytes");
      }
      if (in_place) {
        z.OrigenNombre = name;  // as copiaArch names the source
      } else {
        z.copiaArch(name);
      }
    }
    if (!in_place) work_copy = z.DestinoArchi + z.FinalArchi;
    const std::string read_in_place = in_place ? ControlText(file.string()) : std::string();

    const std::uintmax_t walked_size =
        fs::file_size(in_place ? file : zav::ResolvePath(work_copy), ec);
    const bool show_progress =
        !request.json && !ec && walked_size >= kProgressFrom && ::isatty(STDERR_FILENO) != 0;
    if (show_progress)
      z.working().progress = ProgressLine(request.pack ? "validating" : "checking");

    // The diagnosis works on its own copy of the control: the verdict below is the run's.
    std::optional<zav::ZAV> before_run;
    if (request.all) before_run = z;
    outcome.result =
        zav::RunValidation(z, request.server_date, zav::RunOptions{request.pack, read_in_place});
    if (before_run && !request.pack) {
      if (show_progress) before_run->working().progress = ProgressLine("listing every problem");
      outcome.problems = zav::DiagnoseFile(*before_run, request.server_date, read_in_place);
    }
    outcome.message = z.working().last_message;
    outcome.failure_number = z.working().last_failure_number;
    outcome.failure_description = z.working().last_failure_description;
  } catch (const zav::RuntimeFailure& failure) {
    outcome.result = "5";
    outcome.failure_number = failure.number();
    outcome.failure_description = failure.description();
  }
  // A check leaves nothing behind: the work copy is ours, not the user's file.
  if (!request.pack && !work_copy.empty() && zav::FileExists(work_copy)) {
    try {
      zav::DeleteFile(work_copy, true);
    } catch (const zav::RuntimeFailure&) {
    }
  }
  Print(request, z, outcome);
  if (outcome.problems && !request.json) PrintProblems(std::cout, *outcome.problems);
  if (outcome.result == "0") return 0;
  return outcome.failure_number != 0 ? 2 : 1;
}

}  // namespace zavcli
