#include "host/validate_file.hpp"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "basic/cp1252.hpp"
#include "basic/runtime_failure.hpp"
#include "control/messages.hpp"
#include "control/zav.hpp"
#include "host/upload.hpp"
#include "platform/drives.hpp"
#include "platform/file_system.hpp"
#include "validation/diagnosis.hpp"
#include "validation/file_driver.hpp"

namespace zav {

namespace fs = std::filesystem;

namespace {

// Native paths reach the control as they are; names inside it are Windows-1252.
std::string ControlText(const std::string& native) { return Utf8ToCp1252(native); }

std::string FolderWithSeparator(const fs::path& folder) {
  std::string s = folder.string();
  if (s.empty() || s.back() != '/') s += '/';
  return s;
}

bool IsFirstPart(const fs::path& file) {
  std::string ext = file.extension().string();
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext == ".ZA0";
}

// Joins the diskette parts ZA0, ZA1, ... lying beside the first one, until the part
// that says it is the last. Answers a message number (0 when joined); throws when a part
// is missing.
std::int16_t JoinParts(ZAV& z, const fs::path& first) {
  const std::string base = first.stem().string();
  for (int k = 0; k <= 255; ++k) {
    const std::string name = ControlText(base + ".ZA" + std::to_string(k));
    const std::int16_t joined = z.IntegraDisco(name, static_cast<std::uint8_t>(k));
    if (joined != 0) return joined;
    const std::uint8_t last = z.ChecaUltimoDisco(name);
    if (last == 255) {
      throw std::invalid_argument("diskette part " + base + ".ZA" + std::to_string(k) +
                                  " is missing or unreadable");
    }
    if (last != 0) return 0;
  }
  throw std::invalid_argument("no part of " + base + " ends the file");
}

// Brings the file into the work folder, noting the work copy in `work_copy`, and runs
// the validation: the verdict's result and message, and the diagnosis when asked for.
void Run(ZAV& z, const fs::path& file, const ValidateOptions& options, const std::string& date,
         Verdict& verdict, std::optional<std::vector<Problem>>* problems, std::string& work_copy) {
  try {
    z.inicio();
  } catch (const RuntimeFailure&) {
    if (options.work_dir.empty()) throw;  // no work folder at all
  }
  std::error_code ec;
  if (!options.work_dir.empty()) {
    fs::create_directories(options.work_dir, ec);
    z.DestinoArchi = ControlText(FolderWithSeparator(fs::absolute(options.work_dir)));
  }
  z.bgGerencia = options.management;
  z.igToler = static_cast<std::uint8_t>(options.tolerance);
  z.OrigenArchi = ControlText(FolderWithSeparator(file.parent_path()));
  z.FinalArchi =
      ControlText(options.work_name.empty() ? file.filename().string() : options.work_name);
  const std::string name = ControlText(file.filename().string());
  // Bringing the file in deletes the old work file first.
  const fs::path work_native = ResolvePath(z.DestinoArchi + z.FinalArchi);
  if (fs::weakly_canonical(work_native, ec) == fs::weakly_canonical(file, ec)) {
    throw std::invalid_argument(
        "the work file would be the payment file itself; use another work folder or work "
        "name (--work-dir, --work-name)");
  }

  if (IsFirstPart(file)) {
    z.OrigenNombre = name;
    const std::int16_t joined = JoinParts(z, file);
    if (joined != 0) {
      verdict.message = joined;
      verdict.result = Cp1252ToUtf8(z.Obtiene_Mensajes(joined));
      return;
    }
  } else {
    z.NumDiscos = static_cast<std::int16_t>(options.disks);
    // The control keeps the file's length in a 32-bit property, so a longer file is an
    // overflow whatever it holds.
    const std::uintmax_t size = fs::file_size(file, ec);
    if (!ec && size > static_cast<std::uintmax_t>(INT32_MAX)) {
      throw RuntimeFailure(err::kOverflow, "Overflow: the file is longer than 2147483647 bytes");
    }
    z.copiaArch(name);
  }
  work_copy = z.DestinoArchi + z.FinalArchi;

  // The diagnosis works on its own copy of the control: the verdict is the run's.
  std::optional<ZAV> before_run;
  if (problems != nullptr && !options.pack) before_run = z;
  verdict.result = Cp1252ToUtf8(RunValidation(z, date, RunOptions{options.pack}));
  if (before_run) *problems = DiagnoseFile(*before_run, date);
  verdict.message = z.working().last_message;
  verdict.failure_number = z.working().last_failure_number;
  verdict.failure_description = z.working().last_failure_description;
}

}  // namespace

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

Verdict ValidateFile(const std::string& file_name, const ValidateOptions& options,
                     std::optional<std::vector<Problem>>* problems) {
  const fs::path file = fs::absolute(file_name);
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) {
    throw std::invalid_argument(file_name + ": no such payment file");
  }
  if (options.tolerance < 0 || options.tolerance > 255) {
    throw std::invalid_argument("the tolerance must be 0 to 255");
  }
  if (options.disks < 0 || options.disks > 32767) {
    throw std::invalid_argument("the diskette count must be 0 to 32767");
  }
  const std::string date = options.server_date.empty() ? ServerDate() : options.server_date;
  if (!IsServerDate(date)) {
    throw std::invalid_argument("the server date must be a date written DD/MM/YYYY");
  }

  ZAV z;
  Verdict verdict;
  std::string work_copy;
  try {
    Run(z, file, options, date, verdict, problems, work_copy);
  } catch (const RuntimeFailure& failure) {
    verdict.result = "5";
    verdict.failure_number = failure.number();
    verdict.failure_description = failure.description();
  }
  // A verdict without packing leaves nothing behind: the work copy is ours, not the
  // user's file.
  if (!options.pack && !work_copy.empty() && FileExists(work_copy)) {
    try {
      DeleteFile(work_copy, true);
    } catch (const RuntimeFailure&) {
    }
  }
  verdict.record = z.posicion;
  verdict.accepted = verdict.result == "0";
  if (verdict.accepted) {
    verdict.capture_line = Cp1252ToUtf8(z.LineaDeCaptura());
    verdict.param = Cp1252ToUtf8(z.sParamZAV().ToText());
    if (options.pack) {
      verdict.archive_name = Cp1252ToUtf8(z.sArchZAVZip());
      verdict.archive = ResolvePath(z.sRutaArchZAVZip()).string();
    }
  }
  return verdict;
}

Verdict Validate(const std::string& file, const ValidateOptions& options) {
  return ValidateFile(file, options, nullptr);
}

std::string MessageText(int number) {
  if (number < INT16_MIN || number > INT16_MAX) return {};
  return Cp1252ToUtf8(std::string(CatalogText(static_cast<std::int16_t>(number))));
}

}  // namespace zav
