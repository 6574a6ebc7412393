// The movement records (04): seven entries a record, the workers' movements in order.
#include "records/record_04.hpp"
#include "writing/record_builders.hpp"

namespace zav::writing {

void PutEntry(std::string& r, int slot, std::string_view nss, const PaymentMovement& m) {
  using namespace record04;
  PutText(r, EntryField(slot, kSeguridadSocial), nss);
  PutNumber(r, EntryField(slot, kTipoMovimiento), m.type);
  PutNumber(r, EntryField(slot, kDiasIncidencia), m.days);
  PutNumber(r, EntryField(slot, kSalarioDiario), m.salary);
}

void StartMovements(std::string& r, const Employer& e) {
  r.assign(kRecordLength, ' ');
  PutText(r, record04::kTipo, "04");
  PutText(r, record04::kRegistroPatronal, e.registro);
}

}  // namespace zav::writing
