// The movement record check. The record is counted before anything is tested; the
// entries are checked in order and the first failure wins, so the salaries of type-10
// entries before a failing entry stay in SumaM8.
#include "records/record_04.hpp"

#include <cmath>
#include <limits>
#include <string_view>

#include "basic/numeric_text.hpp"
#include "basic/runtime_failure.hpp"
#include "validation/field_checks.hpp"
#include "validation/problems.hpp"
#include "validation/record_checks.hpp"

namespace zav {

using namespace record04;

namespace {

constexpr std::string_view kBlankSeguridadSocial = "           ";
static_assert(kBlankSeguridadSocial.size() == static_cast<std::size_t>(kSeguridadSocial.length));

// One movement entry: 0 when it passes, else its message number. A salary that is not a
// number adds nothing.
std::int16_t CheckEntry(ZAV& z, std::string_view linea, int entry, std::string_view& value) {
  const Field nss = EntryField(entry, kSeguridadSocial);
  if (!NumeroEspField(z, linea, nss, value) && Fail(z, nss, 236)) return 236;
  const Field tipo = EntryField(entry, kTipoMovimiento);
  if (!NumeroField(z, linea, tipo, value) && Fail(z, tipo, 196)) return 196;
  const Field dias = EntryField(entry, kDiasIncidencia);
  if (!NumeroField(z, linea, dias, value) && Fail(z, dias, 198)) return 198;
  const Field salario = EntryField(entry, kSalarioDiario);
  const bool salary_numeric = NumeroField(z, linea, salario, value);
  if (!salary_numeric && Fail(z, salario, 400)) return 400;
  if (salary_numeric && Cut(linea, tipo) == kTipoMovimientoSumado) {
    AddToDouble(z.SumaM8, LeadingValue(value) / 100);
  }
  return 0;
}

}  // namespace

std::int16_t CheckMovementRecord(ZAV& z, std::int32_t lRegistro, const std::string& linea) {
  std::string_view field;

  if (z.iNumReg04 == std::numeric_limits<std::int32_t>::max()) {
    throw RuntimeFailure(err::kOverflow);
  }
  ++z.iNumReg04;
  // Movements follow the declared worker records: with N workers the first movement
  // record may be record N + 1 at the earliest.
  if (static_cast<double>(lRegistro) < z.iNumReg03.ToDouble() + 1.0 && Fail(z, kTipo, 228)) {
    return 228;
  }
  if ((Cut(linea, kRegistroPatronal) != z.sgNoContrato ||
       !AlfaNumField(z, linea, kRegistroInicial, field) ||
       !NumeroEspField(z, linea, kRegistroResto, field)) &&
      Fail(z, kRegistroPatronal, 235)) {
    return 235;
  }
  for (int entry = 0; entry < kMovementEntryCount; ++entry) {
    // A blank social security number ends the list, whatever follows it.
    if (Cut(linea, EntryField(entry, kSeguridadSocial)) == kBlankSeguridadSocial) return 0;
    if (const auto r = CheckEntry(z, linea, entry, field)) return r;
  }
  return 0;
}

}  // namespace zav
