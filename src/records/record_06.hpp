// Validation record 06: closes the payment file. The check (CheckValidationRecord, declared
// in record_checks.hpp) requires the header's employer, period and folio, the measured file
// size (iTamArch) and diskette count (NumDiscos), keeps the four totals to deposit in
// SumaV11..SumaV14 as soon as each is numeric and compares each with the summary amounts it
// covers (within igToler pesos, either way), and refuses a payment of zero. The deadline,
// version and check value fields are read by the file-level checks, not here.
#pragma once

#include "records/layout.hpp"

namespace zav {

// Every position of the record, once and in order, fillers included.
namespace record06 {
inline constexpr Field kTipo{1, 2, "tipo de registro (06)"};
inline constexpr Field kRegistroPatronal{3, 11, "registro patronal"};
inline constexpr Field kRfc{14, 13, "RFC del patr\363n"};
inline constexpr Field kPeriodo{27, 6, "periodo de pago (a\361o y mes)"};
inline constexpr Field kFolio{33, 6, "folio ZAV"};
inline constexpr Field kSumaTasas{39, 10, "suma de tasas de actualizaci\363n y recargos"};
inline constexpr Field kTamanoArchivo{49, 10, "tama\361o del archivo en bytes"};
inline constexpr Field kFechaLimite{59, 8, "fecha l\355mite de pago (AAAAMMDD)"};
inline constexpr Field kDiscos{67, 2, "cantidad de discos"};
inline constexpr Field kVersion{69, 4, "versi\363n del ZAV"};
inline constexpr Field kTotalImss4Seguros{73, 12, "total a depositar IMSS 4 seguros"};
inline constexpr Field kTotalImssRcv{85, 12, "total a depositar IMSS RCV"};
inline constexpr Field kTotalInfonavitAportacion{
    97, 12, "total a depositar INFONAVIT aportaci\363n patronal"};
inline constexpr Field kTotalInfonavitAmortizacion{
    109, 12, "total a depositar INFONAVIT amortizaci\363n, actualizaciones y recargos"};
inline constexpr Field kCheckSum{121, 19, "CheckSum"};
inline constexpr Field kRelleno140{140, 156, "no examinado"};

// The four totals to deposit read together (a payment of zero): a view over them, not a
// field of its own.
inline constexpr Field kTotalesADepositar{73, 48, "totales a depositar"};
}  // namespace record06

inline constexpr Field kValidationFields[] = {
    record06::kTipo,
    record06::kRegistroPatronal,
    record06::kRfc,
    record06::kPeriodo,
    record06::kFolio,
    record06::kSumaTasas,
    record06::kTamanoArchivo,
    record06::kFechaLimite,
    record06::kDiscos,
    record06::kVersion,
    record06::kTotalImss4Seguros,
    record06::kTotalImssRcv,
    record06::kTotalInfonavitAportacion,
    record06::kTotalInfonavitAmortizacion,
    record06::kCheckSum,
    record06::kRelleno140,
};

}  // namespace zav
