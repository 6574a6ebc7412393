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

bool RegistrationMatches(ZAV& z, std::string_view registro) {
  if (registro != z.sgNoContrato) return false;
  return AlfaNumText(Cut(registro, 1, 1), 1) && NumeroEspText(Cut(registro, 2, 10), 10);
}

bool RfcMatches(ZAV& z, std::string_view rfc) {
  if (rfc != z.sRFCPatron) return false;
  const std::string_view first = Cut(rfc, 1, 1);
  if (first != " " && !AlfaText(first, 1)) return false;
  return AlfaText(Cut(rfc, 2, 3), 3) && NumeroEspText(Cut(rfc, 5, 6), 6) &&
         AlfaNumText(Cut(rfc, 11, 3), 3);
}

bool PeriodMatches(ZAV& z, std::string_view periodo) {
  if (periodo != z.sgPerPago) return false;
  const std::string_view year_text = TrimmedView(Cut(periodo, 1, 4));
  const bool year_numeric = NumeroText(year_text, 4);
  const double year = LeadingValue(year_text);
  const bool month_numeric = NumeroText(TrimmedView(Cut(periodo, 5, 2)), 2);
  const double month = LeadingValue(z.igPer);
  return year_numeric && month_numeric && year >= 1997 && month >= 1 && month <= 14 &&
         (year != 1997 || month >= 7);
}

bool ReadNumber(ZAV& z, std::string_view record, const Field& field, double& value) {
  value = 0;
  std::string_view text;
  if (!NumeroField(z, record, field, text)) return false;
  value = LeadingValue(text);
  return true;
}

bool ReadAmount(ZAV& z, std::string_view record, const Field& field, double& amount) {
  double value = 0;
  const bool numeric = ReadNumber(z, record, field, value);
  amount = value / 100;
  return numeric;
}

bool ReadRate(ZAV& z, std::string_view record, const Field& field, double& rate) {
  double value = 0;
  const bool numeric = ReadNumber(z, record, field, value);
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
