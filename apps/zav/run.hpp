// The host sequence a page runs, from the command line: bring a payment file into the
// work folder (in one piece or from its diskette parts), validate it, read the outputs.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "api/validate_file.hpp"

namespace zavcli {

struct RunRequest {
  std::string file;                // native path of the payment file, or of its first part (.ZA0)
  std::vector<std::string> files;  // check: files and folders of payment files
  std::optional<std::string> summary;  // check: "csv" or "json", one row a file
  std::optional<std::string> work_name;
  int disks = 1;
  std::optional<std::string> server_date;  // DD/MM/YYYY; today when not given
  int tolerance = 0;
  bool management = false;
  std::optional<std::string> work_dir;
  bool json = false;
  bool pack = true;   // validate packs; check leaves the file as it stands
  bool all = false;   // check --all: also every problem of the file, not only the first
  bool mask = false;  // check --mask: personal fields hidden in found values and the summary
  std::optional<std::string> out_dir;  // validate: where the archive goes (default: FILE's folder)
  bool keep_work = false;              // validate: leave this run's files in the work folder
  std::optional<int> level;            // validate: deflate level of the archive
};

// The options validate and check share (FILE, --server-date, ...); validate's own
// (--out, --keep-work) too when `pack`.
void AddRunOptions(CLI::App* cmd, RunRequest& r, bool pack);

// Runs the request, prints the verdict (text or JSON) and answers the exit status:
// 0 accepted, 1 rejected with a message, 2 run-time failure or a work folder that cannot
// be used, 64 usage error.
int RunValidate(const RunRequest& request);

// The validation options of a request.
zav::ValidateOptions OptionsOf(const RunRequest& request);

// The verdict of `report` as validate and check print it: text, or one JSON object with
// request.json.
nlohmann::ordered_json ReportJson(const RunRequest& request, const zav::FileReport& report);
void PrintReport(std::ostream& out, const RunRequest& request, const zav::FileReport& report);

// zav check: one file as RunValidate does it; several files, folders of them or a summary
// (check.cpp) on every core, exit status the worst verdict's.
int RunCheck(RunRequest request);

}  // namespace zavcli
