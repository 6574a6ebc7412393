// Identity, amount reading and tolerance rules of the summary and validation records.
#include "validation/closing_rules.hpp"

#include <cmath>

#include "basic/numeric_text.hpp"
#include "validation/field_checks.hpp"

namespace zav {

namespace {

// An amount brought to cents by Trunca, as a whole number of cents.
double Cents(ZAV& z, double amount) { return std::round(z.Trunca(amount) * 100.0); }

}  // namespace

bool RegistrationMatches(ZAV& z, std::string_view registro, std::string& scratch) {
  if (registro != z.sgNoContrato) return false;
  scratch.assign(Cut(registro, 1, 1));
  if (!z.ValidaAlfaNum(scratch, 1)) return false;
  scratch.assign(Cut(registro, 2, 10));
  return z.ValidaNumeroEsp(scratch, 10);
}

bool RfcMatches(ZAV& z, std::string_view rfc, std::string& scratch) {
  if (rfc != z.sRFCPatron) return false;
  scratch.assign(Cut(rfc, 1, 1));
  if (scratch != " " && !z.ValidaAlfa(scratch, 1)) return false;
  scratch.assign(Cut(rfc, 2, 3));
  if (!z.ValidaAlfa(scratch, 3)) return false;
  scratch.assign(Cut(rfc, 5, 6));
  if (!z.ValidaNumeroEsp(scratch, 6)) return false;
  scratch.assign(Cut(rfc, 11, 3));
  return z.ValidaAlfaNum(scratch, 3);
}

bool PeriodMatches(ZAV& z, std::string_view periodo, std::string& scratch) {
  if (periodo != z.sgPerPago) return false;
  scratch.assign(Cut(periodo, 1, 4));
  const bool year_numeric = z.ValidaNumero(scratch, 4);
  const double year = LeadingValue(scratch);
  scratch.assign(Cut(periodo, 5, 2));
  const bool month_numeric = z.ValidaNumero(scratch, 2);
  const double month = LeadingValue(z.igPer);
  return year_numeric && month_numeric && year >= 1997 && month >= 1 && month <= 14 &&
         (year != 1997 || month >= 7);
}

bool ReadNumber(ZAV& z, std::string_view record, const Field& field, std::string& scratch,
                double& value) {
  value = 0;
  if (!NumeroField(z, record, field, scratch)) return false;
  value = LeadingValue(scratch);
  return true;
}

bool ReadAmount(ZAV& z, std::string_view record, const Field& field, std::string& scratch,
                double& amount) {
  double value = 0;
  const bool numeric = ReadNumber(z, record, field, scratch, value);
  amount = value / 100;
  return numeric;
}

bool ReadRate(ZAV& z, std::string_view record, const Field& field, std::string& scratch,
              double& rate) {
  double value = 0;
  const bool numeric = ReadNumber(z, record, field, scratch, value);
  rate = value / 1000000 / 100;
  return numeric;
}

bool WithinTolerance(const ZAV& z, double difference_in_cents) {
  return std::fabs(difference_in_cents) <= 100.0 * z.igToler;
}

bool SidesAgree(ZAV& z, double a, double b) {
  return WithinTolerance(z, Cents(z, a) - Cents(z, b));
}

bool DifferenceWithinTolerance(ZAV& z, double difference) {
  return WithinTolerance(z, Cents(z, difference));
}

}  // namespace zav
