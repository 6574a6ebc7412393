#include "validation/record_06.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/zav.hpp"
#include "validation/closing_fixture.hpp"
#include "validation/record_checks.hpp"

namespace zav {
namespace {

using namespace record06;
using testing::Edit;

struct ValidationCase {
  const char* what;
  std::vector<Edit> edits;
  std::int16_t expected;
  void (*setup)(ZAV&) = nullptr;
  std::int32_t registro = testing::kValidationNumber;
};

// The state a file leaves once its valid summary has been read.
void SetUpBeforeValidation(ZAV& z) {
  testing::SetUpBeforeSummary(z);
  ASSERT_EQ(CheckSummaryRecord(z, testing::kSummaryNumber, testing::ValidSummary()), 0);
}

void RunCases(const ValidationCase* begin, const ValidationCase* end) {
  for (const ValidationCase* c = begin; c != end; ++c) {
    ZAV z;
    SetUpBeforeValidation(z);
    if (c->setup) c->setup(z);
    const std::string r = testing::Edited(testing::ValidValidation(), c->edits);
    EXPECT_EQ(CheckValidationRecord(z, c->registro, r), c->expected) << c->what;
  }
}

void Late(ZAV& z) { z.working().lgDiasAtraso = 3; }
// A summary whose amounts are all zero.
void NothingOwed(ZAV& z) {
  z.SumaS15 = z.SumaS16 = z.SumaS17 = Variant::Double(0);
  z.SumaS20 = z.SumaS21 = z.SumaS22 = Variant::Double(0);
  z.SumaS24 = z.SumaS25 = z.SumaS26 = z.SumaS27 = Variant::Double(0);
  z.SumaS23 = z.SumaS28 = z.SumaS29 = z.SumaS30 = z.SumaS31 = 0;
}

TEST(ValidationRecordTest, LayoutCoversTheRecord) {
  testing::ExpectCoversExactly(kValidationFields, static_cast<int>(kRecordLength));
}

TEST(ValidationRecordTest, ChecksInOrderFirstFailureWins) {
  const ValidationCase cases[] = {
      {"valid", {}, 0},
      // The bound counts the declared workers and the movements so far, plus two.
      {"before the bound", {}, 230, nullptr, 4},
      {"at the bound", {}, 0, nullptr, 5},
      {"position checked before anything", {{kRegistroPatronal, "X"}}, 230, nullptr, 4},
      {"registro differs", {{kRegistroPatronal, "B1234567890"}}, 250},
      {"registro digits",
       {{kRegistroPatronal, "A1234-67890"}},
       250,
       [](ZAV& z) { z.sgNoContrato = "A1234-67890"; }},
      {"rfc differs", {{kRfc, "ABCd010101XY1"}}, 39},
      {"rfc homoclave",
       {{kRfc, "ABCD010101X-1"}},
       39,
       [](ZAV& z) { z.sRFCPatron = "ABCD010101X-1"; }},
      {"period differs", {{kPeriodo, "200406"}}, 251},
      {"June 1997", {{kPeriodo, "199706"}}, 251, [](ZAV& z) { z.sgPerPago = "199706"; }},
      {"folio differs", {{kFolio, "000321"}}, 252},
      {"sum of rates", {{kSumaTasas, "000030000"}}, 217},
      {"file size", {{kTamanoArchivo, "00000017 0"}}, 218},
      {"file size one byte over", {{kTamanoArchivo, "0000001771"}}, 48},
      {"file size one byte under", {{kTamanoArchivo, "0000001769"}}, 48},
      {"late with no rates", {{kSumaTasas, "0000000000"}}, 321, Late},
      {"on time with no rates", {{kSumaTasas, "0000000000"}}, 0},
      {"late with rates", {}, 0, Late},
      {"deadline, version and check value not read",
       {{kFechaLimite, "xx"}, {kVersion, "?"}, {kCheckSum, ""}, {kRelleno140, "z"}},
       0},
      {"diskettes blank", {{kDiscos, ""}}, 258},
      {"diskettes not numeric", {{kDiscos, "1A"}}, 258},
      {"diskettes 02 for one", {{kDiscos, "02"}}, 260},
      {"diskettes 03 for three", {{kDiscos, "03"}}, 0, [](ZAV& z) { z.NumDiscos = 3; }},
      {"imss 4 seguros", {{kTotalImss4Seguros, "X"}}, 220},
      {"imss 4 seguros over", {{kTotalImss4Seguros, "000000027451"}}, 254},
      {"imss 4 seguros under", {{kTotalImss4Seguros, "000000027449"}}, 254},
      {"imss rcv", {{kTotalImssRcv, "X"}}, 221},
      {"imss rcv over", {{kTotalImssRcv, "000000077335"}}, 255},
      {"imss rcv under", {{kTotalImssRcv, "000000077333"}}, 255},
      {"imss rcv negative", {{kTotalImssRcv, "-00000077334"}}, 255},
      {"infonavit aportacion", {{kTotalInfonavitAportacion, "X"}}, 222},
      {"infonavit aportacion over", {{kTotalInfonavitAportacion, "000000008001"}}, 256},
      {"infonavit aportacion under", {{kTotalInfonavitAportacion, "000000007999"}}, 256},
      {"infonavit amortizacion", {{kTotalInfonavitAmortizacion, "X"}}, 223},
      {"infonavit amortizacion over", {{kTotalInfonavitAmortizacion, "000000012001"}}, 257},
      {"infonavit amortizacion under", {{kTotalInfonavitAmortizacion, "000000000000"}}, 257},
      {"nothing to pay",
       {{kTotalImss4Seguros, "000000000000"},
        {kTotalImssRcv, "000000000000"},
        {kTotalInfonavitAportacion, "000000000000"},
        {kTotalInfonavitAmortizacion, "000000000000"}},
       165,
       NothingOwed},
      {"one total is enough",
       {{kTotalImss4Seguros, "000000000000"},
        {kTotalImssRcv, "000000000000"},
        {kTotalInfonavitAportacion, "000000000000"},
        {kTotalInfonavitAmortizacion, "000000000001"}},
       0,
       [](ZAV& z) {
         NothingOwed(z);
         z.SumaS31 = 0.01;
       }},
  };
  RunCases(std::begin(cases), std::end(cases));
}

// Each total to deposit agrees with the summary within igToler pesos, over or under.
TEST(ValidationRecordTest, TotalsAllowTheToleranceEitherWay) {
  struct Total {
    Field field;
    long long cents;  // what the summary amounts add up to
    std::int16_t message;
  };
  const Total totals[] = {{kTotalImss4Seguros, 27450, 254},
                          {kTotalImssRcv, 77334, 255},
                          {kTotalInfonavitAportacion, 8000, 256},
                          {kTotalInfonavitAmortizacion, 12000, 257}};
  for (const Total& t : totals) {
    for (long long shift : {0, 100, -100, 101, -101, 200, -200}) {
      ZAV z;
      SetUpBeforeValidation(z);
      z.igToler = 1;
      const std::string r = testing::Edited(
          testing::ValidValidation(), {{t.field, testing::Digits(t.cents + shift, 12).c_str()}});
      EXPECT_EQ(CheckValidationRecord(z, 6, r), shift >= -100 && shift <= 100 ? 0 : t.message)
          << t.field.name << " shifted by " << shift << " cents";
    }
  }
}

TEST(ValidationRecordTest, KeepsTheTotalsAndKeepsThemAfterAFailure) {
  ZAV z;
  SetUpBeforeValidation(z);
  ASSERT_EQ(CheckValidationRecord(z, 6, testing::ValidValidation()), 0);
  EXPECT_EQ(z.SumaV6, Variant::Double(300000.0 / 1000000 / 100));
  EXPECT_EQ(z.SumaV11, Variant::Double(274.50));
  EXPECT_EQ(z.SumaV12, Variant::Double(773.34));
  EXPECT_EQ(z.SumaV13, Variant::Double(80.00));
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
  EXPECT_EQ(f.SumaV11, Variant::Double(274.50));
  EXPECT_EQ(f.SumaV12, Variant::Double(773.34));
  EXPECT_EQ(f.SumaV13, Variant::Double(81.00));
  EXPECT_EQ(f.SumaV14, -7);
}

}  // namespace
}  // namespace zav
