#include "run.hpp"

#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <vector>

#include "host/validate_file.hpp"
#include "problems.hpp"

namespace zavcli {

using json = nlohmann::ordered_json;

namespace {

void Print(const RunRequest& request, const zav::Verdict& v,
           const std::optional<std::vector<zav::Problem>>& problems) {
  const auto opt = [](bool given, const std::string& value) -> json {
    return given ? json(value) : json(nullptr);
  };
  if (request.json) {
    json out;
    out["result"] = v.result;
    out["accepted"] = v.accepted;
    out["message"] = v.message != 0 ? json(v.message) : json(nullptr);
    out["record"] = v.record;
    out["capture_line"] = opt(v.accepted, v.capture_line);
    out["param"] = opt(v.accepted, v.param);
    out["archive_name"] = opt(v.accepted && request.pack, v.archive_name);
    out["archive"] = opt(v.accepted && request.pack, v.archive);
    out["failure"] = v.failure_number != 0 ? json{{"number", v.failure_number},
                                                  {"description", v.failure_description}}
                                           : json(nullptr);
    if (problems) out["problems"] = ProblemsJson(*problems);
    std::cout << out.dump(2) << "\n";
    return;
  }
  if (v.accepted) {
    std::cout << "accepted: " << request.file << "\n"
              << "capture line: " << v.capture_line << "\n";
    if (request.pack) std::cout << "archive: " << v.archive << "\n";
  } else if (v.failure_number != 0) {
    std::cout << "rejected: run-time failure " << v.failure_number << " (" << v.failure_description
              << ") at record " << v.record << "\n";
  } else {
    std::string text = v.result;
    for (char& c : text)
      if (c == '\r') c = '\n';
    std::string cleaned;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\n' && i + 1 < text.size() && text[i + 1] == '\n') continue;
      cleaned += text[i];
    }
    std::cout << "rejected: message " << v.message << " at record " << v.record << "\n"
              << cleaned << "\n";
  }
  if (problems) PrintProblems(std::cout, *problems);
}

}  // namespace

int RunValidate(const RunRequest& request) {
  if (!request.server_date.empty() && !zav::IsServerDate(request.server_date)) {
    std::cerr << "zav: --server-date must be a date written DD/MM/YYYY\n";
    return 64;
  }
  zav::ValidateOptions options;
  options.server_date = request.server_date;
  options.tolerance = request.tolerance;
  options.management = request.management;
  options.work_dir = request.work_dir.value_or("");
  options.work_name = request.work_name.value_or("");
  options.disks = request.disks;
  options.pack = request.pack;
  std::optional<std::vector<zav::Problem>> problems;
  zav::Verdict verdict;
  try {
    verdict = zav::ValidateFile(request.file, options, request.all ? &problems : nullptr);
  } catch (const std::invalid_argument& e) {
    std::cerr << "zav: " << e.what() << "\n";
    return 64;
  }
  Print(request, verdict, problems);
  if (verdict.accepted) return 0;
  return verdict.failure_number != 0 ? 2 : 1;
}

}  // namespace zavcli
