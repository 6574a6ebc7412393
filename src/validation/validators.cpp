// The field validators: every field test of the record checks goes through these.
// ValidaNumero always trims the caller's text in place; ValidaAlfaNum trims it only
// when its untrimmed length is right. The amount tests answer True when an amount
// is NOT allowed in the current period.
#include "basic/cp1252.hpp"
#include "basic/number_text.hpp"
#include "basic/numeric_text.hpp"
#include "control/zav.hpp"

namespace zav {

namespace {

// Trimming in place keeps the record checks free of allocations.
void TrimSpaces(std::string& s) {
  const auto last = s.find_last_not_of(' ');
  if (last == std::string::npos) {
    s.clear();
    return;
  }
  s.erase(last + 1);
  s.erase(0, s.find_first_not_of(' '));
}

bool IsDigitSpaceOrPoint(char c) { return (c >= '0' && c <= '9') || c == ' ' || c == '.'; }

bool IsLatinLetter(char c) {
  const char u = UpperCase1252(c);
  return u >= 'A' && u <= 'Z';
}

}  // namespace

bool ZAV::ValidaNumero(std::string& Cadena, std::int16_t largo) {
  TrimSpaces(Cadena);
  if (static_cast<std::int64_t>(Cadena.size()) != largo) return false;
  return IsNumeric(Cadena);
}

bool ZAV::ValidaNumeroEsp(std::string& Cadena, std::int16_t largo) {
  if (static_cast<std::int64_t>(Cadena.size()) != largo) return false;
  for (char c : Cadena) {
    if (!IsDigitSpaceOrPoint(c)) return false;
  }
  return true;
}

bool ZAV::ValidaAlfa(std::string& Cadena, std::int16_t largo) {
  if (static_cast<std::int64_t>(Cadena.size()) != largo) return false;
  for (char c : Cadena) {
    if (!IsLatinLetter(c)) return false;
  }
  return true;
}

bool ZAV::ValidaAlfaNum(std::string& Cadena, std::int16_t largo) {
  if (static_cast<std::int64_t>(Cadena.size()) != largo) return false;
  TrimSpaces(Cadena);
  for (char c : Cadena) {
    if (!IsDigitSpaceOrPoint(c) && !IsLatinLetter(c)) return false;
  }
  return true;
}

double ZAV::Trunca(double Valor) { return LeadingValue(FormatFixed2(Valor)); }

bool ZAV::ValImpMen13(double Valor) {
  const double t = Trunca(Valor);
  return t > static_cast<double>(igToler) && !w_.bgPeriodoPar && w_.igNumPeriodo < 13;
}

bool ZAV::ValPer1314(double Valor) {
  const double t = Trunca(Valor);
  return t > static_cast<double>(igToler) && (w_.igNumPeriodo == 13 || w_.igNumPeriodo == 14);
}

}  // namespace zav
