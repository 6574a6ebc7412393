// Placing the employer in a record, and refusing what cannot be laid out.
#include <string>

#include "basic/runtime_failure.hpp"
#include "writing/record_builders.hpp"

namespace zav::writing {

[[noreturn]] void Refuse(const std::string& why) {
  throw RuntimeFailure(err::kInvalidCall, "Invalid procedure call or argument: " + why);
}

Employer CheckedEmployer(const PaymentPlan& plan) {
  Employer e;
  if (plan.registro_patronal.size() != 11) Refuse("the registro patronal must have 11 characters");
  e.registro = plan.registro_patronal;
  if (plan.rfc.size() == 12) {
    e.rfc = " " + plan.rfc;
  } else if (plan.rfc.size() == 13) {
    e.rfc = plan.rfc;
  } else {
    Refuse("the RFC must have 12 or 13 characters");
  }
  if (plan.folio.size() != 6) Refuse("the folio must have 6 characters");
  e.folio = plan.folio;
  e.periodo = std::string(6, ' ');
  PutNumber(e.periodo, Field{1, 4, "a\361o del periodo"}, plan.year);
  PutNumber(e.periodo, Field{5, 2, "mes del periodo"}, plan.month);
  return e;
}

void PutEmployer(std::string& r, const Employer& e, const Field& registro, const Field& rfc,
                 const Field& periodo) {
  PutText(r, registro, e.registro);
  PutText(r, rfc, e.rfc);
  PutText(r, periodo, e.periodo);
}

}  // namespace zav::writing
