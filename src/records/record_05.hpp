// Summary record 05: the employer's totals for the period. The check (CheckSummaryRecord,
// declared in record_checks.hpp) requires the header's employer, period and folio, reads
// every amount into SumaS6..SumaS31 as soon as it is numeric, compares the amounts with the
// worker and movement totals and with each other (within igToler pesos, either way), and
// refuses RCV and housing amounts in odd months and voluntary and housing amounts in
// periods 13 and 14. First failure wins; amounts kept before it stay.
#pragma once

#include "records/layout.hpp"

namespace zav {

// Every position of the record, once and in order, fillers included.
namespace record05 {
inline constexpr Field kTipo{1, 2, "tipo de registro (05)"};
inline constexpr Field kRegistroPatronal{3, 11, "registro patronal"};
inline constexpr Field kRfc{14, 13, "RFC del patr\363n"};
inline constexpr Field kPeriodo{27, 6, "periodo de pago (a\361o y mes)"};
inline constexpr Field kFolio{33, 6, "folio ZAV"};
inline constexpr Field kTasaActualizacion{39, 10, "tasa de actualizaci\363n"};
inline constexpr Field kTasaRecargos{49, 10, "tasa de recargos"};
inline constexpr Field kCuotaFija{59, 9, "cuota fija EyM"};
inline constexpr Field kCuotaExcedente{68, 9, "cuota excedente EyM"};
inline constexpr Field kPrestacionesDinero{77, 9, "prestaciones en dinero EyM"};
inline constexpr Field kGastosMedicos{86, 9, "gastos m\351dicos pensionados"};
inline constexpr Field kRiesgosTrabajo{95, 9, "riesgos de trabajo"};
inline constexpr Field kInvalidezVida{104, 9, "invalidez y vida"};
inline constexpr Field kGuarderias{113, 9, "guarder\355as y prestaciones sociales"};
inline constexpr Field kSubtotal4Seguros{122, 11, "subtotal 4 seguros IMSS"};
inline constexpr Field kActualizacion4Seguros{133, 9, "actualizaci\363n 4 seguros IMSS"};
inline constexpr Field kRecargos4Seguros{142, 9, "recargos 4 seguros IMSS"};
inline constexpr Field kRetiro{151, 9, "retiro"};
inline constexpr Field kCesantiaVejez{160, 9, "cesant\355a y vejez"};
inline constexpr Field kSubtotalRcv{169, 11, "subtotal RCV"};
inline constexpr Field kActualizacionRcv{180, 9, "actualizaci\363n RCV"};
inline constexpr Field kRecargosRcv{189, 9, "recargos RCV"};
inline constexpr Field kVoluntarias{198, 11, "aportaciones voluntarias"};
inline constexpr Field kViviendaCuenta{209, 9,
                                       "aportaci\363n patronal INFONAVIT cuenta individual"};
inline constexpr Field kViviendaAmortizacion{218, 9,
                                             "aportaci\363n patronal INFONAVIT amortizaci\363n"};
inline constexpr Field kAmortizacionCredito{227, 9, "amortizaci\363n de cr\351dito INFONAVIT"};
inline constexpr Field kActualizacionVivienda{236, 9,
                                              "actualizaci\363n de vivienda y amortizaci\363n"};
inline constexpr Field kRecargosVivienda{245, 9, "recargos de vivienda y amortizaci\363n"};
inline constexpr Field kComplementarias{254, 9, "aportaciones complementarias"};
inline constexpr Field kMultasInfonavit{263, 9, "multas INFONAVIT"};
inline constexpr Field kDonativosFundemex{272, 9, "donativos FUNDEMEX"};
inline constexpr Field kRelleno281{281, 15, "no examinado"};
}  // namespace record05

inline constexpr Field kSummaryFields[] = {
    record05::kTipo,
    record05::kRegistroPatronal,
    record05::kRfc,
    record05::kPeriodo,
    record05::kFolio,
    record05::kTasaActualizacion,
    record05::kTasaRecargos,
    record05::kCuotaFija,
    record05::kCuotaExcedente,
    record05::kPrestacionesDinero,
    record05::kGastosMedicos,
    record05::kRiesgosTrabajo,
    record05::kInvalidezVida,
    record05::kGuarderias,
    record05::kSubtotal4Seguros,
    record05::kActualizacion4Seguros,
    record05::kRecargos4Seguros,
    record05::kRetiro,
    record05::kCesantiaVejez,
    record05::kSubtotalRcv,
    record05::kActualizacionRcv,
    record05::kRecargosRcv,
    record05::kVoluntarias,
    record05::kViviendaCuenta,
    record05::kViviendaAmortizacion,
    record05::kAmortizacionCredito,
    record05::kActualizacionVivienda,
    record05::kRecargosVivienda,
    record05::kComplementarias,
    record05::kMultasInfonavit,
    record05::kDonativosFundemex,
    record05::kRelleno281,
};

}  // namespace zav
