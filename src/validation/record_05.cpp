// Summary record 05: checks in field order, first failure wins. Each amount is kept in its
// SumaS variable as soon as it is numeric; the comparisons bring amounts to cents with
// Trunca (each side, or the difference, as each total requires) and allow igToler pesos
// either way.
#include "records/record_05.hpp"

#include <string>
#include <string_view>

#include "validation/closing_rules.hpp"
#include "validation/problems.hpp"
#include "validation/record_checks.hpp"

namespace zav {

using namespace record05;

namespace {

void Keep(Variant& slot, double amount) { slot = Variant::Double(amount); }
void Keep(double& slot, double amount) { slot = amount; }

}  // namespace

std::int16_t CheckSummaryRecord(ZAV& z, std::int32_t lRegistro, const std::string& linea) {
  const std::string_view record = linea;
  double a = 0;  // the amount just read
  // A field that is not a number reads as 0 (a diagnosis goes on with it).
  const auto read = [&](const Field& f) { return ReadAmount(z, record, f, a); };
  // Odd months below 13 carry no RCV or housing amounts; 13 and 14 no housing amounts.
  const auto period_rules = [&]() -> std::int16_t {
    if (z.ValImpMen13(a)) return 263;
    if (z.ValPer1314(a)) return 264;
    return 0;
  };
  // A broken period rule of field f: stop (normal run) or note and go on (diagnosis).
  const auto period_rules_fail = [&](const Field& f) -> std::int16_t {
    const std::int16_t r = period_rules();
    return r != 0 && Fail(z, f, r) ? r : 0;
  };

  // The summary follows the header, the declared worker records and the movements so far.
  if (lRegistro < z.iNumReg03.ToDouble() + z.iNumReg04 + 1 && Fail(z, kTipo, 229)) return 229;
  if (!RegistrationMatches(z, Cut(record, kRegistroPatronal)) && Fail(z, kRegistroPatronal, 237)) {
    return 237;
  }
  if (!RfcMatches(z, Cut(record, kRfc)) && Fail(z, kRfc, 9)) return 9;
  if (!PeriodMatches(z, Cut(record, kPeriodo)) && Fail(z, kPeriodo, 238)) return 238;
  if (Cut(record, kFolio) != z.sgFolioZAV && Fail(z, kFolio, 239)) return 239;

  double rate = 0;
  if (!ReadRate(z, record, kTasaActualizacion, rate) && Fail(z, kTasaActualizacion, 202)) {
    return 202;
  }
  z.SumaS6 = Variant::Double(rate);
  if (!ReadRate(z, record, kTasaRecargos, rate) && Fail(z, kTasaRecargos, 203)) return 203;
  z.SumaS7 = Variant::Double(rate);

  // The four insurances, component by component against the worker totals.
  const auto component = [&](const Field& f, std::int16_t not_numeric, const Variant& total,
                             auto& kept) -> std::int16_t {
    if (!read(f) && Fail(z, f, not_numeric)) return not_numeric;
    Keep(kept, a);
    if (!SidesAgree(z, total.ToDouble(), a) && Fail(z, f, 240)) return 240;
    AddToDouble(z.SumaS8S14, a);
    return 0;
  };
  if (auto r = component(kCuotaFija, 177, z.SumaT18, z.SumaS8)) return r;
  if (auto r = component(kCuotaExcedente, 178, z.SumaT19, z.SumaS9)) return r;
  if (auto r = component(kPrestacionesDinero, 179, z.SumaT20, z.SumaS10)) return r;
  if (auto r = component(kGastosMedicos, 180, z.SumaT21, z.SumaS11)) return r;
  if (auto r = component(kRiesgosTrabajo, 181, z.SumaT22, z.SumaS12)) return r;
  if (auto r = component(kInvalidezVida, 182, z.SumaT23, z.SumaS13)) return r;
  if (auto r = component(kGuarderias, 183, z.SumaT24, z.SumaS14)) return r;

  if (!read(kSubtotal4Seguros) && Fail(z, kSubtotal4Seguros, 205)) return 205;
  z.SumaS15 = Variant::Double(a);
  const double components = z.SumaS8.ToDouble() + z.SumaS9.ToDouble() + z.SumaS10.ToDouble() +
                            z.SumaS11.ToDouble() + z.SumaS12.ToDouble() + z.SumaS13.ToDouble() +
                            z.SumaS14;
  if (!SidesAgree(z, a, components) && Fail(z, kSubtotal4Seguros, 242)) return 242;

  if (!read(kActualizacion4Seguros) && Fail(z, kActualizacion4Seguros, 206)) return 206;
  z.SumaS16 = Variant::Double(a);
  if (!read(kRecargos4Seguros) && Fail(z, kRecargos4Seguros, 207)) return 207;
  z.SumaS17 = Variant::Double(a);
  if (!SidesAgree(z, z.SumaS16.ToDouble() + a, z.SumaT25.ToDouble()) &&
      Fail(z, kRecargos4Seguros, 241)) {
    return 241;
  }

  // Retirement and old age (RCV): only in bimester-closing months.
  if (!read(kRetiro) && Fail(z, kRetiro, 188)) return 188;
  z.SumaS18 = Variant::Double(a);
  if (z.ValImpMen13(a) && Fail(z, kRetiro, 263)) return 263;
  if (!SidesAgree(z, z.SumaT29, a) && Fail(z, kRetiro, 243)) return 243;

  if (!read(kCesantiaVejez) && Fail(z, kCesantiaVejez, 208)) return 208;
  z.SumaS19 = Variant::Double(a);
  if (z.ValImpMen13(a) && Fail(z, kCesantiaVejez, 263)) return 263;
  if (!SidesAgree(z, z.SumaT31.ToDouble() + z.SumaT32.ToDouble(), a) &&
      Fail(z, kCesantiaVejez, 244)) {
    return 244;
  }

  if (!read(kSubtotalRcv) && Fail(z, kSubtotalRcv, 209)) return 209;
  z.SumaS20 = Variant::Double(a);
  if (z.ValImpMen13(a) && Fail(z, kSubtotalRcv, 263)) return 263;
  if (!SidesAgree(z, z.SumaS18.ToDouble() + z.SumaS19.ToDouble(), a) &&
      Fail(z, kSubtotalRcv, 245)) {
    return 245;
  }

  if (!read(kActualizacionRcv) && Fail(z, kActualizacionRcv, 210)) return 210;
  z.SumaS21 = Variant::Double(a);
  if (z.ValImpMen13(a) && Fail(z, kActualizacionRcv, 263)) return 263;

  if (!read(kRecargosRcv) && Fail(z, kRecargosRcv, 211)) return 211;
  z.SumaS22 = Variant::Double(a);
  if (z.ValImpMen13(a) && Fail(z, kRecargosRcv, 263)) return 263;
  if (!SidesAgree(z, z.SumaT30.ToDouble() + z.SumaT33.ToDouble(), z.SumaS21.ToDouble() + a) &&
      Fail(z, kRecargosRcv, 246)) {
    return 246;
  }

  // Voluntary contributions: allowed in odd months, not in periods 13 and 14.
  if (!read(kVoluntarias) && Fail(z, kVoluntarias, 212)) return 212;
  z.SumaS23 = a;
  if (z.ValPer1314(a) && Fail(z, kVoluntarias, 264)) return 264;
  if (!DifferenceWithinTolerance(z, a - z.SumaT34.ToDouble()) && Fail(z, kVoluntarias, 247)) {
    return 247;
  }

  // Housing (INFONAVIT).
  if (!read(kViviendaCuenta) && Fail(z, kViviendaCuenta, 213)) return 213;
  z.SumaS24 = Variant::Double(a);
  if (auto r = period_rules_fail(kViviendaCuenta)) return r;

  if (!read(kViviendaAmortizacion) && Fail(z, kViviendaAmortizacion, 214)) return 214;
  z.SumaS25 = Variant::Double(a);
  if (auto r = period_rules_fail(kViviendaAmortizacion)) return r;
  if (!SidesAgree(z, z.SumaT35.ToDouble(), z.SumaS24.ToDouble() + a) &&
      Fail(z, kViviendaAmortizacion, 248)) {
    return 248;
  }

  if (!read(kAmortizacionCredito) && Fail(z, kAmortizacionCredito, 195)) return 195;
  z.SumaS26 = Variant::Double(a);
  if (auto r = period_rules_fail(kAmortizacionCredito)) return r;
  if (!DifferenceWithinTolerance(z, a - z.SumaT36) && Fail(z, kAmortizacionCredito, 249)) {
    return 249;
  }

  // A late payment must carry its housing updates and surcharges.
  const bool late = z.working().lgDiasAtraso > 0;
  if (!read(kActualizacionVivienda) && Fail(z, kActualizacionVivienda, 215)) return 215;
  z.SumaS27 = Variant::Double(a);
  if (late && z.Trunca(a) < 0 && Fail(z, kActualizacionVivienda, 147)) return 147;
  if (auto r = period_rules_fail(kActualizacionVivienda)) return r;

  if (!read(kRecargosVivienda) && Fail(z, kRecargosVivienda, 216)) return 216;
  z.SumaS28 = a;
  if (late && z.Trunca(a) < 0 && Fail(z, kRecargosVivienda, 147)) return 147;
  if (auto r = period_rules_fail(kRecargosVivienda)) return r;

  // Complementary contributions match the movement total.
  if (!read(kComplementarias) && Fail(z, kComplementarias, 403)) return 403;
  z.SumaS29 = a;
  if (!DifferenceWithinTolerance(z, z.SumaM8 - a) && Fail(z, kComplementarias, 404)) return 404;

  if (!read(kMultasInfonavit) && Fail(z, kMultasInfonavit, 401)) return 401;
  z.SumaS30 = a;
  if (!read(kDonativosFundemex) && Fail(z, kDonativosFundemex, 402)) return 402;
  z.SumaS31 = a;
  return 0;
}

}  // namespace zav
