// zav sample: writes a valid payment file, or a set of diskette parts, from options.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>

namespace zavcli {

struct SampleRequest {
  std::int64_t workers = 10;
  std::string period;    // YYYYMM; default: last month, paid on time today (SetPeriodPaidOn)
  std::string deadline;  // DD/MM/YYYY; default: the 17th of the month after the period
  std::uint32_t seed = 1;
  int disks = 1;
  std::string out_dir = ".";
  std::string break_with;  // a message number the file is to be refused with, or "list"
};

void AddSampleOptions(CLI::App* cmd, SampleRequest& r);
int RunSample(const SampleRequest& r);

}  // namespace zavcli
