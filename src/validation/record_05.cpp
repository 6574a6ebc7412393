// Summary record 05: checks in field order, first failure wins. Each amount is kept in its
// SumaS variable as soon as it is numeric; the comparisons bring amounts to cents with
// Trunca (each side, or the difference, as each total requires) and allow igToler pesos
// either way.
#include "validation/record_05.hpp"

#include <string>
#include <string_view>

#include "validation/closing_rules.hpp"
#include "validation/record_checks.hpp"

namespace zav {

using namespace record05;

namespace {

void Keep(Variant& slot, double amount) { slot = Variant::Double(amount); }
void Keep(double& slot, double amount) { slot = amount; }

}  // namespace

std::int16_t CheckSummaryRecord(ZAV& z, std::int32_t lRegistro, const std::string& linea) {
  const std::string_view record = linea;
  std::string text;  // scratch for the validators
  double a = 0;      // the amount just read
  const auto read = [&](const Field& f) { return ReadAmount(z, record, f, text, a); };
  // Odd months below 13 carry no RCV or housing amounts; 13 and 14 no housing amounts.
  const auto period_rules = [&]() -> std::int16_t {
    if (z.ValImpMen13(a)) return 263;
    if (z.ValPer1314(a)) return 264;
    return 0;
  };

  // The summary follows the header, the declared worker records and the movements so far.
  if (lRegistro < z.iNumReg03.ToDouble() + z.iNumReg04 + 1) return 229;
  if (!RegistrationMatches(z, Cut(record, kRegistroPatronal), text)) return 237;
  if (!RfcMatches(z, Cut(record, kRfc), text)) return 9;
  if (!PeriodMatches(z, Cut(record, kPeriodo), text)) return 238;
  if (Cut(record, kFolio) != z.sgFolioZAV) return 239;

  double rate = 0;
  if (!ReadRate(z, record, kTasaActualizacion, text, rate)) return 202;
  z.SumaS6 = Variant::Double(rate);
  if (!ReadRate(z, record, kTasaRecargos, text, rate)) return 203;
  z.SumaS7 = Variant::Double(rate);

  // The four insurances, component by component against the worker totals.
  const auto component = [&](const Field& f, std::int16_t not_numeric, const Variant& total,
                             auto& kept) -> std::int16_t {
    if (!read(f)) return not_numeric;
    Keep(kept, a);
    if (!SidesAgree(z, total.ToDouble(), a)) return 240;
    z.SumaS8S14 += a;
    return 0;
  };
  if (auto r = component(kCuotaFija, 177, z.SumaT18, z.SumaS8)) return r;
  if (auto r = component(kCuotaExcedente, 178, z.SumaT19, z.SumaS9)) return r;
  if (auto r = component(kPrestacionesDinero, 179, z.SumaT20, z.SumaS10)) return r;
  if (auto r = component(kGastosMedicos, 180, z.SumaT21, z.SumaS11)) return r;
  if (auto r = component(kRiesgosTrabajo, 181, z.SumaT22, z.SumaS12)) return r;
  if (auto r = component(kInvalidezVida, 182, z.SumaT23, z.SumaS13)) return r;
  if (auto r = component(kGuarderias, 183, z.SumaT24, z.SumaS14)) return r;

  if (!read(kSubtotal4Seguros)) return 205;
  z.SumaS15 = Variant::Double(a);
  const double components = z.SumaS8.ToDouble() + z.SumaS9.ToDouble() + z.SumaS10.ToDouble() +
                            z.SumaS11.ToDouble() + z.SumaS12.ToDouble() + z.SumaS13.ToDouble() +
                            z.SumaS14;
  if (!SidesAgree(z, a, components)) return 242;

  if (!read(kActualizacion4Seguros)) return 206;
  z.SumaS16 = Variant::Double(a);
  if (!read(kRecargos4Seguros)) return 207;
  z.SumaS17 = Variant::Double(a);
  if (!SidesAgree(z, z.SumaS16.ToDouble() + a, z.SumaT25.ToDouble())) return 241;

  // Retirement and old age (RCV): only in bimester-closing months.
  if (!read(kRetiro)) return 188;
  z.SumaS18 = Variant::Double(a);
  if (z.ValImpMen13(a)) return 263;
  if (!SidesAgree(z, z.SumaT29, a)) return 243;

  if (!read(kCesantiaVejez)) return 208;
  z.SumaS19 = Variant::Double(a);
  if (z.ValImpMen13(a)) return 263;
  if (!SidesAgree(z, z.SumaT31.ToDouble() + z.SumaT32.ToDouble(), a)) return 244;

  if (!read(kSubtotalRcv)) return 209;
  z.SumaS20 = Variant::Double(a);
  if (z.ValImpMen13(a)) return 263;
  if (!SidesAgree(z, z.SumaS18.ToDouble() + z.SumaS19.ToDouble(), a)) return 245;

  if (!read(kActualizacionRcv)) return 210;
  z.SumaS21 = Variant::Double(a);
  if (z.ValImpMen13(a)) return 263;

  if (!read(kRecargosRcv)) return 211;
  z.SumaS22 = Variant::Double(a);
  if (z.ValImpMen13(a)) return 263;
  if (!SidesAgree(z, z.SumaT30.ToDouble() + z.SumaT33.ToDouble(), z.SumaS21.ToDouble() + a)) {
    return 246;
  }

  // Voluntary contributions: allowed in odd months, not in periods 13 and 14.
  if (!read(kVoluntarias)) return 212;
  z.SumaS23 = a;
  if (z.ValPer1314(a)) return 264;
  if (!DifferenceWithinTolerance(z, a - z.SumaT34.ToDouble())) return 247;

  // Housing (INFONAVIT).
  if (!read(kViviendaCuenta)) return 213;
  z.SumaS24 = Variant::Double(a);
  if (auto r = period_rules()) return r;

  if (!read(kViviendaAmortizacion)) return 214;
  z.SumaS25 = Variant::Double(a);
  if (auto r = period_rules()) return r;
  if (!SidesAgree(z, z.SumaT35.ToDouble(), z.SumaS24.ToDouble() + a)) return 248;

  if (!read(kAmortizacionCredito)) return 195;
  z.SumaS26 = Variant::Double(a);
  if (auto r = period_rules()) return r;
  if (!DifferenceWithinTolerance(z, a - z.SumaT36)) return 249;

  // A late payment must carry its housing updates and surcharges.
  const bool late = z.working().lgDiasAtraso > 0;
  if (!read(kActualizacionVivienda)) return 215;
  z.SumaS27 = Variant::Double(a);
  if (late && z.Trunca(a) < 0) return 147;
  if (auto r = period_rules()) return r;

  if (!read(kRecargosVivienda)) return 216;
  z.SumaS28 = a;
  if (late && z.Trunca(a) < 0) return 147;
  if (auto r = period_rules()) return r;

  // Complementary contributions match the movement total.
  if (!read(kComplementarias)) return 403;
  z.SumaS29 = a;
  if (!DifferenceWithinTolerance(z, z.SumaM8 - a)) return 404;

  if (!read(kMultasInfonavit)) return 401;
  z.SumaS30 = a;
  if (!read(kDonativosFundemex)) return 402;
  z.SumaS31 = a;
  return 0;
}

}  // namespace zav
