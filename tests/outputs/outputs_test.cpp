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
      {1234.56, "123456"}, {0.45, "045"}, {0.29, "029"},     {0.05, "5"},        {0, "000"},
      {10, "1000"},        {0.10, "010"}, {12.3456, "1234"}, {12.34996, "1235"}, {0.005, "000"},
  };
  for (const auto& [pesos, text] : cases) EXPECT_EQ(CaptureAmountText(pesos), text) << pesos;
}

// Before any run: empty capture line fields and amounts, zero subtotals, the archive's bare name.
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

// The name loses leading blanks only, a 12-character RFC keeps its blank, amounts as they are.
TEST(ParameterString, TextsAndAmountsAsTheyStand) {
  ZAV z;
  z.sNombrePatron = "  PATRON DE PRUEBA   ";
  z.sRFCPatron = " ABC010101AB1";
  z.SumaS29 = 5.5;
  z.SumaS31 = -0.5;
  const auto f = SplitBars(z.sParamZAV().ToText());
  ASSERT_EQ(f.size(), 31u);
  // Fields 18 and 26, then the RCV and housing subtotals, which add them.
  EXPECT_EQ((std::vector{f[0], f[2], f[17], f[25], f[18], f[26]}),
            (std::vector<std::string>{"PATRON DE PRUEBA   ", " ABC010101AB1", "5.5", "-0.5", "5.5",
                                      "-0.5"}));
}

}  // namespace
}  // namespace zav
