// End-to-end runs of ValidaReg on written files brought in as a page brings them; a diagnosis
// of the same file finds what the run finds.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/file_system.hpp"
#include "records/record_02.hpp"
#include "records/record_03.hpp"
#include "reports/diagnosis.hpp"
#include "support/payment_run.hpp"

namespace zav {
namespace {

using namespace testing;

constexpr std::size_t kLen = kRecordLength;

// Removes every record of the two-digit type.
void Drop(std::string& bytes, std::string_view type) {
  std::string kept;
  for (std::size_t k = 0; k < Records(bytes); ++k) {
    if (bytes.compare(k * kLen, 2, type) != 0) kept.append(bytes, k * kLen, kLen);
  }
  bytes = kept;
}

// Replaces the validation record by a movement record with a blank first entry that carries
// the deadline, version and a stored check value where the file-level checks read them; the
// characters after that value are chosen so that the file's running value comes out equal.
void ForgeWithoutValidationRecord(std::string& bytes) {
  const std::string validation = bytes.substr(bytes.size() - kLen);
  bytes.resize(bytes.size() - kLen);
  std::string r(kLen, ' ');
  r.replace(0, 13, "04" + validation.substr(2, 11));
  r.replace(58, 14, validation, 58, 14);  // deadline, diskettes, version
  const std::string stored(19, '0');
  r.replace(120, 19, stored);

  RunningCheck check;
  check.Fold(bytes);  // no validation record left: one fold is every record's
  check.Fold(std::string_view(r).substr(0, 139));
  static constexpr std::string_view kCounted = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  for (std::size_t pos = 139; pos < kLen && !check.Matches(stored); ++pos) {
    RunningCheck best = check;
    std::ptrdiff_t best_zeros = -1;  // digits already matching the stored zeros
    for (const char c : kCounted) {
      RunningCheck next = check;
      next.Fold(std::string_view(&c, 1));
      if (std::ranges::count(next.value(), '0') > best_zeros) {
        best_zeros = std::ranges::count(next.value(), '0');
        best = next;
        r[pos] = c;
      }
    }
    check = best;
  }
  ASSERT_TRUE(check.Matches(stored));
  bytes += r;
}

class ValidationRun : public PaymentRun {
 protected:
  // Expects the run to have ended with message `number`.
  void ExpectMessage(const std::string& result, std::int16_t number, const std::string& what) {
    EXPECT_EQ(z_.working().last_message, number) << what;
    EXPECT_EQ(result, z_.Obtiene_Mensajes(number)) << what;
  }
};

// Every kind of period; more workers than a 16-bit counter holds; a days total that matches
// the bimester days (61 + 45) rather than the month's.
TEST_F(ValidationRun, AcceptsFilesOfEveryKindOfPeriod) {
  const auto generated = [](std::int64_t workers, int month) {
    PaymentPlan s = SamplePaymentPlan(workers, static_cast<std::uint32_t>(month));
    std::tie(s.year, s.month, s.deadline_year, s.deadline_month) = std::tuple(2005, month, 2005, 7);
    return s;
  };
  const struct {
    const char* what;
    PaymentPlan plan;
    const char* total_dias = nullptr;
  } cases[] = {{"even month", Small()},
               {"odd month", generated(60, 5)},
               {"period 13", generated(60, 13)},
               {"period 14", generated(60, 14)},
               {"33000 workers", generated(33000, 4)},
               {"bimester days", Small(), "0000106"}};
  for (const auto& [what, plan, total_dias] : cases) {
    std::string bytes = FileOf(plan);
    if (total_dias != nullptr) {
      Put(bytes, 1, record02::kTotalDias, total_dias);
      Reseal(bytes);
    }
    Bring(bytes, "P0506268.ZAV", WorkFileName(plan));
    EXPECT_EQ(z_.ValidaReg(kOnTime), "0") << what << ": " << z_.working().last_message;
    EXPECT_EQ(z_.posicion, static_cast<std::int32_t>(Records(bytes) + 1)) << what;
    EXPECT_EQ(z_.iCantidadregistros3,
              static_cast<std::int32_t>(plan.workers.size() + plan.generated_workers));
    // The archive holds the bytes and nothing is left under the work name.
    EXPECT_EQ(Unzipped(drives_.native("C:/ZAV/temp/" + z_.sArchZAVZip())), bytes);
    EXPECT_FALSE(FileExists(z_.DestinoArchi + z_.FinalArchi));
  }
}

// A file long enough for the check value to be folded beside the record checks, through a
// ring that wraps several times: the verdict and record are a plain walk's, and a run that
// stops early stops the fold too (the file as written is accepted above, 33000 workers).
TEST_F(ValidationRun, LongFileCheckValue) {
  const PaymentPlan plan = SamplePaymentPlan(6000, 7);
  const std::string good = FileOf(plan);
  std::size_t last_worker = Records(good);
  while (good.compare((last_worker - 1) * kLen, 2, "03") != 0) --last_worker;
  ASSERT_GT(last_worker, 5000u);
  const auto name_altered = [&](std::string& bytes) {  // only the check value sees it
    char& letter = bytes[(last_worker - 1) * kLen + record03::kNombre.start - 1];
    letter = letter == 'K' ? 'L' : 'K';
  };
  const struct {
    const char* what;
    std::function<void(std::string&)> edit;
    std::int16_t message;
    std::size_t at;  // z_.posicion when the run stops
  } cases[] = {
      {"the last worker's name altered", name_altered, 144, Records(good) + 1},
      {"record 3 wrong",
       [](std::string& b) { Put(b, 3, record03::kSeguridadSocial, "           "); }, 225, 3},
      {"the last worker wrong",
       [&](std::string& b) { Put(b, last_worker, record03::kSeguridadSocial, "           "); }, 225,
       last_worker},
  };
  for (const auto& c : cases) {
    std::string bytes = good;
    c.edit(bytes);
    Bring(bytes, "P0404268.ZAV", WorkFileName(plan));
    ExpectMessage(z_.ValidaReg("17/05/2004"), c.message, c.what);
    EXPECT_EQ(z_.posicion, static_cast<std::int32_t>(c.at)) << c.what;
  }
}

// The figures the page reads, worked out by hand from Small(): the summary amounts are
// S15 = 100+50 + 20.50 + 30 + 4 + 50 + 60 + 7 = 321.50, S16 = S17 = 3.00 / 2, S20 = 400 +
// (200+100), S23 = 50, S29 = 12.34 (the type-10 movement), S24 = 80 (no credit), S25 = 20
// (with a credit), S26 = 90, S30 = 3, S31 = 4; the four totals are 324.50, 762.34, 80, 117.
// The two check strings were folded by hand over "A1234567890000123200506" and
// "3245076234800011700".
TEST_F(ValidationRun, CaptureLineAndParameterString) {
  Bring(FileOf(Small()));
  ASSERT_EQ(z_.ValidaReg(kOnTime), "0");
  const std::string line = "A1234567890-000123-200506-864-32450-76234-8000-11700-108";
  EXPECT_EQ(z_.LineaDeCaptura(), line);
  EXPECT_EQ(z_.sParamZAV().ToText(),
            "PATRON DE PRUEBA" + std::string(34, ' ') +
                "|A1234567890|ABCD010101XY1|000123|2|06|2005|3|2005"  // workers, period, bimester
                "|321.5|1.5|1.5|324.5"                                // four insurances
                "|700|0|0|50|12.34|762.34"                            // RCV and the rest
                "|80|20|90|0|0|3|4|197|1283.84"                       // housing, total
                "|C:\\ZAV\\temp\\33501e01.m1.s0870.rA1234567890.f000123.p200506.e999.zip|" +
                line + "|W301");
}

struct FailureCase {
  const char* what;
  void (*plan)(PaymentPlan&);
  std::function<void(std::string& bytes, ZAV& z, const TempDrives& drives)> file;
  std::int16_t message;
  std::int32_t posicion;  // 0: after the last record
  const char* source = "P0506268.ZAV";
  const char* work = "P0506268.ZAV";
  const char* date = kOnTime;
};

void NoWorkers(PaymentPlan& s) { s.workers.clear(); }
void NoMovements(PaymentPlan& s) {
  for (PaymentWorker& w : s.workers) w.movements.clear();
}
void DropMovements(std::string& b, ZAV&, const TempDrives&) {
  Drop(b, "04");
  Reseal(b);
}

// Each message of the file as a whole, and the diagnosis of the same file (the header's
// declared totals, 405 and 310, are Diagnosis.EveryComparisonSaysWhatItFoundAndExpected's).
TEST_F(ValidationRun, FileLevelMessages) {
  const FailureCase cases[] = {
      {"extension ZAB", nullptr, nullptr, 406, 1, "P0506268.ZAB"},
      {"work name of another employer", nullptr, nullptr, 234, 1, "P0506268.ZAV", "P0506278.ZAV"},
      {"deadline month 13", [](PaymentPlan& s) { s.deadline_month = 13; }, nullptr, 219, 1},
      {"a day after the moved deadline", nullptr, nullptr, 253, 1, "P0506268.ZAV", "P0506268.ZAV",
       "19/07/2005"},
      {"no worker records", NoWorkers, nullptr, 81, 0},
      {"no movement records", NoMovements, DropMovements, 82, 0},
      {"no summary record", nullptr,
       [](std::string& b, ZAV& z, const TempDrives&) {
         // Without a summary the totals compare against zero: the first must exceed it
         // by exactly the tolerance, the others may not exceed it.
         Drop(b, "05");
         const std::size_t n = Records(b);
         for (const Field& f : {record06::kTotalImssRcv, record06::kTotalInfonavitAportacion,
                                record06::kTotalInfonavitAmortizacion}) {
           Put(b, n, f, "000000000000");
         }
         Put(b, n, record06::kTotalImss4Seguros, "000000000100");
         Reseal(b);
         z.igToler = 1;
       },
       83, 0},
      {"no validation record", nullptr,
       [](std::string& b, ZAV&, const TempDrives&) { ForgeWithoutValidationRecord(b); }, 84, 0},
      {"neither worker nor movement records", NoWorkers, DropMovements, 85, 0},
      {"a folder where the archive goes", nullptr,
       [](std::string&, ZAV&, const TempDrives& d) {
         d.MakeFolder("C:/ZAV/temp/33501e01.m1.s0870.rA1234567890.f000123.p200506.e999.zip");
       },
       303, 0},
      // The first failing record ends the run there.
      {"records 3 and 5 wrong", nullptr,
       [](std::string& b, ZAV&, const TempDrives&) {
         Put(b, 3, record03::kSeguridadSocial, "           ");
         Put(b, 5, record06::kFolio, "999999");
       },
       225, 3},
  };
  for (const FailureCase& c : cases) {
    PaymentPlan plan = Small();
    if (c.plan) c.plan(plan);
    std::string bytes = FileOf(plan);
    z_.igToler = 0;
    if (c.file) c.file(bytes, z_, drives_);
    Bring(bytes, c.source, c.work);
    std::vector<std::int16_t> diagnosed;
    for (const Problem& p : DiagnoseFile(z_, c.date)) diagnosed.push_back(p.message);
    const std::string result = z_.ValidaReg(c.date);
    ExpectMessage(result, c.message, c.what);
    // Only packing moves the work file away.
    EXPECT_EQ(FileExists(z_.DestinoArchi + z_.FinalArchi), c.message != 303) << c.what;
    EXPECT_EQ(z_.posicion,
              c.posicion != 0 ? c.posicion : static_cast<std::int32_t>(Records(bytes) + 1))
        << c.what;
    // A diagnosis meets the run's problem first and, for a problem of the file as a whole,
    // nothing else; packing is the run's alone.
    if (c.message == 303) {
      EXPECT_TRUE(diagnosed.empty());
    } else if (c.posicion <= 1) {
      EXPECT_EQ(diagnosed, std::vector<std::int16_t>{c.message}) << c.what;
    } else {
      EXPECT_EQ(diagnosed.at(0), c.message) << c.what;
    }
  }
}

// A run-time failure (the header's month not a number) answers 5; a second run of a file
// already validated finds no work file (2).
TEST_F(ValidationRun, NoWorkFileAnswersTwoRunTimeFailureFive) {
  std::string bytes = FileOf(Small());
  Put(bytes, 1, record02::kMes, "AB");
  Bring(bytes);
  EXPECT_EQ(z_.ValidaReg(kOnTime), "5");
  EXPECT_EQ(z_.posicion, 1);
  Bring(FileOf(Small()));
  ASSERT_EQ(z_.ValidaReg(kOnTime), "0");
  ExpectMessage(z_.ValidaReg(kOnTime), 2, "validated already");
}

}  // namespace
}  // namespace zav
