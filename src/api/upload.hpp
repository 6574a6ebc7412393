// Checking an uploaded payment archive, as `zav serve` does. The server trusts nothing the
// page did: it takes the one file out of the archive, validates it again with a control of
// its own and its own date, and packs the validated file itself; what it stores is that
// archive, never the bytes it received. Storing, who may upload and the HTTP side are the
// server's (apps/zav-serve/); the answers are listed there (apps/zav/serve.hpp).
//
// The archive name is 33501e01.m1.s0870.r<registration>.f<folio>.p<YYYYMM>.e999.zip: the
// registration 11 letters or digits, the folio 6 digits, the period year and month 6
// digits; compared exactly, case included. The archive holds one regular file, whatever
// its (plain) name; the page's packing names it like the archive with "zav" for "zip".
//
// UnpackUpload takes that file out, counting its real size (not the size the archive
// declares) and refusing one that unpacks to more than the limits' ratio times its packed
// size (nothing a payment file does, what an archive made to fill the disk does).
// UnpackBound is the most it may write for a body of a given size, known before the body.
// ValidateUpload then validates it where it lies, by a new control on native paths, as a
// page would: work name derived from the archive name, source name the archive name with
// "zav" for "zip", no management mode, tolerance 0, the diskette count the file declares
// (the server cannot know the diskettes the file came on), the given server date. When the
// control accepts the file under the very name it came with, the file is renamed to its
// packing name and packed by the control's own packing into an archive of that name beside
// it (packings of different threads take turns: the packing's records are library-wide).
//
// Neither touches other process-wide state (no environment, no drive table): several
// checks may run at once, on different threads, each in its own folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace zav {

// A file may unpack to this many times its packed size by default, and always to 1 MiB.
// Payment files are fixed-width text: the sample file of 100 000 workers packs 9 times; 100
// leaves room for far more regular ones and refuses what is made to fill the disk.
inline constexpr std::uint64_t kMaxUnpackRatio = 100;
inline constexpr std::uint64_t kAlwaysUnpacked = std::uint64_t{1} << 20;

struct UploadLimits {
  std::uint64_t max_archive_bytes = std::uint64_t{64} << 20;  // the body
  // The file inside, unpacked: a payment file of 1 000 000 workers (295 MB) and some room.
  std::uint64_t max_file_bytes = std::uint64_t{320} << 20;
  std::uint64_t max_unpack_ratio = kMaxUnpackRatio;
};

// The most UnpackUpload writes for a body of `body_bytes` bytes.
std::uint64_t UnpackBound(std::uint64_t body_bytes, const UploadLimits& limits);

// An answer of the server: its status and JSON body. A refusal's body is
// {"error": TEXT, "cause": CAUSE}, CAUSE one word naming the kind of refusal.
struct UploadAnswer {
  int status = 500;
  nlohmann::ordered_json body;
};

UploadAnswer Refusal(int status, std::string_view cause, std::string error);

// Whether `name` is an archive name of the pattern above.
bool IsArchiveName(std::string_view name);

// The employer registration an archive name carries.
std::string_view ArchiveRegistration(std::string_view name);

// The work name a page would give the payment file of archive `name`.
std::string WorkName(std::string_view name);

// Today's date on this machine, DD/MM/YYYY.
std::string ServerDate();

// Today on this machine, written by strftime's `format` (at most 31 characters).
std::string LocalDate(const char* format);

// Takes the one file of the zip `archive` out into `file`. Answers the refusal, if any.
std::optional<UploadAnswer> UnpackUpload(std::string_view archive,
                                         const std::filesystem::path& file,
                                         const UploadLimits& limits);

struct ValidUpload {
  std::string capture_line;       // UTF-8
  std::string rfc;                // the employer's tax identifier, without blanks around it
  std::filesystem::path archive;  // packed beside the file, named like the upload
};

// The diskette count the last record of payment file `file` declares (1 when it cannot be
// read as one): the file arrives joined, and only the page saw its diskettes.
std::int16_t DeclaredDiskettes(const std::filesystem::path& file);

// Validates the payment file `file` (unpacked under WorkName(name)) against `server_date`
// (DD/MM/YYYY) and packs it. Never throws.
std::variant<ValidUpload, UploadAnswer> ValidateUpload(std::string_view name,
                                                       const std::filesystem::path& file,
                                                       const std::string& server_date);

}  // namespace zav
