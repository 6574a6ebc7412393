// The diagnosis lists every problem of a payment file, while the validation run on the same
// file still stops at, and reports, the first. The problems of the file as a whole are in
// file_driver_test.cpp, next to the run's.
#include "reports/diagnosis.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "control/messages.hpp"
#include "records/record_02.hpp"
#include "records/record_03.hpp"
#include "records/record_04.hpp"
#include "records/record_05.hpp"
#include "support/payment_run.hpp"
#include "validation/file_driver.hpp"

namespace zav {
namespace {

using namespace testing;

// A problem as (record, field start, message).
using Seen = std::tuple<std::int32_t, int, std::int16_t>;

std::vector<Seen> Summary(const std::vector<Problem>& problems) {
  std::vector<Seen> out;
  for (const Problem& p : problems) out.push_back({p.record, p.start, p.message});
  return out;
}

class Diagnosis : public PaymentRun {
 protected:
  // The run's message on a copy of the control (0 for "0", -1 for "5").
  std::int16_t RunMessage() {
    ZAV run = z_;
    const std::string result = RunValidation(run, kOnTime, RunOptions{false});
    return result == "5" ? -1 : run.working().last_message;
  }
};

TEST_F(Diagnosis, ListsEveryFaultWhileTheRunReportsTheFirst) {
  std::string bytes = FileOf(Small());
  Bring(bytes);
  EXPECT_EQ(RunMessage(), 0);
  EXPECT_TRUE(DiagnoseFile(z_, kOnTime).empty());

  using namespace record03;
  Put(bytes, 1, record02::kCodigoPostal, "0660X");                          // 2100
  Put(bytes, 2, kSeguridadSocial, "1234567890X");                           // 225
  Put(bytes, 2, kTipoTrabajador, "X");                                      // 172, same record
  Put(bytes, 2, kDiasCotizadosBimestre, "6X");                              // 185, same record
  Put(bytes, 3, kNombre, "MARIA \245");                                     // 3113
  Put(bytes, 4, EntryField(0, record04::kSeguridadSocial), "ABCDEFGHIJK");  // 236
  Put(bytes, 6, record06::kVersion, "W201");                                // 49, the file's
  Reseal(bytes);
  Bring(bytes);

  const std::vector<Problem> problems = DiagnoseFile(z_, kOnTime);
  const std::vector<Seen> expected = {
      {6, 69, 49},   {1, 171, 2100}, {2, 33, 225}, {2, 152, 172},
      {2, 216, 185}, {3, 95, 3113},  {4, 14, 236},
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
  Put(bytes, 6, record06::kVersion, "W301");
  Reseal(bytes);
  Bring(bytes);
  EXPECT_EQ(RunMessage(), 2100);
  EXPECT_EQ(Summary(DiagnoseFile(z_, kOnTime)),
            std::vector<Seen>(expected.begin() + 1, expected.end()));
}

// A run-time failure ends the run with "5"; the diagnosis notes it against its record and
// goes on to the problems after it.
TEST_F(Diagnosis, RunTimeFailureIsNotedAndTheWalkGoesOn) {
  std::string bytes = FileOf(Small());
  Put(bytes, 5, record02::kTipo, "-5");  // the summary's type is not a byte
  Put(bytes, 6, record06::kFolio, "999999");
  Reseal(bytes);
  Bring(bytes);
  EXPECT_EQ(RunMessage(), -1);
  const std::vector<Problem> problems = DiagnoseFile(z_, kOnTime);
  ASSERT_GE(problems.size(), 2u);
  EXPECT_EQ(problems[0].record, 5);
  EXPECT_NE(problems[0].failure, 0);
  EXPECT_EQ(Summary({problems[1]}).front(), (Seen{6, 33, 252}));
  // The work file stays where it was, unchanged.
  EXPECT_EQ(ReadAll(drives_.native("C:/ZAV/temp/P0506268.ZAV")), bytes);
}

// What each comparison found and expected, on files that hold exactly one fault. Small()
// adds up to: cuota fija 150.00, the four insurances 321.50 (+3.00 update and surcharges),
// retirement 400.00, old age 300.00, voluntary 50.00, housing 80.00 + 20.00 with credit,
// credit amortisation 90.00, the movements' salaries 12.34; 30 + 15 days in the month.
TEST_F(Diagnosis, EveryComparisonSaysWhatItFoundAndExpected) {
  using Kind = Explanation::Kind;
  using namespace record05;
  namespace v = record06;
  struct Row {
    std::size_t record;
    Field field;
    std::string text;  // written over the field's start
    std::int16_t message;
    Kind kind;
    std::string found, expected, difference = {}, tolerance = {};
    std::vector<int> marked = {};
    int toler = 0;
    std::string date = kOnTime;
  };
  const Row rows[] = {
      {5, kCuotaFija, "000015100", 240, Kind::kAmount, "151.00", "150.00", "1.00", "0.00"},
      {5, kCuotaFija, "000015300", 240, Kind::kAmount, "153.00", "150.00", "3.00", "2.00", {}, 2},
      {5, kSubtotal4Seguros, "00000032250", 242, Kind::kAmount, "322.50", "321.50", "1.00", "0.00"},
      {5, kRecargos4Seguros, "000000400", 241, Kind::kAmount, "5.50", "3.00", "2.50", "0.00"},
      {5, kRetiro, "000040100", 243, Kind::kAmount, "401.00", "400.00", "1.00", "0.00"},
      {5, kCesantiaVejez, "000029900", 244, Kind::kAmount, "299.00", "300.00", "-1.00", "0.00"},
      {5, kSubtotalRcv, "00000070100", 245, Kind::kAmount, "701.00", "700.00", "1.00", "0.00"},
      {5, kRecargosRcv, "000000100", 246, Kind::kAmount, "1.00", "0.00", "1.00", "0.00"},
      {5, kVoluntarias, "00000005100", 247, Kind::kAmount, "51.00", "50.00", "1.00", "0.00"},
      {5, kViviendaAmortizacion, "000002100", 248, Kind::kAmount, "101.00", "100.00", "1.00",
       "0.00"},
      {5, kAmortizacionCredito, "000009100", 249, Kind::kAmount, "91.00", "90.00", "1.00", "0.00"},
      {5, kComplementarias, "000000000", 404, Kind::kAmount, "0.00", "12.34", "-12.34", "0.00"},
      {6, v::kTotalImss4Seguros, "000000032550", 254, Kind::kAmount, "325.50", "324.50", "1.00",
       "0.00"},
      {6, v::kTotalImssRcv, "000000076334", 255, Kind::kAmount, "763.34", "762.34", "1.00", "0.00"},
      {6, v::kTotalInfonavitAportacion, "000000008100", 256, Kind::kAmount, "81.00", "80.00",
       "1.00", "0.00"},
      {6, v::kTotalInfonavitAmortizacion, "000000011800", 257, Kind::kAmount, "118.00", "117.00",
       "1.00", "0.00"},
      {1, record02::kTotalTrabajadores, "000000003", 405, Kind::kCount, "3", "2"},
      {1, record02::kTotalDias, "0000046", 310, Kind::kCount, "46", "45"},
      {6, v::kDiscos, "02", 260, Kind::kCount, "2", "1"},
      {5, kTipo, "05", 229, Kind::kCount, "2", "4"},  // with a header declaring 4 workers
      // clang-format off
      {6, v::kFechaLimite, "20050717", 253, Kind::kDate, "21/07/2005", "18/07/2005", {}, {}, {},
       0, "21/07/2005"},
      {6, v::kFechaLimite, "20051317", 219, Kind::kFormat, "20051317",
       "fecha AAAAMMDD v\341lida, desde junio de 1997", {}, {}, {5, 6}},
      {2, record03::kSeguridadSocial, "1234567890X", 225, Kind::kFormat, "1234567890X",
       "11 d\355gitos", {}, {}, {11}},
      {1, record02::kCodigoPostal, " 6600", 2100, Kind::kFormat, " 6600",
       "5 d\355gitos, sin espacios", {}, {}, {1}},
      {3, record03::kRegistroPatronal, "A1234567899", 34, Kind::kText, "A1234567899",
       "A1234567890", {}, {}, {11}},
      // clang-format on
      {5, kFolio, "000124", 239, Kind::kText, "000124", "000123", {}, {}, {6}},
  };
  const std::string clean = FileOf(Small());
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.message) + " " + row.field.name);
    std::string bytes = clean;
    Put(bytes, row.record, row.field, row.text);
    if (row.message == 229) Put(bytes, 1, record02::kTotalTrabajadores, "000000004");
    Reseal(bytes);
    Bring(bytes);
    z_.igToler = static_cast<std::uint8_t>(row.toler);
    const std::vector<Problem> problems = DiagnoseFile(z_, row.date);
    const auto p = std::find_if(problems.begin(), problems.end(),
                                [&](const Problem& q) { return q.message == row.message; });
    ASSERT_NE(p, problems.end()) << ::testing::PrintToString(Summary(problems));
    const Explanation& e = p->explained;
    EXPECT_EQ(e.kind, row.kind);
    EXPECT_EQ(e.found, row.found);
    EXPECT_EQ(e.expected, row.expected);
    EXPECT_EQ(e.difference, row.difference);
    EXPECT_EQ(e.tolerance, row.tolerance);
    EXPECT_EQ(e.marked, row.marked);
  }
}

// The contributing records, the check value and the lateness say more than two values.
TEST_F(Diagnosis, ExplanationsCountWhatAddedUpAndDateTheLateness) {
  std::string bytes = FileOf(Small());
  Put(bytes, 5, record05::kCuotaFija, "000015100");        // 240, from 2 workers
  Put(bytes, 5, record05::kComplementarias, "000000000");  // 404, from 1 movement record
  Reseal(bytes);
  Put(bytes, 6, record06::kCheckSum, "1111111111111111111");  // 144
  Bring(bytes);
  const std::vector<Problem> problems = DiagnoseFile(z_, "20/07/2005");  // 2 days late
  const auto of = [&problems](std::int16_t message) {
    for (const Problem& p : problems) {
      if (p.message == message) return p.explained;
    }
    ADD_FAILURE() << "no " << message;
    return Explanation{};
  };
  EXPECT_EQ(of(253).deadline, "17/07/2005");
  EXPECT_EQ(of(253).days_late, 2);
  EXPECT_EQ(of(240).workers, 2);
  EXPECT_EQ(of(404).movements, 1);
  EXPECT_EQ(of(144).found, "1111111111111111111");
  EXPECT_EQ(of(144).expected.size(), 19u);
  EXPECT_NE(of(144).note.find("qu\351 registro"), std::string::npos);

  // Beyond the problems kept, the others are counted.
  const Findings few = DiagnoseFileUpTo(z_, "20/07/2005", {}, 2);
  EXPECT_EQ(few.problems, std::vector<Problem>(problems.begin(), problems.begin() + 2));
  EXPECT_EQ(few.more, problems.size() - 2);
}

}  // namespace
}  // namespace zav
