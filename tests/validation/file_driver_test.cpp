// End-to-end runs of the validation: files from the payment writer, brought in from a
// diskette drive A to the work folder on drive C the way a page does (inicio, copiaArch or
// the diskette methods, NumDiscos), then ValidaReg with the server's date.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "control/zav.hpp"
#include "platform/file_system.hpp"
#include "platform/temp_drives.hpp"
#include "validation/checksum.hpp"
#include "validation/layout.hpp"
#include "validation/payment_writer.hpp"
#include "validation/record_02.hpp"
#include "validation/record_03.hpp"
#include "validation/record_06.hpp"

namespace zav {
namespace {

using testing::TempDrives;

constexpr std::size_t kLen = kRecordLength;
constexpr char kOnTime[] = "18/07/2005";  // the deadline, Sunday 17 July, moves to Monday 18

// Two workers with round amounts; every total below is worked out by hand from them.
PaymentSpec Small() {
  PaymentSpec s;
  s.folio = "000123";
  s.nombre = "PATRON DE PRUEBA";
  s.year = 2005;
  s.month = 6;
  s.deadline_year = 2005;
  s.deadline_month = 7;
  s.deadline_day = 17;
  s.multas = 300;
  s.donativos = 400;
  PaymentWorker a;
  a.nss = "12345678901";
  a.name = "JUAN PEREZ";
  a.days = 30;
  a.bimester_days = 61;
  a.cuota_fija = 10000;
  a.cuota_excedente = 2050;
  a.prestaciones_dinero = 3000;
  a.gastos_medicos = 400;
  a.riesgos_trabajo = 5000;
  a.invalidez_vida = 6000;
  a.guarderias = 700;
  a.retiro = 40000;
  a.cesantia_patronal = 20000;
  a.cesantia_trabajador = 10000;
  a.aportacion_voluntaria = 5000;
  a.aportacion_vivienda = 8000;
  a.movements = {{10, 0, 1234}};
  PaymentWorker b;
  b.nss = "10987654321";
  b.name = "MARIA LOPEZ";
  b.housing_credit = "1234567890";
  b.days = 15;
  b.bimester_days = 45;
  b.cuota_fija = 5000;
  b.recargos_seguros = 300;
  b.aportacion_vivienda = 2000;
  b.amortizacion_credito = 9000;
  s.workers = {a, b};
  return s;
}

std::string FileOf(const PaymentSpec& plan) {
  std::ostringstream out;
  WritePaymentFile(plan, out);
  return out.str();
}

std::size_t Records(const std::string& bytes) { return bytes.size() / kLen; }

// Record k (1-based) of a file held in memory.
char* At(std::string& bytes, std::size_t k, const Field& f) {
  return bytes.data() + (k - 1) * kLen + static_cast<std::size_t>(f.start - 1);
}
void Put(std::string& bytes, std::size_t k, const Field& f, std::string_view text) {
  ASSERT_EQ(text.size(), static_cast<std::size_t>(f.length)) << f.name;
  std::copy(text.begin(), text.end(), At(bytes, k, f));
}

// Removes every record of the two-digit type.
void Drop(std::string& bytes, std::string_view type) {
  std::string kept;
  for (std::size_t k = 0; k < Records(bytes); ++k) {
    if (bytes.compare(k * kLen, 2, type) != 0) kept.append(bytes, k * kLen, kLen);
  }
  bytes = kept;
}

// Brings the size field and the stored check value of the validation record (the last
// record) in line with the file as it now is.
void Reseal(std::string& bytes) {
  const std::size_t n = Records(bytes);
  char size[11];
  std::snprintf(size, sizeof size, "%010zu", bytes.size());
  Put(bytes, n, record06::kTamanoArchivo, size);
  RunningCheck check;
  for (std::size_t k = 0; k < n; ++k) check.Fold(std::string_view(bytes).substr(k * kLen, kLen));
  Put(bytes, n, record06::kCheckSum, check.value());
}

// Replaces the validation record by a movement record whose first entry is blank, so the
// movement check reads nothing past the registration number. It carries the deadline and
// version where the file-level checks read them, and a stored check value; the characters
// after that value are chosen one by one so that the file's running value comes out equal
// to it.
void ForgeWithoutValidationRecord(std::string& bytes) {
  const std::string validation = bytes.substr(bytes.size() - kLen);
  bytes.resize(bytes.size() - kLen);
  std::string r(kLen, ' ');
  r.replace(0, 13, "04" + validation.substr(2, 11));
  r.replace(58, 14, validation, 58, 14);  // deadline, diskettes, version
  const std::string stored(19, '0');
  r.replace(120, 19, stored);

  RunningCheck check;
  for (std::size_t k = 0; k < Records(bytes); ++k) {
    check.Fold(std::string_view(bytes).substr(k * kLen, kLen));
  }
  check.Fold(std::string_view(r).substr(0, 139));
  static constexpr std::string_view kCounted = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  const auto matching = [&](const RunningCheck& c) {
    int same = 0;
    for (std::size_t d = 0; d < 19; ++d) same += c.value()[d] == stored[d];
    return same;
  };
  for (std::size_t pos = 139; pos < kLen && !check.Matches(stored); ++pos) {
    RunningCheck best = check;
    int best_score = -1;
    for (const char c : kCounted) {
      RunningCheck next = check;
      next.Fold(std::string_view(&c, 1));
      if (matching(next) > best_score) {
        best_score = matching(next);
        best = next;
        r[pos] = c;
      }
    }
    check = best;
  }
  ASSERT_TRUE(check.Matches(stored));
  bytes += r;
}

// The whole output of a command.
std::string Output(const std::string& command) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, p)) > 0;)
    out.append(buffer, got);
  ::pclose(p);
  return out;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts(1);
  for (const char c : text) {
    if (c == separator) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

class ValidationRun : public ::testing::Test {
 protected:
  // Puts the file on the diskette as `source` and brings it in under `work`.
  void Bring(const std::string& bytes, const std::string& source = "P0506268.ZAV",
             const std::string& work = "P0506268.ZAV") {
    drives_.Write("A:/" + source, bytes);
    z_.inicio();
    z_.OrigenArchi = "A:\\";
    z_.FinalArchi = work;
    z_.copiaArch(source);
    z_.NumDiscos = 1;
  }

  // Expects the run to have ended with message `number`.
  void ExpectMessage(const std::string& result, std::int16_t number, const std::string& what) {
    EXPECT_EQ(z_.working().last_message, number) << what;
    EXPECT_EQ(result, z_.Obtiene_Mensajes(number)) << what;
  }

  // The archive of an accepted run holds `bytes` and nothing is left under the work name.
  void ExpectPacked(const std::string& bytes) {
    const std::string archive = drives_.native("C:/ZAV/temp/" + z_.sArchZAVZip());
    EXPECT_EQ(Output("unzip -p '" + archive + "'"), bytes);
    EXPECT_FALSE(FileExists(z_.DestinoArchi + z_.FinalArchi));
  }

  TempDrives drives_{"C=fixed;A=removable"};
  ZAV z_;
};

TEST_F(ValidationRun, AcceptsFilesOfEveryKindOfPeriod) {
  struct Case {
    const char* what;
    PaymentSpec plan;
  };
  const auto generated = [](int month, std::int64_t workers) {
    PaymentSpec s = SamplePaymentSpec(workers, static_cast<std::uint32_t>(month));
    s.year = 2005;
    s.month = month;
    s.deadline_year = 2005;
    s.deadline_month = 7;
    s.deadline_day = 17;
    return s;
  };
  const Case cases[] = {
      {"even month, explicit workers", Small()}, {"even month, generated", generated(6, 60)},
      {"odd month", generated(5, 60)},           {"period 13", generated(13, 60)},
      {"period 14", generated(14, 60)},
  };
  for (const Case& c : cases) {
    const std::string bytes = FileOf(c.plan);
    Bring(bytes, "P0506268.ZAV", WorkFileName(c.plan));
    EXPECT_EQ(z_.ValidaReg(kOnTime), "0") << c.what << ": " << z_.working().last_message;
    EXPECT_EQ(z_.posicion, static_cast<std::int32_t>(Records(bytes) + 1)) << c.what;
    EXPECT_EQ(z_.iCantidadregistros3,
              static_cast<std::int32_t>(c.plan.workers.size() + c.plan.generated_workers));
    ExpectPacked(bytes);
  }
}

TEST_F(ValidationRun, AcceptsAFileSplitOverDiskettes) {
  PaymentSpec plan = SamplePaymentSpec(40, 9);
  const auto parts = WriteDiskettes(plan, drives_.root('A'), "P0404268", 3);
  ASSERT_EQ(parts.size(), 3u);
  z_.inicio();
  z_.OrigenArchi = "A:\\";
  z_.FinalArchi = WorkFileName(plan);
  z_.OrigenNombre = "P0404268.ZA0";
  std::vector<int> answers;
  for (std::uint8_t k = 0; k < 3; ++k) {
    const std::string name = "P0404268.ZA" + std::to_string(k);
    EXPECT_EQ(z_.IntegraDisco(name, k), 0);
    answers.push_back(z_.ChecaUltimoDisco(name));
  }
  EXPECT_EQ(answers, (std::vector<int>{0, 0, 3}));
  EXPECT_EQ(z_.NumDiscos, 3);
  EXPECT_EQ(z_.ValidaReg("17/05/2004"), "0") << z_.working().last_message;
  plan.diskettes = 3;
  ExpectPacked(FileOf(plan));
}

TEST_F(ValidationRun, AcceptsFortyThousandWorkers) {
  const PaymentSpec plan = SamplePaymentSpec(40000, 3);
  Bring(FileOf(plan), "P0404268.ZAV", WorkFileName(plan));
  EXPECT_EQ(z_.ValidaReg("17/05/2004"), "0") << z_.working().last_message;
  EXPECT_EQ(z_.iCantidadregistros3, 40000);
}

// The figures the page reads, worked out by hand from Small(): the summary amounts are
// S15 = 100+50 + 20.50 + 30 + 4 + 50 + 60 + 7 = 321.50, S16 = S17 = 3.00 / 2, S20 = 400 +
// (200+100), S23 = 50, S29 = 12.34 (the type-10 movement), S24 = 80 (no credit), S25 = 20
// (with a credit), S26 = 90, S30 = 3, S31 = 4; the four totals are 324.50, 762.34, 80, 117.
TEST_F(ValidationRun, CaptureLineAndParameterString) {
  Bring(FileOf(Small()));
  ASSERT_EQ(z_.ValidaReg(kOnTime), "0");
  // The two check strings were folded by hand over "A1234567890000123200506" and
  // "3245076234800011700".
  EXPECT_EQ(Split(z_.LineaDeCaptura(), '-'),
            (std::vector<std::string>{"A1234567890", "000123", "200506", "864", "32450", "76234",
                                      "8000", "11700", "108"}));
  const std::string line = "A1234567890-000123-200506-864-32450-76234-8000-11700-108";
  const std::string archive =
      "C:\\ZAV\\temp\\33501e01.m1.s0870.rA1234567890.f000123.p200506.e999.zip";
  EXPECT_EQ(Split(z_.sParamZAV().ToText(), '|'),
            (std::vector<std::string>{"PATRON DE PRUEBA" + std::string(34, ' '),
                                      "A1234567890",
                                      "ABCD010101XY1",
                                      "000123",
                                      "2",
                                      "06",
                                      "2005",
                                      "3",
                                      "2005",  // workers, period, bimester
                                      "321.5",
                                      "1.5",
                                      "1.5",
                                      "324.5",  // four insurances
                                      "700",
                                      "0",
                                      "0",
                                      "50",
                                      "12.34",
                                      "762.34",  // RCV and the rest
                                      "80",
                                      "20",
                                      "90",
                                      "0",
                                      "0",
                                      "3",
                                      "4",
                                      "197",
                                      "1283.84",  // housing, total
                                      archive,
                                      line,
                                      "W301"}));
}

struct FailureCase {
  const char* what;
  void (*plan)(PaymentSpec&);
  void (*file)(std::string& bytes, ZAV& z, const TempDrives& drives);
  std::int16_t message;
  std::int32_t posicion;  // 0: after the last record
  const char* source = "P0506268.ZAV";
  const char* work = "P0506268.ZAV";
  const char* date = kOnTime;
};

void NoWorkers(PaymentSpec& s) { s.workers.clear(); }
void NoMovements(PaymentSpec& s) {
  for (PaymentWorker& w : s.workers) w.movements.clear();
}

TEST_F(ValidationRun, FileLevelMessages) {
  const FailureCase cases[] = {
      {"extension ZAB", nullptr, nullptr, 406, 1, "P0506268.ZAB"},
      {"work name starting with a digit", nullptr, nullptr, 234, 1, "P0506268.ZAV", "10506268.ZAV"},
      {"work name of another employer", nullptr, nullptr, 234, 1, "P0506268.ZAV", "P0506278.ZAV"},
      {"deadline month 13", [](PaymentSpec& s) { s.deadline_month = 13; }, nullptr, 219, 1},
      {"version W201", [](PaymentSpec& s) { s.version = "W201"; }, nullptr, 49, 1},
      {"a day after the moved deadline", nullptr, nullptr, 253, 1, "P0506268.ZAV", "P0506268.ZAV",
       "19/07/2005"},
      {"an upper-case letter altered", nullptr,
       [](std::string& b, ZAV&, const TempDrives&) { *At(b, 2, record03::kNombre) = 'K'; }, 144, 0},
      {"fewer workers declared", nullptr,
       [](std::string& b, ZAV&, const TempDrives&) {
         Put(b, 1, record02::kTotalTrabajadores, "000000001");
         Reseal(b);
       },
       405, 0},
      {"days total matching neither sum", nullptr,
       [](std::string& b, ZAV&, const TempDrives&) {
         Put(b, 1, record02::kTotalDias, "0000046");
         Reseal(b);
       },
       310, 0},
      {"no worker records", NoWorkers, nullptr, 81, 0},
      {"no movement records", NoMovements,
       [](std::string& b, ZAV&, const TempDrives&) {
         Drop(b, "04");
         Reseal(b);
       },
       82, 0},
      {"no summary record", nullptr,
       [](std::string& b, ZAV& z, const TempDrives&) {
         // Without a summary the totals compare against zero: the first must exceed it
         // by exactly the tolerance, the others may not exceed it.
         Drop(b, "05");
         const std::size_t n = Records(b);
         Put(b, n, record06::kTotalImss4Seguros, "000000000100");
         Put(b, n, record06::kTotalImssRcv, "000000000000");
         Put(b, n, record06::kTotalInfonavitAportacion, "000000000000");
         Put(b, n, record06::kTotalInfonavitAmortizacion, "000000000000");
         Reseal(b);
         z.igToler = 1;
       },
       83, 0},
      {"no validation record", nullptr,
       [](std::string& b, ZAV&, const TempDrives&) { ForgeWithoutValidationRecord(b); }, 84, 0},
      {"neither worker nor movement records", NoWorkers,
       [](std::string& b, ZAV&, const TempDrives&) {
         Drop(b, "04");
         Reseal(b);
       },
       85, 0},
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
    PaymentSpec plan = Small();
    if (c.plan) c.plan(plan);
    std::string bytes = FileOf(plan);
    z_.igToler = 0;
    if (c.file) c.file(bytes, z_, drives_);
    Bring(bytes, c.source, c.work);
    const std::string result = z_.ValidaReg(c.date);
    ExpectMessage(result, c.message, c.what);
    // Only packing moves the work file away.
    EXPECT_EQ(FileExists(z_.DestinoArchi + z_.FinalArchi), c.message != 303) << c.what;
    EXPECT_EQ(z_.posicion,
              c.posicion != 0 ? c.posicion : static_cast<std::int32_t>(Records(bytes) + 1))
        << c.what;
  }
}

TEST_F(ValidationRun, DaysTotalMayMatchTheBimesterDays) {
  std::string bytes = FileOf(Small());
  Put(bytes, 1, record02::kTotalDias, "0000106");  // 61 + 45
  Reseal(bytes);
  Bring(bytes);
  EXPECT_EQ(z_.ValidaReg(kOnTime), "0");
}

TEST_F(ValidationRun, RunTimeFailuresAnswerFive) {
  Bring("");
  EXPECT_EQ(z_.ValidaReg(kOnTime), "5");

  std::string bytes = FileOf(Small());
  Put(bytes, 1, record02::kMes, "AB");
  Bring(bytes);
  EXPECT_EQ(z_.ValidaReg(kOnTime), "5");
  EXPECT_EQ(z_.posicion, 1);
}

TEST_F(ValidationRun, NoWorkFileAnswersTwo) {
  z_.inicio();
  z_.FinalArchi = "P0506268.ZAV";
  ExpectMessage(z_.ValidaReg(kOnTime), 2, "never brought in");

  Bring(FileOf(Small()));
  ASSERT_EQ(z_.ValidaReg(kOnTime), "0");
  ExpectMessage(z_.ValidaReg(kOnTime), 2, "validated already");
}

}  // namespace
}  // namespace zav
