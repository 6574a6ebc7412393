// The diagnosis lists every problem of a payment file, while the validation run on the same
// file still stops at, and reports, the first.
#include "validation/diagnosis.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "control/messages.hpp"
#include "control/zav.hpp"
#include "platform/file_system.hpp"
#include "platform/temp_drives.hpp"
#include "validation/checksum.hpp"
#include "validation/file_driver.hpp"
#include "validation/payment_writer.hpp"
#include "validation/record_02.hpp"
#include "validation/record_03.hpp"
#include "validation/record_04.hpp"
#include "validation/record_06.hpp"

namespace zav {
namespace {

constexpr std::size_t kLen = kRecordLength;
constexpr char kOnTime[] = "18/07/2005";  // the deadline, Sunday 17 July, moves to Monday

// Four workers, the first with one movement: records 1 header, 2-5 workers, 6 movements,
// 7 summary, 8 validation.
PaymentSpec Plan() {
  PaymentSpec s;
  s.year = 2005;
  s.month = 6;
  s.deadline_year = 2005;
  s.deadline_month = 7;
  s.deadline_day = 17;
  for (int k = 0; k < 4; ++k) {
    PaymentWorker w;
    w.nss = "1234567890" + std::to_string(k);
    w.name = "TRABAJADOR " + std::to_string(k);
    w.bimester_days = 61;
    w.cuota_fija = 1000 * (k + 1);
    w.retiro = 500;
    if (k == 0) w.movements = {{10, 0, 1234}};
    s.workers.push_back(w);
  }
  return s;
}

std::string FileFor(const PaymentSpec& plan) {
  std::ostringstream out;
  WritePaymentFile(plan, out);
  return out.str();
}

void Put(std::string& bytes, std::size_t record, const Field& f, std::string_view text) {
  ASSERT_LE(text.size(), static_cast<std::size_t>(f.length)) << f.name;
  bytes.replace((record - 1) * kLen + f.start - 1, text.size(), text);
}

// The size field and the stored check value brought in line with the file as it is now.
void Reseal(std::string& bytes) {
  const std::size_t n = bytes.size() / kLen;
  Put(bytes, n, record06::kTamanoArchivo,
      std::string(10 - std::to_string(bytes.size()).size(), '0') + std::to_string(bytes.size()));
  RunningCheck check;
  for (std::size_t k = 0; k < n; ++k) check.Fold(std::string_view(bytes).substr(k * kLen, kLen));
  Put(bytes, n, record06::kCheckSum, check.value());
}

struct Seen {
  std::int32_t record;
  int start;
  std::int16_t message;
  bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Seen& s) {
  return os << "{record " << s.record << ", at " << s.start << ", " << s.message << "}";
}

std::vector<Seen> Summary(const std::vector<Problem>& problems) {
  std::vector<Seen> out;
  for (const Problem& p : problems) out.push_back({p.record, p.start, p.message});
  return out;
}

class Diagnosis : public ::testing::Test {
 protected:
  void Bring(const std::string& bytes, const std::string& source = "P0506268.ZAV",
             const std::string& work = "P0506268.ZAV") {
    drives_.Write("A:/" + source, bytes);
    z_.inicio();
    z_.OrigenArchi = "A:\\";
    z_.FinalArchi = work;
    z_.copiaArch(source);
    z_.NumDiscos = 1;
  }

  // The run's message on a copy of the control (0 for "0", -1 for "5").
  std::int16_t RunMessage(const std::string& date = kOnTime) {
    ZAV run = z_;
    const std::string result = RunValidation(run, date, RunOptions{false});
    if (result == "5") return -1;
    return run.working().last_message;
  }

  testing::TempDrives drives_{"C=fixed;A=removable"};
  ZAV z_;
};

TEST_F(Diagnosis, AValidFileHasNoProblems) {
  Bring(FileFor(Plan()));
  EXPECT_EQ(RunMessage(), 0);
  EXPECT_TRUE(DiagnoseFile(z_, kOnTime).empty());
}

TEST_F(Diagnosis, ListsEveryFaultWhileTheRunReportsTheFirst) {
  using namespace record03;
  std::string bytes = FileFor(Plan());
  Put(bytes, 1, record02::kCodigoPostal, "0660X");                          // 2100
  Put(bytes, 3, kSeguridadSocial, "1234567890X");                           // 225
  Put(bytes, 3, kTipoTrabajador, "X");                                      // 172, same record
  Put(bytes, 3, kDiasCotizadosBimestre, "6X");                              // 185, same record
  Put(bytes, 5, kNombre, "TRABAJADOR \245");                                // 3113
  Put(bytes, 6, EntryField(0, record04::kSeguridadSocial), "ABCDEFGHIJK");  // 236
  Put(bytes, 8, record06::kVersion, "W201");                                // 49, the file's
  Reseal(bytes);
  Bring(bytes);

  const std::vector<Problem> problems = DiagnoseFile(z_, kOnTime);
  const std::vector<Seen> expected = {
      {8, 69, 49},   {1, 171, 2100}, {3, 33, 225}, {3, 152, 172},
      {3, 216, 185}, {5, 95, 3113},  {6, 14, 236},
  };
  EXPECT_EQ(Summary(problems), expected);
  EXPECT_EQ(RunMessage(), 49);  // the run stops at the first
  ASSERT_EQ(problems.size(), expected.size());
  EXPECT_EQ(problems[2].type, 3);
  EXPECT_EQ(problems[2].length, 11);
  EXPECT_EQ(problems[2].field, "n\372mero de seguridad social");
  EXPECT_EQ(problems[2].text, CatalogText(225));
  EXPECT_EQ(problems[6].field, "movimiento 1: n\372mero de seguridad social");

  // With the version mended, the run's verdict moves on to the next problem in the list.
  Put(bytes, 8, record06::kVersion, "W301");
  Reseal(bytes);
  Bring(bytes);
  EXPECT_EQ(RunMessage(), 2100);
  EXPECT_EQ(Summary(DiagnoseFile(z_, kOnTime)),
            std::vector<Seen>(expected.begin() + 1, expected.end()));
}

// Each problem of the file as a whole is found by the diagnosis as the run finds it, and
// nothing else is reported for it.
TEST_F(Diagnosis, FileLevelProblemsAsTheRunFindsThem) {
  struct Case {
    const char* what;
    void (*edit)(std::string& bytes);
    std::int16_t message;
    const char* source = "P0506268.ZAV";
    const char* work = "P0506268.ZAV";
    const char* date = kOnTime;
  };
  const Case cases[] = {
      {"extension", nullptr, 406, "P0506268.ZAB"},
      {"work name", nullptr, 234, "P0506268.ZAV", "10506268.ZAV"},
      {"deadline", [](std::string& b) { Put(b, 8, record06::kFechaLimite, "20051332"); }, 219},
      {"late", nullptr, 253, "P0506268.ZAV", "P0506268.ZAV", "19/07/2005"},
      {"check value", [](std::string& b) { Put(b, 2, record03::kNombre, "K"); }, 144},
      {"worker count", [](std::string& b) { Put(b, 1, record02::kTotalTrabajadores, "000000003"); },
       405},
      {"days total", [](std::string& b) { Put(b, 1, record02::kTotalDias, "0000001"); }, 310},
  };
  for (const Case& c : cases) {
    std::string bytes = FileFor(Plan());
    if (c.edit) c.edit(bytes);
    if (c.message != 144) Reseal(bytes);
    Bring(bytes, c.source, c.work);
    EXPECT_EQ(RunMessage(c.date), c.message) << c.what;
    std::vector<std::int16_t> messages;
    for (const Problem& p : DiagnoseFile(z_, c.date)) messages.push_back(p.message);
    EXPECT_EQ(messages, std::vector<std::int16_t>{c.message}) << c.what;
  }
}

// A run-time failure ends the run with "5"; the diagnosis notes it against its record and
// goes on to the problems after it.
TEST_F(Diagnosis, RunTimeFailureIsNotedAndTheWalkGoesOn) {
  std::string bytes = FileFor(Plan());
  Put(bytes, 7, record02::kTipo, "-5");  // the summary's type is not a byte
  Put(bytes, 8, record06::kFolio, "999999");
  Reseal(bytes);
  Bring(bytes);
  EXPECT_EQ(RunMessage(), -1);
  const std::vector<Problem> problems = DiagnoseFile(z_, kOnTime);
  ASSERT_GE(problems.size(), 2u);
  EXPECT_EQ(problems[0].record, 7);
  EXPECT_NE(problems[0].failure, 0);
  EXPECT_EQ(Summary({problems[1]}).front(), (Seen{8, 33, 252}));
  // The work file stays where it was, unchanged.
  EXPECT_EQ(testing::ReadAll(drives_.native("C:/ZAV/temp/P0506268.ZAV")), bytes);
}

}  // namespace
}  // namespace zav
