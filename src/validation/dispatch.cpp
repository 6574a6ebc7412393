// ChecaRegistro: hands one record to the check of its type and answers that check's
// message number (0: accepted). Types 2 to 6 have checks; any other type ending in the
// digit 6 means the file was altered after it was generated (6000); every other type is
// an invalid record type (35). No field is read here: each check cuts its own.
#include "control/zav.hpp"
#include "validation/record_checks.hpp"

namespace zav {

std::int16_t ZAV::ChecaRegistro(std::uint8_t TipoReg, std::int32_t lRegistro, std::string& Linea) {
  switch (TipoReg) {
    case 2:
      return CheckHeaderRecord(*this, lRegistro, Linea);
    case 3:
      return CheckWorkerRecord(*this, lRegistro, Linea);
    case 4:
      return CheckMovementRecord(*this, lRegistro, Linea);
    case 5:
      return CheckSummaryRecord(*this, lRegistro, Linea);
    case 6:
      return CheckValidationRecord(*this, lRegistro, Linea);
    default:
      return TipoReg % 10 == 6 ? 6000 : 35;
  }
}

}  // namespace zav
