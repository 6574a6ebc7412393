#include "validation/record_03.hpp"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "basic/runtime_failure.hpp"
#include "control/zav.hpp"
#include "validation/record_builder.hpp"
#include "validation/record_checks.hpp"

namespace zav {
namespace {

using namespace record03;
using testing::Put;

struct Edit {
  Field field;
  const char* text;
};

// A worker record that passes in every month: the amounts that only some periods allow
// are zero.
std::string ValidWorker() {
  std::string r = testing::BlankRecord();
  const Edit fields[] = {
      {kTipo, "03"},
      {kRegistroPatronal, "A1234567890"},
      {kRfc, "ABCD010101XY1"},
      {kPeriodo, "200506"},
      {kSeguridadSocial, "12345678901"},
      {kCreditoVivienda, "1234567890"},
      {kMovimientos, "00"},
      {kNombre, "PEREZ LOPEZ JUAN"},
      {kUltimoSalario, "0012345"},
      {kTipoTrabajador, "1"},
      {kJornada, "0"},
      {kDiasCotizadosMes, "30"},
      {kDiasIncapacidadMes, "00"},
      {kDiasAusentismoMes, "00"},
      {kCuotaFija, "0001234"},
      {kCuotaExcedente, "0000100"},
      {kPrestacionesDinero, "0000200"},
      {kGastosMedicos, "0000300"},
      {kRiesgosTrabajo, "0000400"},
      {kInvalidezVida, "0000500"},
      {kGuarderias, "0000600"},
      {kRecargosSeguros, "0000700"},
      {kDiasCotizadosBimestre, "61"},
      {kDiasIncapacidadBimestre, "00"},
      {kDiasAusentismoBimestre, "00"},
  };
  for (const auto& f : fields) Put(r, f.field, f.text);
  for (const Field& f :
       {kRetiro, kRecargosRetiro, kCesantiaPatronal, kCesantiaTrabajador, kRecargosCesantia,
        kAportacionVoluntaria, kAportacionVivienda, kAmortizacionCredito}) {
    Put(r, f, "0000000");
  }
  return r;
}

// The state the driver and the header leave behind: period month `month`.
void SetUpRun(ZAV& z, std::int16_t month = 6) {
  z.sgNoContrato = "A1234567890";
  z.sRFCPatron = "ABCD010101XY1";
  z.sgPerPago = "200506";
  z.working().igNumPeriodo = month;
  z.working().bgPeriodoPar = month % 2 == 0;
}

struct WorkerCase {
  const char* what;
  std::vector<Edit> edits;
  std::int16_t expected;
  std::int16_t month = 6;
  std::int32_t late = 0;  // lgDiasAtraso
  std::uint8_t toler = 0;
  std::int32_t registro = 2;
};

TEST(WorkerRecordTest, LayoutCoversTheRecord) {
  testing::ExpectCoversExactly(kWorkerFields, static_cast<int>(kRecordLength));
}

TEST(WorkerRecordTest, FieldChecksInOrder) {
  const WorkerCase cases[] = {
      {"valid", {}, 0},
      {"record 1", {}, 227, 6, 0, 0, 1},
      {"registro differs", {{kRegistroPatronal, "A1234567891"}}, 34},
      {"registro lower case", {{kRegistroPatronal, "a1234567890"}}, 34},
      {"rfc differs", {{kRfc, "ABCD010101XY2"}}, 27},
      {"period differs", {{kPeriodo, "200507"}}, 200},
      {"nss blank", {{kSeguridadSocial, ""}}, 225},
      {"nss trailing blank", {{kSeguridadSocial, "1234567890"}}, 225},
      {"blank credit number is no error", {{kCreditoVivienda, ""}}, 0},
      {"movimientos", {{kMovimientos, "A1"}}, 170},
      {"yen sign in name", {{kNombre, "PEREZ \245 JUAN"}}, 3113},
      {"double spaces in name", {{kNombre, "PEREZ  LOPEZ"}}, 0},
      {"ultimo salario", {{kUltimoSalario, "001234"}}, 171},
      {"tipo de trabajador", {{kTipoTrabajador, "X"}}, 172},
      {"jornada 7", {{kJornada, "7"}}, 173},
      {"jornada 6", {{kJornada, "6"}}, 0},
      {"jornada blank", {{kJornada, " "}}, 0},
      {"jornada letter", {{kJornada, "A"}}, 0},
      {"dias cotizados mes", {{kDiasCotizadosMes, "3 "}}, 174},
      {"dias incapacidad mes", {{kDiasIncapacidadMes, "X"}}, 175},
      {"dias ausentismo mes", {{kDiasAusentismoMes, "--"}}, 176},
      {"cuota fija", {{kCuotaFija, "00012A4"}}, 177},
      {"negative amount is numeric", {{kCuotaFija, "-000012"}}, 0},
      {"cuota excedente", {{kCuotaExcedente, ""}}, 178},
      {"prestaciones", {{kPrestacionesDinero, "X"}}, 179},
      {"gastos medicos", {{kGastosMedicos, "X"}}, 180},
      {"riesgos", {{kRiesgosTrabajo, "X"}}, 181},
      {"invalidez", {{kInvalidezVida, "X"}}, 182},
      {"guarderias", {{kGuarderias, "X"}}, 183},
      {"recargos seguros", {{kRecargosSeguros, "X"}}, 184},
      {"dias cotizados bimestre", {{kDiasCotizadosBimestre, "X"}}, 185},
      {"dias incapacidad bimestre", {{kDiasIncapacidadBimestre, "X"}}, 186},
      {"dias ausentismo bimestre", {{kDiasAusentismoBimestre, "X"}}, 187},
      {"retiro", {{kRetiro, "X"}}, 188},
      {"recargos retiro", {{kRecargosRetiro, "X"}}, 189},
      {"cesantia patronal", {{kCesantiaPatronal, "X"}}, 190},
      {"cesantia trabajador", {{kCesantiaTrabajador, "X"}}, 191},
      {"recargos cesantia", {{kRecargosCesantia, "X"}}, 192},
      {"aportacion voluntaria", {{kAportacionVoluntaria, "X"}}, 193},
      {"aportacion vivienda", {{kAportacionVivienda, "X"}}, 194},
      {"amortizacion", {{kAmortizacionCredito, "X"}}, 195},
      {"first failure wins", {{kMovimientos, "A1"}, {kCuotaFija, "X"}, {kRetiro, "X"}}, 170},
      {"name before salario", {{kNombre, "\245"}, {kUltimoSalario, "X"}}, 3113},
  };
  for (const auto& c : cases) {
    std::string r = ValidWorker();
    for (const auto& e : c.edits) Put(r, e.field, e.text);
    ZAV z;
    SetUpRun(z, c.month);
    EXPECT_EQ(CheckWorkerRecord(z, c.registro, r), c.expected) << c.what;
  }
}

TEST(WorkerRecordTest, RfcFormat) {
  struct Case {
    const char* rfc;
    std::int16_t expected;
  };
  const Case cases[] = {
      {" BCD010101XY1", 0},      // a twelve-character RFC
      {"1BCD010101XY1", 27},     // first character a digit
      {"abcd010101xy1", 0},      // letters of either case
      {"AB1D010101XY1", 27},     // digit among the letters
      {"\321BCD010101XY1", 27},  // N with tilde is no letter here
      {"ABCD01.1 1XY ", 0},      // date of digits, points, blanks; check part trimmed
      {"ABCD0101A1XY1", 27},     // letter in the date
      {"ABCD010101X-1", 27},     // sign in the check part
  };
  for (const auto& c : cases) {
    std::string r = ValidWorker();
    Put(r, kRfc, c.rfc);
    ZAV z;
    SetUpRun(z);
    z.sRFCPatron = c.rfc;  // the header holds the same RFC: only the format is tested
    EXPECT_EQ(CheckWorkerRecord(z, 2, r), c.expected) << c.rfc;
  }
}

TEST(WorkerRecordTest, PeriodAndLatenessRules) {
  const WorkerCase cases[] = {
      // Retirement, old-age and housing amounts only in even months (tolerance in cents).
      {"retiro odd month", {{kRetiro, "0000001"}}, 261, 5},
      {"retiro zero odd month", {{kRetiro, "0000000"}}, 0, 5},
      {"retiro even month", {{kRetiro, "0000001"}}, 0, 6},
      {"recargos retiro odd", {{kRecargosRetiro, "0000001"}}, 261, 5},
      {"cesantia patronal odd", {{kCesantiaPatronal, "0000001"}}, 261, 5},
      {"cesantia trabajador odd", {{kCesantiaTrabajador, "0000001"}}, 261, 5},
      {"recargos cesantia odd", {{kRecargosCesantia, "0000001"}}, 261, 5},
      {"vivienda odd", {{kAportacionVivienda, "0000001"}}, 261, 11},
      {"amortizacion odd", {{kAmortizacionCredito, "0000001"}}, 261, 1},
      {"voluntaria odd month allowed", {{kAportacionVoluntaria, "0000001"}}, 0, 5},
      {"insurance odd month allowed", {{kCuotaFija, "0000001"}}, 0, 5},
      {"within tolerance", {{kRetiro, "0000050"}}, 0, 5, 0, 50},
      {"above tolerance", {{kRetiro, "0000051"}}, 261, 5, 0, 50},
      // Voluntary and housing amounts not in periods 13 and 14.
      {"voluntaria 13", {{kAportacionVoluntaria, "0000001"}}, 262, 13},
      {"voluntaria 14", {{kAportacionVoluntaria, "0000001"}}, 262, 14},
      {"voluntaria 12", {{kAportacionVoluntaria, "0000001"}}, 0, 12},
      {"vivienda 13", {{kAportacionVivienda, "0000001"}}, 262, 13},
      {"amortizacion 14", {{kAmortizacionCredito, "0000001"}}, 262, 14},
      {"retiro 13 allowed", {{kRetiro, "0000500"}}, 0, 13},
      // A late payment may not carry a negative update and surcharge.
      {"rule A even", {{kRecargosSeguros, "-000001"}}, 147, 6, 3},
      {"rule A odd", {{kRecargosSeguros, "-000001"}}, 147, 5, 3},
      {"rule A on time", {{kRecargosSeguros, "-000001"}}, 0, 6, 0},
      {"rule A ahead", {{kRecargosSeguros, "-000001"}}, 0, 6, -2},
      {"no rule on cuota fija", {{kCuotaFija, "-000001"}}, 0, 6, 3},
      {"rule B even", {{kRecargosRetiro, "-000001"}}, 147, 6, 3},
      {"rule B odd", {{kRecargosRetiro, "-000001"}}, 0, 5, 3},
      {"rule C even", {{kRecargosCesantia, "-000001"}}, 147, 6, 3},
      {"rule C odd", {{kRecargosCesantia, "-000001"}}, 0, 5, 3},
      {"rule C on time", {{kRecargosCesantia, "-000001"}}, 0, 6, 0},
      // Rule C looks at the value rounded to cents, rule B at the value itself.
      {"rule B tiny negative", {{kRecargosRetiro, "-0.0001"}}, 147, 6, 3},
      {"rule C tiny negative", {{kRecargosCesantia, "-0.0001"}}, 0, 6, 3},
  };
  for (const auto& c : cases) {
    std::string r = ValidWorker();
    for (const auto& e : c.edits) Put(r, e.field, e.text);
    ZAV z;
    SetUpRun(z, c.month);
    z.working().lgDiasAtraso = c.late;
    z.igToler = c.toler;
    EXPECT_EQ(CheckWorkerRecord(z, c.registro, r), c.expected) << c.what;
  }
}

TEST(WorkerRecordTest, TotalsOfTwoRecords) {
  std::string r = ValidWorker();
  Put(r, kRetiro, "0000100");
  Put(r, kRecargosRetiro, "0000200");
  Put(r, kCesantiaPatronal, "0000300");
  Put(r, kCesantiaTrabajador, "0000400");
  Put(r, kRecargosCesantia, "0000500");
  Put(r, kAportacionVoluntaria, "0000600");
  Put(r, kAportacionVivienda, "0000700");
  Put(r, kAmortizacionCredito, "0000801");
  ZAV z;
  SetUpRun(z, 6);
  ASSERT_EQ(CheckWorkerRecord(z, 2, r), 0);
  Put(r, kCuotaFija, "-000012");
  Put(r, kCreditoVivienda, "");
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

TEST(WorkerRecordTest, FailureKeepsEarlierAdditions) {
  std::string r = ValidWorker();
  Put(r, kRetiro, "00001A0");
  ZAV z;
  SetUpRun(z, 6);
  ASSERT_EQ(CheckWorkerRecord(z, 2, r), 188);
  EXPECT_EQ(z.iNumTrabViv, 1);
  EXPECT_EQ(z.SumaT15, 30);
  EXPECT_EQ(z.SumaT26, 61);
  EXPECT_DOUBLE_EQ(z.SumaT18.ToDouble(), 12.34);
  EXPECT_DOUBLE_EQ(z.SumaT25.ToDouble(), 7.0);
  EXPECT_DOUBLE_EQ(z.SumaT29, 0.0);
  EXPECT_TRUE(z.SumaT30.IsEmpty());
}

TEST(WorkerRecordTest, DayTotalsRoundHalvesToEven) {
  struct Case {
    std::int32_t before;
    const char* days;
    std::int32_t after;
  };
  const Case cases[] = {{0, ".5", 0}, {1, ".5", 2}, {2, ".5", 2}, {10, "-1", 9}};
  for (const auto& c : cases) {
    std::string r = ValidWorker();
    Put(r, kDiasCotizadosMes, c.days);
    Put(r, kDiasCotizadosBimestre, c.days);
    ZAV z;
    SetUpRun(z);
    z.SumaT15 = c.before;
    z.SumaT26 = c.before;
    ASSERT_EQ(CheckWorkerRecord(z, 2, r), 0);
    EXPECT_EQ(z.SumaT15, c.after) << c.before << " + " << c.days;
    EXPECT_EQ(z.SumaT26, c.after) << c.before << " + " << c.days;
  }
}

TEST(WorkerRecordTest, TotalOverflowIsARunTimeFailure) {
  struct Case {
    const char* what;
    std::function<void(ZAV&, std::string&)> setup;
  };
  const Case cases[] = {
      {"iNumTrabViv", [](ZAV& z, std::string&) { z.iNumTrabViv = INT_MAX; }},
      {"SumaT15", [](ZAV& z, std::string&) { z.SumaT15 = INT_MAX; }},
      {"SumaT26", [](ZAV& z, std::string&) { z.SumaT26 = INT_MIN; }},  // minus one below
      {"SumaT18",
       [](ZAV& z, std::string& r) {
         z.SumaT18 = Variant::Double(DBL_MAX);
         Put(r, kCuotaFija, "1.0E308");
       }},
      {"SumaT29",
       [](ZAV& z, std::string& r) {
         z.SumaT29 = DBL_MAX;
         Put(r, kRetiro, "1.0E308");
       }},
  };
  for (const auto& c : cases) {
    std::string r = ValidWorker();
    Put(r, kDiasCotizadosBimestre, "-1");
    ZAV z;
    SetUpRun(z);
    c.setup(z, r);
    try {
      CheckWorkerRecord(z, 2, r);
      ADD_FAILURE() << c.what << ": no failure";
    } catch (const RuntimeFailure& f) {
      EXPECT_EQ(f.number(), err::kOverflow) << c.what;
    }
  }
}

TEST(WorkerRecordTest, ShortRecordFailsAtFirstFieldCutShort) {
  ZAV z;
  SetUpRun(z);
  const std::string registro_cut = ValidWorker().substr(0, 12);
  EXPECT_EQ(CheckWorkerRecord(z, 2, registro_cut), 10);
  const std::string amounts_cut = ValidWorker().substr(0, 170);
  EXPECT_EQ(CheckWorkerRecord(z, 2, amounts_cut), 178);
}

}  // namespace
}  // namespace zav
