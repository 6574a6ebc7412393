#include "platform/dzip.hpp"

#include <filesystem>
#include <string>
#include <string_view>

#include "basic/cp1252.hpp"
#include "basic/runtime_failure.hpp"
#include "platform/drives.hpp"
#include "platform/file_system.hpp"
#include "platform/zip_library.hpp"

namespace zav {

namespace fs = std::filesystem;

namespace {

std::uint32_t Get32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Field `field` of the text record without its trailing blanks.
std::string_view TextField(const char* text_record, int field) {
  std::string_view value(text_record + ZipTextFieldOffset(field),
                         kZipTextFieldLengths[static_cast<std::size_t>(field - 1)]);
  while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
  return value;
}

// Writes the archive at `archive` holding `file` under `entry_name`; 0 or a libzip error.
int WriteArchive(const ZipLibrary& zip, const fs::path& archive, const fs::path& file,
                 const std::string& entry_name) {
  int error = ZIP_ER_OK;
  zip_t* za = zip.zip_open(archive.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (za == nullptr) return error != ZIP_ER_OK ? error : ZIP_ER_OPEN;
  // The file is read as the archive is written, never held whole.
  zip_source_t* source = zip.zip_source_file(za, file.c_str(), 0, 0);
  zip_int64_t index = -1;
  if (source == nullptr || (index = zip.zip_file_add(za, entry_name.c_str(), source,
                                                     ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE)) < 0) {
    error = zip.zip_error_code_zip(zip.zip_get_error(za));
    if (source != nullptr) zip.zip_source_free(source);
    zip.zip_discard(za);
    return error != ZIP_ER_OK ? error : ZIP_ER_INTERNAL;
  }
  // Deflate at the usual level of zip tools (6): libzip's own default is the slowest (9),
  // several times slower for an archive a few percent smaller.
  if (zip.zip_set_file_compression(za, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 6) != 0) {
    error = zip.zip_error_code_zip(zip.zip_get_error(za));
    zip.zip_discard(za);
    return error != ZIP_ER_OK ? error : ZIP_ER_INTERNAL;
  }
  if (zip.zip_close(za) != 0) {
    error = zip.zip_error_code_zip(zip.zip_get_error(za));
    zip.zip_discard(za);
    return error != ZIP_ER_OK ? error : ZIP_ER_WRITE;
  }
  return ZIP_ER_OK;
}

}  // namespace

std::int32_t dzipVB(unsigned char* numeric_record, char* text_record, std::int32_t* status) {
  std::int32_t ignored = 0;
  std::int32_t& outcome = status != nullptr ? *status : ignored;
  outcome = 0;
  if (numeric_record == nullptr || text_record == nullptr ||
      Get32(numeric_record) != kZipNumericRecordSize ||
      Get32(numeric_record + 4) != static_cast<std::uint32_t>(kZipOperationPack)) {
    return dzip::kBadCommand;
  }
  const std::string_view archive_path = TextField(text_record, 1);
  const std::string_view file_path = TextField(text_record, 2);
  if (archive_path.empty() || file_path.empty()) return dzip::kBadCommand;
  fs::path file;
  try {
    file = ResolvePath(file_path);
  } catch (const RuntimeFailure& failure) {
    outcome = failure.number();
    return dzip::kNoFile;
  }
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) {
    outcome = err::kFileNotFound;
    return dzip::kNoFile;
  }
  try {
    const fs::path archive = ResolvePath(archive_path);
    const ZipLibrary* zip = LoadZipLibrary();
    if (zip == nullptr) {
      outcome = ZIP_ER_INTERNAL;
      return dzip::kCannotWrite;
    }
    PendingFile pending(archive);
    const int error = WriteArchive(*zip, pending.path(), file, NativeName(GetFileName(file_path)));
    if (error != ZIP_ER_OK) {
      outcome = error;
      return dzip::kCannotWrite;
    }
    pending.Commit();
    return 0;
  } catch (const RuntimeFailure& failure) {
    outcome = failure.number();
    return dzip::kCannotWrite;
  }
}

}  // namespace zav
