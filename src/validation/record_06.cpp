// Validation record 06: checks in field order, first failure wins. Each total is kept in
// its SumaV variable as soon as it is numeric; every total must agree with the summary
// amounts it covers after Trunca of each side, within igToler pesos either way.
#include "records/record_06.hpp"

#include <string>
#include <string_view>

#include "validation/closing_rules.hpp"
#include "validation/problems.hpp"
#include "validation/record_checks.hpp"

namespace zav {

using namespace record06;

std::int16_t CheckValidationRecord(ZAV& z, std::int32_t lRegistro, const std::string& linea) {
  const std::string_view record = linea;
  double v = 0;  // the number just read
  const auto read_amount = [&](const Field& f) { return ReadAmount(z, record, f, v); };

  // The validation record follows the header, the worker records, the movements and the
  // summary.
  if (lRegistro < z.iNumReg03.ToDouble() + z.iNumReg04 + 2 && Fail(z, kTipo, 230)) return 230;
  if (!RegistrationMatches(z, Cut(record, kRegistroPatronal)) && Fail(z, kRegistroPatronal, 250)) {
    return 250;
  }
  if (!RfcMatches(z, Cut(record, kRfc)) && Fail(z, kRfc, 39)) return 39;
  if (!PeriodMatches(z, Cut(record, kPeriodo)) && Fail(z, kPeriodo, 251)) return 251;
  if (Cut(record, kFolio) != z.sgFolioZAV && Fail(z, kFolio, 252)) return 252;

  if (!ReadRate(z, record, kSumaTasas, v) && Fail(z, kSumaTasas, 217)) return 217;
  z.SumaV6 = Variant::Double(v);

  if (!ReadNumber(z, record, kTamanoArchivo, v) && Fail(z, kTamanoArchivo, 218)) return 218;
  if (v != z.iTamArch && Fail(z, kTamanoArchivo, 48)) return 48;

  // A late payment must carry its update and surcharge rates.
  if (z.working().lgDiasAtraso > 0 && z.SumaV6.ToDouble() == 0 && Fail(z, kSumaTasas, 321)) {
    return 321;
  }

  if (!ReadNumber(z, record, kDiscos, v) && Fail(z, kDiscos, 258)) return 258;
  if (v != z.NumDiscos && Fail(z, kDiscos, 260)) return 260;

  // The four totals to deposit, each against the summary amounts it covers.
  if (!read_amount(kTotalImss4Seguros) && Fail(z, kTotalImss4Seguros, 220)) return 220;
  z.SumaV11 = Variant::Double(v);
  if (!SidesAgree(z, v, z.SumaS15.ToDouble() + z.SumaS16.ToDouble() + z.SumaS17.ToDouble()) &&
      Fail(z, kTotalImss4Seguros, 254)) {
    return 254;
  }

  if (!read_amount(kTotalImssRcv) && Fail(z, kTotalImssRcv, 221)) return 221;
  z.SumaV12 = Variant::Double(v);
  if (!SidesAgree(z, v,
                  z.SumaS20.ToDouble() + z.SumaS21.ToDouble() + z.SumaS22.ToDouble() + z.SumaS23 +
                      z.SumaS29) &&
      Fail(z, kTotalImssRcv, 255)) {
    return 255;
  }

  if (!read_amount(kTotalInfonavitAportacion) && Fail(z, kTotalInfonavitAportacion, 222)) {
    return 222;
  }
  z.SumaV13 = Variant::Double(v);
  if (!SidesAgree(z, v, z.SumaS24.ToDouble()) && Fail(z, kTotalInfonavitAportacion, 256)) {
    return 256;
  }

  if (!read_amount(kTotalInfonavitAmortizacion) && Fail(z, kTotalInfonavitAmortizacion, 223)) {
    return 223;
  }
  z.SumaV14 = v;
  if (!SidesAgree(z, v,
                  z.SumaS25.ToDouble() + z.SumaS26.ToDouble() + z.SumaS27.ToDouble() + z.SumaS28 +
                      z.SumaS30 + z.SumaS31) &&
      Fail(z, kTotalInfonavitAmortizacion, 257)) {
    return 257;
  }

  // Nothing to pay is not a payment.
  if (z.SumaV11.ToDouble() + z.SumaV12.ToDouble() + z.SumaV13.ToDouble() + z.SumaV14 == 0 &&
      Fail(z, kTotalesADepositar, 165)) {
    return 165;
  }
  return 0;
}

}  // namespace zav
