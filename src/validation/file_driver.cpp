#include "validation/file_driver.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
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

// Renames the validated file to its packing name and packs it beside. Paths too long for
// the packer fail the packing before anything is renamed: the work file stays as it was.
void RenameAndPack(ZAV& z) {
  const std::string archive = z.sArchZAVZip();
  if (archive.size() < 3) throw RuntimeFailure(err::kInvalidCall);
  const std::string packed = z.DestinoArchi + archive.substr(0, archive.size() - 3) + "zav";
  if (!PackerTakes(z.DestinoArchi + archive, packed)) throw Stop{303};
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
// read only once every record has passed, so on a machine with a second core a helper
// folds it there while the walk checks the records; a run that stops early stops it too.
//
// The two share one reading of the file: blocks of records go through a small ring, and
// whichever of the two first needs a block reads it (each over its own handle), so the
// reading falls to whichever is ahead. A slot is read again only once the walk has left
// its block and the helper has folded it. The walk reads for itself what the ring cannot
// give (a record out of the plain order, or every record once a read has failed), so the
// records and any failure are those of its own reads.
//
// Without a helper (no threads, one core, a short file) the walk folds each record as it
// reads it (Walked). Whatever the helper could not fold (a handle that would not open, a
// read that failed) is folded here at the end, over the run's own handle, so the value and
// any failure are those of a plain fold.
class CheckValueFold {
 public:
  CheckValueFold(std::string_view work_path, std::int32_t n, RecordFile& walk_file)
      : n_(n), walk_file_(walk_file) {
#ifndef __EMSCRIPTEN__
    constexpr std::int32_t kWorthAThread = 4096;  // records; below, starting it costs more
    if (n < kWorthAThread || std::thread::hardware_concurrency() < 2) return;
    inline_ = false;
    try {
      ring_.reset(new char[kRingBytes]);
      RecordFile own(work_path, RecordFile::Mode::kRead);
      worker_ = std::thread([this, file = std::move(own)]() mutable { Help(file); });
    } catch (...) {
      // No memory, handle or thread: the walk reads alone and the value is folded at the end.
      gave_up_ = true;
    }
#else
    (void)work_path;
#endif
  }

  CheckValueFold(const CheckValueFold&) = delete;
  CheckValueFold& operator=(const CheckValueFold&) = delete;
  ~CheckValueFold() {
    stop_ = true;
    Changed();
    if (worker_.joinable()) worker_.join();
  }

  // Record k for the walk, from the ring, into `record`; false when the walk must read it
  // itself.
  bool Take(std::int32_t k, std::string& record) {
    if (inline_ || k < 1 || k > n_) return false;
    const std::int32_t block = (k - 1) / kBlockRecords;
    if (block != held_ && !Hold(block)) return false;
    CopyRecord(Slot(block) + RecordOffset(k), record);
    return true;
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
  static constexpr std::int32_t kBlockRecords = 1024;  // about 300 KB
  static constexpr std::int32_t kSlots = 4;
  static constexpr std::size_t kBlockBytes =
      static_cast<std::size_t>(kBlockRecords) * RecordFile::kRecordLength;
  static constexpr std::size_t kRingBytes = kBlockBytes * kSlots;

  struct alignas(64) Tag {
    std::atomic<std::int32_t> block{-1};  // the block the slot holds, once read
  };

  char* Slot(std::int32_t block) const { return ring_.get() + (block % kSlots) * kBlockBytes; }
  static std::size_t RecordOffset(std::int32_t k) {
    return static_cast<std::size_t>((k - 1) % kBlockRecords) * RecordFile::kRecordLength;
  }

  // A record from the ring into `record`, sixteen bytes at a time: a copy of this one length
  // was otherwise a string move, whose start costs more than the copy.
  static void CopyRecord(const char* from, std::string& record) {
    constexpr std::size_t kLength = RecordFile::kRecordLength;
    static_assert(kLength >= 16);
    record.resize(kLength);
    char* to = record.data();
    for (std::size_t k = 0; k + 16 <= kLength; k += 16) std::memcpy(to + k, from + k, 16);
    std::memcpy(to + kLength - 16, from + kLength - 16, 16);  // the tail, overlapping
  }

  // Wakes whichever of the two waits for a change.
  void Changed() {
    epoch_.fetch_add(1, std::memory_order_release);
    epoch_.notify_all();
  }

  // Makes `block` readable, reading it if nobody has yet; false once a read has failed or
  // the run stops. The next block to read may go into its slot once both have left the
  // block the slot held.
  bool Await(std::int32_t block, RecordFile& file) {
    for (;;) {
      const std::uint32_t epoch = epoch_.load(std::memory_order_acquire);
      if (gave_up_.load(std::memory_order_acquire) || stop_) return false;
      if (tags_[block % kSlots].block.load(std::memory_order_acquire) == block) return true;
      const std::int32_t next = next_.load(std::memory_order_acquire);
      const std::int32_t free_below = std::min(taken_.load(std::memory_order_acquire),
                                               folding_.load(std::memory_order_acquire)) +
                                      kSlots;
      std::int32_t claimed = next;
      if (next <= block && next < free_below &&
          next_.compare_exchange_strong(claimed, next + 1, std::memory_order_acq_rel)) {
        const std::int32_t first = next * kBlockRecords + 1;
        try {
          file.ReadRecords(first, std::min(kBlockRecords, n_ - first + 1), Slot(next));
        } catch (...) {
          gave_up_.store(true, std::memory_order_release);
          Changed();
          return false;
        }
        tags_[next % kSlots].block.store(next, std::memory_order_release);
        Changed();
        continue;
      }
      epoch_.wait(epoch, std::memory_order_acquire);
    }
  }

  // Makes `block` the walk's; the blocks before it are then free. False when its slot may
  // already hold a later block, or when the ring cannot give it.
  bool Hold(std::int32_t block) {
    if (block < taken_.load(std::memory_order_relaxed)) return false;
    held_ = -1;
    if (block > taken_.load(std::memory_order_relaxed)) {
      taken_.store(block, std::memory_order_release);
      Changed();
    }
    if (!Await(block, walk_file_)) return false;
    held_ = block;
    return true;
  }

  // The helper: folds the blocks in order, reading those the walk has not.
  void Help(RecordFile& file) {
    Prefault(ring_.get(), kRingBytes);
    const std::int32_t blocks = (n_ - 1) / kBlockRecords + 1;
    for (std::int32_t b = 0; b < blocks; ++b) {
      if (b > 0) {
        folding_.store(b, std::memory_order_release);
        Changed();
      }
      if (!Await(b, file)) return;  // folded again at the end, where a failure is the run's
      const char* slot = Slot(b);
      const std::int32_t count = std::min(kBlockRecords, n_ - b * kBlockRecords);
      // The rule reads a stream of bytes; only a validation record's own check value is
      // left out. So the records up to the next validation record fold as one text.
      constexpr std::size_t kLength = RecordFile::kRecordLength;
      const auto type_of = [slot](std::int32_t r) {
        return slot[static_cast<std::size_t>(r) * kLength + 1];
      };
      for (std::int32_t r = 0; r < count;) {
        if (stop_) return;
        std::int32_t end = r + 1;
        if (type_of(r) != '6') {
          while (end < count && type_of(end) != '6') ++end;
        }
        check_.Fold(std::string_view(slot + static_cast<std::size_t>(r) * kLength,
                                     static_cast<std::size_t>(end - r) * kLength));
        r = end;
      }
    }
    folded_ = true;
  }

  std::int32_t n_;
  RecordFile& walk_file_;
  bool inline_ = true;       // no helper: the walk folds
  std::int32_t walked_ = 0;  // records the walk folded
  std::int32_t held_ = -1;   // the block the walk reads from the ring
  std::unique_ptr<char[]> ring_;
  // What the helper writes for every record, and what both read and write for every block,
  // each on cache lines of its own.
  alignas(64) RunningCheck check_;
  bool folded_ = false;  // written by the helper, read after joining it
  alignas(64) std::atomic<bool> stop_{false};
  std::atomic<bool> gave_up_{false};
  alignas(64) std::atomic<std::uint32_t> epoch_{0};
  alignas(64) std::atomic<std::int32_t> next_{0};     // the next block nobody reads yet
  alignas(64) std::atomic<std::int32_t> taken_{0};    // the walk's block
  alignas(64) std::atomic<std::int32_t> folding_{0};  // the helper's block
  std::array<Tag, kSlots> tags_{};
  std::thread worker_;
};

}  // namespace

std::string RunValidation(ZAV& z, const std::string& sDateServ, const RunOptions& options) {
  auto& w = z.working();
  w.last_message = 0;
  w.last_failure_number = 0;
  w.last_failure_description.clear();
  // The record a failure would be in, as the diagnosis places it (reports/diagnosis.hpp).
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
    // Started at once, so that the helper is under way while the first and last records
    // are looked at.
    CheckValueFold check(work_path, n, *file);
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

    std::array<bool, 7> seen{};
    for (z.posicion = 1; z.posicion <= n; ++z.posicion) {
      at(z.posicion, -1);
      if (!check.Take(z.posicion, record)) file->Read(z.posicion, record);
      at(z.posicion, TypeOf(record));
      check.Walked(z.posicion, record);
      ReportProgress(z, z.posicion, n);
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
