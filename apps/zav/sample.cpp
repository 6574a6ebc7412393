#include "sample.hpp"

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "api/upload.hpp"
#include "api/validate_file.hpp"
#include "control/messages.hpp"
#include "problems.hpp"
#include "writing/payment_writer.hpp"

namespace zavcli {

namespace fs = std::filesystem;

void AddSampleOptions(CLI::App* cmd, SampleRequest& r) {
  cmd->add_option("--workers", r.workers, "Number of workers (default 10)")
      ->check(CLI::Range(std::int64_t{1}, std::int64_t{10000000}));
  cmd->add_option("--period", r.period,
                  "Payment period YYYYMM, month 01 to 14 (default: last month, so that the file "
                  "validates today)");
  cmd->add_option("--deadline", r.deadline,
                  "Payment deadline DD/MM/YYYY (default: the 17th of the month after the period; "
                  "without --period, of this month, or of the next once today is past the 17th)");
  cmd->add_option("--seed", r.seed, "Seed of the generated workers (default 1)");
  cmd->add_option("--disks", r.disks, "Split over N diskette parts .ZA0, .ZA1, ... (default 1)")
      ->check(CLI::Range(1, 10));
  cmd->add_option("-o,--out-dir", r.out_dir, "Folder to write into (default: current folder)");
  cmd->add_option("--break", r.break_with,
                  "Write a file, otherwise valid, that the control refuses with message N; "
                  "'--break list' names every such N with its text. With --period, check it "
                  "with a --server-date up to its deadline, or lateness (253) comes first");
}

namespace {

bool ParseDate(const std::string& text, int& d, int& m, int& y) {
  return text.size() == 10 && text[2] == '/' && text[5] == '/' &&
         std::sscanf(text.c_str(), "%2d/%2d/%4d", &d, &m, &y) == 3;
}

std::string TwoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

// Writes the file of `plan` broken so that the control, on `server_date`, refuses it with
// `message`: each way of breaking it is tried on a copy in a folder of its own until one
// is refused with that message, which is then put in place. Answers the exit status.
int WriteBroken(const zav::PaymentPlan& plan, std::int16_t message, const fs::path& out_dir,
                const std::string& server_date) {
  std::ostringstream clean;
  zav::WritePaymentFile(plan, clean);
  const std::string name = zav::WorkFileName(plan);
  std::string folder = (fs::absolute(out_dir) / ".zav-break-XXXXXX").string();
  if (::mkdtemp(folder.data()) == nullptr) {
    std::cerr << "zav: cannot write in " << out_dir.string() << "\n";
    return 2;
  }
  const fs::path trial = fs::path(folder) / name;
  int status = 1;
  for (const zav::FileBreak& b : zav::FileBreaks()) {
    if (b.message != message) continue;
    std::string bytes = clean.str();
    zav::ApplyBreak(b, plan, bytes);
    {
      std::ofstream out(trial, std::ios::binary | std::ios::trunc);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      if (!out.flush()) break;
    }
    zav::ValidateOptions options;
    options.pack = false;
    options.server_date = server_date;
    options.work_dir = folder;
    try {
      if (zav::ValidateFile(trial.string(), options, false).verdict.message != message) continue;
    } catch (const std::exception& e) {
      std::cerr << "zav: " << e.what() << "\n";
      status = 2;
      break;
    }
    fs::rename(trial, out_dir / name);
    std::cout << (out_dir / name).string() << "\n";
    status = 0;
    break;
  }
  std::error_code ec;
  fs::remove_all(folder, ec);
  if (status == 1) {
    std::cerr << "zav: no file of this period can be broken to message " << message
              << "; try another --period\n";
  }
  return status;
}

}  // namespace

int RunSample(const SampleRequest& r) {
  std::int16_t broken = 0;
  if (r.break_with == "list") {
    for (const std::int16_t n : zav::BreakableMessages()) {
      std::cout << n << "\t" << OneLine(zav::CatalogText(n)) << "\n";
    }
    return 0;
  }
  if (!r.break_with.empty()) {
    const std::vector<std::int16_t> all = zav::BreakableMessages();
    const bool number = r.break_with.size() <= 5 &&
                        r.break_with.find_first_not_of("0123456789") == std::string::npos;
    if (number) broken = static_cast<std::int16_t>(std::stoi(r.break_with));
    if (!number || std::find(all.begin(), all.end(), broken) == all.end()) {
      std::cerr << "zav: --break " << r.break_with
                << " is not a message a payment file can be broken to; see --break list\n";
      return 64;
    }
    if (r.disks > 1) {
      std::cerr << "zav: --break writes a file in one piece; leave out --disks\n";
      return 64;
    }
  }
  zav::PaymentPlan plan = zav::SamplePaymentPlan(r.workers, r.seed);
  if (r.period.empty()) {
    int d = 0, m = 0, y = 0;
    ParseDate(zav::ServerDate(), d, m, y);
    zav::SetPeriodPaidOn(plan, std::chrono::year(y) / m / d);
  } else {
    if (r.period.size() != 6 || r.period.find_first_not_of("0123456789") != std::string::npos) {
      std::cerr << "zav: --period must be YYYYMM\n";
      return 64;
    }
    plan.year = std::stoi(r.period.substr(0, 4));
    plan.month = std::stoi(r.period.substr(4, 2));
    if (plan.month < 1 || plan.month > 14) {
      std::cerr << "zav: the period month must be 01 to 14\n";
      return 64;
    }
    plan.deadline_year = plan.month >= 12 ? plan.year + 1 : plan.year;
    plan.deadline_month = plan.month >= 12 ? 1 : plan.month + 1;
    plan.deadline_day = 17;
  }
  if (!r.deadline.empty() &&
      !ParseDate(r.deadline, plan.deadline_day, plan.deadline_month, plan.deadline_year)) {
    std::cerr << "zav: --deadline must be DD/MM/YYYY\n";
    return 64;
  }
  fs::create_directories(r.out_dir);
  if (broken != 0) {
    const std::string date = r.period.empty() ? zav::ServerDate()
                                              : TwoDigits(plan.deadline_day) + "/" +
                                                    TwoDigits(plan.deadline_month) + "/" +
                                                    std::to_string(plan.deadline_year);
    return WriteBroken(plan, broken, r.out_dir, date);
  }
  const std::string name = zav::WorkFileName(plan);
  if (r.disks > 1) {
    const std::string base = fs::path(name).stem().string();
    for (const fs::path& part : zav::WriteDiskettes(plan, r.out_dir, base, r.disks))
      std::cout << part.string() << "\n";
  } else {
    const fs::path file = fs::path(r.out_dir) / name;
    zav::WritePaymentFile(plan, file);
    std::cout << file.string() << "\n";
  }
  return 0;
}

}  // namespace zavcli
