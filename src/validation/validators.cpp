// The control's field validators. Their rules are those of validation/field_checks.hpp,
// which the record checks apply to views of the record. ValidaNumero always trims the caller's text
// in place; ValidaAlfaNum trims it only when its untrimmed length is right. The amount tests answer
// True when an amount is NOT allowed in the current period.
#include <cmath>

#include "basic/cp1252.hpp"
#include "basic/number_text.hpp"
#include "basic/numeric_text.hpp"
#include "control/zav.hpp"
#include "validation/field_checks.hpp"

namespace zav {

bool ZAV::ValidaNumero(std::string& Cadena, std::int16_t largo) {
  TrimInPlace(Cadena);
  return NumeroText(Cadena, largo);
}

bool ZAV::ValidaNumeroEsp(std::string& Cadena, std::int16_t largo) {
  return NumeroEspText(Cadena, largo);
}

bool ZAV::ValidaAlfa(std::string& Cadena, std::int16_t largo) { return AlfaText(Cadena, largo); }

bool ZAV::ValidaAlfaNum(std::string& Cadena, std::int16_t largo) {
  const bool ok = AlfaNumText(Cadena, largo);
  if (HasLength(Cadena, largo)) TrimInPlace(Cadena);
  return ok;
}

double ZAV::Trunca(double Valor) {
  // A whole number below 10^15 is its own two-decimal text ("1234.00"), which reads back
  // as itself; a negative zero reads back as zero. The record amounts are all such.
  if (std::fabs(Valor) < 1e15 && Valor == std::trunc(Valor)) return Valor + 0.0;
  return LeadingValue(FormatFixed2(Valor));
}

// Trunca fails only for a value that is not finite; for any other the period is looked at
// first, and the amount only when the period could forbid it.
bool ZAV::ValImpMen13(double Valor) {
  if (std::isfinite(Valor) && (w_.bgPeriodoPar || w_.igNumPeriodo >= 13)) return false;
  return Trunca(Valor) > static_cast<double>(igToler) && !w_.bgPeriodoPar && w_.igNumPeriodo < 13;
}

bool ZAV::ValPer1314(double Valor) {
  const bool period_1314 = w_.igNumPeriodo == 13 || w_.igNumPeriodo == 14;
  if (std::isfinite(Valor) && !period_1314) return false;
  return Trunca(Valor) > static_cast<double>(igToler) && period_1314;
}

}  // namespace zav
