#include "outputs/outputs.hpp"

#include <gtest/gtest.h>

#include "control/zav.hpp"

namespace zav {
namespace {

std::vector<std::string> SplitBars(const std::string& s) {
  std::vector<std::string> out(1);
  for (char c : s) {
    if (c == '|') {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  return out;
}

TEST(CaptureLine, AmountTextsInWholeCents) {
  const std::pair<double, const char*> cases[] = {
      {1234.56, "123456"}, {0.45, "045"},      {0.29, "029"},  {0.05, "5"},
      {0, "000"},          {10, "1000"},       {0.10, "010"},  {0.01, "1"},
      {12.3456, "1234"},   {12.34996, "1235"}, {0.005, "000"},
  };
  for (const auto& [pesos, text] : cases) EXPECT_EQ(CaptureAmountText(pesos), text) << pesos;
}

// A whole run's figures are file_driver_test.cpp's. Before the first check the capture line's
// fields and the parameter string's amounts are empty, its subtotals zero, and without a work
// folder the archive path is the bare name.
TEST(ParameterString, BeforeAnyRun) {
  ZAV z;
  const std::string line = z.LineaDeCaptura();
  EXPECT_EQ(line.substr(0, 23), "---000-000-000-000-000-");
  EXPECT_EQ(line.size(), 26u);
  EXPECT_EQ(z.sRutaArchZAVZip(), z.sArchZAVZip());
  const auto f = SplitBars(z.sParamZAV().ToText());
  ASSERT_EQ(f.size(), 31u);
  for (int i : {10, 11, 12, 14, 15, 16, 20, 21, 22, 23}) EXPECT_EQ(f[i - 1], "") << i;
  for (int i : {13, 17, 18, 19, 24, 25, 26, 27, 28}) EXPECT_EQ(f[i - 1], "0") << i;
}

// What a run does not show: the name loses its leading blanks only, a twelve-character RFC
// keeps its blank, negative and fractional amounts in general number form.
TEST(ParameterString, TextsAndAmountsAsTheyStand) {
  ZAV z;
  z.sNombrePatron = "  PATRON DE PRUEBA   ";
  z.sRFCPatron = " ABC010101AB1";
  z.SumaS29 = 5.5;
  z.SumaS31 = -0.5;
  const auto f = SplitBars(z.sParamZAV().ToText());
  ASSERT_EQ(f.size(), 31u);
  EXPECT_EQ(f[0], "PATRON DE PRUEBA   ");
  EXPECT_EQ(f[2], " ABC010101AB1");
  EXPECT_EQ(f[17], "5.5");
  EXPECT_EQ(f[25], "-0.5");
  EXPECT_EQ(f[26], "-0.5");  // the housing subtotal adds the donations
  EXPECT_EQ(f[18], "5.5");   // so does the RCV subtotal the complementary contributions
}

}  // namespace
}  // namespace zav
