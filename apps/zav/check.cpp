// zav check over many files: each checked on its own control and its own work folder, on
// every core, then reported in the order given, as text, JSON or a summary of one row a
// file.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "api/upload.hpp"
#include "basic/cp1252.hpp"
#include "calendar/day_numbers.hpp"
#include "command_line.hpp"
#include "control/messages.hpp"
#include "control/zav.hpp"
#include "platform/drives.hpp"
#include "platform/record_file.hpp"
#include "problems.hpp"
#include "records/personal.hpp"
#include "records/record_02.hpp"
#include "records/record_06.hpp"
#include "reports/describe.hpp"
#include "reports/diagnosis.hpp"
#include "run.hpp"
#include "summary.hpp"
#include "validation/field_checks.hpp"

namespace zavcli {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// A payment file as a folder holds it: a file in one piece (.ZAV) or the first part of a
// diskette set (.ZA0); the other parts are joined from the first.
bool IsPaymentFileName(const fs::path& p) {
  const std::string ext = Upper(p.extension().string());
  return ext == ".ZAV" || ext == ".ZA0";
}

// One item to check: a file, or what went wrong finding files where a folder was given.
struct Item {
  std::string file;
  std::string problem;  // non-empty: nothing to check, the row says this
};

std::vector<Item> Expand(const std::vector<std::string>& arguments) {
  std::vector<Item> items;
  for (const std::string& argument : arguments) {
    std::error_code ec;
    if (!fs::is_directory(argument, ec)) {
      items.push_back({argument, ""});
      continue;
    }
    std::vector<std::string> found;
    for (fs::directory_iterator it(argument, ec), end; !ec && it != end; it.increment(ec)) {
      std::error_code type_error;
      // A link to a file that is gone is a payment file that cannot be read: its row says so.
      const bool file = it->is_regular_file(type_error) ||
                        (it->is_symlink(type_error) && !fs::exists(it->path(), type_error));
      if (file && IsPaymentFileName(it->path())) {
        found.push_back(it->path().string());
      }
    }
    std::sort(found.begin(), found.end());
    if (ec) {
      items.push_back({argument, "the folder cannot be read: " + ec.message()});
    } else if (found.empty()) {
      items.push_back({argument, "the folder holds no payment file (*.ZAV, *.ZA0)"});
    }
    for (std::string& f : found) items.push_back({std::move(f), ""});
  }
  return items;
}

std::string Field(std::string_view record, const zav::Field& f) {
  return zav::Cp1252ToUtf8(std::string(zav::TrimmedView(zav::Cut(record, f))));
}

// Digits as a number text without leading zeros; anything else as it stands.
std::string Number(const std::string& digits) {
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return digits;
  const std::size_t first = std::min(digits.find_first_not_of('0'), digits.size() - 1);
  return digits.substr(first);
}

std::optional<std::chrono::sys_days> DayOf(int y, int m, int d) {
  const std::chrono::year_month_day day{std::chrono::year(y), std::chrono::month(m),
                                        std::chrono::day(d)};
  if (!day.ok()) return std::nullopt;
  return std::chrono::sys_days(day);
}

// What the header (the first record) and the validation record (the last one, of the last
// part for a diskette set) say; a field the file does not hold stays empty.
void ReadFacts(const fs::path& file, const std::string& server_date, bool management,
               SummaryRow& row) {
  try {
    std::string record;
    {
      zav::RecordFile f = zav::RecordFile::OpenNative(file, zav::RecordFile::Mode::kRead);
      if (f.RecordCount() < 1) return;
      f.Read(1, record);
      f.Close();
    }
    if (zav::Cut(record, zav::record02::kTipo) == "02") {
      row.registration = Field(record, zav::record02::kRegistroPatronal);
      row.rfc = Field(record, zav::record02::kRfc);
      row.period = Field(record, zav::record02::kPeriodo);
      row.folio = Field(record, zav::record02::kFolio);
      row.workers = Number(Field(record, zav::record02::kTotalTrabajadores));
    }
    fs::path last = file;
    if (Upper(file.extension().string()) == ".ZA0") {
      for (int k = 1; k <= 255; ++k) {
        fs::path next = file;
        next.replace_extension(file.extension().string().substr(0, 3) + std::to_string(k));
        std::error_code ec;
        if (!fs::is_regular_file(next, ec)) break;
        last = next;
      }
    }
    zav::RecordFile f = zav::RecordFile::OpenNative(last, zav::RecordFile::Mode::kRead);
    if (f.RecordCount() < 1) return;
    f.Read(f.RecordCount(), record);
    f.Close();
    if (zav::Cut(record, zav::record06::kTipo) != "06") return;
    std::int64_t cents = 0;
    bool whole = true;
    for (const zav::Field& total :
         {zav::record06::kTotalImss4Seguros, zav::record06::kTotalImssRcv,
          zav::record06::kTotalInfonavitAportacion, zav::record06::kTotalInfonavitAmortizacion}) {
      const std::string digits = Field(record, total);
      if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
        whole = false;
        break;
      }
      cents += std::stoll(digits);
    }
    if (whole) {
      const std::string c = std::to_string(cents % 100);
      row.total = std::to_string(cents / 100) + "." + (c.size() < 2 ? "0" : "") + c;
    }
    const std::string deadline = Field(record, zav::record06::kFechaLimite);
    if (deadline.size() == 8 && deadline.find_first_not_of("0123456789") == std::string::npos) {
      const int y = std::stoi(deadline.substr(0, 4)), m = std::stoi(deadline.substr(4, 2)),
                d = std::stoi(deadline.substr(6, 2));
      row.deadline =
          deadline.substr(6, 2) + "/" + deadline.substr(4, 2) + "/" + deadline.substr(0, 4);
      // Late counts from the last day to pay: the deadline moved on to a business day by
      // the control's own steps and settings, as its lateness check moves it; never in
      // management mode, where the control takes a late file.
      std::string sy = deadline.substr(0, 4), sm = deadline.substr(4, 2),
                  sd = deadline.substr(6, 2);
      zav::ZAV control;
      control.CalculaDiaHabil(sy, sm, sd);
      const auto due =
          DayOf(zav::DatePartValue(sy), zav::DatePartValue(sm), zav::DatePartValue(sd));
      const auto today =
          DayOf(std::stoi(server_date.substr(6, 4)), std::stoi(server_date.substr(3, 2)),
                std::stoi(server_date.substr(0, 2)));
      if (DayOf(y, m, d) && due && today) {
        row.days_late =
            management ? "0"
                       : std::to_string(std::max(0, static_cast<int>((*today - *due).count())));
      }
    }
  } catch (const std::exception&) {
    // What could be read stays; the verdict says why the rest could not.
  }
}

struct Outcome {
  SummaryRow row;
  std::optional<zav::FileReport> report;  // the run's, when it ran
  int status = 2;
};

Outcome CheckOne(const Item& item, const RunRequest& request, const zav::ValidateOptions& options,
                 const std::string& server_date) {
  Outcome out;
  out.row.file = item.file;
  if (!item.problem.empty()) {
    out.row.verdict = "unreadable";
    out.row.text = item.problem;
    return out;
  }
  try {
    out.report = zav::ValidateFile(item.file, options, request.all);
  } catch (const std::invalid_argument& e) {
    out.row.verdict = "unreadable";
    out.row.text = e.what();
    return out;
  } catch (const std::exception& e) {
    out.row.verdict = "error";
    out.row.text = e.what();
    return out;
  }
  ReadFacts(item.file, server_date, request.management, out.row);
  if (request.mask) {
    if (out.report->problems) zav::MaskPersonal(*out.report->problems);
    if (const auto keep =
            zav::PersonalKeep(2, zav::record02::kRfc.start, zav::record02::kRfc.length))
      out.row.rfc = zav::Masked(out.row.rfc, *keep);
  }
  const zav::Verdict& v = out.report->verdict;
  if (v.accepted) {
    out.row.verdict = "accepted";
    out.row.capture_line = v.capture_line;
    out.status = 0;
  } else if (v.failure_number != 0) {
    out.row.verdict = "failure";
    out.row.text =
        "run-time failure " + std::to_string(v.failure_number) + " (" + v.failure_description + ")";
  } else {
    out.row.verdict = "rejected";
    out.row.message = std::to_string(v.message);
    out.row.text = OneLine(zav::CatalogText(static_cast<std::int16_t>(v.message)));
    out.status = 1;
  }
  return out;
}

// The folder each worker thread gets its own work folder in: a fresh one inside the work
// folder the run would use (--work-dir, or the one inicio chooses), removed at the end.
class WorkFolders {
 public:
  explicit WorkFolders(const std::optional<std::string>& work_dir) {
    fs::path base;
    try {
      if (work_dir) {
        base = fs::absolute(*work_dir);
        std::error_code ec;
        fs::create_directories(base, ec);
      } else {
        zav::ZAV z;
        z.inicio();
        base = zav::ResolvePath(z.DestinoArchi);
      }
    } catch (const std::exception&) {
      return;  // each run says what is wrong with the work folder
    }
    std::string pattern = (base / "zav-check-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) root_ = pattern;
  }
  ~WorkFolders() {
    std::error_code ec;
    if (root_) fs::remove_all(*root_, ec);
  }
  WorkFolders(const WorkFolders&) = delete;
  WorkFolders& operator=(const WorkFolders&) = delete;

  // Worker k's folder; nothing when there is no private folder (then one worker only).
  std::optional<std::string> For(unsigned k) const {
    if (!root_) return std::nullopt;
    return (*root_ / std::to_string(k)).string();
  }
  bool usable() const { return root_.has_value(); }

 private:
  std::optional<fs::path> root_;
};

}  // namespace

int RunCheck(RunRequest request) {
  const bool lone = request.files.size() == 1 && !request.summary;
  std::error_code ec;
  if (lone && !fs::is_directory(request.files.front(), ec)) {
    // One file is checked as it always was.
    std::string path = request.files.front();
    if (const std::string problem = kExistingFile(path); !problem.empty()) {
      std::cerr << "FILE: " << problem << "\nRun with --help for more information.\n";
      return 64;
    }
    request.file = path;
    return RunValidate(request);
  }
  if (request.work_name) {
    std::cerr << "zav: --work-name names one file; give it with one FILE only\n";
    return 64;
  }
  const std::vector<Item> items = Expand(request.files);
  const std::string server_date = request.server_date.value_or(zav::ServerDate());
  const zav::ValidateOptions options = OptionsOf(request);

  std::vector<Outcome> outcomes(items.size());
  WorkFolders folders(request.work_dir);
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const unsigned workers =
      folders.usable() ? std::min<unsigned>(cores, static_cast<unsigned>(items.size())) : 1;
  const bool watched = ::isatty(STDERR_FILENO) != 0;
  std::atomic<std::size_t> next{0};
  std::size_t done = 0;
  std::mutex progress_turn;
  const auto work = [&](unsigned k) {
    zav::ValidateOptions mine = options;
    if (const auto folder = folders.For(k)) mine.work_dir = *folder;
    for (std::size_t i; (i = next.fetch_add(1)) < items.size();) {
      outcomes[i] = CheckOne(items[i], request, mine, server_date);
      if (!watched) continue;
      const std::lock_guard<std::mutex> lock(progress_turn);
      ++done;
      std::cerr << "\rchecking: " << done << " of " << items.size() << " files ("
                << 100 * done / items.size() << "%)" << std::flush;
    }
  };
  std::vector<std::thread> pool;
  for (unsigned k = 1; k < workers; ++k) pool.emplace_back(work, k);
  work(0);
  for (std::thread& t : pool) t.join();
  if (watched) std::cerr << "\r\033[K" << std::flush;

  int status = 0;
  for (const Outcome& o : outcomes) status = std::max(status, o.status);

  if (request.summary) {
    std::vector<SummaryRow> rows;
    rows.reserve(outcomes.size());
    for (Outcome& o : outcomes) rows.push_back(std::move(o.row));
    if (*request.summary == "csv") {
      WriteSummaryCsv(std::cout, rows);
    } else {
      WriteSummaryJson(std::cout, rows);
    }
    return status;
  }
  if (request.json) {
    json all = json::array();
    for (const Outcome& o : outcomes) {
      json one;
      one["file"] = o.row.file;
      if (o.report) {
        RunRequest each = request;
        each.file = o.row.file;
        one.update(ReportJson(each, *o.report));
      } else {
        one["accepted"] = false;
        one["setup"] = o.row.text;
      }
      all.push_back(std::move(one));
    }
    std::cout << all.dump(2) << "\n";
    return status;
  }
  for (const Outcome& o : outcomes) {
    if (o.report) {
      RunRequest each = request;
      each.file = o.row.file;
      if (!o.report->verdict.accepted) std::cout << o.row.file << ":\n";
      PrintReport(std::cout, each, *o.report);
    } else {
      std::cout << o.row.verdict << ": " << o.row.file << ": " << o.row.text << "\n";
    }
  }
  return status;
}

}  // namespace zavcli
