#include "check_endpoint.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>

#include "access_log.hpp"
#include "reports/diagnosis.hpp"
#include "zav/run.hpp"

namespace zavserve {

namespace fs = std::filesystem;

namespace {

bool PlainFileName(const std::string& name) {
  return !name.empty() && name.size() <= 64 && name.front() != '.' &&
         std::all_of(name.begin(), name.end(), [](char c) {
           return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
         });
}

// The check itself, in `folder`: the file out of the body, then `zav check --all --json`.
zav::UploadAnswer Check(const std::string& name, const std::string& body, bool mask,
                        const zav::UploadLimits& limits, const fs::path& folder,
                        std::uint64_t& unpacked) {
  const bool archive = zav::IsArchiveName(name);
  const fs::path file = folder / (archive ? zav::WorkName(name) : name);
  if (archive) {
    if (auto refusal = zav::UnpackUpload(body, file, limits)) return *refusal;
    std::error_code ec;
    unpacked = fs::file_size(file, ec);
  } else {
    std::ofstream out(file, std::ios::binary);
    if (!out.write(body.data(), static_cast<std::streamsize>(body.size())) || !out.flush()) {
      return zav::Refusal(500, "server_error", "the server could not check the file");
    }
  }
  zavcli::RunRequest request;
  request.file = file.string();
  request.work_dir = folder.string();
  request.disks = zav::DeclaredDiskettes(file);  // as for an upload: only the page saw them
  request.pack = false;
  request.all = true;
  request.json = true;
  request.mask = mask;
  zav::FileReport report = zav::ValidateFile(request.file, zavcli::OptionsOf(request), true);
  if (mask && report.problems) zav::MaskPersonal(*report.problems);
  nlohmann::ordered_json answer = zavcli::ReportJson(request, report);
  // The parameter string names the archive the control would pack: without the server's
  // folder, which is nobody's business.
  if (answer["param"].is_string()) {
    std::string param = answer["param"];
    const std::string prefix = folder.string() + "/";
    for (std::size_t at; (at = param.find(prefix)) != std::string::npos;)
      param.erase(at, prefix.size());
    answer["param"] = param;
  }
  return {200, std::move(answer)};
}

}  // namespace

std::optional<zav::UploadAnswer> ScreenCheck(const Request& req) {
  const std::string name = req.get_param_value("name");
  if (req.get_param_value_count("name") != 1 ||
      !(zav::IsArchiveName(name) || PlainFileName(name))) {
    return zav::Refusal(400, "bad_name",
                        "name the payment file (letters, digits, '.', '-', '_') or the page's "
                        "archive: POST /api/check?name=NAME");
  }
  const std::string mask = req.get_param_value("mask");
  if (req.get_param_value_count("mask") > 1 ||
      (req.has_param("mask") && mask != "0" && mask != "1")) {
    return zav::Refusal(400, "bad_request", "mask is 0 or 1");
  }
  return std::nullopt;
}

zav::UploadAnswer AnswerCheck(const Request& req, const ContentReader& read,
                              const Uploader& uploader, Receiver& receiver,
                              const GuardedStream& stream) {
  const std::uint64_t length = std::stoull(req.get_header_value("Content-Length"));
  const std::string name = req.get_param_value("name");
  const zav::UploadLimits& limits = receiver.limits();
  if (!zav::IsArchiveName(name) && length > limits.max_file_bytes) {
    return zav::Refusal(
        413, "too_large",
        "the file is larger than " + std::to_string(limits.max_file_bytes) + " bytes");
  }
  Receiver::Slot slot;
  if (auto refusal = receiver.Admit(uploader, length, slot)) return *refusal;
  std::string body;
  body.reserve(static_cast<std::size_t>(length));
  const bool read_whole = read([&](const char* data, std::size_t n) {
    body.append(data, n);
    return body.size() <= length;
  });
  if (!read_whole || body.size() != length) {
    receiver.Charge(uploader.identity, body.size());
    return stream.timed_out() ? zav::Refusal(408, "timeout", "the file did not come in time")
                              : zav::Refusal(400, "bad_request", "the file did not come whole");
  }
  std::uint64_t unpacked = 0;
  zav::UploadAnswer answer;
  try {
    receiver.OnPool([&](const fs::path& folder) {
      answer = Check(name, body, req.get_param_value("mask") == "1", limits, folder, unpacked);
    });
  } catch (const std::exception& e) {
    LogNote(std::string("a check failed: ") + e.what());
    answer = zav::Refusal(500, "server_error", "the server could not check the file");
  }
  receiver.Charge(uploader.identity, body.size() + unpacked);
  return answer;
}

}  // namespace zavserve
