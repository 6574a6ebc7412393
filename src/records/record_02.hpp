// Employer header record (type 02): its layout and its check.
//
// kHeaderFields lists every position of the record once, in order, fillers included, so
// that it both describes the record and writes one. The record check accepts a header
// only as record 1; it trims the period and folio properties in place (the driver copied
// them from this record), checks the coded fields, and stores the declared totals of
// days (iNumReg02_e21) and workers (iNumReg03, a double) for the later cross-checks.
// A period year or month that is not a number at all is a run-time failure, not a message.
// The check itself is CheckHeaderRecord (validation/record_checks.hpp).
#pragma once

#include "records/layout.hpp"

namespace zav {

namespace record02 {
inline constexpr Field kTipo{1, 2, "tipo de registro"};
inline constexpr Field kRegistroPatronal{3, 11, "registro patronal"};
inline constexpr Field kRfc{14, 13, "RFC del patr\363n"};
inline constexpr Field kAno{27, 4, "a\361o del periodo de pago"};
inline constexpr Field kMes{31, 2, "mes del periodo de pago"};
inline constexpr Field kFolio{33, 6, "folio ZAV"};
inline constexpr Field kRazonSocial{39, 50, "raz\363n social"};
inline constexpr Field kDomicilio{89, 40, "domicilio"};
inline constexpr Field kDelegacionDomicilio{129, 40, "delegaci\363n del domicilio"};
inline constexpr Field kEntidadFederativa{169, 2, "entidad federativa"};
inline constexpr Field kCodigoPostal{171, 5, "c\363digo postal"};
inline constexpr Field kTelefono{176, 15, "tel\351fono"};
inline constexpr Field kPrimaRiesgo{191, 7, "prima de riesgo de trabajo"};
inline constexpr Field kRelleno198{198, 46, "no examinado"};
inline constexpr Field kDelegacion{244, 2, "delegaci\363n"};
inline constexpr Field kSubdelegacion{246, 2, "subdelegaci\363n"};
inline constexpr Field kAreaGeografica{248, 1, "\341rea geogr\341fica"};
inline constexpr Field kPorcentajeAportacion{249, 2, "porcentaje de aportaci\363n patronal"};
inline constexpr Field kConvenioReembolso{251, 1, "convenio de reembolso"};
inline constexpr Field kTipoCotizacion{252, 1, "tipo de cotizaci\363n"};
inline constexpr Field kTotalDias{253, 7, "total de d\355as cotizados en el periodo"};
inline constexpr Field kTotalTrabajadores{260, 9, "total de trabajadores"};
inline constexpr Field kRelleno269{269, 27, "no examinado"};

// Year and month read together (sgPerPago): a view over kAno and kMes, not a field of
// its own.
inline constexpr Field kPeriodo{27, 6, "periodo de pago"};
}  // namespace record02

inline constexpr Field kHeaderFields[] = {
    record02::kTipo,
    record02::kRegistroPatronal,
    record02::kRfc,
    record02::kAno,
    record02::kMes,
    record02::kFolio,
    record02::kRazonSocial,
    record02::kDomicilio,
    record02::kDelegacionDomicilio,
    record02::kEntidadFederativa,
    record02::kCodigoPostal,
    record02::kTelefono,
    record02::kPrimaRiesgo,
    record02::kRelleno198,
    record02::kDelegacion,
    record02::kSubdelegacion,
    record02::kAreaGeografica,
    record02::kPorcentajeAportacion,
    record02::kConvenioReembolso,
    record02::kTipoCotizacion,
    record02::kTotalDias,
    record02::kTotalTrabajadores,
    record02::kRelleno269,
};

// The first year and month a payment period may have.
inline constexpr double kFirstPeriodYear = 1997;
inline constexpr double kFirstPeriodMonth = 7;

}  // namespace zav
