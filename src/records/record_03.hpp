// Worker record (type 03): its layout and its check.
//
// kWorkerFields lists every position of the record once, in order, fillers included, so
// that it both describes the record and writes one. The record check (CheckWorkerRecord,
// validation/record_checks.hpp) needs the header as an earlier record, requires the
// employer's registration number, RFC and period to repeat the header's, checks every
// coded field in layout order, and adds the days and amounts of each field that passes
// to the running totals the summary must later match. Amount fields are in hundredths of
// a peso; the period rules (odd months, periods 13 and 14, late payment) test the raw
// value in hundredths, so for these fields the tolerance igToler counts cents.
#pragma once

#include "records/layout.hpp"

namespace zav {

namespace record03 {
inline constexpr Field kTipo{1, 2, "tipo de registro"};
inline constexpr Field kRegistroPatronal{3, 11, "registro patronal"};
inline constexpr Field kRfc{14, 13, "RFC del patr\363n"};
inline constexpr Field kPeriodo{27, 6, "periodo de pago"};
inline constexpr Field kSeguridadSocial{33, 11, "n\372mero de seguridad social"};
inline constexpr Field kRelleno44{44, 31, "no examinado"};
inline constexpr Field kCreditoVivienda{75, 10, "n\372mero de cr\351dito INFONAVIT"};
inline constexpr Field kRelleno85{85, 8, "no examinado"};
inline constexpr Field kMovimientos{93, 2, "n\372mero de movimientos en el periodo"};
inline constexpr Field kNombre{95, 50, "nombre del trabajador"};
inline constexpr Field kUltimoSalario{145, 7, "\372ltimo salario diario integrado del periodo"};
inline constexpr Field kTipoTrabajador{152, 1, "tipo de trabajador"};
inline constexpr Field kJornada{153, 1, "jornada / semana reducida"};
inline constexpr Field kDiasCotizadosMes{154, 2, "d\355as cotizados en el mes"};
inline constexpr Field kDiasIncapacidadMes{156, 2, "d\355as de incapacidad en el mes"};
inline constexpr Field kDiasAusentismoMes{158, 2, "d\355as de ausentismo en el mes"};
inline constexpr Field kCuotaFija{160, 7, "cuota fija enfermedad y maternidad"};
inline constexpr Field kCuotaExcedente{167, 7, "cuota excedente enfermedad y maternidad"};
inline constexpr Field kPrestacionesDinero{174, 7,
                                           "prestaciones en dinero enfermedad y maternidad"};
inline constexpr Field kGastosMedicos{181, 7, "gastos m\351dicos pensionados"};
inline constexpr Field kRiesgosTrabajo{188, 7, "riesgos de trabajo"};
inline constexpr Field kInvalidezVida{195, 7, "invalidez y vida"};
inline constexpr Field kGuarderias{202, 7, "guarder\355as y prestaciones sociales"};
inline constexpr Field kRecargosSeguros{209, 7,
                                        "actualizaci\363n y recargos de los cuatro seguros"};
inline constexpr Field kDiasCotizadosBimestre{216, 2, "d\355as cotizados en el bimestre"};
inline constexpr Field kDiasIncapacidadBimestre{218, 2, "d\355as de incapacidad en el bimestre"};
inline constexpr Field kDiasAusentismoBimestre{220, 2, "d\355as de ausentismo en el bimestre"};
inline constexpr Field kRetiro{222, 7, "retiro"};
inline constexpr Field kRecargosRetiro{229, 7, "actualizaci\363n y recargos de retiro"};
inline constexpr Field kCesantiaPatronal{236, 7, "cuota patronal de cesant\355a y vejez"};
inline constexpr Field kCesantiaTrabajador{243, 7, "cuota trabajador de cesant\355a y vejez"};
inline constexpr Field kRecargosCesantia{250, 7,
                                         "actualizaci\363n y recargos de cesant\355a y vejez"};
inline constexpr Field kAportacionVoluntaria{257, 7, "aportaci\363n voluntaria"};
inline constexpr Field kAportacionVivienda{264, 7, "aportaci\363n patronal INFONAVIT"};
inline constexpr Field kAmortizacionCredito{271, 7, "amortizaci\363n de cr\351dito INFONAVIT"};
inline constexpr Field kRelleno278{278, 18, "no examinado"};

// The parts of the RFC that its format test reads: views over kRfc, not fields of
// their own. A twelve-character RFC is stored with one leading space.
inline constexpr Field kRfcInicial{14, 1, "RFC, primera letra"};
inline constexpr Field kRfcLetras{15, 3, "RFC, letras"};
inline constexpr Field kRfcFecha{18, 6, "RFC, fecha"};
inline constexpr Field kRfcHomoclave{24, 3, "RFC, homoclave"};
}  // namespace record03

inline constexpr Field kWorkerFields[] = {
    record03::kTipo,
    record03::kRegistroPatronal,
    record03::kRfc,
    record03::kPeriodo,
    record03::kSeguridadSocial,
    record03::kRelleno44,
    record03::kCreditoVivienda,
    record03::kRelleno85,
    record03::kMovimientos,
    record03::kNombre,
    record03::kUltimoSalario,
    record03::kTipoTrabajador,
    record03::kJornada,
    record03::kDiasCotizadosMes,
    record03::kDiasIncapacidadMes,
    record03::kDiasAusentismoMes,
    record03::kCuotaFija,
    record03::kCuotaExcedente,
    record03::kPrestacionesDinero,
    record03::kGastosMedicos,
    record03::kRiesgosTrabajo,
    record03::kInvalidezVida,
    record03::kGuarderias,
    record03::kRecargosSeguros,
    record03::kDiasCotizadosBimestre,
    record03::kDiasIncapacidadBimestre,
    record03::kDiasAusentismoBimestre,
    record03::kRetiro,
    record03::kRecargosRetiro,
    record03::kCesantiaPatronal,
    record03::kCesantiaTrabajador,
    record03::kRecargosCesantia,
    record03::kAportacionVoluntaria,
    record03::kAportacionVivienda,
    record03::kAmortizacionCredito,
    record03::kRelleno278,
};

// The character a worker's name may not hold (Windows-1252 yen sign).
inline constexpr char kForbiddenNameChar = '\245';

// The largest jornada / semana reducida value.
inline constexpr double kMaxJornada = 6;

}  // namespace zav
