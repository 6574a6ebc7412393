// The employer header check. Steps run in the layout's order of checks and stop at the
// first failure; what an earlier step stored (the trimmed period and folio properties,
// the declared days) stays.
#include "records/record_02.hpp"

#include <string_view>

#include "basic/conversions.hpp"
#include "basic/numeric_text.hpp"
#include "validation/field_checks.hpp"
#include "validation/problems.hpp"
#include "validation/record_checks.hpp"

namespace zav {

namespace {

// The period must be a year and month from July 1997 on; months 13 and 14 are the two
// special periods of every year. Both texts are trimmed in place, and both strict
// conversions run even when a length test has already failed.
bool PeriodAccepted(ZAV& z) {
  const bool year_ok = z.ValidaNumero(z.igAno, Largo(record02::kAno));
  const bool month_ok = z.ValidaNumero(z.igPer, Largo(record02::kMes));
  const double year = StrictNumber(z.igAno);
  const double month = StrictNumber(z.igPer);
  return year_ok && month_ok && year >= kFirstPeriodYear && month >= 1 && month <= 14 &&
         (year != kFirstPeriodYear || month >= kFirstPeriodMonth);
}

}  // namespace

std::int16_t CheckHeaderRecord(ZAV& z, std::int32_t lRegistro, const std::string& linea) {
  using namespace record02;
  std::string_view field;

  // The header must be the first record; a second one is not read at all.
  if (lRegistro != 1) return StopRecord(z, kTipo, 226);
  // Any characters will do, but all eleven must be there, without blanks at either end.
  if (TrimmedView(Cut(linea, kRegistroPatronal)).size() < 11 && Fail(z, kRegistroPatronal, 10)) {
    return 10;
  }
  if (!PeriodAccepted(z) && Fail(z, kPeriodo, 11)) return 11;
  if (!z.ValidaNumero(z.sgFolioZAV, Largo(kFolio)) && Fail(z, kFolio, 132)) return 132;
  if (!NumeroField(z, linea, kEntidadFederativa, field) && Fail(z, kEntidadFederativa, 133)) {
    return 133;
  }
  if (!NumeroField(z, linea, kCodigoPostal, field) && Fail(z, kCodigoPostal, 2100)) return 2100;
  if (!NumeroField(z, linea, kPrimaRiesgo, field) && Fail(z, kPrimaRiesgo, 2120)) return 2120;
  if (!NumeroField(z, linea, kDelegacion, field) && Fail(z, kDelegacion, 2150)) return 2150;
  if (!NumeroField(z, linea, kSubdelegacion, field) && Fail(z, kSubdelegacion, 2160)) {
    return 2160;
  }
  const std::string_view area = Cut(linea, kAreaGeografica);
  if (area != "B" && area != "A" && area != "C" && Fail(z, kAreaGeografica, 140)) return 140;
  if (!NumeroField(z, linea, kPorcentajeAportacion, field) && Fail(z, kPorcentajeAportacion, 159)) {
    return 159;
  }
  const std::string_view convenio = Cut(linea, kConvenioReembolso);
  if (convenio != "N" && convenio != "S" && Fail(z, kConvenioReembolso, 160)) return 160;
  if (!NumeroField(z, linea, kTipoCotizacion, field) && Fail(z, kTipoCotizacion, 161)) {
    return 161;
  }
  // A declared total that is not a number is not stored.
  if (!NumeroField(z, linea, kTotalDias, field)) {
    if (Fail(z, kTotalDias, 162)) return 162;
  } else {
    z.iNumReg02_e21 = ToLong(LeadingValue(field));
  }
  if (!NumeroField(z, linea, kTotalTrabajadores, field)) {
    if (Fail(z, kTotalTrabajadores, 163)) return 163;
  } else {
    z.iNumReg03 = Variant::Double(LeadingValue(field));
  }
  return 0;
}

}  // namespace zav
