// The header record (02): the employer, the period and the day and worker totals.
#include "records/record_02.hpp"
#include "writing/record_builders.hpp"

namespace zav::writing {

void BuildHeader(std::string& r, const PaymentPlan& plan, const Employer& e, const Totals& t) {
  using namespace record02;
  r.assign(kRecordLength, ' ');
  PutText(r, kTipo, "02");
  PutEmployer(r, e, kRegistroPatronal, kRfc, kPeriodo);
  PutText(r, kFolio, e.folio);
  PutText(r, kRazonSocial, plan.nombre);
  PutText(r, kDomicilio, "AV. PASEO DE LA REFORMA 100");
  PutText(r, kDelegacionDomicilio, "CUAUHTEMOC");
  PutText(r, kEntidadFederativa, "09");
  PutText(r, kCodigoPostal, "06600");
  PutText(r, kTelefono, "5555555555");
  PutText(r, kPrimaRiesgo, "0250000");
  PutText(r, kDelegacion, "35");
  PutText(r, kSubdelegacion, "01");
  PutText(r, kAreaGeografica, "A");
  PutText(r, kPorcentajeAportacion, "05");
  PutText(r, kConvenioReembolso, "N");
  PutText(r, kTipoCotizacion, "1");
  PutNumber(r, kTotalDias, t.days);
  PutNumber(r, kTotalTrabajadores, t.workers);
}

}  // namespace zav::writing
