// The worker records (03): one a worker, its days and its sixteen amounts.
#include "writing/record_builders.hpp"

namespace zav::writing {

void BuildWorker(std::string& r, const Employer& e, std::int64_t k, const PaymentWorker& w) {
  using namespace record03;
  r.assign(kRecordLength, ' ');
  PutText(r, kTipo, "03");
  PutEmployer(r, e, kRegistroPatronal, kRfc, kPeriodo);
  if (w.nss.empty()) {
    PutNumber(r, kSeguridadSocial, k + 1);
  } else {
    if (w.nss.size() != 11) Refuse("a worker's NSS must have 11 characters");
    PutText(r, kSeguridadSocial, w.nss);
  }
  PutText(r, kCreditoVivienda, w.housing_credit);
  PutNumber(r, kMovimientos, static_cast<std::int64_t>(w.movements.size()));
  PutText(r, kNombre, w.name);
  PutNumber(r, kUltimoSalario, w.salary);
  PutText(r, kTipoTrabajador, "1");
  PutText(r, kJornada, "0");
  PutNumber(r, kDiasCotizadosMes, w.days);
  PutNumber(r, kDiasIncapacidadMes, 0);
  PutNumber(r, kDiasAusentismoMes, 0);
  PutNumber(r, kDiasCotizadosBimestre, w.bimester_days);
  PutNumber(r, kDiasIncapacidadBimestre, 0);
  PutNumber(r, kDiasAusentismoBimestre, 0);
  for (const AmountColumn& c : kAmounts) PutNumber(r, c.field, w.*c.amount);
}

}  // namespace zav::writing
