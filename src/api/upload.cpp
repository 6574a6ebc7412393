#include "api/upload.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <fstream>
#include <memory>
#include <mutex>

#include "basic/conversions.hpp"
#include "basic/cp1252.hpp"
#include "basic/numeric_text.hpp"
#include "basic/runtime_failure.hpp"
#include "control/zav.hpp"
#include "files/zip_packing.hpp"
#include "platform/zip_library.hpp"
#include "records/record_06.hpp"
#include "validation/file_driver.hpp"

namespace zav {

namespace fs = std::filesystem;

namespace {

// 33501e01.m1.s0870.r<registration 11>.f<folio 6>.p<YYYYMM>.e999.zip, by offset.
constexpr std::string_view kNamePrefix = "33501e01.m1.s0870.r";
constexpr std::string_view kNameSuffix = ".e999.zip";
constexpr std::size_t kRegistrationAt = 19, kFolioAt = 32, kPeriodAt = 40;
constexpr std::size_t kNameLength = 55;
constexpr std::size_t kRecordLength = 295;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetterOrDigit(char c) {
  return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

template <typename Test>
bool All(std::string_view text, Test test) {
  for (const char c : text) {
    if (!test(c)) return false;
  }
  return true;
}

// A name a file inside the archive may have: letters, digits, '.', '_' and '-', not
// starting with '.', so never a path, a hidden file or "..".
bool IsPlainName(std::string_view name) {
  return !name.empty() && name.size() <= 255 && name.front() != '.' &&
         All(name, [](char c) { return IsLetterOrDigit(c) || c == '.' || c == '_' || c == '-'; });
}

// The refusal of a file that lies about itself or is not one file: 400.
UploadAnswer BadArchive(std::string error) { return Refusal(400, "bad_archive", std::move(error)); }

std::optional<UploadAnswer> Unpack(std::string_view archive, const fs::path& target,
                                   const UploadLimits& limits) {
  const std::uint64_t max_file_bytes = limits.max_file_bytes;
  const ZipLibrary* zip = LoadZipLibrary();
  if (zip == nullptr) {
    return Refusal(500, "server_error",
                   "the server cannot read archives: " + LoadZipLibraryError());
  }
  zip_error_t error;
  zip->zip_error_init(&error);
  zip_source_t* source = zip->zip_source_buffer_create(archive.data(), archive.size(), 0, &error);
  zip_t* za = source != nullptr
                  ? zip->zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error)
                  : nullptr;
  zip->zip_error_fini(&error);
  if (za == nullptr) {
    if (source != nullptr) zip->zip_source_free(source);
    return BadArchive("the upload is not a zip archive");
  }
  const std::unique_ptr<zip_t, decltype(zip->zip_discard)> archive_guard(za, zip->zip_discard);

  if (zip->zip_get_num_entries(za, 0) != 1)
    return BadArchive("the archive must hold exactly one file");
  zip_stat_t st;
  zip->zip_stat_init(&st);
  if (zip->zip_stat_index(za, 0, 0, &st) != 0 || (st.valid & ZIP_STAT_NAME) == 0 ||
      !IsPlainName(st.name)) {
    return BadArchive("the file in the archive must have a plain name");
  }
  zip_uint8_t opsys = 0;
  zip_uint32_t attributes = 0;
  if (zip->zip_file_get_external_attributes(za, 0, 0, &opsys, &attributes) == 0 &&
      opsys == ZIP_OPSYS_UNIX) {
    const zip_uint32_t type = (attributes >> 16) & S_IFMT;
    if (type != 0 && type != S_IFREG) return BadArchive("the archive must hold a regular file");
  }
  if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) != 0 && st.encryption_method != ZIP_EM_NONE) {
    return BadArchive("the file in the archive must not be encrypted");
  }
  if ((st.valid & ZIP_STAT_COMP_METHOD) == 0 ||
      !zip->zip_compression_method_supported(st.comp_method, 0)) {
    return BadArchive("the file in the archive is packed in an unknown way");
  }
  const std::string too_large =
      "the file in the archive is larger than " + std::to_string(max_file_bytes) + " bytes";
  if ((st.valid & ZIP_STAT_SIZE) != 0 && st.size > max_file_bytes) {
    return Refusal(413, "too_large", too_large);
  }
  // The packed size bounds what a payment file may unpack to; the archive's own size
  // bounds the packed size it declares.
  const std::uint64_t packed = (st.valid & ZIP_STAT_COMP_SIZE) != 0
                                   ? std::min<std::uint64_t>(st.comp_size, archive.size())
                                   : archive.size();
  const std::uint64_t ratio_limit = UnpackBound(packed, limits);

  zip_file_t* file = zip->zip_fopen_index(za, 0, 0);
  if (file == nullptr) return BadArchive("the file in the archive cannot be read");
  const std::unique_ptr<zip_file_t, decltype(zip->zip_fclose)> file_guard(file, zip->zip_fclose);
  std::ofstream out(target, std::ios::binary);
  std::uint64_t total = 0;
  char buffer[1 << 16];
  for (;;) {
    const zip_int64_t n = zip->zip_fread(file, buffer, sizeof buffer);
    if (n < 0) {
      return BadArchive("the archive is damaged: " + std::string(zip->zip_file_strerror(file)));
    }
    if (n == 0) break;
    // The size the archive declares is not trusted: the bytes are counted as they come.
    total += static_cast<std::uint64_t>(n);
    if (total > max_file_bytes) return Refusal(413, "too_large", too_large);
    if (total > ratio_limit) {
      return Refusal(413, "too_large",
                     "the file in the archive unpacks to more than " +
                         std::to_string(limits.max_unpack_ratio) + " times its packed size");
    }
    out.write(buffer, static_cast<std::streamsize>(n));
  }
  out.close();
  if (!out) return Refusal(500, "server_error", "the server could not unpack the archive");
  return std::nullopt;
}

// The diskette count the file's last record declares (1 when it cannot be read as one):
// the file arrives joined, and only the page saw its diskettes.
std::int16_t DiskettesIn(const fs::path& file) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(file, ec);
  if (ec) return 1;
  const double records = RoundHalfEven(static_cast<double>(size) / kRecordLength);
  if (records < 1) return 1;
  std::ifstream in(file, std::ios::binary);
  in.seekg(static_cast<std::streamoff>((records - 1) * kRecordLength) + record06::kDiscos.start -
           1);
  char field[record06::kDiscos.length];
  in.read(field, sizeof field);
  if (in.gcount() != static_cast<std::streamsize>(sizeof field)) return 1;
  const double value = LeadingValue(std::string_view(field, sizeof field));
  if (value < 0 || value > 32767 || value != std::floor(value)) return 1;
  return static_cast<std::int16_t>(value);
}

std::string FolderText(const fs::path& folder) { return Utf8ToCp1252(folder.native() + "/"); }

std::string Trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return std::string(text);
}

// The control's packing records are library-wide: one packing at a time.
std::mutex& PackingTurn() {
  static std::mutex turn;
  return turn;
}

std::variant<ValidUpload, UploadAnswer> Validate(std::string_view name, const fs::path& file,
                                                 const std::string& server_date) {
  const fs::path folder = file.parent_path();
  const std::string archive_name(name);
  ZAV z;
  z.bgGerencia = false;
  z.igToler = 0;
  z.OrigenArchi = FolderText(folder);
  z.DestinoArchi = z.OrigenArchi;
  z.FinalArchi = Utf8ToCp1252(file.filename().native());
  z.OrigenNombre = archive_name.substr(0, archive_name.size() - 3) + "zav";
  z.NumDiscos = DiskettesIn(file);

  std::string result = RunValidation(z, server_date, RunOptions{false});
  ValidUpload valid;
  std::string expected;
  std::int32_t failure = z.working().last_failure_number;
  std::string failure_description = z.working().last_failure_description;
  if (result == "0") {
    try {
      valid.capture_line = Cp1252ToUtf8(z.LineaDeCaptura());
      expected = Cp1252ToUtf8(z.sArchZAVZip());
      valid.rfc = Cp1252ToUtf8(Trimmed(z.sRFCPatron));
    } catch (const RuntimeFailure& f) {
      result = "5";
      failure = f.number();
      failure_description = f.description();
    }
  }
  if (result != "0") {
    UploadAnswer answer = Refusal(422, "rejected", "the payment file was not accepted");
    if (result == "5") {
      answer.body["failure"] = {{"number", failure}, {"description", failure_description}};
    } else {
      if (z.working().last_message != 0) answer.body["message"] = z.working().last_message;
      answer.body["text"] = Cp1252ToUtf8(result);
    }
    return answer;
  }
  if (expected != name) {
    UploadAnswer answer =
        Refusal(422, "wrong_name", "the archive name does not match the payment file");
    answer.body["expected"] = expected;
    return answer;
  }

  // Packed as the control packs a validated file: under its packing name, into the archive
  // of the name beside it.
  const fs::path packing_name = folder / (archive_name.substr(0, archive_name.size() - 3) + "zav");
  valid.archive = folder / archive_name;
  std::error_code ec;
  fs::rename(file, packing_name, ec);
  std::int16_t packed = -1;
  if (!ec) {
    const std::lock_guard<std::mutex> turn(PackingTurn());
    packed = EmpacaArchivo(FolderText(folder) + archive_name, Utf8ToCp1252(packing_name.native()));
  }
  if (packed != 0)
    return Refusal(500, "server_error", "the server could not pack the payment file");
  return valid;
}

}  // namespace

std::int16_t DeclaredDiskettes(const fs::path& file) { return DiskettesIn(file); }

UploadAnswer Refusal(int status, std::string_view cause, std::string error) {
  UploadAnswer answer;
  answer.status = status;
  answer.body["error"] = std::move(error);
  answer.body["cause"] = cause;
  return answer;
}

bool IsArchiveName(std::string_view name) {
  if (name.size() != kNameLength || !name.starts_with(kNamePrefix) ||
      !name.ends_with(kNameSuffix) || name.substr(kFolioAt - 2, 2) != ".f" ||
      name.substr(kPeriodAt - 2, 2) != ".p") {
    return false;
  }
  return All(name.substr(kRegistrationAt, 11), IsLetterOrDigit) &&
         All(name.substr(kFolioAt, 6), IsDigit) && All(name.substr(kPeriodAt, 6), IsDigit);
}

std::string_view ArchiveRegistration(std::string_view name) {
  return name.substr(kRegistrationAt, 11);
}

// A letter, the last two digits of the period year, the period month, and characters 3, 7
// and 9 of the registration.
std::string WorkName(std::string_view name) {
  const std::string_view registration = ArchiveRegistration(name);
  std::string work = "P";
  work += name.substr(kPeriodAt + 2, 4);
  work += registration[2];
  work += registration[6];
  work += registration[8];
  return work + ".ZAV";
}

std::string LocalDate(const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, format, &local);
  return text;
}

std::string ServerDate() { return LocalDate("%d/%m/%Y"); }

std::uint64_t UnpackBound(std::uint64_t body_bytes, const UploadLimits& limits) {
  const std::uint64_t ratio = std::max<std::uint64_t>(1, limits.max_unpack_ratio);
  const std::uint64_t by_ratio = body_bytes > UINT64_MAX / ratio ? UINT64_MAX : body_bytes * ratio;
  return std::min(limits.max_file_bytes, std::max(kAlwaysUnpacked, by_ratio));
}

std::optional<UploadAnswer> UnpackUpload(std::string_view archive, const fs::path& file,
                                         const UploadLimits& limits) {
  if (archive.size() > limits.max_archive_bytes) {
    return Refusal(
        413, "too_large",
        "the archive is larger than " + std::to_string(limits.max_archive_bytes) + " bytes");
  }
  try {
    return Unpack(archive, file, limits);
  } catch (const std::exception&) {
    return Refusal(500, "server_error", "the server could not unpack the archive");
  }
}

std::variant<ValidUpload, UploadAnswer> ValidateUpload(std::string_view name, const fs::path& file,
                                                       const std::string& server_date) {
  try {
    return Validate(name, file, server_date);
  } catch (const std::exception&) {
    return Refusal(500, "server_error", "the server could not check the archive");
  }
}

}  // namespace zav
