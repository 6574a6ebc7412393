// The summary record (05): the sums of the worker amounts, as the summary checks add them.
#include "records/record_05.hpp"
#include "writing/record_builders.hpp"

namespace zav::writing {

Summary SummaryOf(const PaymentPlan& plan, const Totals& t) {
  Summary m;
  auto& s = m.s;
  const auto& T = t.sums;
  for (int c = col::kCuotaFija; c <= col::kGuarderias; ++c)
    s[8 + c] = T[static_cast<std::size_t>(c)];
  for (int c = 8; c <= 14; ++c) s[15] += s[c];
  // Update and surcharges of the four insurances: reported half and half.
  s[16] = T[col::kRecargosSeguros] / 2;
  s[17] = T[col::kRecargosSeguros] - s[16];
  s[18] = T[col::kRetiro];
  s[19] = T[col::kCesantiaPatronal] + T[col::kCesantiaTrabajador];
  s[20] = s[18] + s[19];
  s[21] = T[col::kRecargosRetiro];
  s[22] = T[col::kRecargosCesantia];
  s[23] = T[col::kAportacionVoluntaria];
  s[24] = T[col::kAportacionVivienda] - t.vivienda_con_credito;
  s[25] = t.vivienda_con_credito;
  s[26] = T[col::kAmortizacionCredito];
  s[27] = 0;
  s[28] = 0;
  s[29] = t.complementarias;
  s[30] = plan.multas;
  s[31] = plan.donativos;
  return m;
}

void BuildSummary(std::string& r, const Employer& e, const Summary& m) {
  using namespace record05;
  static constexpr Field kAmountFields[] = {
      kCuotaFija,
      kCuotaExcedente,
      kPrestacionesDinero,
      kGastosMedicos,
      kRiesgosTrabajo,
      kInvalidezVida,
      kGuarderias,
      kSubtotal4Seguros,
      kActualizacion4Seguros,
      kRecargos4Seguros,
      kRetiro,
      kCesantiaVejez,
      kSubtotalRcv,
      kActualizacionRcv,
      kRecargosRcv,
      kVoluntarias,
      kViviendaCuenta,
      kViviendaAmortizacion,
      kAmortizacionCredito,
      kActualizacionVivienda,
      kRecargosVivienda,
      kComplementarias,
      kMultasInfonavit,
      kDonativosFundemex,
  };  // SumaS8 .. SumaS31
  r.assign(kRecordLength, ' ');
  PutText(r, kTipo, "05");
  PutEmployer(r, e, kRegistroPatronal, kRfc, kPeriodo);
  PutText(r, kFolio, e.folio);
  PutNumber(r, kTasaActualizacion, 0);
  PutNumber(r, kTasaRecargos, 0);
  for (int i = 0; i < 24; ++i) PutNumber(r, kAmountFields[i], m.s[8 + i]);
}

}  // namespace zav::writing
