// Rules shared by the two closing records, the summary (05) and the validation (06):
//  - identity: the employer registration, RFC and period must repeat the header's, exactly,
//    and keep their format;
//  - reading an amount field: it must pass ValidaNumero at its full length; its value is
//    the leading-number value of the trimmed text;
//  - comparing amounts: brought to cents with Trunca (each side, or the difference), two
//    amounts agree when they differ by at most igToler pesos, in either direction.
// Fields are judged as views into the record, with the validators' rules
// (validation/field_checks.hpp): nothing is copied.
#pragma once

#include <string_view>

#include "control/zav.hpp"
#include "records/layout.hpp"

namespace zav {

// The registration field (11 characters): equal to sgNoContrato, then a letter, digit, space
// or point, then ten digits, spaces or points.
bool RegistrationMatches(ZAV& z, std::string_view registro);

// The RFC field (13 characters): equal to sRFCPatron, then a letter or a space, three
// letters, six digits/spaces/points (the date), three letters/digits/spaces/points.
bool RfcMatches(ZAV& z, std::string_view rfc);

// The period field (6 characters, year then month): equal to sgPerPago; year and month
// numeric; the year at least 1997, the header's month (igPer) from 1 to 14, and no month
// before July in 1997.
bool PeriodMatches(ZAV& z, std::string_view periodo);

// ValidaNumero on the field at its full length; `value` is the field's number, or 0 when
// the field is not a number (a diagnosis goes on with it).
bool ReadNumber(ZAV& z, std::string_view record, const Field& field, double& value);

// An amount field: two implied decimals.
bool ReadAmount(ZAV& z, std::string_view record, const Field& field, double& amount);

// A rate field: a percentage with six implied decimals, as a fraction.
bool ReadRate(ZAV& z, std::string_view record, const Field& field, double& rate);

// The tolerance test itself, on a difference already in whole cents.
bool WithinTolerance(const ZAV& z, double difference_in_cents);

// Each side brought to cents with Trunca, then compared: |Trunca(a) - Trunca(b)| <= igToler.
// The difference is taken in whole cents, so a difference of exactly the tolerance passes.
bool SidesAgree(ZAV& z, double a, double b);

// The difference brought to cents with Trunca, then compared: |Trunca(d)| <= igToler.
bool DifferenceWithinTolerance(ZAV& z, double difference);

}  // namespace zav
