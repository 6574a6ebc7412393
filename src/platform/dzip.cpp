#include "platform/dzip.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "basic/cp1252.hpp"
#include "basic/runtime_failure.hpp"
#include "platform/chunked_deflate.hpp"
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

// The file's entry data for the zip library, already deflated (chunked_deflate.hpp): the
// library copies it as it comes and takes the CRC-32 and the sizes from the last stat. The
// entry's time and attributes are the file's, as the library's own file source gives them.
class DeflatedSource {
 public:
  DeflatedSource(const ZipLibrary& zip, const Zlib& zlib, int fd, const struct stat& info,
                 int threads)
      : zip_(zip), zlib_(zlib), fd_(fd), info_(info), threads_(threads) {
    zip.zip_error_init(&error_);
  }
  ~DeflatedSource() { zip_.zip_error_fini(&error_); }
  DeflatedSource(const DeflatedSource&) = delete;
  DeflatedSource& operator=(const DeflatedSource&) = delete;

  static zip_int64_t Callback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t cmd) {
    return static_cast<DeflatedSource*>(state)->Command(data, length, cmd);
  }

 private:
  zip_int64_t Command(void* data, zip_uint64_t length, zip_source_cmd_t cmd) {
    switch (cmd) {
      case ZIP_SOURCE_OPEN:
        try {
          done_ = false;
          deflate_ = std::make_unique<ChunkedDeflate>(
              zlib_, fd_, static_cast<std::uint64_t>(info_.st_size), PackingLevel(), threads_);
          return 0;
        } catch (const std::exception&) {
          return Failed(ZIP_ER_MEMORY);
        }
      case ZIP_SOURCE_READ:
        try {
          const std::size_t n = deflate_->Read(static_cast<unsigned char*>(data), length);
          if (n == 0 && !done_) {
            done_ = true;
            crc_ = deflate_->crc();
            compressed_ = deflate_->compressed_size();
          }
          return static_cast<zip_int64_t>(n);
        } catch (const std::exception&) {
          return Failed(ZIP_ER_READ);
        }
      case ZIP_SOURCE_CLOSE:
        deflate_.reset();  // stops and joins its threads
        return 0;
      case ZIP_SOURCE_STAT: {
        auto* st = static_cast<zip_stat_t*>(data);
        if (length < sizeof(*st)) return Failed(ZIP_ER_INVAL);
        zip_.zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_MTIME;
        st->size = static_cast<zip_uint64_t>(info_.st_size);
        st->comp_method = ZIP_CM_DEFLATE;
        st->mtime = info_.st_mtime;
        if (done_) {
          st->valid |= ZIP_STAT_CRC | ZIP_STAT_COMP_SIZE;
          st->crc = crc_;
          st->comp_size = compressed_;
        }
        return sizeof(*st);
      }
      case ZIP_SOURCE_GET_FILE_ATTRIBUTES: {
        auto* attributes = static_cast<zip_file_attributes_t*>(data);
        if (length < sizeof(*attributes)) return Failed(ZIP_ER_INVAL);
        zip_.zip_file_attributes_init(attributes);
        attributes->valid =
            ZIP_FILE_ATTRIBUTES_HOST_SYSTEM | ZIP_FILE_ATTRIBUTES_EXTERNAL_FILE_ATTRIBUTES;
        attributes->host_system = ZIP_OPSYS_UNIX;
        attributes->external_file_attributes = static_cast<zip_uint32_t>(info_.st_mode) << 16 |
                                               ((info_.st_mode & S_IWUSR) != 0 ? 0 : 1);
        return sizeof(*attributes);
      }
      case ZIP_SOURCE_ERROR:
        return zip_.zip_error_to_data(&error_, data, length);
      case ZIP_SOURCE_FREE:
        return 0;  // the state lives on the writer's stack
      case ZIP_SOURCE_SUPPORTS:
        return ZIP_SOURCE_SUPPORTS_READABLE |
               ZIP_SOURCE_MAKE_COMMAND_BITMASK(ZIP_SOURCE_GET_FILE_ATTRIBUTES);
      default:
        return Failed(ZIP_ER_OPNOTSUPP);
    }
  }

  zip_int64_t Failed(int code) {
    zip_.zip_error_set(&error_, code, 0);
    return -1;
  }

  const ZipLibrary& zip_;
  const Zlib& zlib_;
  const int fd_;
  const struct stat info_;
  const int threads_;
  zip_error_t error_;
  std::unique_ptr<ChunkedDeflate> deflate_;
  bool done_ = false;
  std::uint32_t crc_ = 0;
  std::uint64_t compressed_ = 0;
};

// The library's error on `za`, or `otherwise` when it has none.
int ErrorOf(const ZipLibrary& zip, zip_t* za, int otherwise) {
  const int error = zip.zip_error_code_zip(zip.zip_get_error(za));
  return error != ZIP_ER_OK ? error : otherwise;
}

// An open file descriptor, closed with its owner.
struct FileHandle {
  int fd;
  ~FileHandle() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

int WriteZipArchive(const fs::path& archive, const fs::path& file, const std::string& entry_name,
                    int threads) {
  const ZipLibrary* zip = LoadZipLibrary();
  const Zlib* zlib = LoadZlib();
  if (zip == nullptr || zlib == nullptr) return ZIP_ER_INTERNAL;
  const FileHandle in{open(file.c_str(), O_RDONLY | O_CLOEXEC)};
  struct stat info {};
  if (in.fd < 0 || fstat(in.fd, &info) != 0) return ZIP_ER_OPEN;
  DeflatedSource state(*zip, *zlib, in.fd, info, threads);

  int error = ZIP_ER_OK;
  zip_t* za = zip->zip_open(archive.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (za == nullptr) return error != ZIP_ER_OK ? error : ZIP_ER_OPEN;
  zip_source_t* source = zip->zip_source_function(za, &DeflatedSource::Callback, &state);
  if (source == nullptr ||
      zip->zip_file_add(za, entry_name.c_str(), source, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE) < 0) {
    error = ErrorOf(*zip, za, ZIP_ER_INTERNAL);
    if (source != nullptr) zip->zip_source_free(source);
    zip->zip_discard(za);
    return error;
  }
  if (zip->zip_close(za) != 0) {
    error = ErrorOf(*zip, za, ZIP_ER_WRITE);
    zip->zip_discard(za);
    return error;
  }
  return ZIP_ER_OK;
}

std::int32_t dzipVB(unsigned char* numeric_record, char* text_record, std::int32_t* status) {
  // The library is loaded at its first call: one that cannot be, or that lacks a function,
  // fails the call itself, as a missing library or entry does, before it answers anything.
  if (LoadZipLibrary() == nullptr || LoadZlib() == nullptr) {
    if (!ZipLibraryFound()) {
      throw RuntimeFailure(err::kFileNotFound, "File not found: " + LoadZipLibraryError());
    }
    throw RuntimeFailure(err::kDllFunctionNotFound,
                         "Specified DLL function not found: " + LoadZipLibraryError());
  }
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
    PendingFile pending(archive);
    const int error =
        WriteZipArchive(pending.path(), file, NativeName(GetFileName(file_path)), PackingThreads());
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
