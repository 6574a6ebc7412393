// Field tests of the record checks: a field cut from the record and judged by one of the
// control's validator rules with the field's own length.
//
// The rules themselves (NumeroText, NumeroEspText, AlfaText, AlfaNumText) work on views
// and are the single definition that the control's validators (ValidaNumero and the rest,
// which take a std::string and trim it in place) also use. The record checks call them
// on the field as a view into the record, so nothing is copied or allocated; after a
// call `value` is the field as the validator would have left the caller's text
// (trimmed, for ValidaNumero).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "basic/numeric_text.hpp"
#include "control/zav.hpp"
#include "records/layout.hpp"

namespace zav {

// Without leading and trailing spaces (code 32); a view, not a copy.
inline std::string_view TrimmedView(std::string_view s) {
  const auto first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

inline bool IsDigitSpaceOrPoint(char c) { return (c >= '0' && c <= '9') || c == ' ' || c == '.'; }

// A letter whose Windows-1252 upper case is A..Z: only a..z and A..Z are (the upper case
// of every other byte is never one of A..Z), so the test needs no table.
inline bool IsLatinLetter(char c) {
  const char u = (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
  return u >= 'A' && u <= 'Z';
}

inline bool HasLength(std::string_view text, std::int64_t largo) {
  return static_cast<std::int64_t>(text.size()) == largo;
}

// ValidaNumero on an already trimmed text.
inline bool NumeroText(std::string_view trimmed, std::int64_t largo) {
  double plain;
  return HasLength(trimmed, largo) && (PlainDigitsValue(trimmed, plain) || IsNumeric(trimmed));
}

inline bool NumeroEspText(std::string_view text, std::int64_t largo) {
  if (!HasLength(text, largo)) return false;
  for (const char c : text) {
    if (!IsDigitSpaceOrPoint(c)) return false;
  }
  return true;
}

inline bool AlfaText(std::string_view text, std::int64_t largo) {
  if (!HasLength(text, largo)) return false;
  for (const char c : text) {
    if (!IsLatinLetter(c)) return false;
  }
  return true;
}

// ValidaAlfaNum: `text` untrimmed; the characters judged are those of the trimmed text.
inline bool AlfaNumText(std::string_view text, std::int64_t largo) {
  if (!HasLength(text, largo)) return false;
  for (const char c : TrimmedView(text)) {
    if (!IsDigitSpaceOrPoint(c) && !IsLatinLetter(c)) return false;
  }
  return true;
}

inline std::int16_t Largo(const Field& f) { return static_cast<std::int16_t>(f.length); }

// A field of one to eight characters that are all digits, read eight bytes at a time: the
// usual amount or day field. `field` is a view into `record`, and the record has at least
// eight bytes from the field's start on. False (nothing read) for any other field.
inline bool EightDigitsValue(std::string_view record, std::string_view field, double& number) {
  if constexpr (std::endian::native != std::endian::little) return false;
  const std::size_t n = field.size();
  if (n == 0 || n > 8) return false;
  if (static_cast<std::size_t>(record.data() + record.size() - field.data()) < 8) return false;
  std::uint64_t w;
  std::memcpy(&w, field.data(), 8);
  const std::uint64_t mask = ~std::uint64_t{0} >> (8 * (8 - n));  // the field's n bytes
  const std::uint64_t x = (w ^ 0x3030303030303030u) & mask;       // digits become 0..9
  if (((x | (x + 0x0606060606060606u)) & 0xF0F0F0F0F0F0F0F0u & mask) != 0) return false;
  // Leading zero digits in front, then the usual pairwise combination (first byte most
  // significant): tens, hundreds, ten-thousands.
  std::uint64_t v = x << (8 * (8 - n));
  v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFu;
  v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFu;
  v = (v * 10000 + (v >> 32)) & 0xFFFFFFFFu;
  number = static_cast<double>(v);
  return true;
}

inline bool NumeroField(ZAV&, std::string_view linea, const Field& f, std::string_view& value) {
  value = Cut(linea, f);
  if (double ignored; HasLength(value, Largo(f)) && EightDigitsValue(linea, value, ignored)) {
    return true;
  }
  value = TrimmedView(value);
  return NumeroText(value, Largo(f));
}

// NumeroField, and the field's leading-number value when it passes (`number` is left as
// it was when it does not). A field of digits only is its own trimmed text, of its full
// length and numeric, and its value is the number it spells: read at once.
inline bool NumeroValue(ZAV&, std::string_view linea, const Field& f, double& number) {
  const std::string_view field = Cut(linea, f);
  if (HasLength(field, Largo(f)) && EightDigitsValue(linea, field, number)) return true;
  const std::string_view value = TrimmedView(field);
  double read = 0;
  if (!HasLength(value, Largo(f)) || !NumericValue(value, read)) return false;
  number = read;
  return true;
}

inline bool NumeroEspField(ZAV&, std::string_view linea, const Field& f, std::string_view& value) {
  value = Cut(linea, f);
  return NumeroEspText(value, Largo(f));
}

inline bool AlfaField(ZAV&, std::string_view linea, const Field& f, std::string_view& value) {
  value = Cut(linea, f);
  return AlfaText(value, Largo(f));
}

inline bool AlfaNumField(ZAV&, std::string_view linea, const Field& f, std::string_view& value) {
  value = Cut(linea, f);
  const bool ok = AlfaNumText(value, Largo(f));
  if (HasLength(value, Largo(f))) value = TrimmedView(value);
  return ok;
}

}  // namespace zav
