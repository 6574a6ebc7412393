// Receiving a validated payment archive from the browser page, as `zav serve` does. The
// server trusts nothing the page did: it checks the archive again with its own control and
// its own date, and keeps it only when the control accepts it under the very name it came
// with.
//
// HTTP contract of `zav serve` (apps/zav/serve.cpp does the wiring, this unit the work):
//
//   GET  /api/date
//        200, text/plain, the server's date as DD/MM/YYYY (exactly 10 characters, no line
//        end). Pass it to ValidaReg in the page.
//   POST /api/upload?name=<archive name>
//        Body: the archive's bytes as they are (Content-Type application/zip or
//        application/octet-stream; not multipart). The name travels only in the query
//        parameter `name` (URL-encoded; it needs no escaping). Answers, all JSON:
//        201 {"capture_line": TEXT, "archive": NAME}           stored
//        400 {"error": TEXT}        name not of the archive pattern, missing, not a zip,
//                                   not exactly one regular file with a plain name
//        409 {"error": TEXT}        an archive of that name was stored already
//        413 {"error": TEXT}        archive over the size limit, or its file over the
//                                   uncompressed limit
//        415 {"error": TEXT}        sent as a form (urlencoded or multipart): refused by
//                                   the HTTP layer before the body is read
//        422 {"error": TEXT, "message": N, "text": TEXT}   the control rejected the file
//                                   with message N; `text` is the control's message in
//                                   UTF-8, folio line included
//        422 {"error": TEXT, "failure": {"number": N, "description": TEXT}}   the run
//                                   ended in a run-time failure ("5")
//        422 {"error": TEXT, "expected": NAME}   accepted, but the payment file's archive
//                                   name (sArchZAVZip) is not the name it came with
//        500 {"error": TEXT}        the server could not store it
//   Anything else: the static files of the page (GET), or 404.
//
// The archive name is 33501e01.m1.s0870.r<registration>.f<folio>.p<YYYYMM>.e999.zip: the
// registration 11 letters or digits, the folio 6 digits, the period year and month 6
// digits; compared exactly, case included. The archive holds one regular file, whatever
// its (plain) name; the page's packing names it like the archive with "zav" for "zip".
//
// The check: the file is taken out of the archive (counting its real size, not the size
// the archive declares) into a fresh folder of its own under the upload folder, and
// validated there by a new control on native paths, as a page would: work name derived
// from the archive name, source name the archive name with "zav" for "zip", no
// management mode, tolerance 0, the diskette count the file declares (the server cannot
// know the diskettes the file came on), the given server date. Nothing is packed or moved
// by that run. On acceptance the uploaded bytes are stored under the upload folder:
// written under a hidden temporary name, flushed to disk, then linked into place, which
// fails if the name is taken, so an upload is stored once and never overwritten. Hidden
// names (starting with '.') are the server's own work and never an upload.
//
// HandleUpload touches no process-wide state (no environment, no drive table, no packing
// records): several may run at once, on different threads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace zav {

struct UploadLimits {
  std::uint64_t max_archive_bytes = std::uint64_t{64} << 20;  // the body
  std::uint64_t max_file_bytes = std::uint64_t{512} << 20;    // the file inside, unpacked
};

struct UploadAnswer {
  int status = 500;
  nlohmann::ordered_json body;  // the JSON answer, as described above
};

// Whether `name` is an archive name of the pattern above.
bool IsArchiveName(std::string_view name);

// Today's date on this machine, DD/MM/YYYY.
std::string ServerDate();

// Checks the upload `archive` named `name` against `server_date` (DD/MM/YYYY) and stores
// it in `upload_dir` (an existing folder). Never throws.
UploadAnswer HandleUpload(std::string_view name, std::string_view archive,
                          const std::string& server_date, const std::filesystem::path& upload_dir,
                          const UploadLimits& limits = {});

}  // namespace zav
