#include "records/record_03.hpp"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <string>
#include <vector>

#include "basic/expect_failure.hpp"
#include "control/zav.hpp"
#include "validation/record_builder.hpp"
#include "validation/record_checks.hpp"

namespace zav {
namespace {

using namespace record03;
using testing::Edit;

// A worker record that passes in every month: the amounts that only some periods allow
// are zero.
std::string ValidWorker(const std::vector<Edit>& edits = {}) {
  // clang-format off
  const std::string r = testing::Build({
      {kTipo, "03"}, {kRegistroPatronal, "A1234567890"}, {kRfc, "ABCD010101XY1"},
      {kPeriodo, "200506"}, {kSeguridadSocial, "12345678901"}, {kCreditoVivienda, "1234567890"},
      {kMovimientos, "00"}, {kNombre, "PEREZ LOPEZ JUAN"}, {kUltimoSalario, "0012345"},
      {kTipoTrabajador, "1"}, {kJornada, "0"}, {kDiasCotizadosMes, "30"},
      {kDiasIncapacidadMes, "00"}, {kDiasAusentismoMes, "00"}, {kCuotaFija, "0001234"},
      {kCuotaExcedente, "0000100"}, {kPrestacionesDinero, "0000200"}, {kGastosMedicos, "0000300"},
      {kRiesgosTrabajo, "0000400"}, {kInvalidezVida, "0000500"}, {kGuarderias, "0000600"},
      {kRecargosSeguros, "0000700"}, {kDiasCotizadosBimestre, "61"},
      {kDiasIncapacidadBimestre, "00"}, {kDiasAusentismoBimestre, "00"}, {kRetiro, "0000000"},
      {kRecargosRetiro, "0000000"}, {kCesantiaPatronal, "0000000"},
      {kCesantiaTrabajador, "0000000"}, {kRecargosCesantia, "0000000"},
      {kAportacionVoluntaria, "0000000"}, {kAportacionVivienda, "0000000"},
      {kAmortizacionCredito, "0000000"}
  });
  // clang-format on
  return testing::Edited(r, edits);
}

// The state the driver and the header leave behind: period month `month`.
void SetUpRun(ZAV& z, std::int16_t month = 6) {
  z.sgNoContrato = "A1234567890";
  z.sRFCPatron = "ABCD010101XY1";
  z.sgPerPago = "200506";
  z.working().igNumPeriodo = month;
  z.working().bgPeriodoPar = month % 2 == 0;
}

std::int16_t Check(const std::string& r, std::int16_t month = 6, std::int32_t late = 0,
                   std::uint8_t toler = 0, std::int32_t registro = 2) {
  ZAV z;
  SetUpRun(z, month);
  z.working().lgDiasAtraso = late;
  z.igToler = toler;
  return CheckWorkerRecord(z, registro, r);
}

// One field of the valid worker changed, in field order; 0: the text passes (a blank credit
// number, double spaces in the name, a letter as the working day).
TEST(WorkerRecordTest, FieldChecksInOrder) {
  // clang-format off
  const struct {
    Field field;
    const char* text;
    std::int16_t expected;
  } cases[] = {
      {kRegistroPatronal, "A1234567891", 34}, {kRfc, "ABCD010101XY2", 27},
      {kPeriodo, "200507", 200}, {kSeguridadSocial, "", 225}, {kCreditoVivienda, "", 0},
      {kMovimientos, "A1", 170}, {kNombre, "PEREZ \245 JUAN", 3113},
      {kNombre, "PEREZ  LOPEZ", 0}, {kUltimoSalario, "001234", 171},
      {kTipoTrabajador, "X", 172}, {kJornada, "7", 173}, {kJornada, "A", 0},
      {kDiasCotizadosMes, "3 ", 174}, {kDiasIncapacidadMes, "X", 175},
      {kDiasAusentismoMes, "--", 176}, {kCuotaFija, "00012A4", 177}, {kCuotaExcedente, "", 178},
      {kPrestacionesDinero, "X", 179}, {kGastosMedicos, "X", 180}, {kRiesgosTrabajo, "X", 181},
      {kInvalidezVida, "X", 182}, {kGuarderias, "X", 183}, {kRecargosSeguros, "X", 184},
      {kDiasCotizadosBimestre, "X", 185}, {kDiasIncapacidadBimestre, "X", 186},
      {kDiasAusentismoBimestre, "X", 187}, {kRetiro, "X", 188}, {kRecargosRetiro, "X", 189},
      {kCesantiaPatronal, "X", 190}, {kCesantiaTrabajador, "X", 191},
      {kRecargosCesantia, "X", 192}, {kAportacionVoluntaria, "X", 193},
      {kAportacionVivienda, "X", 194}, {kAmortizacionCredito, "X", 195},
      {kAmortizacionCredito, "000000X", 195}, {kAmortizacionCredito, "000000:", 195},
  };
  // clang-format on
  EXPECT_EQ(Check(ValidWorker()), 0);
  for (const auto& c : cases) {
    EXPECT_EQ(Check(ValidWorker({{c.field, c.text}})), c.expected) << c.field.name;
  }
  // The first failure wins.
  EXPECT_EQ(Check(ValidWorker({{kMovimientos, "A1"}, {kCuotaFija, "X"}, {kRetiro, "X"}})), 170);
  EXPECT_EQ(Check(ValidWorker({{kNombre, "\245"}, {kUltimoSalario, "X"}})), 3113);
  EXPECT_EQ(Check(ValidWorker(), 6, 0, 0, 1), 227);  // a worker before the header
  // A short record fails at the first field it cuts short.
  EXPECT_EQ(Check(ValidWorker().substr(0, 12)), 10);
  EXPECT_EQ(Check(ValidWorker().substr(0, 170)), 178);
}

TEST(WorkerRecordTest, RfcFormat) {
  const std::pair<const char*, std::int16_t> cases[] = {
      {" BCD010101XY1", 0},      // a twelve-character RFC
      {"1BCD010101XY1", 27},     // first character a digit
      {"abcd010101xy1", 0},      // letters of either case
      {"\321BCD010101XY1", 27},  // N with tilde is no letter here
      {"ABCD01.1 1XY ", 0},      // date of digits, points, blanks; check part trimmed
      {"ABCD0101A1XY1", 27},     // letter in the date
      {"ABCD010101X-1", 27},     // sign in the check part
  };
  for (const auto& [rfc, expected] : cases) {
    ZAV z;
    SetUpRun(z);
    z.sRFCPatron = rfc;  // the header holds the same RFC: only the format is tested
    EXPECT_EQ(CheckWorkerRecord(z, 2, ValidWorker({{kRfc, rfc}})), expected) << rfc;
  }
}

TEST(WorkerRecordTest, PeriodRules) {
  // Odd months refuse retirement, old-age and housing amounts (261); periods 13 and 14
  // voluntary and housing amounts (262).
  const struct {
    Field field;
    std::int16_t odd_month, period_13;
  } amounts[] = {{kRetiro, 261, 0},
                 {kRecargosRetiro, 261, 0},
                 {kCesantiaPatronal, 261, 0},
                 {kCesantiaTrabajador, 261, 0},
                 {kRecargosCesantia, 261, 0},
                 {kAportacionVoluntaria, 0, 262},
                 {kAportacionVivienda, 261, 262},
                 {kAmortizacionCredito, 261, 262},
                 {kCuotaFija, 0, 0}};
  for (const auto& a : amounts) {
    const std::string r = ValidWorker({{a.field, "0000001"}});
    EXPECT_EQ(Check(r, 5), a.odd_month) << a.field.name;
    EXPECT_EQ(Check(r, 13), a.period_13) << a.field.name;
    EXPECT_EQ(Check(r, 6), 0) << a.field.name;
  }
  EXPECT_EQ(Check(ValidWorker({{kRetiro, "0000050"}}), 5, 0, 50), 0);  // up to the tolerance
  EXPECT_EQ(Check(ValidWorker({{kRetiro, "0000051"}}), 5, 0, 50), 261);
}

// A late payment may not carry a negative update and surcharge: rule A in every month, B
// and C in even months; C looks at the value rounded to cents, B at the value itself.
TEST(WorkerRecordTest, LatenessRules) {
  const struct {
    Field field;
    std::int16_t month;
    std::int32_t late;
    const char* text;
    std::int16_t expected;
  } cases[] = {
      {kRecargosSeguros, 6, 3, "-000001", 147}, {kRecargosSeguros, 5, 3, "-000001", 147},
      {kRecargosSeguros, 6, 0, "-000001", 0},   {kRecargosSeguros, 6, -2, "-000001", 0},
      {kCuotaFija, 6, 3, "-000001", 0},         {kRecargosRetiro, 6, 3, "-000001", 147},
      {kRecargosRetiro, 5, 3, "-000001", 0},    {kRecargosCesantia, 6, 3, "-000001", 147},
      {kRecargosCesantia, 5, 3, "-000001", 0},  {kRecargosRetiro, 6, 3, "-0.0001", 147},
      {kRecargosCesantia, 6, 3, "-0.0001", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Check(ValidWorker({{c.field, c.text}}), c.month, c.late), c.expected)
        << c.field.name << " " << c.text << " month " << c.month << " late " << c.late;
  }
}

TEST(WorkerRecordTest, TotalsOfTwoRecords) {
  // clang-format off
  std::string r = ValidWorker({
      {kRetiro, "0000100"}, {kRecargosRetiro, "0000200"}, {kCesantiaPatronal, "0000300"},
      {kCesantiaTrabajador, "0000400"}, {kRecargosCesantia, "0000500"},
      {kAportacionVoluntaria, "0000600"}, {kAportacionVivienda, "0000700"},
      {kAmortizacionCredito, "0000801"}});
  // clang-format on
  ZAV z;
  SetUpRun(z, 6);
  ASSERT_EQ(CheckWorkerRecord(z, 2, r), 0);
  r = testing::Edited(r, {{kCuotaFija, "-000012"}, {kCreditoVivienda, ""}});
  ASSERT_EQ(CheckWorkerRecord(z, 3, r), 0);

  EXPECT_EQ(z.iNumTrabViv, 1);
  EXPECT_EQ(z.SumaT15, 60);
  EXPECT_EQ(z.SumaT26, 122);
  EXPECT_EQ(z.SumaT18.type(), VarType::kDouble);
  EXPECT_DOUBLE_EQ(z.SumaT18.ToDouble(), 12.34 - 0.12);
  const Variant* insurance[] = {&z.SumaT19, &z.SumaT20, &z.SumaT21, &z.SumaT22,
                                &z.SumaT23, &z.SumaT24, &z.SumaT25};
  for (int i = 0; i < 7; ++i) EXPECT_DOUBLE_EQ(insurance[i]->ToDouble(), 2.0 * (i + 1)) << i;
  EXPECT_DOUBLE_EQ(z.SumaT29, 2.0);
  const Variant* retirement[] = {&z.SumaT30, &z.SumaT31, &z.SumaT32,
                                 &z.SumaT33, &z.SumaT34, &z.SumaT35};
  for (int i = 0; i < 6; ++i) EXPECT_DOUBLE_EQ(retirement[i]->ToDouble(), 2.0 * (i + 2)) << i;
  EXPECT_DOUBLE_EQ(z.SumaT36, 16.02);
}

// Every digit of all sixteen amounts counts at its place, each total exactly the division's.
TEST(WorkerRecordTest, SevenDigitAmounts) {
  const Field fields[] = {
      kCuotaFija,        kCuotaExcedente,       kPrestacionesDinero, kGastosMedicos,
      kRiesgosTrabajo,   kInvalidezVida,        kGuarderias,         kRecargosSeguros,
      kRetiro,           kRecargosRetiro,       kCesantiaPatronal,   kCesantiaTrabajador,
      kRecargosCesantia, kAportacionVoluntaria, kAportacionVivienda, kAmortizacionCredito};
  std::vector<std::string> texts;
  std::vector<testing::Edit> edits;
  for (int k = 0; k < 16; ++k) texts.push_back(std::to_string(9876543 - 512345 * k));
  for (int k = 0; k < 16; ++k) edits.push_back({fields[k], texts[k]});
  ZAV z;
  SetUpRun(z, 6);
  ASSERT_EQ(CheckWorkerRecord(z, 2, ValidWorker(edits)), 0);
  const double totals[] = {z.SumaT18.ToDouble(),
                           z.SumaT19.ToDouble(),
                           z.SumaT20.ToDouble(),
                           z.SumaT21.ToDouble(),
                           z.SumaT22.ToDouble(),
                           z.SumaT23.ToDouble(),
                           z.SumaT24.ToDouble(),
                           z.SumaT25.ToDouble(),
                           z.SumaT29,
                           z.SumaT30.ToDouble(),
                           z.SumaT31.ToDouble(),
                           z.SumaT32.ToDouble(),
                           z.SumaT33.ToDouble(),
                           z.SumaT34.ToDouble(),
                           z.SumaT35.ToDouble(),
                           z.SumaT36};
  for (int k = 0; k < 16; ++k) EXPECT_EQ(totals[k], (9876543 - 512345 * k) / 100.0) << k;
}

TEST(WorkerRecordTest, FailureKeepsEarlierAdditions) {
  ZAV z;
  SetUpRun(z, 6);
  ASSERT_EQ(CheckWorkerRecord(z, 2, ValidWorker({{kRetiro, "00001A0"}})), 188);
  EXPECT_EQ(z.iNumTrabViv, 1);
  EXPECT_EQ(z.SumaT15, 30);
  EXPECT_EQ(z.SumaT26, 61);
  EXPECT_DOUBLE_EQ(z.SumaT18.ToDouble(), 12.34);
  EXPECT_DOUBLE_EQ(z.SumaT25.ToDouble(), 7.0);
  EXPECT_DOUBLE_EQ(z.SumaT29, 0.0);
  EXPECT_TRUE(z.SumaT30.IsEmpty());
}

// A total pushed past its type's range; the bimester days are minus one.
TEST(WorkerRecordTest, TotalOverflowIsARunTimeFailure) {
  const struct {
    const char* what;
    void (*setup)(ZAV&);
    Field field;
    const char* text;
  } cases[] = {
      {"iNumTrabViv", [](ZAV& z) { z.iNumTrabViv = INT_MAX; }, kTipo, "03"},
      {"SumaT26", [](ZAV& z) { z.SumaT26 = INT_MIN; }, kTipo, "03"},
      {"SumaT18", [](ZAV& z) { z.SumaT18 = Variant::Double(DBL_MAX); }, kCuotaFija, "1.0E308"},
      {"SumaT29", [](ZAV& z) { z.SumaT29 = DBL_MAX; }, kRetiro, "1.0E308"},
  };
  for (const auto& c : cases) {
    ZAV z;
    SetUpRun(z);
    c.setup(z);
    SCOPED_TRACE(c.what);
    EXPECT_RUNTIME_FAILURE(
        err::kOverflow,
        CheckWorkerRecord(z, 2, ValidWorker({{kDiasCotizadosBimestre, "-1"}, {c.field, c.text}})));
  }
}

}  // namespace
}  // namespace zav
