// The checks of record types 2 to 6: each table changes fields of a valid record and pins
// the message the check answers (0: the text passes), then what the check keeps.
#include "validation/record_checks.hpp"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <functional>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "basic/expect_failure.hpp"
#include "control/zav.hpp"
#include "records/record_02.hpp"
#include "records/record_03.hpp"
#include "records/record_04.hpp"
#include "validation/record_builder.hpp"

namespace zav {
namespace {

using testing::Edit;

// One field changed, the message expected, and what the control holds besides the default.
struct Row {
  Field field;
  const char* text;
  std::int16_t expected;
  void (*setup)(ZAV&) = nullptr;
};

// Setups of the closing records' rows: a late payment, a tolerance of one peso.
void Late(ZAV& z) { z.working().lgDiasAtraso = 3; }
void Toler1(ZAV& z) { z.igToler = 1; }

// Each layout table covers its record (or movement entry) without gap or overlap: the
// same tables check, describe and write files.
TEST(RecordLayouts, CoverTheirRecordsExactly) {
  const std::pair<std::span<const Field>, int> tables[] = {
      {kHeaderFields, 295},   {kWorkerFields, 295},
      {kMovementFields, 295}, {kMovementEntryFields, kMovementEntryLength},
      {kSummaryFields, 295},  {kValidationFields, 295}};
  for (const auto& [fields, length] : tables) {
    int next = 1;
    for (const Field& f : fields) {
      EXPECT_EQ(f.start, next) << f.name;
      EXPECT_GT(f.length, 0) << f.name;
      next = f.start + f.length;
    }
    EXPECT_EQ(next, length + 1) << fields.front().name;
  }
  EXPECT_EQ(EntryField(6, record04::kSalarioDiario).start, 273);
  EXPECT_EQ(record04::kMovimiento7.start + kMovementEntryLength, record04::kRelleno280.start);
}

// Types 2 to 6 go to their checks (here each refuses its position); any other type ending
// in 6 means an altered file (6000); the rest are invalid types (35).
TEST(ChecaRegistroTest, DispatchesByType) {
  const std::pair<std::uint8_t, std::int16_t> cases[] = {{2, 226}, {3, 227},   {4, 228}, {5, 229},
                                                         {6, 230}, {16, 6000}, {1, 35},  {7, 35}};
  for (const auto& [tipo, expected] : cases) {
    ZAV z;
    z.iNumReg03 = Variant::Double(3);
    std::string blank(kRecordLength, ' ');
    EXPECT_EQ(z.ChecaRegistro(tipo, tipo == 2 ? 2 : 1, blank), expected) << int{tipo};
  }
}

namespace header {
using namespace record02;

std::string ValidHeader(const std::vector<Edit>& edits = {}) {
  // clang-format off
  const std::string r = testing::Build({
      {kTipo, "02"}, {kRegistroPatronal, "A1234567890"}, {kRfc, "ABCD010101XY1"}, {kAno, "2005"},
      {kMes, "06"}, {kFolio, "000123"}, {kRazonSocial, "EMPRESA DE PRUEBA SA DE CV"},
      {kEntidadFederativa, "09"}, {kCodigoPostal, "06000"}, {kTelefono, "5555555555"},
      {kPrimaRiesgo, "0025000"}, {kDelegacion, "09"}, {kSubdelegacion, "01"},
      {kAreaGeografica, "A"}, {kPorcentajeAportacion, "05"}, {kConvenioReembolso, "N"},
      {kTipoCotizacion, "1"}, {kTotalDias, "0000060"}, {kTotalTrabajadores, "000000002"}
  });
  // clang-format on
  return testing::Edited(r, edits);
}

// The check on a control loaded from the record as the driver loads it: `z`, or a fresh one.
std::int16_t Check(ZAV& z, const std::string& r, std::int32_t registro = 1) {
  z.igAno = std::string(Cut(r, kAno));
  z.igPer = std::string(Cut(r, kMes));
  z.sgPerPago = std::string(Cut(r, kPeriodo));
  z.sgNoContrato = std::string(Cut(r, kRegistroPatronal));
  z.sRFCPatron = std::string(Cut(r, kRfc));
  z.sgFolioZAV = std::string(Cut(r, kFolio));
  return CheckHeaderRecord(z, registro, r);
}
std::int16_t Check(const std::string& r, std::int32_t registro = 1) {
  ZAV z;
  return Check(z, r, registro);
}

TEST(HeaderRecordTest, ChecksInOrderFirstFailureWins) {
  // clang-format off
  const Row cases[] = {
      {kRegistroPatronal, " 1234567890", 10}, {kRegistroPatronal, "a-b.c/d%e&f", 0},
      {kMes, "00", 11}, {kMes, "15", 11}, {kAno, "205", 11}, {kMes, "6", 11},
      {kFolio, "00 123", 132}, {kEntidadFederativa, "0A", 133}, {kCodigoPostal, "0600 ", 2100},
      {kPrimaRiesgo, "00250A0", 2120}, {kDelegacion, " 9", 2150}, {kSubdelegacion, "X1", 2160},
      {kAreaGeografica, "a", 140}, {kAreaGeografica, "D", 140}, {kAreaGeografica, "C", 0},
      {kPorcentajeAportacion, "--", 159}, {kConvenioReembolso, "s", 160},
      {kConvenioReembolso, "S", 0}, {kTipoCotizacion, " ", 161}, {kTotalDias, "00012 4", 162},
      {kTotalTrabajadores, "00000000X", 163},
  };
  // clang-format on
  EXPECT_EQ(Check(ValidHeader()), 0);
  for (const Row& c : cases) {
    EXPECT_EQ(Check(ValidHeader({{c.field, c.text}})), c.expected) << c.field.name << " " << c.text;
  }
  // Periods run from July 1997, months 1 to 14.
  EXPECT_EQ(Check(ValidHeader({{kAno, "1997"}, {kMes, "06"}})), 11);
  EXPECT_EQ(Check(ValidHeader({{kAno, "1997"}, {kMes, "07"}})), 0);
  EXPECT_EQ(Check(ValidHeader({{kAno, "2030"}, {kMes, "14"}})), 0);
  // The position first, whatever the record holds; the registration before the period.
  EXPECT_EQ(Check(ValidHeader(), 0), 226);
  EXPECT_EQ(Check(ValidHeader({{kAreaGeografica, "x"}}), 2), 226);
  EXPECT_EQ(Check(ValidHeader({{kRegistroPatronal, ""}, {kMes, "99"}})), 10);
  EXPECT_EQ(Check(ValidHeader().substr(0, 200)), 2150);  // cut short
  const std::pair<Edit, int> failures[] = {{{kAno, "20X5"}, err::kTypeMismatch},
                                           {{kMes, "  "}, err::kTypeMismatch},
                                           {{kTotalDias, "1.0E+10"}, err::kOverflow}};
  for (const auto& [edit, error] : failures) {
    EXPECT_RUNTIME_FAILURE(error, Check(ValidHeader({edit})));
  }
}

TEST(HeaderRecordTest, StoresDeclaredTotalsAndTrimsProperties) {
  ZAV z;
  ASSERT_EQ(Check(z, ValidHeader()), 0);
  EXPECT_EQ(std::pair(z.iNumReg02_e21, z.iNumReg03), std::pair(60, Variant::Double(2)));
  // The days are stored before the workers field fails; the workers keep their value.
  ZAV failing;
  failing.iNumReg03 = Variant::Integer(7);
  EXPECT_EQ(
      Check(failing, ValidHeader({{kTotalDias, "0001234"}, {kTotalTrabajadores, "0000 0002"}})),
      163);
  EXPECT_EQ(std::pair(failing.iNumReg02_e21, failing.iNumReg03),
            std::pair(1234, Variant::Integer(7)));
  // The trimming of year, month and folio stays, whatever the outcome.
  const std::string r = ValidHeader({{kAno, " 205"}, {kMes, " 6"}, {kFolio, " 00123"}});
  ZAV trimmed;
  EXPECT_EQ(Check(trimmed, r), 11);
  EXPECT_EQ(trimmed.igAno + "|" + trimmed.igPer + "|" + trimmed.sgFolioZAV, "205|6| 00123");
  trimmed.igAno = "2005";
  trimmed.igPer = "06";
  EXPECT_EQ(CheckHeaderRecord(trimmed, 1, r), 132);
  EXPECT_EQ(trimmed.sgFolioZAV, "00123");
}

}  // namespace header

namespace worker {
using namespace record03;

// A worker record that passes in every month: the amounts only some periods allow are zero.
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

// In field order; 0: a blank credit number, double spaces in the name, a letter as the day.
TEST(WorkerRecordTest, FieldChecksInOrder) {
  // clang-format off
  const Row cases[] = {
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
  };
  // clang-format on
  EXPECT_EQ(Check(ValidWorker()), 0);
  for (const Row& c : cases) {
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

// The header holds the same RFC: only the format is tested.
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
    z.sRFCPatron = rfc;
    EXPECT_EQ(CheckWorkerRecord(z, 2, ValidWorker({{kRfc, rfc}})), expected) << rfc;
  }
}

// Odd months refuse retirement, old-age and housing amounts (261), periods 13 and 14
// voluntary and housing amounts (262). A late payment may not carry a negative update and
// surcharge: rule A in every month, B and C in even months; C looks at the value rounded
// to cents, B at the value itself.
TEST(WorkerRecordTest, PeriodAndLatenessRules) {
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
    EXPECT_EQ((std::vector{Check(r, 5), Check(r, 13), Check(r, 6)}),
              (std::vector<std::int16_t>{a.odd_month, a.period_13, 0}))
        << a.field.name;
  }
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

// Every digit of all sixteen amounts counts at its place, and two records add up to exactly
// twice the division's; a blank credit number counts no housing worker.
TEST(WorkerRecordTest, TotalsOfTwoRecordsAndAfterAFailure) {
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
  const std::string r = ValidWorker(edits);
  ASSERT_EQ(CheckWorkerRecord(z, 2, r), 0);
  ASSERT_EQ(CheckWorkerRecord(z, 3, testing::Edited(r, {{kCreditoVivienda, ""}})), 0);
  EXPECT_EQ((std::vector{z.iNumTrabViv, z.SumaT15, z.SumaT26}), (std::vector{1, 60, 122}));
  EXPECT_EQ(z.SumaT18.type(), VarType::kDouble);
  // clang-format off
  const double totals[] = {
      z.SumaT18.ToDouble(), z.SumaT19.ToDouble(), z.SumaT20.ToDouble(), z.SumaT21.ToDouble(),
      z.SumaT22.ToDouble(), z.SumaT23.ToDouble(), z.SumaT24.ToDouble(), z.SumaT25.ToDouble(),
      z.SumaT29,            z.SumaT30.ToDouble(), z.SumaT31.ToDouble(), z.SumaT32.ToDouble(),
      z.SumaT33.ToDouble(), z.SumaT34.ToDouble(), z.SumaT35.ToDouble(), z.SumaT36};
  // clang-format on
  for (int k = 0; k < 16; ++k) EXPECT_EQ(totals[k], 2 * ((9876543 - 512345 * k) / 100.0)) << k;

  // A failing record keeps what it added before the failing field.
  ZAV f;
  SetUpRun(f, 6);
  ASSERT_EQ(CheckWorkerRecord(f, 2, ValidWorker({{kRetiro, "00001A0"}})), 188);
  EXPECT_EQ((std::vector{f.iNumTrabViv, f.SumaT15, f.SumaT26}), (std::vector{1, 30, 61}));
  EXPECT_EQ((std::vector{f.SumaT18.ToDouble(), f.SumaT25.ToDouble(), f.SumaT29}),
            (std::vector{12.34, 7.0, 0.0}));
  EXPECT_TRUE(f.SumaT30.IsEmpty());
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

}  // namespace worker

namespace movement {
using namespace record04;

std::vector<Edit> Entry(int i, const char* nss, const char* tipo, const char* dias,
                        const char* salario) {
  return {{EntryField(i, kSeguridadSocial), nss},
          {EntryField(i, kTipoMovimiento), tipo},
          {EntryField(i, kDiasIncidencia), dias},
          {EntryField(i, kSalarioDiario), salario}};
}

// Two entries: a type-10 one with salary 123.45 and a type-07 one; the rest blank.
std::string ValidMovement(const std::vector<Edit>& edits = {}) {
  std::string r = testing::Build({{kTipo, "04"}, {kRegistroPatronal, "A1234567890"}});
  r = testing::Edited(r, Entry(0, "12345678901", "10", "00", "0012345"));
  r = testing::Edited(r, Entry(1, "12345678902", "07", "03", "0010000"));
  return testing::Edited(r, edits);
}

TEST(MovementRecordTest, ChecksInOrder) {
  const Field nss0 = EntryField(0, kSeguridadSocial), nss1 = EntryField(1, kSeguridadSocial);
  const struct {
    const char* what;
    std::vector<Edit> edits;
    std::int16_t expected;
    double suma_m8;
    std::int32_t registro = 5;
    const char* header_registro = "A1234567890";
  } cases[] = {
      {"valid", {}, 0, 123.45},
      {"record N", {}, 228, 0, 3},
      {"record N + 1", {}, 0, 123.45, 4},
      {"registro differs", {{kRegistroPatronal, "A1234567891"}}, 235, 0},
      {"first character a sign", {{kRegistroPatronal, "-1234567890"}}, 235, 0, 5, "-1234567890"},
      {"letter after the first", {{kRegistroPatronal, "A123456789X"}}, 235, 0, 5, "A123456789X"},
      {"blank and points", {{kRegistroPatronal, " 12.45 7890"}}, 0, 123.45, 5, " 12.45 7890"},
      {"lower case", {{kRegistroPatronal, "a1234567890"}}, 0, 123.45, 5, "a1234567890"},
      {"nss with a letter", {{nss0, "1234567890A"}}, 236, 0},
      {"nss of digits and blank", {{nss0, "1234567890"}}, 0, 123.45},
      {"tipo", {{EntryField(0, kTipoMovimiento), "1A"}}, 196, 0},
      {"dias blank", {{EntryField(0, kDiasIncidencia), " 1"}}, 198, 0},
      {"salario", {{EntryField(0, kSalarioDiario), "00123A5"}}, 400, 0},
      {"type 07 adds nothing", {{EntryField(0, kTipoMovimiento), "07"}}, 0, 0},
      {"earlier type-10 salary stays", {{nss1, "X"}}, 236, 123.45},
      {"blank nss ends the list", {{nss0, ""}, {nss1, "X"}}, 0, 0},
      {"entry after blank unread", {{EntryField(3, kSeguridadSocial), "garbage"}}, 0, 123.45},
  };
  for (const auto& c : cases) {
    ZAV z;
    z.sgNoContrato = c.header_registro;
    z.iNumReg03 = Variant::Double(3);
    EXPECT_EQ(CheckMovementRecord(z, c.registro, ValidMovement(c.edits)), c.expected) << c.what;
    EXPECT_EQ(z.iNumReg04, 1) << c.what;  // counted whatever the outcome
    EXPECT_DOUBLE_EQ(z.SumaM8, c.suma_m8) << c.what;
  }
  ZAV z;  // a short record fails at the entry it cuts short
  z.sgNoContrato = "A1234567890";
  EXPECT_EQ(CheckMovementRecord(z, 2, ValidMovement().substr(0, 20)), 236);
}

TEST(MovementRecordTest, AllSevenEntriesAreExamined) {
  std::string r = ValidMovement();
  for (int i = 0; i < kMovementEntryCount; ++i) {
    r = testing::Edited(r, Entry(i, "1", "10", "01", "0000100"));
  }
  ZAV z;
  z.sgNoContrato = "A1234567890";
  z.SumaM8 = 0.5;  // the total carries over from earlier records
  EXPECT_EQ(CheckMovementRecord(z, 2, r), 0);
  EXPECT_DOUBLE_EQ(z.SumaM8, 7.5);
  r = testing::Edited(r, {{EntryField(6, kSalarioDiario), "X"}});
  EXPECT_EQ(CheckMovementRecord(z, 3, r), 400);
  EXPECT_DOUBLE_EQ(z.SumaM8, 13.5);
  EXPECT_EQ(z.iNumReg04, 2);
  z.iNumReg04 = INT_MAX;
  EXPECT_RUNTIME_FAILURE(err::kOverflow, CheckMovementRecord(z, 4, r));
}

}  // namespace movement

namespace summary {
using namespace record05;

std::int16_t Check(const std::vector<Edit>& edits, const std::function<void(ZAV&)>& setup = {},
                   std::int32_t registro = testing::kSummaryNumber) {
  ZAV z;
  testing::SetUpBeforeSummary(z);
  if (setup) setup(z);
  return CheckSummaryRecord(z, registro, testing::Edited(testing::ValidSummary(), edits));
}

void OddMonth(ZAV& z) {
  z.working().igNumPeriodo = 5;
  z.working().bgPeriodoPar = false;
}
// An odd month whose file carries no RCV amounts at all.
void OddMonthWithoutRcv(ZAV& z) {
  OddMonth(z);
  z.SumaT29 = 0;
  z.SumaT30 = z.SumaT31 = z.SumaT32 = z.SumaT33 = Variant::Double(0);
}

// A text that is not a number, or an amount that no longer matches the worker totals, in
// field order (a negative housing update passes on time); then every comparison allows
// igToler pesos either way, the subtotal included.
TEST(SummaryRecordTest, EachFieldItsMessage) {
  // clang-format off
  const Row cases[] = {
      {kRegistroPatronal, "A1234567891", 237}, {kRfc, "ABCD010101XY2", 9},
      {kPeriodo, "200507", 238}, {kFolio, "000124", 239},
      {kTasaActualizacion, "00001X0000", 202}, {kTasaRecargos, "", 203},
      {kCuotaFija, "00001000 ", 177}, {kCuotaExcedente, "A", 178},
      {kPrestacionesDinero, "00030.0.0", 179}, {kGastosMedicos, "", 180},
      {kRiesgosTrabajo, "0000-5000", 181}, {kInvalidezVida, "00000600 ", 182},
      {kGuarderias, "00000070O", 183}, {kCuotaFija, "000010001", 240},
      {kSubtotal4Seguros, "0000002715", 205}, {kSubtotal4Seguros, "00000027151", 242},
      {kActualizacion4Seguros, "X", 206}, {kRecargos4Seguros, "X", 207},
      {kRecargos4Seguros, "000000201", 241}, {kRetiro, "X", 188}, {kRetiro, "000040001", 243},
      {kCesantiaVejez, "X", 208}, {kCesantiaVejez, "000029999", 244}, {kSubtotalRcv, "X", 209},
      {kSubtotalRcv, "00000070001", 245}, {kActualizacionRcv, "X", 210},
      {kRecargosRcv, "X", 211}, {kActualizacionRcv, "000000501", 246}, {kVoluntarias, "X", 212},
      {kVoluntarias, "00000005001", 247}, {kViviendaCuenta, "X", 213},
      {kViviendaAmortizacion, "X", 214}, {kViviendaAmortizacion, "000002001", 248},
      {kAmortizacionCredito, "X", 195}, {kAmortizacionCredito, "000008999", 249},
      {kActualizacionVivienda, "X", 215}, {kActualizacionVivienda, "-00000100", 0},
      {kRecargosVivienda, "X", 216}, {kComplementarias, "X", 403},
      {kComplementarias, "000001235", 404}, {kMultasInfonavit, "X", 401},
      {kDonativosFundemex, "X", 402}, {kRelleno281, "anything at all", 0},
      {kSubtotal4Seguros, "00000027250", 0, Toler1}, {kSubtotal4Seguros, "00000027050", 0, Toler1},
      {kSubtotal4Seguros, "00000027251", 242, Toler1},
      {kSubtotal4Seguros, "00000026950", 242, Toler1},
      {kCuotaFija, "000009900", 0, Toler1}, {kVoluntarias, "00000004900", 0, Toler1},
      {kComplementarias, "000001334", 0, Toler1},
      // A late payment must carry its housing update and surcharges.
      {kActualizacionVivienda, "-00000100", 147, Late}, {kRecargosVivienda, "-00000200", 147, Late},
      {kRetiro, "000040001", 263, OddMonth},  // the odd month wins over the comparison
  };
  // clang-format on
  EXPECT_EQ(Check({}), 0);
  for (const Row& c : cases) {
    EXPECT_EQ(Check({{c.field, c.text}}, c.setup), c.expected)
        << c.field.name << " \"" << c.text << '"' << (c.setup ? " with setup" : "");
  }
  // 2.14 - 1.14 is slightly above 1 in binary: the comparison is made in cents.
  const auto gastos = [](ZAV& z) {
    z.igToler = 1;
    z.SumaT21 = Variant::Double(1.14);
  };
  EXPECT_EQ(Check({{kGastosMedicos, "000000214"}, {kSubtotal4Seguros, "00000026964"}}, gastos), 0);
}

TEST(SummaryRecordTest, PositionAndPeriodRules) {
  // clang-format off
  const std::vector<Edit> no_rcv = {{kRetiro, "000000000"}, {kCesantiaVejez, "000000000"},
      {kSubtotalRcv, "00000000000"}, {kActualizacionRcv, "000000000"}, {kRecargosRcv, "000000000"}};
  // clang-format on
  const struct {
    const char* what;
    std::vector<Edit> edits;
    std::int16_t expected;
    std::function<void(ZAV&)> setup = {};
    std::int32_t registro = testing::kSummaryNumber;
  } cases[] = {
      // clang-format off
      // The bound counts the declared workers and the movements so far, plus one.
      {"at the bound", {}, 0, {}, 4},
      {"before the bound, whatever it holds", {{kRegistroPatronal, "X"}}, 229, {}, 3},
      {"a difference below the cent is ignored", {}, 0,
       [](ZAV& z) { z.SumaT18 = Variant::Double(100.004); }},
      // Odd months below 13 refuse RCV and housing amounts, 13 and 14 voluntary and housing
      // amounts (the tolerance is ValImpMen13's, validators_test.cpp).
      {"retiro in an odd month", {}, 263, OddMonth},
      {"odd month: voluntary allowed, housing refused", no_rcv, 263, OddMonthWithoutRcv},
      {"voluntarias in period 13", {}, 264, [](ZAV& z) { z.working().igNumPeriodo = 13; }},
      {"period 14: housing refused", {{kVoluntarias, "00000000000"}}, 264,
       [](ZAV& z) { z.working().igNumPeriodo = 14; z.SumaT34 = Variant::Double(0); }},
      // clang-format on
  };
  for (const auto& c : cases) EXPECT_EQ(Check(c.edits, c.setup, c.registro), c.expected) << c.what;
}

// The registration, RFC and period keep their format, and the period its range, even when
// the header holds the same text.
TEST(SummaryRecordTest, IdentityKeepsItsFormat) {
  // clang-format off
  const Row cases[] = {
      {kRegistroPatronal, "-1234567890", 237}, {kRegistroPatronal, "A12345X7890", 237},
      {kRfc, " BCD010101XY1", 0}, {kRfc, "1BCD010101XY1", 9}, {kRfc, "ABCD0101O1XY1", 9},
      {kPeriodo, "199706", 238}, {kPeriodo, "199707", 0}, {kPeriodo, "200515", 238},
  };
  // clang-format on
  for (const Row& c : cases) {
    const std::string text = c.text;
    const auto header_holds_it = [&](ZAV& z) {
      if (c.field.start == kRegistroPatronal.start) z.sgNoContrato = text;
      if (c.field.start == kRfc.start) z.sRFCPatron = text;
      if (c.field.start == kPeriodo.start) {
        z.sgPerPago = text;
        z.igPer = text.substr(4);
      }
    };
    EXPECT_EQ(Check({{c.field, text}}, header_holds_it), c.expected) << text;
  }
}

TEST(SummaryRecordTest, KeepsEveryAmount) {
  ZAV z;
  testing::SetUpBeforeSummary(z);
  z.SumaS8S14 = 1;  // a second summary adds again
  ASSERT_EQ(CheckSummaryRecord(z, 5, testing::ValidSummary()), 0);
  const auto d = [](double v) { return Variant::Double(v); };
  EXPECT_EQ((std::vector<Variant>{z.SumaS6, z.SumaS7, z.SumaS8, z.SumaS9, z.SumaS13, z.SumaS15,
                                  z.SumaS17, z.SumaS18, z.SumaS22, z.SumaS27}),
            (std::vector<Variant>{d(100000.0 / 1000000 / 100), d(200000.0 / 1000000 / 100), d(100),
                                  d(20.5), d(60), d(271.5), d(2), d(400), d(6), d(1)}));
  EXPECT_EQ((std::vector<double>{z.SumaS14, z.SumaS23, z.SumaS28, z.SumaS29, z.SumaS30, z.SumaS31}),
            (std::vector<double>{7, 50, 2, 12.34, 3, 4}));
  EXPECT_DOUBLE_EQ(z.SumaS8S14, 272.50);

  // The insurance total of the summaries is a double running total like the worker totals:
  // summaries that claim amounts past its range are an overflow, not an infinite total.
  ZAV o;
  testing::SetUpBeforeSummary(o);
  o.SumaT18 = Variant::Double(1e306);
  o.SumaS8S14 = DBL_MAX;
  const std::string huge = testing::Edited(testing::ValidSummary(), {{kCuotaFija, "1.00E+308"}});
  EXPECT_RUNTIME_FAILURE(err::kOverflow, CheckSummaryRecord(o, 5, huge));
  EXPECT_EQ(o.SumaS8S14, DBL_MAX);
}

TEST(SummaryRecordTest, AmountsKeptBeforeAFailureStay) {
  ZAV z;
  testing::SetUpBeforeSummary(z);
  const Variant before = Variant::Double(-7);
  z.SumaS19 = z.SumaS20 = z.SumaS27 = before;
  z.SumaS23 = z.SumaS31 = -7;
  // The retirement comparison fails; the later cesantia fault is never reached.
  const std::string r =
      testing::Edited(testing::ValidSummary(), {{kRetiro, "000040100"}, {kCesantiaVejez, "X"}});
  EXPECT_EQ(CheckSummaryRecord(z, 5, r), 243);
  EXPECT_EQ((std::vector<Variant>{z.SumaS6, z.SumaS15, z.SumaS18, z.SumaS19, z.SumaS20, z.SumaS27}),
            (std::vector<Variant>{Variant::Double(100000.0 / 1000000 / 100), Variant::Double(271.5),
                                  Variant::Double(401), before, before, before}));
  EXPECT_DOUBLE_EQ(z.SumaS8S14, 271.50);
  EXPECT_EQ((std::vector<double>{z.SumaS23, z.SumaS31}), (std::vector<double>{-7, -7}));
  // A component that fails its comparison is kept but not added to SumaS8S14.
  ZAV c;
  testing::SetUpBeforeSummary(c);
  const std::string riesgos =
      testing::Edited(testing::ValidSummary(), {{kRiesgosTrabajo, "000005001"}});
  EXPECT_EQ(CheckSummaryRecord(c, 5, riesgos), 240);
  EXPECT_EQ(c.SumaS12, Variant::Double(50.01));
  EXPECT_DOUBLE_EQ(c.SumaS8S14, 100.00 + 20.50 + 30.00 + 4.00);
  EXPECT_TRUE(c.SumaS13.IsEmpty());
}

}  // namespace summary

namespace validation {
using namespace record06;

// The state a file leaves once its valid summary has been read.
void SetUpBeforeValidation(ZAV& z) {
  testing::SetUpBeforeSummary(z);
  ASSERT_EQ(CheckSummaryRecord(z, testing::kSummaryNumber, testing::ValidSummary()), 0);
}

// A summary whose amounts are all zero.
void NothingOwed(ZAV& z) {
  z.SumaS15 = z.SumaS16 = z.SumaS17 = Variant::Double(0);
  z.SumaS20 = z.SumaS21 = z.SumaS22 = Variant::Double(0);
  z.SumaS24 = z.SumaS25 = z.SumaS26 = z.SumaS27 = Variant::Double(0);
  z.SumaS23 = z.SumaS28 = z.SumaS29 = z.SumaS30 = z.SumaS31 = 0;
}

std::int16_t Check(const std::vector<Edit>& edits, void (*setup)(ZAV&) = nullptr,
                   std::int32_t registro = testing::kValidationNumber) {
  ZAV z;
  SetUpBeforeValidation(z);
  if (setup) setup(z);
  return CheckValidationRecord(z, registro, testing::Edited(testing::ValidValidation(), edits));
}

// 0: the deadline, version and check value are the file's business, not this record's.
TEST(ValidationRecordTest, ChecksInOrderFirstFailureWins) {
  // clang-format off
  const Row cases[] = {
      {kRegistroPatronal, "B1234567890", 250}, {kRfc, "ABCd010101XY1", 39},
      {kPeriodo, "200406", 251}, {kFolio, "000321", 252}, {kSumaTasas, "000030000", 217},
      {kTamanoArchivo, "00000017 0", 218}, {kTamanoArchivo, "0000001771", 48},
      {kTamanoArchivo, "0000001769", 48}, {kSumaTasas, "0000000000", 0},
      {kFechaLimite, "xx", 0}, {kVersion, "?", 0}, {kCheckSum, "", 0}, {kRelleno140, "z", 0},
      {kDiscos, "", 258}, {kDiscos, "02", 260},
      {kTotalImss4Seguros, "X", 220}, {kTotalImssRcv, "X", 221},
      {kTotalInfonavitAportacion, "X", 222}, {kTotalInfonavitAmortizacion, "X", 223},
      // A late payment must carry its rates.
      {kSumaTasas, "0000000000", 321, Late}, {kSumaTasas, "0000300000", 0, Late},
      {kDiscos, "03", 0, [](ZAV& z) { z.NumDiscos = 3; }},
  };
  // clang-format on
  EXPECT_EQ(Check({}), 0);
  for (const Row& c : cases) {
    EXPECT_EQ(Check({{c.field, c.text}}, c.setup), c.expected) << c.field.name << " " << c.text;
  }
  // The bound counts the declared workers and the movements so far, plus two; the position
  // is checked first, whatever the record holds.
  EXPECT_EQ(Check({}, nullptr, 5), 0);
  EXPECT_EQ(Check({{kRegistroPatronal, "X"}}, nullptr, 4), 230);
  // Each total to deposit agrees with the summary within igToler pesos, over or under.
  // clang-format off
  const std::tuple<Field, long long, std::int16_t> totals[] = {  // the summary's sum in cents
      {kTotalImss4Seguros, 27450, 254}, {kTotalImssRcv, 77334, 255},
      {kTotalInfonavitAportacion, 8000, 256}, {kTotalInfonavitAmortizacion, 12000, 257}};
  // clang-format on
  for (const auto& [field, cents, message] : totals) {
    for (long long shift : {100, -100, 101, -101}) {
      std::string text = std::to_string(cents + shift);
      text.insert(0, 12 - text.size(), '0');
      EXPECT_EQ(Check({{field, text}}, Toler1), shift == 100 || shift == -100 ? 0 : message)
          << field.name << " shifted by " << shift << " cents";
    }
  }
  // Nothing to pay is not a payment; one total is enough.
  std::vector<Edit> zeros;
  for (const auto& [field, cents, message] : totals) zeros.push_back({field, "000000000000"});
  EXPECT_EQ(Check(zeros, NothingOwed), 165);
  zeros.push_back({kTotalInfonavitAmortizacion, "000000000001"});
  EXPECT_EQ(Check(zeros, [](ZAV& z) { NothingOwed(z), z.SumaS31 = 0.01; }), 0);
}

TEST(ValidationRecordTest, KeepsTheTotalsAndKeepsThemAfterAFailure) {
  ZAV z;
  SetUpBeforeValidation(z);
  ASSERT_EQ(CheckValidationRecord(z, 6, testing::ValidValidation()), 0);
  EXPECT_EQ(z.SumaV6, Variant::Double(300000.0 / 1000000 / 100));
  EXPECT_EQ(z.SumaV13, Variant::Double(80.00));  // the first two as in the failing run below
  EXPECT_EQ(z.SumaV14, 120.00);
  // Failing at the housing contribution: the earlier totals are kept, the later one is not
  // read even though it is not numeric.
  ZAV f;
  SetUpBeforeValidation(f);
  f.SumaV14 = -7;
  const std::string r = testing::Edited(
      testing::ValidValidation(),
      {{kTotalInfonavitAportacion, "000000008100"}, {kTotalInfonavitAmortizacion, "X"}});
  EXPECT_EQ(CheckValidationRecord(f, 6, r), 256);
  EXPECT_EQ((std::vector<Variant>{f.SumaV11, f.SumaV12, f.SumaV13}),
            (std::vector<Variant>{Variant::Double(274.50), Variant::Double(773.34),
                                  Variant::Double(81.00)}));
  EXPECT_EQ(f.SumaV14, -7);
}

}  // namespace validation

}  // namespace
}  // namespace zav
