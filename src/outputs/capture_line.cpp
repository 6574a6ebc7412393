// The payment capture line: employer, folio and period, a check over them, the four
// totals of the validation record in whole cents, and a check over the amounts.
// It validates nothing and changes no state.
#include <cmath>

#include "basic/number_text.hpp"
#include "basic/numeric_text.hpp"
#include "control/zav.hpp"
#include "outputs/outputs.hpp"

namespace zav {

std::string CaptureAmountText(double pesos) {
  // Formatting to cents and reading back absorbs the binary error of x100
  // (0.29 pesos is 28.999... cents as a double, and must read 29).
  const double cents = std::floor(LeadingValue(FormatFixed2(pesos * 100)));
  std::string t = GeneralNumberText(cents);
  if (t.size() == 2) t.insert(t.begin(), '0');
  if (LeadingValue(t) == 0) t = "000";
  return t;
}

std::string ZAV::LineaDeCaptura() {
  const std::string a1 = CaptureAmountText(SumaV11.ToDouble());
  const std::string a2 = CaptureAmountText(SumaV12.ToDouble());
  const std::string a3 = CaptureAmountText(SumaV13.ToDouble());
  const std::string a4 = CaptureAmountText(SumaV14);

  std::string check1;
  std::string text = sgNoContrato + sgFolioZAV + sgPerPago;
  CheckString(text, check1);
  std::string check2;
  std::string amounts = a1 + a2 + a3 + a4;
  CheckString(amounts, check2);

  return sgNoContrato + "-" + sgFolioZAV + "-" + sgPerPago + "-" + check1 + "-" + a1 + "-" + a2 +
         "-" + a3 + "-" + a4 + "-" + check2;
}

}  // namespace zav
