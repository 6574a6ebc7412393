#include "api/validate_file.hpp"

#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string_view>

#include "api/upload.hpp"
#include "basic/cp1252.hpp"
#include "basic/runtime_failure.hpp"
#include "control/messages.hpp"
#include "control/zav.hpp"
#include "platform/drives.hpp"
#include "platform/file_system.hpp"
#include "platform/record_file.hpp"
#include "reports/diagnosis.hpp"
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

// Where drive `letter` comes from, for a message.
std::string DriveOrigin(char letter) {
  const char* table = std::getenv("ZAV_DRIVES");
  if (table == nullptr) return "the default drive C; set ZAV_DRIVES to use another folder";
  std::string_view rest(table);
  while (!rest.empty()) {
    const std::size_t semi = rest.find(';');
    const std::string_view entry = rest.substr(0, semi);
    rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
    if (!entry.empty() && std::toupper(static_cast<unsigned char>(entry[0])) == letter) {
      return "ZAV_DRIVES entry " + std::string(entry);
    }
  }
  return "ZAV_DRIVES=" + std::string(table);
}

// Fails with SetupError when the work folder does not exist, is not writable or has no
// room for `size` bytes. `origin` says where the folder was chosen.
void CheckWorkFolder(const std::string& control_folder, std::uintmax_t size,
                     const std::string& origin) {
  fs::path folder;
  try {
    folder = ResolvePath(control_folder);
  } catch (const RuntimeFailure& f) {
    const char letter = static_cast<char>(
        std::toupper(static_cast<unsigned char>(control_folder.empty() ? ' ' : control_folder[0])));
    for (const Drive& d : Drives()) {
      if (d.letter == letter && f.number() == err::kDiskNotReady) {
        throw SetupError("drive " + d.DriveLetter() + "'s folder " + d.root.string() +
                         " does not exist (" + origin + "); make it first");
      }
    }
    throw SetupError("the work folder " + Cp1252ToUtf8(control_folder) + " cannot be used (" +
                     origin + "): " + f.description());
  }
  std::error_code ec;
  const std::string named = "the work folder " + folder.string() + " (" + origin + ")";
  if (!fs::is_directory(folder, ec)) throw SetupError(named + " does not exist");
  if (::access(folder.c_str(), W_OK | X_OK) != 0) throw SetupError(named + " is not writable");
  const fs::space_info space = fs::space(folder, ec);
  if (!ec && space.available < size) {
    throw SetupError(named + " is full: " + std::to_string(space.available) +
                     " bytes free, the file needs " + std::to_string(size));
  }
}

// The work folder, the settings and the names, as a page sets them before bringing a file
// in.
void SetUp(ZAV& z, const ValidateOptions& options, const fs::path& file, bool in_place) {
  std::string origin;
  try {
    z.inicio();
    origin = DriveOrigin(z.DestinoArchi.empty() ? 'C' : z.DestinoArchi[0]);
  } catch (const RuntimeFailure& f) {
    if (options.work_dir.empty()) {  // no fixed drive for a work folder, or a malformed table
      const char* table = std::getenv("ZAV_DRIVES");
      throw SetupError("no work folder: " + f.description() +
                       (table != nullptr ? " (ZAV_DRIVES=" + std::string(table) + ")" : ""));
    }
  }
  std::error_code ec;
  if (!options.work_dir.empty()) {
    const fs::path folder = fs::absolute(options.work_dir);
    fs::create_directories(folder, ec);
    z.DestinoArchi = ControlText(FolderWithSeparator(folder));
    origin = "--work-dir";
  }
  z.bgGerencia = options.management;
  z.igToler = static_cast<std::uint8_t>(options.tolerance);
  z.OrigenArchi = ControlText(FolderWithSeparator(file.parent_path()));
  z.FinalArchi =
      ControlText(options.work_name.empty() ? file.filename().string() : options.work_name);

  CheckWorkFolder(z.DestinoArchi, in_place ? 0 : fs::file_size(file, ec), origin);
  // The work copy must never be the payment file itself: bringing it in deletes the
  // old work file first.
  const fs::path work_native = ResolvePath(z.DestinoArchi + z.FinalArchi);
  if (!in_place && fs::weakly_canonical(work_native, ec) == fs::weakly_canonical(file, ec)) {
    throw std::invalid_argument(
        "the work file would be the payment file itself; use another work folder or work "
        "name (--work-dir, --work-name)");
  }
  if (options.pack && !options.out_dir.empty()) {
    const fs::path out = fs::absolute(options.out_dir);
    fs::create_directories(out, ec);
    if (!fs::is_directory(out, ec) || ::access(out.c_str(), W_OK | X_OK) != 0) {
      throw SetupError("the archive cannot be written to " + out.string());
    }
  }
}

// Joins the diskette parts ZA0, ZA1, ... lying beside the first one, until the part
// that says it is the last. Answers a message number (0 when joined).
std::int16_t JoinParts(ZAV& z, const fs::path& first) {
  const std::string base = first.stem().string();
  for (int k = 0; k <= 255; ++k) {
    const std::string name = ControlText(base + ".ZA" + std::to_string(k));
    const std::int16_t joined = z.IntegraDisco(name, static_cast<std::uint8_t>(k));
    if (joined == 5) {
      throw SetupError("the diskette parts could not be joined in the work folder " +
                       ResolvePath(z.DestinoArchi).string());
    }
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

// Brings the file into the work folder: joined from its diskette parts, or copied; or,
// in place, only named. A refusal of the control's (a malformed part name) or an overflow
// is the verdict's.
void BringIn(ZAV& z, const ValidateOptions& options, const fs::path& file, bool in_place,
             Verdict& verdict) {
  const std::string name = ControlText(file.filename().string());
  try {
    if (IsFirstPart(file)) {
      z.OrigenNombre = name;
      if (const std::int16_t refused = JoinParts(z, file)) {
        verdict.message = refused;
        verdict.result = z.Obtiene_Mensajes(refused);
      }
      return;
    }
    z.NumDiscos = static_cast<std::int16_t>(options.disks);
    // The control keeps the file's length in a 32-bit property, so a longer file is an
    // overflow whatever it holds: answered before gigabytes are copied for nothing.
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(file, ec);
    if (!ec && size > static_cast<std::uintmax_t>(INT32_MAX)) {
      z.OrigenNombre = name;
      verdict.result = "5";
      verdict.failure_number = err::kOverflow;
      verdict.failure_description = "Overflow: the file is longer than 2147483647 bytes";
      return;
    }
    if (in_place) {
      z.OrigenNombre = name;  // as copiaArch names the source
    } else {
      z.copiaArch(name);
    }
  } catch (const RuntimeFailure& f) {
    throw SetupError("cannot bring " + file.string() + " into the work folder " +
                     ResolvePath(z.DestinoArchi).string() + ": " + f.description());
  }
}

// Puts the archive the run packed in the work folder into `out`, replacing one of the same
// name there. Answers its path.
std::string Deliver(const std::string& control_archive, const fs::path& out) {
  const fs::path from = ResolvePath(control_archive);
  const fs::path to = out / from.filename();
  std::error_code ec;
  if (fs::equivalent(from.parent_path(), out, ec)) return to.string();
  const fs::path aside = out / ("." + from.filename().string() + ".part");
  MoveFile(control_archive, ControlText(aside.string()));
  fs::rename(aside, to);
  return to.string();
}

// The name the run gives the validated work file before packing it.
std::string RenamedWorkFile(ZAV& z) {
  const std::string archive = z.sArchZAVZip();
  if (archive.size() < 3) throw RuntimeFailure(err::kInvalidCall);
  return z.DestinoArchi + archive.substr(0, archive.size() - 3) + "zav";
}

// Removes a file of this run's from the work folder; one that is gone already is fine.
void Remove(const std::string& control_path) {
  try {
    if (FileExists(control_path)) DeleteFile(control_path, true);
  } catch (const RuntimeFailure&) {
  }
}

}  // namespace

std::string ServerDateProblem(const std::string& text) {
  if (text.empty()) return "is empty: give a date DD/MM/YYYY, or leave the option out for today";
  const bool form = text.size() == 10 && text[2] == '/' && text[5] == '/' &&
                    text.find_first_not_of("0123456789/") == std::string::npos &&
                    text.find('/', 6) == std::string::npos;
  if (!form) return text + " is not a date written DD/MM/YYYY";
  const int day = std::stoi(text.substr(0, 2)), month = std::stoi(text.substr(3, 2));
  const int year = std::stoi(text.substr(6, 4));
  if (month < 1 || month > 12) return text + ": there is no month " + text.substr(3, 2);
  const std::chrono::year_month_day_last last{std::chrono::year(year) /
                                              std::chrono::month(static_cast<unsigned>(month)) /
                                              std::chrono::last};
  const int days = static_cast<int>(static_cast<unsigned>(last.day()));
  if (day < 1 || day > days) {
    return text + ": month " + text.substr(3, 2) + " of " + text.substr(6, 4) + " has " +
           std::to_string(days) + " days";
  }
  return "";
}

FileReport ValidateFile(const std::string& file_name, const ValidateOptions& options, bool diagnose,
                        const WalkProgress& progress) {
  const fs::path file = fs::absolute(file_name);
  std::error_code ec;
  if (fs::is_directory(file, ec))
    throw std::invalid_argument(file_name + " is a folder, not a file");
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
  if (const std::string problem = ServerDateProblem(date); !problem.empty()) {
    throw std::invalid_argument("the server date " + problem);
  }

  ZAV z;
  FileReport report;
  Verdict& verdict = report.verdict;
  std::optional<std::string> work_copy;  // this run's work file, removed at the end
  // A verdict of a file in one piece reads it where it lies, read-only: no work copy. A
  // diskette set is joined in the work folder, as a validation does it.
  const bool in_place = !options.pack && !IsFirstPart(file);
  try {
    SetUp(z, options, file, in_place);
    if (!in_place) work_copy = z.DestinoArchi + z.FinalArchi;
    BringIn(z, options, file, in_place, verdict);
  } catch (...) {
    if (work_copy && !options.keep_work) Remove(*work_copy);
    throw;
  }

  if (verdict.result.empty()) {
    // The diagnosis works on its own copy of the control: the verdict is the run's.
    std::optional<ZAV> before_run;
    if (diagnose && !options.pack) before_run = z;
    const std::string read_in_place = in_place ? ControlText(file.string()) : std::string();
    // A file this large takes long enough to show how far the walk got (about 14 000
    // workers).
    constexpr std::uintmax_t kProgressFrom = 4u << 20;
    std::error_code size_error;
    const std::uintmax_t walked = fs::file_size(
        read_in_place.empty() ? ResolvePath(z.DestinoArchi + z.FinalArchi) : file, size_error);
    const auto told = [&](const char* what) -> std::function<void(std::int32_t, std::int32_t)> {
      if (!progress || size_error || walked < kProgressFrom) return {};
      return
          [&progress, what](std::int32_t done, std::int32_t total) { progress(what, done, total); };
    };
    z.working().progress = told(options.pack ? "validating" : "checking");
    if (before_run) before_run->working().progress = told("listing every problem");
    verdict.result = RunValidation(z, date, RunOptions{options.pack, read_in_place});
    if (before_run) report.problems = DiagnoseFile(*before_run, date, read_in_place);
    verdict.message = z.working().last_message;
    verdict.failure_number = z.working().last_failure_number;
    verdict.failure_description = z.working().last_failure_description;
  }
  verdict.accepted = verdict.result == "0";
  verdict.result = Cp1252ToUtf8(verdict.result);
  verdict.failure_description = Cp1252ToUtf8(verdict.failure_description);
  verdict.record = z.posicion;
  if (!verdict.accepted) {
    verdict.at_record = z.working().last_record;
    report.at_record_type = z.working().last_record_type;
    report.after_last_record =
        verdict.at_record == 0 && z.iTamArch > 0 && z.posicion > RecordCountOf(z.iTamArch);
    HintFacts facts;
    try {
      facts.file = work_copy ? ResolvePath(*work_copy) : file;
    } catch (const RuntimeFailure&) {
      // No file to look at: names alone may still say something.
    }
    facts.source_name =
        z.OrigenNombre.empty() ? ControlText(file.filename().string()) : z.OrigenNombre;
    facts.work_name = z.FinalArchi;
    facts.message = static_cast<std::int16_t>(verdict.message);
    facts.failure = verdict.failure_number;
    report.hint = HintFor(facts);
    report.hint.text = Cp1252ToUtf8(report.hint.text);
    report.hint.expected_name = Cp1252ToUtf8(report.hint.expected_name);
    verdict.hint = report.hint.text;
  } else {
    verdict.capture_line = Cp1252ToUtf8(z.LineaDeCaptura());
    verdict.param = Cp1252ToUtf8(z.sParamZAV().ToText());
  }

  // Nothing of this run stays in the work folder unless asked: the archive goes where the
  // caller wants it, the work copy (renamed when accepted) is removed.
  if (verdict.accepted && options.pack) {
    const std::string archive = z.sArchZAVZip();
    const std::string renamed = RenamedWorkFile(z);
    verdict.archive_name = Cp1252ToUtf8(archive);
    verdict.archive = ResolvePath(z.sRutaArchZAVZip()).string();
    if (!options.out_dir.empty()) {
      const fs::path out = fs::absolute(options.out_dir);
      try {
        verdict.archive = Deliver(z.sRutaArchZAVZip(), out);
      } catch (const std::exception& e) {
        report.warning = "the archive stays at " + verdict.archive + ": it could not be put in " +
                         out.string() + ": " + e.what();
      }
    }
    if (!options.keep_work) Remove(renamed);
  } else if (options.pack && !options.keep_work && work_copy) {
    // A packing that failed after the rename (303, or a packer that could not be loaded)
    // leaves this run's copy under its packing name; the payment file itself is untouched.
    try {
      if (!FileExists(*work_copy)) Remove(RenamedWorkFile(z));
    } catch (const RuntimeFailure&) {
    }
  }
  if (work_copy && (!options.keep_work || !options.pack)) Remove(*work_copy);
  return report;
}

Verdict Validate(const std::string& file, const ValidateOptions& options) {
  return ValidateFile(file, options, false).verdict;
}

std::string MessageText(int number) {
  if (number < INT16_MIN || number > INT16_MAX) return {};
  return Cp1252ToUtf8(std::string(CatalogText(static_cast<std::int16_t>(number))));
}

}  // namespace zav
