#include "validation/record_05.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/zav.hpp"
#include "validation/closing_fixture.hpp"
#include "validation/record_checks.hpp"

namespace zav {
namespace {

using namespace record05;
using testing::Edit;

struct SummaryCase {
  const char* what;
  std::vector<Edit> edits;
  std::int16_t expected;
  void (*setup)(ZAV&) = nullptr;
  std::int32_t registro = testing::kSummaryNumber;
};

void RunCases(const SummaryCase* begin, const SummaryCase* end) {
  for (const SummaryCase* c = begin; c != end; ++c) {
    ZAV z;
    testing::SetUpBeforeSummary(z);
    if (c->setup) c->setup(z);
    const std::string r = testing::Edited(testing::ValidSummary(), c->edits);
    EXPECT_EQ(CheckSummaryRecord(z, c->registro, r), c->expected) << c->what;
  }
}

void OddMonth(ZAV& z) {
  z.working().igNumPeriodo = 5;
  z.working().bgPeriodoPar = false;
}
void Period13(ZAV& z) {
  z.working().igNumPeriodo = 13;
  z.working().bgPeriodoPar = false;
}
// An odd month whose file carries no RCV amounts at all.
void OddMonthWithoutRcv(ZAV& z) {
  OddMonth(z);
  z.SumaT29 = 0;
  z.SumaT30 = z.SumaT31 = z.SumaT32 = z.SumaT33 = Variant::Double(0);
}
void Late(ZAV& z) { z.working().lgDiasAtraso = 3; }
void Tolerance1(ZAV& z) { z.igToler = 1; }

TEST(SummaryRecordTest, LayoutCoversTheRecord) {
  testing::ExpectCoversExactly(kSummaryFields, static_cast<int>(kRecordLength));
}

TEST(SummaryRecordTest, ChecksInOrderFirstFailureWins) {
  const SummaryCase cases[] = {
      {"valid", {}, 0},
      // The bound counts the declared workers and the movements so far, plus one.
      {"before the declared records", {}, 229, nullptr, 3},
      {"at the bound", {}, 0, nullptr, 4},
      {"position checked before anything", {{kRegistroPatronal, "X"}}, 229, nullptr, 3},
      {"registro differs", {{kRegistroPatronal, "A1234567891"}}, 237},
      {"registro lower case", {{kRegistroPatronal, "a1234567890"}}, 237},
      {"registro first character",
       {{kRegistroPatronal, "-1234567890"}},
       237,
       [](ZAV& z) { z.sgNoContrato = "-1234567890"; }},
      {"registro digits",
       {{kRegistroPatronal, "A12345X7890"}},
       237,
       [](ZAV& z) { z.sgNoContrato = "A12345X7890"; }},
      {"rfc differs", {{kRfc, "ABCD010101XY2"}}, 9},
      {"rfc of 12 with leading space",
       {{kRfc, " BCD010101XY1"}},
       0,
       [](ZAV& z) { z.sRFCPatron = " BCD010101XY1"; }},
      {"rfc starting with a digit",
       {{kRfc, "1BCD010101XY1"}},
       9,
       [](ZAV& z) { z.sRFCPatron = "1BCD010101XY1"; }},
      {"rfc date with a letter",
       {{kRfc, "ABCD0101O1XY1"}},
       9,
       [](ZAV& z) { z.sRFCPatron = "ABCD0101O1XY1"; }},
      {"period differs", {{kPeriodo, "200507"}}, 238},
      {"June 1997", {{kPeriodo, "199706"}}, 238, [](ZAV& z) { z.sgPerPago = "199706"; }},
      {"July 1997",
       {{kPeriodo, "199707"}},
       0,
       [](ZAV& z) {
         z.sgPerPago = "199707";
         z.igPer = "07";
       }},
      {"header month 15",
       {{kPeriodo, "200515"}},
       238,
       [](ZAV& z) {
         z.sgPerPago = "200515";
         z.igPer = "15";
       }},
      {"folio differs", {{kFolio, "000124"}}, 239},
      {"update rate", {{kTasaActualizacion, "00001X0000"}}, 202},
      {"surcharge rate blank", {{kTasaRecargos, ""}}, 203},
      {"cuota fija", {{kCuotaFija, "00001000 "}}, 177},
      {"cuota excedente", {{kCuotaExcedente, "A"}}, 178},
      {"prestaciones", {{kPrestacionesDinero, "00030.0.0"}}, 179},
      {"gastos medicos", {{kGastosMedicos, ""}}, 180},
      {"riesgos", {{kRiesgosTrabajo, "0000-5000"}}, 181},
      {"invalidez", {{kInvalidezVida, "00000600 "}}, 182},
      {"guarderias", {{kGuarderias, "00000070O"}}, 183},
      {"cuota fija off by a cent", {{kCuotaFija, "000010001"}}, 240},
      {"guarderias off by a cent", {{kGuarderias, "000000699"}}, 240},
      {"a difference below the cent is ignored",
       {},
       0,
       [](ZAV& z) { z.SumaT18 = Variant::Double(100.004); }},
      {"subtotal", {{kSubtotal4Seguros, "0000002715"}}, 205},
      {"subtotal off by a cent", {{kSubtotal4Seguros, "00000027151"}}, 242},
      {"insurance update", {{kActualizacion4Seguros, "X"}}, 206},
      {"insurance surcharges", {{kRecargos4Seguros, "X"}}, 207},
      {"update and surcharges off", {{kRecargos4Seguros, "000000201"}}, 241},
      {"retiro", {{kRetiro, "X"}}, 188},
      {"retiro off", {{kRetiro, "000040001"}}, 243},
      {"retiro in an odd month", {}, 263, OddMonth},
      {"odd month wins over the comparison", {{kRetiro, "000040001"}}, 263, OddMonth},
      {"cesantia", {{kCesantiaVejez, "X"}}, 208},
      {"cesantia off", {{kCesantiaVejez, "000029999"}}, 244},
      {"rcv subtotal", {{kSubtotalRcv, "X"}}, 209},
      {"rcv subtotal off", {{kSubtotalRcv, "00000070001"}}, 245},
      {"rcv update", {{kActualizacionRcv, "X"}}, 210},
      {"rcv surcharges", {{kRecargosRcv, "X"}}, 211},
      {"rcv update and surcharges off", {{kActualizacionRcv, "000000501"}}, 246},
      {"voluntarias", {{kVoluntarias, "X"}}, 212},
      {"voluntarias in period 13", {}, 264, Period13},
      {"voluntarias off", {{kVoluntarias, "00000005001"}}, 247},
      {"vivienda cuenta", {{kViviendaCuenta, "X"}}, 213},
      {"vivienda amortizacion", {{kViviendaAmortizacion, "X"}}, 214},
      {"vivienda off", {{kViviendaAmortizacion, "000002001"}}, 248},
      {"amortizacion credito", {{kAmortizacionCredito, "X"}}, 195},
      {"amortizacion credito off", {{kAmortizacionCredito, "000008999"}}, 249},
      {"housing update", {{kActualizacionVivienda, "X"}}, 215},
      {"negative housing update, late", {{kActualizacionVivienda, "-00000100"}}, 147, Late},
      {"negative housing update, on time", {{kActualizacionVivienda, "-00000100"}}, 0},
      {"housing surcharges", {{kRecargosVivienda, "X"}}, 216},
      {"negative housing surcharges, late", {{kRecargosVivienda, "-00000200"}}, 147, Late},
      {"complementarias", {{kComplementarias, "X"}}, 403},
      {"complementarias off", {{kComplementarias, "000001235"}}, 404},
      {"multas", {{kMultasInfonavit, "X"}}, 401},
      {"donativos", {{kDonativosFundemex, "X"}}, 402},
      {"filler not read", {{kRelleno281, "anything at all"}}, 0},
  };
  RunCases(std::begin(cases), std::end(cases));
}

// The period rules: odd months below 13 refuse RCV and housing amounts, 13 and 14 refuse
// voluntary and housing amounts; amounts up to the tolerance are allowed.
TEST(SummaryRecordTest, PeriodRules) {
  const std::vector<Edit> no_rcv = {{kRetiro, "000000000"},
                                    {kCesantiaVejez, "000000000"},
                                    {kSubtotalRcv, "00000000000"},
                                    {kActualizacionRcv, "000000000"},
                                    {kRecargosRcv, "000000000"}};
  auto with = [&](std::vector<Edit> more) {
    std::vector<Edit> e = no_rcv;
    e.insert(e.end(), more.begin(), more.end());
    return e;
  };
  const SummaryCase cases[] = {
      {"odd month: rcv refused", {}, 263, OddMonth},
      {"odd month: voluntary allowed, housing refused", with({}), 263, OddMonthWithoutRcv},
      {"odd month: housing up to the tolerance",
       with({{kViviendaCuenta, "000000100"},
             {kViviendaAmortizacion, "000000000"},
             {kAmortizacionCredito, "000000000"},
             {kActualizacionVivienda, "000000000"},
             {kRecargosVivienda, "000000000"}}),
       0,
       [](ZAV& z) {
         OddMonthWithoutRcv(z);
         z.SumaT35 = Variant::Double(1);
         z.SumaT36 = 0;
         z.igToler = 1;
       }},
      {"period 13: rcv allowed, voluntary refused", {}, 264, Period13},
      {"period 14: housing refused",
       {{kVoluntarias, "00000000000"}},
       264,
       [](ZAV& z) {
         z.working().igNumPeriodo = 14;
         z.SumaT34 = Variant::Double(0);
       }},
  };
  RunCases(std::begin(cases), std::end(cases));
}

// Every comparison of the summary allows igToler pesos either way, the subtotal included.
TEST(SummaryRecordTest, ComparisonsAllowTheToleranceEitherWay) {
  const SummaryCase cases[] = {
      {"matching subtotal, tolerance set", {}, 0, Tolerance1},
      {"subtotal +1", {{kSubtotal4Seguros, "00000027250"}}, 0, Tolerance1},
      {"subtotal -1", {{kSubtotal4Seguros, "00000027050"}}, 0, Tolerance1},
      {"subtotal +1.01", {{kSubtotal4Seguros, "00000027251"}}, 242, Tolerance1},
      {"subtotal -2", {{kSubtotal4Seguros, "00000026950"}}, 242, Tolerance1},
      {"subtotal +1, no tolerance", {{kSubtotal4Seguros, "00000027250"}}, 242},
      {"component +1", {{kCuotaFija, "000010100"}}, 0, Tolerance1},
      {"component -1", {{kCuotaFija, "000009900"}}, 0, Tolerance1},
      {"component +2", {{kCuotaFija, "000010200"}}, 240, Tolerance1},
      {"component -2", {{kCuotaFija, "000009800"}}, 240, Tolerance1},
      // 2.14 - 1.14 is slightly above 1 in binary: the comparison is made in cents.
      {"exactly one peso between cent values",
       {{kGastosMedicos, "000000214"}, {kSubtotal4Seguros, "00000026964"}},
       0,
       [](ZAV& z) {
         z.igToler = 1;
         z.SumaT21 = Variant::Double(1.14);
       }},
      {"voluntarias -1", {{kVoluntarias, "00000004900"}}, 0, Tolerance1},
      {"voluntarias +2", {{kVoluntarias, "00000005200"}}, 247, Tolerance1},
      {"complementarias +1", {{kComplementarias, "000001334"}}, 0, Tolerance1},
      {"complementarias -2", {{kComplementarias, "000001034"}}, 404, Tolerance1},
  };
  RunCases(std::begin(cases), std::end(cases));
}

TEST(SummaryRecordTest, KeepsEveryAmount) {
  ZAV z;
  testing::SetUpBeforeSummary(z);
  z.SumaS8S14 = 1;  // a second summary adds again
  ASSERT_EQ(CheckSummaryRecord(z, 5, testing::ValidSummary()), 0);
  EXPECT_EQ(z.SumaS6, Variant::Double(100000.0 / 1000000 / 100));
  EXPECT_EQ(z.SumaS7, Variant::Double(200000.0 / 1000000 / 100));
  EXPECT_EQ(z.SumaS8, Variant::Double(100.00));
  EXPECT_EQ(z.SumaS9, Variant::Double(20.50));
  EXPECT_EQ(z.SumaS13, Variant::Double(60.00));
  EXPECT_EQ(z.SumaS14, 7.00);
  EXPECT_DOUBLE_EQ(z.SumaS8S14, 272.50);
  EXPECT_EQ(z.SumaS15, Variant::Double(271.50));
  EXPECT_EQ(z.SumaS17, Variant::Double(2.00));
  EXPECT_EQ(z.SumaS18, Variant::Double(400.00));
  EXPECT_EQ(z.SumaS22, Variant::Double(6.00));
  EXPECT_EQ(z.SumaS23, 50.00);
  EXPECT_EQ(z.SumaS27, Variant::Double(1.00));
  EXPECT_EQ(z.SumaS28, 2.00);
  EXPECT_EQ(z.SumaS29, 12.34);
  EXPECT_EQ(z.SumaS30, 3.00);
  EXPECT_EQ(z.SumaS31, 4.00);
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
  EXPECT_EQ(z.SumaS6, Variant::Double(100000.0 / 1000000 / 100));
  EXPECT_EQ(z.SumaS15, Variant::Double(271.50));
  EXPECT_EQ(z.SumaS18, Variant::Double(401.00));
  EXPECT_DOUBLE_EQ(z.SumaS8S14, 271.50);
  EXPECT_EQ(z.SumaS19, before);
  EXPECT_EQ(z.SumaS20, before);
  EXPECT_EQ(z.SumaS27, before);
  EXPECT_EQ(z.SumaS23, -7);
  EXPECT_EQ(z.SumaS31, -7);

  // A component that fails its comparison is kept but not added to SumaS8S14.
  ZAV c;
  testing::SetUpBeforeSummary(c);
  EXPECT_EQ(CheckSummaryRecord(
                c, 5, testing::Edited(testing::ValidSummary(), {{kRiesgosTrabajo, "000005001"}})),
            240);
  EXPECT_EQ(c.SumaS12, Variant::Double(50.01));
  EXPECT_DOUBLE_EQ(c.SumaS8S14, 100.00 + 20.50 + 30.00 + 4.00);
  EXPECT_TRUE(c.SumaS13.IsEmpty());
}

}  // namespace
}  // namespace zav
