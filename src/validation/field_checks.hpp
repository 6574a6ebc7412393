// Field tests of the record checks: a field cut from the record and handed to one of the
// control's validators with the field's own length. The validators work on a
// std::string by reference; the caller passes one scratch string that it reuses for
// every field of the record. Fields are short enough to stay inside the string's own
// buffer, so the tests allocate nothing. After the call the scratch holds the field as
// the validator left it (trimmed, for ValidaNumero).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "control/zav.hpp"
#include "validation/layout.hpp"

namespace zav {

// Without leading and trailing spaces (code 32); a view, not a copy.
inline std::string_view TrimmedView(std::string_view s) {
  const auto first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

inline std::int16_t Largo(const Field& f) { return static_cast<std::int16_t>(f.length); }

inline bool NumeroField(ZAV& z, std::string_view linea, const Field& f, std::string& scratch) {
  scratch.assign(Cut(linea, f));
  return z.ValidaNumero(scratch, Largo(f));
}

inline bool NumeroEspField(ZAV& z, std::string_view linea, const Field& f, std::string& scratch) {
  scratch.assign(Cut(linea, f));
  return z.ValidaNumeroEsp(scratch, Largo(f));
}

inline bool AlfaField(ZAV& z, std::string_view linea, const Field& f, std::string& scratch) {
  scratch.assign(Cut(linea, f));
  return z.ValidaAlfa(scratch, Largo(f));
}

inline bool AlfaNumField(ZAV& z, std::string_view linea, const Field& f, std::string& scratch) {
  scratch.assign(Cut(linea, f));
  return z.ValidaAlfaNum(scratch, Largo(f));
}

}  // namespace zav
