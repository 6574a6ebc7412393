#include "validation/file_driver.hpp"

#include <array>
#include <atomic>
#include <optional>
#include <string_view>
#include <thread>

#include "basic/conversions.hpp"
#include "basic/cp1252.hpp"
#include "basic/number_text.hpp"
#include "basic/numeric_text.hpp"
#include "basic/runtime_failure.hpp"
#include "files/zip_packing.hpp"
#include "platform/file_system.hpp"
#include "platform/record_file.hpp"
#include "records/checksum.hpp"
#include "records/layout.hpp"
#include "validation/file_checks.hpp"

namespace zav {

namespace {

// A message number that ends the run.
struct Stop {
  std::int16_t message;
};

// Renames the validated file to its packing name and packs it beside.
void RenameAndPack(ZAV& z) {
  const std::string archive = z.sArchZAVZip();
  if (archive.size() < 3) throw RuntimeFailure(err::kInvalidCall);
  const std::string packed = z.DestinoArchi + archive.substr(0, archive.size() - 3) + "zav";
  if (FileExists(packed)) DeleteFile(packed, true);
  MoveFile(z.DestinoArchi + z.FinalArchi, packed);
  if (EmpacaArchivo(z.DestinoArchi + archive, packed) != 0) throw Stop{303};
}

enum Type : std::uint8_t { k02 = 2, k03, k04, k05, k06 };

// A record's type for people: its first two characters when both are digits, else -1.
int TypeOf(std::string_view record) {
  if (record.size() < 2 || record[0] < '0' || record[0] > '9' || record[1] < '0' ||
      record[1] > '9') {
    return -1;
  }
  return (record[0] - '0') * 10 + (record[1] - '0');
}

// The check value of records 1..n. It depends on nothing the record checks change and is
// read only once every record has passed, so on a machine with a second core it is folded
// there, over a handle of its own, while the records are checked; a run that stops early
// stops it too. Without a helper (no threads, one core, a short file) the walk folds each
// record as it reads it (Walked). Whatever the helper could not fold (a handle that would
// not open, a read that failed) is folded here at the end, over the run's own handle, so
// the value and any failure are those of a plain fold.
class CheckValueFold {
 public:
  CheckValueFold(std::string_view work_path, std::int32_t n) : n_(n) {
#ifndef __EMSCRIPTEN__
    constexpr std::int32_t kWorthAThread = 4096;  // records; below, starting it costs more
    if (n < kWorthAThread || std::thread::hardware_concurrency() < 2) return;
    inline_ = false;
    try {
      RecordFile own(work_path, RecordFile::Mode::kRead);
      worker_ = std::thread([this, file = std::move(own)]() mutable {
        try {
          std::string record;
          for (std::int32_t k = 1; k <= n_; ++k) {
            if (stop_) return;
            file.Read(k, record);
            check_.Fold(record);
          }
          folded_ = true;
        } catch (...) {
          // Folded again at the end, where a failure is the run's.
        }
      });
    } catch (...) {
      // No handle or no thread: folded at the end.
    }
#else
    (void)work_path;
#endif
  }

  CheckValueFold(const CheckValueFold&) = delete;
  CheckValueFold& operator=(const CheckValueFold&) = delete;
  ~CheckValueFold() {
    stop_ = true;
    if (worker_.joinable()) worker_.join();
  }

  // Record k of the walk, just read: folded here when no helper folds.
  void Walked(std::int32_t k, std::string_view record) {
    if (!inline_) return;
    if (k != walked_ + 1) inline_ = false;  // not the plain order: fold at the end
    walked_ = k;
    if (inline_) check_.Fold(record);
  }

  const RunningCheck& Result(RecordFile& file) {
    if (worker_.joinable()) worker_.join();
    if (inline_ && walked_ == n_) folded_ = true;
    if (!folded_) {
      check_ = RunningCheck();
      std::string record;
      for (std::int32_t k = 1; k <= n_; ++k) {
        file.Read(k, record);
        check_.Fold(record);
      }
    }
    return check_;
  }

 private:
  std::int32_t n_;
  bool inline_ = true;       // no helper: the walk folds
  std::int32_t walked_ = 0;  // records the walk folded
  RunningCheck check_;
  bool folded_ = false;  // written by the helper, read after joining it
  std::atomic<bool> stop_{false};
  std::thread worker_;
};

}  // namespace

std::string RunValidation(ZAV& z, const std::string& sDateServ, const RunOptions& options) {
  auto& w = z.working();
  w.last_message = 0;
  w.last_failure_number = 0;
  w.last_failure_description.clear();
  // The record a failure would be in, as the diagnosis places it (validation/diagnosis.hpp).
  const auto at = [&w](std::int32_t record, int type) {
    w.last_record = record;
    w.last_record_type = type;
  };
  at(0, -1);
  std::optional<RecordFile> file;
  const auto close_quietly = [&file] {
    try {
      if (file) file->Close();
    } catch (const RuntimeFailure&) {
      // The file was only read; a failure to close it changes nothing.
    }
  };
  try {
    ResetTotals(z);
    const std::string in_place = options.pack ? std::string() : options.in_place;
    const std::string work_path = FileToRead(z, in_place);
    if (!FileToReadExists(z, work_path, in_place)) throw Stop{2};
    z.posicion = 1;

    if (const auto m = ExtensionCheck(z)) throw Stop{m};

    file.emplace(std::string_view(work_path), RecordFile::Mode::kRead);
    const std::int32_t n = file->RecordCount();
    z.iTamArch = ToLong(static_cast<double>(file->Length()));

    std::string record;
    file->Read(1, record);
    const int first_type = TypeOf(record);
    at(1, first_type);
    CopyHeader(z, record);
    DerivePeriod(z);
    at(0, -1);
    if (const auto m = WorkNameCheck(z, record)) throw Stop{m};

    file->Read(n, record);  // an empty file has no record 0: a run-time failure
    const int last_type = TypeOf(record);
    at(n, last_type);
    ReadLastRecord(z, record);
    if (const auto m = DeadlineCheck(record)) throw Stop{m};
    if (const auto m = VersionCheck(z)) throw Stop{m};
    if (const auto m = LatenessCheck(z, record, sDateServ)) throw Stop{m};

    CheckValueFold check(work_path, n);
    std::array<bool, 7> seen{};
    for (z.posicion = 1; z.posicion <= n; ++z.posicion) {
      at(z.posicion, -1);
      file->Read(z.posicion, record);
      at(z.posicion, TypeOf(record));
      check.Walked(z.posicion, record);
      const std::uint8_t t = ToByte(LeadingValue(Cut(record, 1, 2)));
      if (t >= k02 && t <= k06) seen[t] = true;
      if (t == k03) {
        if (z.iCantidadregistros3 == INT32_MAX) throw RuntimeFailure(err::kOverflow);
        ++z.iCantidadregistros3;
      }
      const std::int16_t r = z.ChecaRegistro(t, z.posicion, record);
      if (r != 0) throw Stop{r};
    }

    at(0, -1);
    const bool check_value_matches = check.Result(*file).Matches(z.sCheckSum);
    at(n, last_type);
    if (!check_value_matches) throw Stop{144};
    at(1, first_type);  // the header declares the worker count and the days total
    if (const auto m = WorkerCountCheck(z)) throw Stop{m};
    if (const auto m = DaysTotalCheck(z)) throw Stop{m};
    at(0, -1);
    if (const auto m = RecordTypesCheck(seen)) throw Stop{m};

    file->Close();
    if (options.pack) RenameAndPack(z);
    return "0";
  } catch (const Stop& stop) {
    close_quietly();
    w.last_message = stop.message;
    return z.Obtiene_Mensajes(stop.message);
  } catch (const RuntimeFailure& failure) {
    close_quietly();
    w.last_failure_number = failure.number();
    w.last_failure_description = failure.description();
    return "5";
  } catch (const std::exception& e) {
    // Nothing escapes the run: any other failure is a run-time failure too.
    close_quietly();
    w.last_failure_number = err::kInvalidCall;
    w.last_failure_description = e.what();
    return "5";
  }
}

std::string ZAV::ValidaReg(std::string sDateServ) { return RunValidation(*this, sDateServ, {}); }

}  // namespace zav
