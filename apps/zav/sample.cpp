#include "sample.hpp"

#include <chrono>
#include <filesystem>
#include <iostream>

#include "host/upload.hpp"
#include "validation/payment_writer.hpp"

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
}

namespace {

bool ParseDate(const std::string& text, int& d, int& m, int& y) {
  return text.size() == 10 && text[2] == '/' && text[5] == '/' &&
         std::sscanf(text.c_str(), "%2d/%2d/%4d", &d, &m, &y) == 3;
}

}  // namespace

int RunSample(const SampleRequest& r) {
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
