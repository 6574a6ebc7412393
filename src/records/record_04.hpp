// Movement record (type 04): its layout and its check.
//
// kMovementFields lists every position of the record once, in order, fillers included;
// the seven movement entries of 38 characters each are laid out by kMovementEntryFields,
// whose starts are 1-based within the entry (EntryField places one in the record). The
// record check (CheckMovementRecord, validation/record_checks.hpp) counts every movement
// record (iNumReg04), requires it to come after the declared worker records and to carry
// the header's registration number, then checks the entries up to the first one whose
// social security number is blank, adding the daily salary of each type-10 entry to
// SumaM8 (pesos).
#pragma once

#include "records/layout.hpp"

namespace zav {

inline constexpr int kMovementEntryCount = 7;
inline constexpr int kMovementEntryLength = 38;

namespace record04 {
inline constexpr Field kTipo{1, 2, "tipo de registro"};
inline constexpr Field kRegistroPatronal{3, 11, "registro patronal"};
inline constexpr Field kMovimiento1{14, 38, "movimiento 1"};
inline constexpr Field kMovimiento2{52, 38, "movimiento 2"};
inline constexpr Field kMovimiento3{90, 38, "movimiento 3"};
inline constexpr Field kMovimiento4{128, 38, "movimiento 4"};
inline constexpr Field kMovimiento5{166, 38, "movimiento 5"};
inline constexpr Field kMovimiento6{204, 38, "movimiento 6"};
inline constexpr Field kMovimiento7{242, 38, "movimiento 7"};
inline constexpr Field kRelleno280{280, 16, "no examinado"};

// The two parts of the registration number that its format test reads: views over
// kRegistroPatronal.
inline constexpr Field kRegistroInicial{3, 1, "registro patronal, primer car\341cter"};
inline constexpr Field kRegistroResto{4, 10, "registro patronal, resto"};

// Fields of one movement entry, 1-based within the entry.
inline constexpr Field kSeguridadSocial{1, 11, "n\372mero de seguridad social"};
inline constexpr Field kTipoMovimiento{12, 2, "tipo de movimiento o incidencia"};
inline constexpr Field kRellenoMovimiento{14, 16, "no examinado"};
inline constexpr Field kDiasIncidencia{30, 2, "d\355as de incidencia"};
inline constexpr Field kSalarioDiario{32, 7, "salario diario integrado"};
}  // namespace record04

inline constexpr Field kMovementFields[] = {
    record04::kTipo,        record04::kRegistroPatronal, record04::kMovimiento1,
    record04::kMovimiento2, record04::kMovimiento3,      record04::kMovimiento4,
    record04::kMovimiento5, record04::kMovimiento6,      record04::kMovimiento7,
    record04::kRelleno280,
};

inline constexpr Field kMovementEntryFields[] = {
    record04::kSeguridadSocial, record04::kTipoMovimiento, record04::kRellenoMovimiento,
    record04::kDiasIncidencia,  record04::kSalarioDiario,
};

// Where a field of entry `entry` (0 to 6) lies in the record.
constexpr Field EntryField(int entry, const Field& f) {
  return Field{record04::kMovimiento1.start + kMovementEntryLength * entry + f.start - 1, f.length,
               f.name};
}

// The movement type whose daily salaries the summary adds up.
inline constexpr char kTipoMovimientoSumado[] = "10";

}  // namespace zav
