#include "host/upload.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <ctime>
#include <fstream>
#include <memory>
#include <optional>

#include "basic/conversions.hpp"
#include "basic/cp1252.hpp"
#include "basic/numeric_text.hpp"
#include "basic/runtime_failure.hpp"
#include "control/zav.hpp"
#include "platform/zip_library.hpp"
#include "records/record_06.hpp"
#include "validation/file_driver.hpp"

namespace zav {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

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

UploadAnswer Refuse(int status, std::string error) {
  UploadAnswer answer;
  answer.status = status;
  answer.body["error"] = std::move(error);
  return answer;
}

// A name a file inside the archive may have: letters, digits, '.', '_' and '-', not
// starting with '.', so never a path, a hidden file or "..".
bool IsPlainName(std::string_view name) {
  return !name.empty() && name.size() <= 255 && name.front() != '.' &&
         All(name, [](char c) { return IsLetterOrDigit(c) || c == '.' || c == '_' || c == '-'; });
}

// A fresh folder under `parent`, removed with everything in it at the end of its life.
class CheckFolder {
 public:
  explicit CheckFolder(const fs::path& parent) {
    std::string pattern = (parent / ".check-XXXXXX").native();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~CheckFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  CheckFolder(const CheckFolder&) = delete;
  CheckFolder& operator=(const CheckFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Takes the one file of `archive` out into `target`. Answers the refusal, if any.
std::optional<UploadAnswer> Unpack(std::string_view archive, const fs::path& target,
                                   std::uint64_t max_file_bytes) {
  const ZipLibrary* zip = LoadZipLibrary();
  if (zip == nullptr) {
    return Refuse(500, "the server cannot read archives: " + LoadZipLibraryError());
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
    return Refuse(400, "the upload is not a zip archive");
  }
  const std::unique_ptr<zip_t, decltype(zip->zip_discard)> archive_guard(za, zip->zip_discard);

  if (zip->zip_get_num_entries(za, 0) != 1) {
    return Refuse(400, "the archive must hold exactly one file");
  }
  zip_stat_t st;
  zip->zip_stat_init(&st);
  if (zip->zip_stat_index(za, 0, 0, &st) != 0 || (st.valid & ZIP_STAT_NAME) == 0 ||
      !IsPlainName(st.name)) {
    return Refuse(400, "the file in the archive must have a plain name");
  }
  zip_uint8_t opsys = 0;
  zip_uint32_t attributes = 0;
  if (zip->zip_file_get_external_attributes(za, 0, 0, &opsys, &attributes) == 0 &&
      opsys == ZIP_OPSYS_UNIX) {
    const zip_uint32_t type = (attributes >> 16) & S_IFMT;
    if (type != 0 && type != S_IFREG) return Refuse(400, "the archive must hold a regular file");
  }
  if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) != 0 && st.encryption_method != ZIP_EM_NONE) {
    return Refuse(400, "the file in the archive must not be encrypted");
  }
  if ((st.valid & ZIP_STAT_COMP_METHOD) == 0 ||
      !zip->zip_compression_method_supported(st.comp_method, 0)) {
    return Refuse(400, "the file in the archive is packed in an unknown way");
  }
  const std::string too_large =
      "the file in the archive is larger than " + std::to_string(max_file_bytes) + " bytes";
  if ((st.valid & ZIP_STAT_SIZE) != 0 && st.size > max_file_bytes) return Refuse(413, too_large);

  zip_file_t* file = zip->zip_fopen_index(za, 0, 0);
  if (file == nullptr) return Refuse(400, "the file in the archive cannot be read");
  const std::unique_ptr<zip_file_t, decltype(zip->zip_fclose)> file_guard(file, zip->zip_fclose);
  std::ofstream out(target, std::ios::binary);
  std::uint64_t total = 0;
  char buffer[1 << 16];
  for (;;) {
    const zip_int64_t n = zip->zip_fread(file, buffer, sizeof buffer);
    if (n < 0)
      return Refuse(400, "the archive is damaged: " + std::string(zip->zip_file_strerror(file)));
    if (n == 0) break;
    // The size the archive declares is not trusted: the bytes are counted as they come.
    total += static_cast<std::uint64_t>(n);
    if (total > max_file_bytes) return Refuse(413, too_large);
    out.write(buffer, static_cast<std::streamsize>(n));
  }
  out.close();
  if (!out) return Refuse(500, "the server could not unpack the archive");
  return std::nullopt;
}

// The diskette count the file's last record declares (1 when it cannot be read as one):
// the file arrives joined, and only the page saw its diskettes.
std::int16_t DeclaredDiskettes(const fs::path& file) {
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

// The work name a page would give the file: a letter, the last two digits of the period
// year, the period month, and characters 3, 7 and 9 of the registration.
std::string WorkName(std::string_view name) {
  const std::string_view registration = name.substr(kRegistrationAt, 11);
  std::string work = "P";
  work += name.substr(kPeriodAt + 2, 4);
  work += registration[2];
  work += registration[6];
  work += registration[8];
  return work + ".ZAV";
}

std::string FolderText(const fs::path& folder) { return Utf8ToCp1252(folder.native() + "/"); }

// Writes `bytes` under a hidden temporary name in `folder`, flushes it, and links it in as
// `name`. Answers the refusal, if any.
std::optional<UploadAnswer> Store(std::string_view bytes, const fs::path& folder,
                                  const std::string& name) {
  std::string temp = (folder / ".upload-XXXXXX").native();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return Refuse(500, "the server could not store the archive");
  ::fchmod(fd, 0644);
  bool written = true;
  for (std::size_t done = 0; written && done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (written) done += static_cast<std::size_t>(n);
  }
  written = written && ::fsync(fd) == 0;
  written = ::close(fd) == 0 && written;
  const std::string target = (folder / name).native();
  const int linked = written ? ::link(temp.c_str(), target.c_str()) : -1;
  const int link_error = errno;
  ::unlink(temp.c_str());
  if (linked != 0) {
    if (written && link_error == EEXIST) {
      return Refuse(409, "an archive of this name has been received already");
    }
    return Refuse(500, "the server could not store the archive");
  }
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return std::nullopt;
}

UploadAnswer Check(std::string_view name, std::string_view archive, const std::string& server_date,
                   const fs::path& upload_dir, const UploadLimits& limits) {
  if (!IsArchiveName(name)) {
    return Refuse(400,
                  "the archive name must be 33501e01.m1.s0870.r<registration>.f<folio>"
                  ".p<YYYYMM>.e999.zip");
  }
  if (archive.size() > limits.max_archive_bytes) {
    return Refuse(
        413, "the archive is larger than " + std::to_string(limits.max_archive_bytes) + " bytes");
  }
  const std::string archive_name(name);
  std::error_code ec;
  if (fs::exists(upload_dir / archive_name, ec)) {
    return Refuse(409, "an archive of this name has been received already");
  }

  const CheckFolder folder(upload_dir);
  if (folder.path().empty()) return Refuse(500, "the server has no room to check the archive");
  const std::string work_name = WorkName(name);
  const fs::path work_file = folder.path() / work_name;
  if (auto refusal = Unpack(archive, work_file, limits.max_file_bytes)) return *refusal;

  ZAV z;
  z.bgGerencia = false;
  z.igToler = 0;
  z.OrigenArchi = FolderText(folder.path());
  z.DestinoArchi = z.OrigenArchi;
  z.FinalArchi = work_name;
  z.OrigenNombre = archive_name.substr(0, archive_name.size() - 3) + "zav";
  z.NumDiscos = DeclaredDiskettes(work_file);

  std::string result = RunValidation(z, server_date, RunOptions{false});
  std::string capture_line, expected;
  std::int32_t failure = z.working().last_failure_number;
  std::string failure_description = z.working().last_failure_description;
  if (result == "0") {
    try {
      capture_line = Cp1252ToUtf8(z.LineaDeCaptura());
      expected = Cp1252ToUtf8(z.sArchZAVZip());
    } catch (const RuntimeFailure& f) {
      result = "5";
      failure = f.number();
      failure_description = f.description();
    }
  }
  if (result != "0") {
    UploadAnswer answer = Refuse(422, "the payment file was not accepted");
    if (result == "5") {
      answer.body["failure"] = {{"number", failure}, {"description", failure_description}};
    } else {
      if (z.working().last_message != 0) answer.body["message"] = z.working().last_message;
      answer.body["text"] = Cp1252ToUtf8(result);
    }
    return answer;
  }
  if (expected != name) {
    UploadAnswer answer = Refuse(422, "the archive name does not match the payment file");
    answer.body["expected"] = expected;
    return answer;
  }

  if (auto refusal = Store(archive, upload_dir, archive_name)) return *refusal;
  UploadAnswer answer;
  answer.status = 201;
  answer.body["capture_line"] = capture_line;
  answer.body["archive"] = archive_name;
  return answer;
}

}  // namespace

bool IsArchiveName(std::string_view name) {
  if (name.size() != kNameLength || !name.starts_with(kNamePrefix) ||
      !name.ends_with(kNameSuffix) || name.substr(kFolioAt - 2, 2) != ".f" ||
      name.substr(kPeriodAt - 2, 2) != ".p") {
    return false;
  }
  return All(name.substr(kRegistrationAt, 11), IsLetterOrDigit) &&
         All(name.substr(kFolioAt, 6), IsDigit) && All(name.substr(kPeriodAt, 6), IsDigit);
}

std::string ServerDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%d/%m/%Y", &local);
  return text;
}

UploadAnswer HandleUpload(std::string_view name, std::string_view archive,
                          const std::string& server_date, const fs::path& upload_dir,
                          const UploadLimits& limits) {
  try {
    return Check(name, archive, server_date, upload_dir, limits);
  } catch (const std::exception&) {
    return Refuse(500, "the server could not check the archive");
  }
}

}  // namespace zav
