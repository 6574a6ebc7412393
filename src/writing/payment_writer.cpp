// The writer: the totals first, then the records in order, to a stream, a file or a set of
// diskette parts.
#include "writing/payment_writer.hpp"

#include <algorithm>
#include <fstream>
#include <memory>
#include <string_view>

#include "basic/runtime_failure.hpp"
#include "platform/file_system.hpp"
#include "records/checksum.hpp"
#include "records/layout.hpp"
#include "records/record_04.hpp"
#include "records/record_06.hpp"
#include "writing/generated_workers.hpp"
#include "writing/record_builders.hpp"

namespace zav {

namespace {

using namespace writing;  // the units of the writer

// ---- Where the records go ----

class RecordSink {
 public:
  virtual ~RecordSink() = default;
  virtual void Put(std::string_view record) = 0;
};

class StreamSink : public RecordSink {
 public:
  explicit StreamSink(std::ostream& out) : out_(out) {}
  void Put(std::string_view record) override {
    out_.write(record.data(), static_cast<std::streamsize>(record.size()));
    if (!out_) throw RuntimeFailure(err::kDeviceIo);
  }

 private:
  std::ostream& out_;
};

// ---- The writer: totals first, then the records in order ----

class Writer {
 public:
  explicit Writer(const PaymentPlan& plan)
      : spec_(plan), employer_(CheckedEmployer(plan)), walk_(plan, ExplicitDays(plan)) {
    if (plan.generated_workers < 0) Refuse("a negative number of generated workers");
    Count();
    // Everything but the worker and movement records depends only on the totals: built
    // here, so that a plan that cannot be laid out fails before anything is written.
    summary_ = SummaryOf(plan, totals_);
    BuildHeader(header_, plan, employer_, totals_);
    BuildSummary(summary_record_, employer_, summary_);
    BuildValidation(validation_, plan, employer_, summary_, totals_);
  }

  std::int64_t records() const { return totals_.records; }

  void Write(RecordSink& sink) {
    RunningCheck check;
    const auto put = [&](std::string_view record) {
      check.Fold(record);
      sink.Put(record);
    };
    put(header_);
    std::string r;
    for (std::int64_t k = 0; k < walk_.size(); ++k) {
      BuildWorker(r, employer_, k, walk_[k]);
      put(r);
    }
    StartMovements(r, employer_);
    int slot = 0;
    std::string nss(11, ' ');
    for (std::int64_t k = 0; k < walk_.size(); ++k) {
      const PaymentWorker& w = walk_[k];
      if (w.movements.empty()) continue;
      NssOf(w, k, nss);
      for (const PaymentMovement& m : w.movements) {
        if (slot == kMovementEntryCount) {
          put(r);
          StartMovements(r, employer_);
          slot = 0;
        }
        PutEntry(r, slot++, nss, m);
      }
    }
    put(r);  // the last movement record; a blank one when no worker moved
    put(summary_record_);
    check.Fold(validation_);  // the check value's own positions are not folded
    PutText(validation_, record06::kCheckSum, check.value());
    sink.Put(validation_);
  }

 private:
  static std::int64_t ExplicitDays(const PaymentPlan& plan) {
    std::int64_t days = 0;
    for (const PaymentWorker& w : plan.workers) days += w.days;
    return days;
  }

  static void NssOf(const PaymentWorker& w, std::int64_t k, std::string& nss) {
    if (!w.nss.empty()) {
      nss = w.nss;
      return;
    }
    nss.assign(11, ' ');
    PutNumber(nss, Field{1, 11, "NSS"}, k + 1);
  }

  void Count() {
    Totals& t = totals_;
    t.workers = walk_.size();
    std::string scratch;
    const auto explicit_count = static_cast<std::int64_t>(spec_.workers.size());
    for (std::int64_t k = 0; k < t.workers; ++k) {
      const PaymentWorker& w = walk_[k];
      // An explicit worker is laid out once here, so that a field too wide for its
      // record fails before anything is written; generated ones fit by construction.
      if (k < explicit_count) {
        BuildWorker(scratch, employer_, k, w);
        for (const PaymentMovement& m : w.movements) {
          StartMovements(scratch, employer_);
          PutEntry(scratch, 0, std::string(11, '0'), m);
        }
      }
      t.days += w.days;
      for (int c = 0; c < col::kCount; ++c)
        t.sums[static_cast<std::size_t>(c)] += w.*kAmounts[c].amount;
      if (!w.housing_credit.empty()) t.vivienda_con_credito += w.aportacion_vivienda;
      for (const PaymentMovement& m : w.movements) {
        if (m.type == 10) t.complementarias += m.salary;
      }
      t.entries += static_cast<std::int64_t>(w.movements.size());
    }
    t.movement_records =
        std::max<std::int64_t>(1, (t.entries + kMovementEntryCount - 1) / kMovementEntryCount);
    t.records = 1 + t.workers + t.movement_records + 2;
  }

  const PaymentPlan& spec_;
  Employer employer_;
  WorkerWalk walk_;
  Totals totals_;
  Summary summary_;
  std::string header_, summary_record_, validation_;
};

}  // namespace

PaymentPlan SamplePaymentPlan(std::int64_t workers, std::uint32_t seed) {
  PaymentPlan plan;
  plan.generated_workers = workers;
  plan.seed = seed;
  return plan;
}

void SetPeriodPaidOn(PaymentPlan& plan, std::chrono::year_month_day today) {
  using std::chrono::months;
  const std::chrono::year_month current = today.year() / today.month();
  const std::chrono::year_month period = current - months(1);
  const std::chrono::year_month due =
      today.day() > std::chrono::day(17) ? current + months(1) : current;
  plan.year = static_cast<int>(period.year());
  plan.month = static_cast<int>(static_cast<unsigned>(period.month()));
  plan.deadline_year = static_cast<int>(due.year());
  plan.deadline_month = static_cast<int>(static_cast<unsigned>(due.month()));
  plan.deadline_day = 17;
}

std::string WorkFileName(const PaymentPlan& plan) {
  const Employer e = CheckedEmployer(plan);
  return "P" + e.periodo.substr(2, 4) + e.registro[2] + e.registro[6] + e.registro[8] + ".ZAV";
}

std::int64_t PaymentRecordCount(const PaymentPlan& plan) { return Writer(plan).records(); }

void WritePaymentFile(const PaymentPlan& plan, std::ostream& out) {
  Writer writer(plan);
  StreamSink sink(out);
  writer.Write(sink);
}

void WritePaymentFile(const PaymentPlan& plan, const std::filesystem::path& file) {
  Writer writer(plan);
  PendingFile pending(file);
  {
    std::ofstream out(pending.path(), std::ios::binary | std::ios::trunc);
    if (!out) throw RuntimeFailure(err::kPathFileAccess);
    StreamSink sink(out);
    writer.Write(sink);
    out.close();
    if (!out) throw RuntimeFailure(err::kDeviceIo);
  }
  pending.Commit();
}

std::vector<std::filesystem::path> WriteDiskettes(const PaymentPlan& plan,
                                                  const std::filesystem::path& folder,
                                                  const std::string& base_name, int parts) {
  if (base_name.size() != 8) Refuse("a diskette base name must have 8 characters");
  if (parts < 1 || parts > kMaxDiskettes) Refuse("a file goes on 1 to 10 diskettes");
  PaymentPlan split = plan;
  split.diskettes = parts;
  Writer writer(split);
  const std::int64_t n = writer.records();
  // Every part but the last must end with a record of type 03 to 05, that is a record
  // from 2 to n - 1: at least one such record per cut.
  if (n - 2 < parts - 1) Refuse("too few records for that many diskettes");

  // The last record of each part but the last: as even as the rule allows.
  std::vector<std::int64_t> ends;
  std::int64_t previous = 1;
  for (int k = 0; k + 1 < parts; ++k) {
    std::int64_t end = n * (k + 1) / parts;
    end = std::max({end, previous + 1, static_cast<std::int64_t>(k) + 2});
    end = std::min(end, n - (parts - 1 - k));
    ends.push_back(end);
    previous = end;
  }
  ends.push_back(n);

  std::vector<std::filesystem::path> paths;
  std::vector<std::unique_ptr<PendingFile>> pending;
  for (int k = 0; k < parts; ++k) {
    paths.push_back(folder / (base_name + ".ZA" + std::to_string(k)));
    pending.push_back(std::make_unique<PendingFile>(paths.back()));
  }

  class DisketteSink : public RecordSink {
   public:
    DisketteSink(const std::vector<std::unique_ptr<PendingFile>>& files,
                 const std::vector<std::int64_t>& ends)
        : files_(files), ends_(ends) {}
    void Put(std::string_view record) override {
      if (!out_.is_open()) Open();
      out_.write(record.data(), static_cast<std::streamsize>(record.size()));
      if (!out_) throw RuntimeFailure(err::kDeviceIo);
      if (++written_ == ends_[part_]) {
        Close();
        ++part_;
      }
    }
    void Close() {
      out_.close();
      if (!out_) throw RuntimeFailure(err::kDeviceIo);
    }

   private:
    void Open() {
      out_.open(files_[part_]->path(), std::ios::binary | std::ios::trunc);
      if (!out_) throw RuntimeFailure(err::kPathFileAccess);
    }
    const std::vector<std::unique_ptr<PendingFile>>& files_;
    const std::vector<std::int64_t>& ends_;
    std::ofstream out_;
    std::size_t part_ = 0;
    std::int64_t written_ = 0;
  };

  DisketteSink sink(pending, ends);
  writer.Write(sink);
  for (auto& p : pending) p->Commit();
  return paths;
}

}  // namespace zav
