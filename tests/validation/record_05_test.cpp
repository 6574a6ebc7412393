#include "records/record_05.hpp"

#include <gtest/gtest.h>

#include <cfloat>
#include <functional>
#include <string>
#include <vector>

#include "basic/expect_failure.hpp"
#include "control/zav.hpp"
#include "validation/record_builder.hpp"
#include "validation/record_checks.hpp"

namespace zav {
namespace {

using namespace record05;
using testing::Edit;

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
void Late(ZAV& z) { z.working().lgDiasAtraso = 3; }
void Tolerance1(ZAV& z) { z.igToler = 1; }

// One field in the valid summary changed: a text that is not a number, or an amount that
// no longer matches the worker totals, in field order (a negative housing update passes on
// time).
TEST(SummaryRecordTest, EachFieldItsMessage) {
  // clang-format off
  const struct {
    Field field;
    const char* text;
    std::int16_t expected;
  } cases[] = {
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
  };
  // clang-format on
  EXPECT_EQ(Check({}), 0);
  for (const auto& c : cases) {
    EXPECT_EQ(Check({{c.field, c.text}}), c.expected) << c.field.name << " \"" << c.text << '"';
  }
}

TEST(SummaryRecordTest, PositionAndPeriodRules) {
  const std::vector<Edit> no_rcv = {{kRetiro, "000000000"},
                                    {kCesantiaVejez, "000000000"},
                                    {kSubtotalRcv, "00000000000"},
                                    {kActualizacionRcv, "000000000"},
                                    {kRecargosRcv, "000000000"}};
  auto with = [&](std::vector<Edit> more) {
    more.insert(more.end(), no_rcv.begin(), no_rcv.end());
    return more;
  };
  const auto housing_in_tolerance = [](ZAV& z) {
    OddMonthWithoutRcv(z);
    z.SumaT35 = Variant::Double(1);
    z.SumaT36 = 0;
    z.igToler = 1;
  };
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
      // Odd months below 13 refuse RCV and housing amounts, 13 and 14 voluntary and
      // housing amounts; amounts up to the tolerance are allowed.
      {"retiro in an odd month", {}, 263, OddMonth},
      {"odd month wins over the comparison", {{kRetiro, "000040001"}}, 263, OddMonth},
      {"odd month: voluntary allowed, housing refused", with({}), 263, OddMonthWithoutRcv},
      {"odd month: housing up to the tolerance",
       with({{kViviendaCuenta, "000000100"}, {kViviendaAmortizacion, "000000000"},
             {kAmortizacionCredito, "000000000"}, {kActualizacionVivienda, "000000000"},
             {kRecargosVivienda, "000000000"}}), 0, housing_in_tolerance},
      {"voluntarias in period 13", {}, 264, [](ZAV& z) { z.working().igNumPeriodo = 13; }},
      {"period 14: housing refused", {{kVoluntarias, "00000000000"}}, 264,
       [](ZAV& z) { z.working().igNumPeriodo = 14; z.SumaT34 = Variant::Double(0); }},
      // A late payment must carry its housing update and surcharges.
      {"negative housing update, late", {{kActualizacionVivienda, "-00000100"}}, 147, Late},
      {"negative housing surcharges, late", {{kRecargosVivienda, "-00000200"}}, 147, Late},
      // clang-format on
  };
  for (const auto& c : cases) EXPECT_EQ(Check(c.edits, c.setup, c.registro), c.expected) << c.what;
}

// The registration, RFC and period keep their format, and the period its range, even when
// the header holds the same text.
TEST(SummaryRecordTest, IdentityKeepsItsFormat) {
  const struct {
    Field field;
    const char* text;
    std::int16_t expected;
  } cases[] = {
      // clang-format off
      {kRegistroPatronal, "-1234567890", 237}, {kRegistroPatronal, "A12345X7890", 237},
      {kRfc, " BCD010101XY1", 0}, {kRfc, "1BCD010101XY1", 9}, {kRfc, "ABCD0101O1XY1", 9},
      {kPeriodo, "199706", 238}, {kPeriodo, "199707", 0}, {kPeriodo, "200515", 238},
      // clang-format on
  };
  for (const auto& c : cases) {
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

// Every comparison of the summary allows igToler pesos either way, the subtotal included.
TEST(SummaryRecordTest, ComparisonsAllowTheToleranceEitherWay) {
  // clang-format off
  const struct {
    Field field;
    const char* text;
    std::int16_t expected;
  } cases[] = {
      {kSubtotal4Seguros, "00000027250", 0}, {kSubtotal4Seguros, "00000027050", 0},
      {kSubtotal4Seguros, "00000027251", 242}, {kSubtotal4Seguros, "00000026950", 242},
      {kCuotaFija, "000009900", 0}, {kCuotaFija, "000010200", 240},
      {kVoluntarias, "00000004900", 0}, {kVoluntarias, "00000005200", 247},
      {kComplementarias, "000001334", 0}, {kComplementarias, "000001034", 404},
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(Check({{c.field, c.text}}, Tolerance1), c.expected) << c.field.name << " " << c.text;
  }
  // 2.14 - 1.14 is slightly above 1 in binary: the comparison is made in cents.
  const auto gastos = [](ZAV& z) {
    z.igToler = 1;
    z.SumaT21 = Variant::Double(1.14);
  };
  EXPECT_EQ(Check({{kGastosMedicos, "000000214"}, {kSubtotal4Seguros, "00000026964"}}, gastos), 0);
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
}

// The insurance total of the summaries is a double running total like the worker totals:
// summaries that claim amounts past its range are an overflow, not an infinite total.
TEST(SummaryRecordTest, InsuranceTotalOverflowIsARunTimeFailure) {
  ZAV z;
  testing::SetUpBeforeSummary(z);
  z.SumaT18 = Variant::Double(1e306);
  z.SumaS8S14 = DBL_MAX;
  EXPECT_RUNTIME_FAILURE(
      err::kOverflow,
      CheckSummaryRecord(z, 5,
                         testing::Edited(testing::ValidSummary(), {{kCuotaFija, "1.00E+308"}})));
  EXPECT_EQ(z.SumaS8S14, DBL_MAX);
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
  EXPECT_EQ((std::vector<Variant>{z.SumaS19, z.SumaS20, z.SumaS27}),
            (std::vector<Variant>{before, before, before}));
  EXPECT_EQ(z.SumaS23, -7);
  EXPECT_EQ(z.SumaS31, -7);

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

}  // namespace
}  // namespace zav
