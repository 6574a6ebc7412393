// The validation record (06): the four totals to deposit, the size, deadline and version.
#include "records/record_06.hpp"
#include "writing/record_builders.hpp"

namespace zav::writing {

void BuildValidation(std::string& r, const PaymentPlan& plan, const Employer& e, const Summary& m,
                     const Totals& t) {
  using namespace record06;
  const auto& s = m.s;
  r.assign(kRecordLength, ' ');
  PutText(r, kTipo, "06");
  PutEmployer(r, e, kRegistroPatronal, kRfc, kPeriodo);
  PutText(r, kFolio, e.folio);
  PutNumber(r, kSumaTasas, 0);
  PutNumber(r, kTamanoArchivo, t.records * static_cast<std::int64_t>(kRecordLength));
  PutNumber(r, Field{kFechaLimite.start, 4, "a\361o l\355mite"}, plan.deadline_year);
  PutNumber(r, Field{kFechaLimite.start + 4, 2, "mes l\355mite"}, plan.deadline_month);
  PutNumber(r, Field{kFechaLimite.start + 6, 2, "d\355a l\355mite"}, plan.deadline_day);
  PutNumber(r, kDiscos, plan.diskettes);
  PutText(r, kVersion, plan.version);
  PutNumber(r, kTotalImss4Seguros, s[15] + s[16] + s[17]);
  PutNumber(r, kTotalImssRcv, s[20] + s[21] + s[22] + s[23] + s[29]);
  PutNumber(r, kTotalInfonavitAportacion, s[24]);
  PutNumber(r, kTotalInfonavitAmortizacion, s[25] + s[26] + s[27] + s[28] + s[30] + s[31]);
}

}  // namespace zav::writing
