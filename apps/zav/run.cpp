#include "run.hpp"

#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <vector>

#include "api/validate_file.hpp"
#include "command_line.hpp"
#include "platform/chunked_deflate.hpp"
#include "problems.hpp"
#include "reports/diagnosis.hpp"
#include "reports/problems_json.hpp"

namespace zavcli {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace {

// Where the run stopped, in the terms of the file's records.
std::string Where(const zav::FileReport& report) {
  const zav::Verdict& v = report.verdict;
  if (v.at_record > 0) {
    static const char* const kNames[] = {"the header record", "a worker record",
                                         "a movement record", "the summary record",
                                         "the validation record"};
    const int type = report.at_record_type;
    return " at record " + std::to_string(v.at_record) + ", " +
           (type >= 2 && type <= 6 ? kNames[type - 2]
            : type >= 0 ? "a record of unknown type " + std::string(type < 10 ? "0" : "") +
                              std::to_string(type)
                        : std::string("which is not a payment record"));
  }
  if (v.message == 406 || v.message == 234) return ", in the file's name";
  if (report.after_last_record) return ", after the last record";
  return "";
}

// The message's text with its line ends, blank lines dropped.
std::string MessageLines(std::string text) {
  for (char& c : text)
    if (c == '\r') c = '\n';
  std::string cleaned;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    cleaned += text[i];
  }
  return cleaned;
}

std::optional<std::string> HintText(const zav::Hint& hint) {
  if (hint.kind == zav::HintKind::kNone) return std::nullopt;
  std::string text = hint.text;
  if (hint.kind == zav::HintKind::kWorkName) {
    text += "; use --work-name " + hint.expected_name + " o renombre el archivo";
  }
  return text;
}

}  // namespace

nlohmann::ordered_json ReportJson(const RunRequest& request, const zav::FileReport& report) {
  const zav::Verdict& v = report.verdict;
  const std::optional<std::string> hint = HintText(report.hint);
  const auto opt = [](bool given, const std::string& value) -> json {
    return given ? json(value) : json(nullptr);
  };
  const bool packed = v.accepted && request.pack;
  json out;
  out["result"] = v.result;
  out["accepted"] = v.accepted;
  out["message"] = v.message != 0 ? json(v.message) : json(nullptr);
  out["record"] = v.record;
  out["at_record"] = v.at_record != 0 ? json(v.at_record) : json(nullptr);
  out["capture_line"] = opt(v.accepted, v.capture_line);
  out["param"] = opt(v.accepted, v.param);
  out["archive_name"] = opt(packed, v.archive_name);
  out["archive"] = opt(packed, v.archive);
  out["failure"] = v.failure_number != 0
                       ? json{{"number", v.failure_number}, {"description", v.failure_description}}
                       : json(nullptr);
  out["hint"] = hint ? json(*hint) : json(nullptr);
  out["setup"] = nullptr;
  if (report.problems) out["problems"] = zav::ProblemsJson(*report.problems);
  return out;
}

void PrintReport(std::ostream& os, const RunRequest& request, const zav::FileReport& report) {
  const zav::Verdict& v = report.verdict;
  if (request.json) {
    os << ReportJson(request, report).dump(2) << "\n";
    return;
  }
  const std::optional<std::string> hint = HintText(report.hint);
  if (v.accepted) {
    os << "accepted: " << request.file << "\n"
       << "capture line: " << v.capture_line << "\n";
    if (request.pack) os << "archive: " << v.archive << "\n";
  } else if (v.failure_number != 0) {
    os << "rejected: run-time failure " << v.failure_number << " (" << v.failure_description << ")"
       << Where(report) << "\n";
  } else {
    os << "rejected: message " << v.message << Where(report) << "\n"
       << MessageLines(v.result) << "\n";
  }
  if (hint) os << "pista: " << *hint << "\n";
  if (report.problems) PrintProblems(os, *report.problems);
}

namespace {

// A progress line on standard error, rewritten in place as the records are walked and
// wiped at the last one: only for a person watching a terminal, never with --json and never
// into a pipe or a file.
zav::WalkProgress ProgressLine() {
  return [shown = -1](const char* what, std::int32_t done, std::int32_t total) mutable {
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

}  // namespace

void AddRunOptions(CLI::App* cmd, RunRequest& r, bool pack) {
  if (pack) {
    cmd->add_option("FILE", r.file, "Payment file (.ZAV), or the first diskette part (.ZA0)")
        ->required()
        ->check(kExistingFile);
  } else {
    // Several files are checked side by side; one that cannot be read is a row of the
    // summary, so only a lone FILE is held to exist here (RunCheck).
    cmd->add_option("FILE", r.files,
                    "Payment files (.ZAV), first diskette parts (.ZA0), or folders of them")
        ->required();
    cmd->add_option("--summary", r.summary,
                    "One row a file (file, registration, RFC, period, folio, workers, total, "
                    "verdict, message, deadline, days late, capture line) as csv or json")
        ->check(CLI::IsMember({"csv", "json"}));
    cmd->add_flag("--mask", r.mask,
                  "Hide personal fields (names, social security numbers, salaries, RFCs) in "
                  "the values --all found and in the summary");
  }
  cmd->add_option("--server-date", r.server_date,
                  "The server's date, DD/MM/YYYY, against which lateness is judged (default: "
                  "today)")
      ->check(CLI::Validator([](std::string& text) { return zav::ServerDateProblem(text); },
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
    cmd->add_option("--level", r.level,
                    "Deflate level of the archive, 1 (fastest) to 12 (smallest); default " +
                        std::to_string(zav::kDefaultPackingLevel) +
                        ", 9 at most on a machine of one core")
        ->check(CLI::Range(1, zav::kMaxPackingLevel));
  }
}

zav::ValidateOptions OptionsOf(const RunRequest& request) {
  zav::ValidateOptions options;
  options.server_date = request.server_date.value_or("");
  options.tolerance = request.tolerance;
  options.management = request.management;
  options.work_dir = request.work_dir.value_or("");
  options.work_name = request.work_name.value_or("");
  options.disks = request.disks;
  options.pack = request.pack;
  options.keep_work = request.keep_work;
  if (request.pack) {
    options.out_dir = request.out_dir.value_or(fs::absolute(request.file).parent_path().string());
  }
  return options;
}

int RunValidate(const RunRequest& request) {
  if (request.level) zav::SetPackingLevel(*request.level);
  const zav::ValidateOptions options = OptionsOf(request);
  zav::FileReport report;
  try {
    const bool watched = !request.json && ::isatty(STDERR_FILENO) != 0;
    report = zav::ValidateFile(request.file, options, request.all,
                               watched ? ProgressLine() : zav::WalkProgress());
  } catch (const std::invalid_argument& e) {
    std::cerr << "zav: " << e.what() << "\n";
    return 64;
  } catch (const zav::SetupError& e) {
    std::string text = e.what();
    if (text.rfind("the archive cannot", 0) == 0) {
      text += request.out_dir ? " (--out)" : " (the file's folder; see --out)";
    }
    std::cerr << "zav: " << text << "\n";
    if (request.json) PrintSetupJson(text);
    return 2;
  }
  if (request.mask && report.problems) zav::MaskPersonal(*report.problems);
  if (!report.warning.empty()) std::cerr << "zav: " << report.warning << "\n";
  PrintReport(std::cout, request, report);
  if (report.verdict.accepted) return 0;
  return report.verdict.failure_number != 0 ? 2 : 1;
}

}  // namespace zavcli
