#include "records/record_06.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/zav.hpp"
#include "validation/record_builder.hpp"
#include "validation/record_checks.hpp"

namespace zav {
namespace {

using namespace record06;
using testing::Edit;

// The state a file leaves once its valid summary has been read.
void SetUpBeforeValidation(ZAV& z) {
  testing::SetUpBeforeSummary(z);
  ASSERT_EQ(CheckSummaryRecord(z, testing::kSummaryNumber, testing::ValidSummary()), 0);
}

void Late(ZAV& z) { z.working().lgDiasAtraso = 3; }
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

TEST(ValidationRecordTest, ChecksInOrderFirstFailureWins) {
  // One field of the valid record changed; 0: the text passes (the deadline, version and
  // check value are the file's business, not this record's).
  // clang-format off
  const struct {
    Field field;
    const char* text;
    std::int16_t expected;
  } cases[] = {
      {kRegistroPatronal, "B1234567890", 250}, {kRfc, "ABCd010101XY1", 39},
      {kPeriodo, "200406", 251}, {kFolio, "000321", 252}, {kSumaTasas, "000030000", 217},
      {kTamanoArchivo, "00000017 0", 218}, {kTamanoArchivo, "0000001771", 48},
      {kTamanoArchivo, "0000001769", 48}, {kSumaTasas, "0000000000", 0},
      {kFechaLimite, "xx", 0}, {kVersion, "?", 0}, {kCheckSum, "", 0}, {kRelleno140, "z", 0},
      {kDiscos, "", 258}, {kDiscos, "1A", 258}, {kDiscos, "02", 260},
      {kTotalImss4Seguros, "X", 220}, {kTotalImssRcv, "X", 221},
      {kTotalInfonavitAportacion, "X", 222}, {kTotalInfonavitAmortizacion, "X", 223},
  };
  // clang-format on
  EXPECT_EQ(Check({}), 0);
  for (const auto& c : cases) {
    EXPECT_EQ(Check({{c.field, c.text}}), c.expected) << c.field.name << " " << c.text;
  }
  // The bound counts the declared workers and the movements so far, plus two; the position
  // is checked first, whatever the record holds.
  EXPECT_EQ(Check({}, nullptr, 5), 0);
  EXPECT_EQ(Check({{kRegistroPatronal, "X"}}, nullptr, 4), 230);
  // A late payment must carry its rates.
  EXPECT_EQ(Check({{kSumaTasas, "0000000000"}}, Late), 321);
  EXPECT_EQ(Check({}, Late), 0);
  EXPECT_EQ(Check({{kDiscos, "03"}}, [](ZAV& z) { z.NumDiscos = 3; }), 0);
  // Nothing to pay is not a payment; one total is enough.
  std::vector<Edit> zeros = {{kTotalImss4Seguros, "000000000000"},
                             {kTotalImssRcv, "000000000000"},
                             {kTotalInfonavitAportacion, "000000000000"},
                             {kTotalInfonavitAmortizacion, "000000000000"}};
  EXPECT_EQ(Check(zeros, NothingOwed), 165);
  zeros.push_back({kTotalInfonavitAmortizacion, "000000000001"});
  EXPECT_EQ(Check(zeros,
                  [](ZAV& z) {
                    NothingOwed(z);
                    z.SumaS31 = 0.01;
                  }),
            0);
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
    for (long long shift : {100, -100, 101, -101}) {
      EXPECT_EQ(
          Check({{t.field, testing::Digits(t.cents + shift, 12)}}, [](ZAV& z) { z.igToler = 1; }),
          shift == 100 || shift == -100 ? 0 : t.message)
          << t.field.name << " shifted by " << shift << " cents";
    }
  }
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

}  // namespace
}  // namespace zav
