// The fields that say something about a person: worker names, social security numbers,
// housing credit numbers, salaries, and the employer's RFC (a person's own for an employer
// who is one). Masking hides them wherever a file's contents are shown; this table is the
// one place that says which they are. The layout holds no CURP.
#pragma once

#include <cstddef>
#include <optional>

#include "records/layout.hpp"
#include "records/record_02.hpp"
#include "records/record_03.hpp"
#include "records/record_04.hpp"
#include "records/record_05.hpp"
#include "records/record_06.hpp"

namespace zav {

struct PersonalField {
  int type;          // the record type, 2 to 6
  Field field;       // for type 4, within a movement entry (record04::kMovementEntryFields)
  std::size_t keep;  // characters left visible at the end by masking
};

inline constexpr PersonalField kPersonalFields[] = {
    {2, record02::kRfc, 3},
    {3, record03::kRfc, 3},
    {3, record03::kSeguridadSocial, 3},
    {3, record03::kCreditoVivienda, 0},
    {3, record03::kNombre, 0},
    {3, record03::kUltimoSalario, 0},
    {4, record04::kSeguridadSocial, 3},
    {4, record04::kSalarioDiario, 0},
    {5, record05::kRfc, 3},
    {6, record06::kRfc, 3},
};

// For the field at `start` (1-based) of `length` characters in a record of `type`: how many
// characters masking leaves visible, or nothing for a field that is not personal.
constexpr std::optional<std::size_t> PersonalKeep(int type, int start, int length) {
  for (const PersonalField& p : kPersonalFields) {
    if (p.type != type) continue;
    if (type != 4) {
      if (p.field.start == start && p.field.length == length) return p.keep;
      continue;
    }
    for (int entry = 0; entry < kMovementEntryCount; ++entry) {
      const Field f = EntryField(entry, p.field);
      if (f.start == start && f.length == length) return p.keep;
    }
  }
  return std::nullopt;
}

}  // namespace zav
