// The upload entry: an upload unpacked and checked as `zav serve` does, what it stores
// checked again by a control of its own.
#include "api/upload.hpp"

#include <zip.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <variant>

#include "api/validate_file.hpp"
#include "basic/conversions.hpp"
#include "basic/numeric_text.hpp"
#include "entries.hpp"
#include "platform/record_file.hpp"
#include "records/record_06.hpp"
#include "support.hpp"

namespace zav::fuzz {

namespace fs = std::filesystem;

namespace {

// A zip archive holding `bytes` as its one entry `name`, deflated or stored.
std::string ZipOf(const fs::path& scratch, const std::string& name, std::string_view bytes,
                  bool stored) {
  const fs::path archive = scratch / "packed.zip";
  int error = 0;
  zip_t* za = zip_open(archive.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (za == nullptr) Broken("cannot write a zip archive");
  zip_source_t* source = zip_source_buffer(za, bytes.data(), bytes.size(), 0);
  const zip_int64_t index =
      source != nullptr ? zip_file_add(za, name.c_str(), source, ZIP_FL_ENC_GUESS) : -1;
  if (index < 0 ||
      zip_set_file_compression(za, static_cast<zip_uint64_t>(index),
                               stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 1) != 0 ||
      zip_close(za) != 0) {
    if (source != nullptr && index < 0) zip_source_free(source);
    zip_discard(za);
    return {};  // a name the zip library will not take: an upload of nothing
  }
  const std::string packed = ReadAll(archive);
  fs::remove(archive);
  return packed;
}

// The diskettes the last record of `file` declares, read as the upload check reads them (1
// when they cannot be): the control is asked to expect that many.
int DeclaredDiskettes(std::string_view file) {
  const double records =
      RoundHalfEven(static_cast<double>(file.size()) / RecordFile::kRecordLength);
  if (records < 1) return 1;
  const std::size_t at = static_cast<std::size_t>(records - 1) * RecordFile::kRecordLength +
                         record06::kDiscos.start - 1;
  if (at + record06::kDiscos.length > file.size()) return 1;
  const double value = LeadingValue(file.substr(at, record06::kDiscos.length));
  if (value < 0 || value > 32767 || value != std::floor(value)) return 1;
  return static_cast<int>(value);
}

}  // namespace

void UploadInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  if (in.size() < 56) return;
  const auto options = static_cast<std::uint8_t>(Take(in, 1)[0]);
  const std::string name(Take(in, 55));
  if (!IsArchiveName(name)) return;  // the server refuses such a name before it looks inside
  Scope scope;
  const fs::path work = scope.box().c() / "work";
  const fs::path scratch = scope.box().c() / "scratch";
  fs::create_directories(work);
  fs::create_directories(scratch);
  const std::string upload =
      (options & 1) != 0 ? std::string(in)
                         : ZipOf(scratch, name.substr(0, 52) + "zav", in, (options & 2) != 0);

  const fs::path file = work / WorkName(name);
  UploadLimits limits;
  limits.max_file_bytes = std::uint64_t{16} << 20;
  if (UnpackUpload(upload, file, limits)) return;
  const std::string received = ReadAll(file);
  const auto checked = ValidateUpload(name, file, "10/05/2004");
  if (std::holds_alternative<UploadAnswer>(checked)) {
    if (fs::exists(work / name)) Broken("a refused upload left an archive");
    return;
  }
  const ValidUpload& valid = std::get<ValidUpload>(checked);
  const auto entries = ZipEntries(valid.archive);
  if (!entries || entries->size() != 1) Broken("a stored upload is not an archive of one file");
  if (entries->front().second != received) Broken("the stored archive is not the received file");
  // A control of its own, on the stored bytes.
  const fs::path stored = scratch / WorkName(name);
  WriteAll(stored, entries->front().second);
  ValidateOptions check;
  check.server_date = "10/05/2004";
  check.work_dir = (scratch / "control").native();
  check.disks = DeclaredDiskettes(entries->front().second);
  check.pack = false;
  if (!ValidateFile(stored.native(), check, false).verdict.accepted) {
    Broken("the check stored a file the control does not accept");
  }
}

}  // namespace zav::fuzz
