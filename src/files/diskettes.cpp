// Joining a payment file that comes split over diskettes.
//
// Each diskette holds one part, named with 8 characters, a dot and an extension: ZAV for
// a file in one piece, ZA0, ZA1, ... for the parts of a split one (in any case). A part is
// a run of whole 295-byte records.
//
// - ChecaUltimoDisco reads the last record of the part: a record of type 03, 04 or 05 is
//   always followed by more, so the answer is 0 (more diskettes follow); otherwise this is
//   the last diskette and the answer (and NumDiscos) is the part number in the name's
//   12th character plus 1 (1 for a ZAV name). A part that cannot be read answers 255 and
//   leaves NumDiscos alone.
// - IntegraDisco copies the records of part Ndisco (its extension built from Ndisco, not
//   taken from the name, unless the name says ZAV) onto the work file DestinoArchi &
//   FinalArchi: part 0 replaces the work file's content, later parts are appended. It
//   answers 234 for a name not of the form above (nothing opened), 5 when the copy failed
//   (the work file is then deleted, unless it is read-only: then it stays as it was), 0
//   otherwise. The work file is opened first, and created empty when missing; then the
//   part. A failure of either open (the work folder missing, a work path that is a folder,
//   the diskette not ready) fails the call; a work file this call created is then removed.
// - The diskettes are only read: a missing part reads as an empty one (IntegraDisco copies
//   nothing, ChecaUltimoDisco answers 255) and nothing is ever created on the medium.
#include <filesystem>
#include <optional>

#include "basic/conversions.hpp"
#include "basic/cp1252.hpp"
#include "basic/numeric_text.hpp"
#include "basic/runtime_failure.hpp"
#include "control/zav.hpp"
#include "platform/drives.hpp"
#include "platform/file_system.hpp"
#include "platform/record_file.hpp"

namespace zav {

namespace {

constexpr std::int16_t kCopied = 0;
constexpr std::int16_t kCopyFailed = 5;     // "Imposible trabajar con el archivo."
constexpr std::int16_t kBadPartName = 234;  // "El nombre del archivo no corresponde ..."
constexpr std::uint8_t kUnreadable = 255;

// The part at `path`, or nothing when it is missing (a missing part reads as empty).
std::optional<RecordFile> OpenPart(const std::string& path) {
  try {
    return RecordFile(path, RecordFile::Mode::kRead);
  } catch (const RuntimeFailure& failure) {
    if (failure.number() != err::kFileNotFound) throw;
    return std::nullopt;
  }
}

// Copies every record of `part` to `work` from record `first` on.
void CopyRecords(std::optional<RecordFile>& part, RecordFile& work, std::int32_t first) {
  if (!part) return;
  const std::int32_t count = part->RecordCount();
  std::string record;
  for (std::int32_t k = 1; k <= count; ++k) {
    part->Read(k, record);
    work.Write(first + k - 1, record);
  }
}

}  // namespace

std::uint8_t ZAV::ChecaUltimoDisco(std::string archivo) {
  try {
    RecordFile part(OrigenArchi + archivo, RecordFile::Mode::kRead);
    std::string last;
    part.Read(part.RecordCount(), last);
    part.Close();
    const double type = LeadingValue(std::string_view(last).substr(0, 2));
    if (type >= 3 && type <= 5) return 0;
    const std::string_view twelfth =
        archivo.size() >= 12 ? std::string_view(archivo).substr(11, 1) : std::string_view();
    const std::uint8_t disks = ToByte(LeadingValue(twelfth) + 1);
    NumDiscos = disks;
    return disks;
  } catch (const std::exception&) {
    return kUnreadable;
  }
}

std::int16_t ZAV::IntegraDisco(std::string sgFile, std::uint8_t Ndisco) {
  if (sgFile.size() < 12 || UpperCase1252(sgFile.substr(9, 2)) != "ZA") return kBadPartName;
  std::string work_path = DestinoArchi + FinalArchi;
  const std::filesystem::path work_native = ResolvePath(work_path);
  std::error_code ec;
  const bool had_work = std::filesystem::exists(work_native, ec);
  std::optional<RecordFile> work = RecordFile::OpenNative(work_native, RecordFile::Mode::kCreate);
  std::string extension = sgFile.substr(9, 3);
  if (UpperCase1252(extension) != "ZAV") extension = "za" + std::to_string(Ndisco);
  std::optional<RecordFile> part;
  try {
    part = OpenPart(OrigenArchi + sgFile.substr(0, 8) + "." + extension);
  } catch (const RuntimeFailure&) {
    // A diskette that is not ready fails the call; the empty work file this call made for
    // it does not stay behind.
    work.reset();
    if (!had_work) std::filesystem::remove(work_native, ec);
    throw;
  }

  try {
    if (Ndisco == 0) {
      // The new content is written aside and put in place whole; a work file that may not
      // be written is not replaced either.
      if (!work->writable()) throw RuntimeFailure(err::kPathFileAccess);
      work->Close();
      PendingFile fresh(work_native);
      work = RecordFile::OpenNative(fresh.path(), RecordFile::Mode::kReadWrite);
      CopyRecords(part, *work, 1);
      work->Close();
      fresh.Commit();
    } else {
      CopyRecords(part, *work, work->RecordCount() + 1);
      work->Close();
    }
    if (part) part->Close();
    return kCopied;
  } catch (const std::exception&) {
    part.reset();
    work.reset();
    try {
      if (ExisteArchivo(work_path)) DeleteFile(work_path);  // a read-only one stays
    } catch (const std::exception&) {
      // The copy has failed already; its answer says so.
    }
    return kCopyFailed;
  }
}

}  // namespace zav
