// Validation record 06: checks in field order, first failure wins. Each total is kept in
// its SumaV variable as soon as it is numeric; every total must agree with the summary
// amounts it covers after Trunca of each side, within igToler pesos either way.
#include "validation/record_06.hpp"

#include <string>
#include <string_view>

#include "validation/closing_rules.hpp"
#include "validation/record_checks.hpp"

namespace zav {

using namespace record06;

std::int16_t CheckValidationRecord(ZAV& z, std::int32_t lRegistro, const std::string& linea) {
  const std::string_view record = linea;
  std::string text;  // scratch for the validators
  double v = 0;      // the number just read
  const auto read_amount = [&](const Field& f) { return ReadAmount(z, record, f, text, v); };

  // The validation record follows the header, the worker records, the movements and the
  // summary.
  if (lRegistro < z.iNumReg03.ToDouble() + z.iNumReg04 + 2) return 230;
  if (!RegistrationMatches(z, Cut(record, kRegistroPatronal), text)) return 250;
  if (!RfcMatches(z, Cut(record, kRfc), text)) return 39;
  if (!PeriodMatches(z, Cut(record, kPeriodo), text)) return 251;
  if (Cut(record, kFolio) != z.sgFolioZAV) return 252;

  if (!ReadRate(z, record, kSumaTasas, text, v)) return 217;
  z.SumaV6 = Variant::Double(v);

  if (!ReadNumber(z, record, kTamanoArchivo, text, v)) return 218;
  if (v != z.iTamArch) return 48;

  // A late payment must carry its update and surcharge rates.
  if (z.working().lgDiasAtraso > 0 && z.SumaV6.ToDouble() == 0) return 321;

  if (!ReadNumber(z, record, kDiscos, text, v)) return 258;
  if (v != z.NumDiscos) return 260;

  // The four totals to deposit, each against the summary amounts it covers.
  if (!read_amount(kTotalImss4Seguros)) return 220;
  z.SumaV11 = Variant::Double(v);
  if (!SidesAgree(z, v, z.SumaS15.ToDouble() + z.SumaS16.ToDouble() + z.SumaS17.ToDouble())) {
    return 254;
  }

  if (!read_amount(kTotalImssRcv)) return 221;
  z.SumaV12 = Variant::Double(v);
  if (!SidesAgree(z, v,
                  z.SumaS20.ToDouble() + z.SumaS21.ToDouble() + z.SumaS22.ToDouble() + z.SumaS23 +
                      z.SumaS29)) {
    return 255;
  }

  if (!read_amount(kTotalInfonavitAportacion)) return 222;
  z.SumaV13 = Variant::Double(v);
  if (!SidesAgree(z, v, z.SumaS24.ToDouble())) return 256;

  if (!read_amount(kTotalInfonavitAmortizacion)) return 223;
  z.SumaV14 = v;
  if (!SidesAgree(z, v,
                  z.SumaS25.ToDouble() + z.SumaS26.ToDouble() + z.SumaS27.ToDouble() + z.SumaS28 +
                      z.SumaS30 + z.SumaS31)) {
    return 257;
  }

  // Nothing to pay is not a payment.
  if (z.SumaV11.ToDouble() + z.SumaV12.ToDouble() + z.SumaV13.ToDouble() + z.SumaV14 == 0) {
    return 165;
  }
  return 0;
}

}  // namespace zav
