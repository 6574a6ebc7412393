// The diagnosis lists every problem of a file while the run reports the first (file-wide ones:
// file_driver_test.cpp); the hint names a refused file's recognisable cause.
#include "reports/diagnosis.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "basic/cp1252.hpp"
#include "control/messages.hpp"
#include "records/record_02.hpp"
#include "records/record_03.hpp"
#include "records/record_04.hpp"
#include "records/record_05.hpp"
#include "reports/hint.hpp"
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
  EXPECT_EQ(std::tie(problems[2].type, problems[2].length, problems[2].field, problems[2].text),
            std::tuple(3, 11, "n\372mero de seguridad social", CatalogText(225)));
  EXPECT_EQ(problems[6].field, "movimiento 1: n\372mero de seguridad social");
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
  EXPECT_EQ(std::pair(problems[0].record, problems[0].failure != 0), std::pair(5, true));
  EXPECT_EQ(Summary({problems[1]}).front(), (Seen{6, 33, 252}));
  // The work file stays where it was, unchanged.
  EXPECT_EQ(ReadAll(drives_.native("C:/ZAV/temp/P0506268.ZAV")), bytes);
}

// What each comparison found and expected, on files that hold exactly one fault. Small()
// adds up to: cuota fija 150.00, the four insurances 321.50 (+3.00 update and surcharges),
// retirement 400.00, old age 300.00, voluntary 50.00, housing 80.00 + 20.00 with credit,
// credit amortisation 90.00, the movements' salaries 12.34; 30 + 15 days in the month.
TEST_F(Diagnosis, EveryComparisonSaysWhatItFoundAndExpected) {
  using enum Explanation::Kind;
  using namespace record05;
  namespace v = record06;
  struct Row {
    std::size_t record;
    Field field;
    std::string text;  // written over the field's start
    std::int16_t message;
    Explanation::Kind kind;
    std::string found, expected, difference = {}, tolerance = {};
    std::vector<int> marked = {};
    int toler = 0;
    std::string date = kOnTime;
  };
  // clang-format off
  const Row rows[] = {
      {5, kCuotaFija, "000015100", 240, kAmount, "151.00", "150.00", "1.00", "0.00"},
      {5, kCuotaFija, "000015300", 240, kAmount, "153.00", "150.00", "3.00", "2.00", {}, 2},
      {5, kSubtotal4Seguros, "00000032250", 242, kAmount, "322.50", "321.50", "1.00", "0.00"},
      {5, kRecargos4Seguros, "000000400", 241, kAmount, "5.50", "3.00", "2.50", "0.00"},
      {5, kRetiro, "000040100", 243, kAmount, "401.00", "400.00", "1.00", "0.00"},
      {5, kCesantiaVejez, "000029900", 244, kAmount, "299.00", "300.00", "-1.00", "0.00"},
      {5, kSubtotalRcv, "00000070100", 245, kAmount, "701.00", "700.00", "1.00", "0.00"},
      {5, kRecargosRcv, "000000100", 246, kAmount, "1.00", "0.00", "1.00", "0.00"},
      {5, kVoluntarias, "00000005100", 247, kAmount, "51.00", "50.00", "1.00", "0.00"},
      {5, kViviendaAmortizacion, "000002100", 248, kAmount, "101.00", "100.00", "1.00", "0.00"},
      {5, kAmortizacionCredito, "000009100", 249, kAmount, "91.00", "90.00", "1.00", "0.00"},
      {5, kComplementarias, "000000000", 404, kAmount, "0.00", "12.34", "-12.34", "0.00"},
      {6, v::kTotalImss4Seguros, "000000032550", 254, kAmount, "325.50", "324.50", "1.00", "0.00"},
      {6, v::kTotalImssRcv, "000000076334", 255, kAmount, "763.34", "762.34", "1.00", "0.00"},
      {6, v::kTotalInfonavitAportacion, "000000008100", 256, kAmount, "81.00", "80.00", "1.00",
       "0.00"},
      {6, v::kTotalInfonavitAmortizacion, "000000011800", 257, kAmount, "118.00", "117.00", "1.00",
       "0.00"},
      {1, record02::kTotalTrabajadores, "000000003", 405, kCount, "3", "2"},
      {1, record02::kTotalDias, "0000046", 310, kCount, "46", "45"},
      {6, v::kDiscos, "02", 260, kCount, "2", "1"},
      {5, kTipo, "05", 229, kCount, "2", "4"},  // with a header declaring 4 workers
      {6, v::kFechaLimite, "20050717", 253, kDate, "21/07/2005", "18/07/2005", {}, {}, {}, 0,
       "21/07/2005"},
      {6, v::kFechaLimite, "20051317", 219, kFormat, "20051317",
       "fecha AAAAMMDD v\341lida, desde junio de 1997", {}, {}, {5, 6}},
      {2, record03::kSeguridadSocial, "1234567890X", 225, kFormat, "1234567890X", "11 d\355gitos",
       {}, {}, {11}},
      {1, record02::kCodigoPostal, " 6600", 2100, kFormat, " 6600", "5 d\355gitos, sin espacios",
       {}, {}, {1}},
      {3, record03::kRegistroPatronal, "A1234567899", 34, kText, "A1234567899", "A1234567890", {},
       {}, {11}},
      {5, kFolio, "000124", 239, kText, "000124", "000123", {}, {}, {6}},
  };
  // clang-format on
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
    EXPECT_EQ(
        std::tie(e.kind, e.found, e.expected, e.difference, e.tolerance, e.marked),
        std::tie(row.kind, row.found, row.expected, row.difference, row.tolerance, row.marked));
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
  EXPECT_EQ(std::tuple(of(253).deadline, of(253).days_late, of(240).workers, of(404).movements,
                       of(144).found, of(144).expected.size()),
            std::tuple("17/07/2005", 2, 2, 1, "1111111111111111111", 19u));
  EXPECT_NE(of(144).note.find("qu\351 registro"), std::string::npos);

  // Beyond the problems kept, the others are counted.
  const Findings few = DiagnoseFileUpTo(z_, "20/07/2005", {}, 2);
  EXPECT_EQ(few.problems, std::vector<Problem>(problems.begin(), problems.begin() + 2));
  EXPECT_EQ(few.more, problems.size() - 2);
}

// One row a recognisable cause, and the refusals with none.
TEST(Hint, NamesTheCauseOfARefusal) {
  const std::string file = FileOf(SamplePaymentPlan(3, 2));  // P0404268.ZAV, 7 records
  std::string with_enye = file;
  Put(with_enye, 1, record02::kRazonSocial, "PE\321A");  // PEÑA, in Windows-1252
  struct Case {
    const char* what;
    std::string bytes;
    std::int16_t message;
    std::int32_t failure;
    HintKind kind;
    const char* said = "";
    std::string source = "P0404268.ZAV";
    std::string work = "P0404268.ZAV";
  } cases[] = {
      {"the empty file", "", 0, 13, HintKind::kEmpty, "vac\355o (0 bytes)"},
      {"no extension", file, 0, 5, HintKind::kExtension, "P0404268 no termina en .ZAV", "P0404268"},
      {"a 7-character part name", file, 234, 0, HintKind::kPartName, "A040426.ZA0 no",
       "A040426.ZA0"},
      {"a later diskette part alone", file.substr(2 * kRecordLength), 219, 0, HintKind::kLaterPart,
       "tipo 03, no con el encabezado patronal (02)", "P0404268.ZA1"},
      {"a text file", "hola mundo\n", 0, 13, HintKind::kNotPayment, "no es un archivo de pagos"},
      {"a work name the header does not ask for", file, 234, 0, HintKind::kWorkName,
       "pide el nombre P0404268.ZAV", "PAGO.ZAV", "PAGO.ZAV"},
      {"CR LF after every record", WithLineEnds(file, "\r\n"), 219, 0, HintKind::kLineEnds,
       "(CR LF): el archivo fue abierto y guardado con un editor"},
      {"LF after every record", WithLineEnds(file, "\n"), 219, 0, HintKind::kLineEnds, "(LF)"},
      {"saved as UTF-8", Cp1252ToUtf8(with_enye), 219, 0, HintKind::kUtf8, "(\303\221 por \321)"},
      {"7 bytes too many", file + "1234567", 144, 0, HintKind::kSize,
       "mide 2072 bytes, que no es m\372ltiplo de 295 (el tama\361o de un registro): sobran 7 "
       "bytes, o faltan 288"},
      {"accepted", file, 0, 0, HintKind::kNone},
      {"a sound file with an altered check value", file, 144, 0, HintKind::kNone},
  };
  TempDrives drives("");
  for (const Case& c : cases) {
    const std::filesystem::path path = drives.base() / "work";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.bytes;
    const Hint hint = HintFor({path, c.source, c.work, c.message, c.failure});
    EXPECT_EQ(hint.kind, c.kind) << c.what << ": " << hint.text;
    EXPECT_NE(hint.text.find(c.said), std::string::npos) << c.what << ": " << hint.text;
    EXPECT_EQ(hint.expected_name, c.kind == HintKind::kWorkName ? "P0404268.ZAV" : "") << c.what;
  }
  EXPECT_EQ(HintFor({drives.base() / "missing", "P0404268.ZAV", "P0404268.ZAV", 2, 0}).kind,
            HintKind::kNone);
}

}  // namespace
}  // namespace zav
