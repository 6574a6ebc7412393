#include "basic/cp1252.hpp"

#include <cstdint>

#include "basic/runtime_failure.hpp"

namespace zav {
namespace {

// Characters of the bytes 0x80-0x9F; the rest of the upper half is Latin-1.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

char32_t CharacterOf(unsigned char b) {
  return (b >= 0x80 && b < 0xA0) ? kHighControls[b - 0x80] : b;
}

// The byte of a character, or -1 when the code page has none.
int ByteOf(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
  for (int i = 0; i < 32; ++i) {
    if (kHighControls[i] == c) return 0x80 + i;
  }
  return -1;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

[[noreturn]] void Refuse() { throw RuntimeFailure(err::kTypeMismatch); }

}  // namespace

char UpperCase1252(char c) {
  const auto b = static_cast<unsigned char>(c);
  if ((b >= 'a' && b <= 'z') || (b >= 0xE0 && b <= 0xFE && b != 0xF7)) {
    return static_cast<char>(b - 0x20);
  }
  switch (b) {
    case 0x9A:  // s caron
    case 0x9C:  // oe
    case 0x9E:  // z caron
      return static_cast<char>(b - 0x10);
    case 0xFF:  // y diaeresis
      return static_cast<char>(0x9F);
    default:
      return c;
  }
}

std::string UpperCase1252(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = UpperCase1252(c);
  return out;
}

std::string Cp1252ToUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) AppendUtf8(out, CharacterOf(static_cast<unsigned char>(c)));
  return out;
}

std::string Utf8ToCp1252(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const auto lead = static_cast<unsigned char>(s[i]);
    int length;
    char32_t c;
    if (lead < 0x80) {
      length = 1;
      c = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      c = lead & 0x07;
    } else {
      Refuse();  // a continuation byte, an overlong lead (C0, C1) or beyond U+10FFFF
    }
    if (s.size() - i < static_cast<std::size_t>(length)) Refuse();
    for (int k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
      if ((next & 0xC0) != 0x80) Refuse();
      c = (c << 6) | (next & 0x3F);
    }
    const bool overlong = (length == 3 && c < 0x800) || (length == 4 && c < 0x10000);
    if (overlong || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) Refuse();
    const int b = ByteOf(c);
    if (b < 0) Refuse();
    out += static_cast<char>(b);
    i += static_cast<std::size_t>(length);
  }
  return out;
}

std::string Trim(std::string_view s) {
  const std::size_t first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const std::size_t last = s.find_last_not_of(' ');
  return std::string(s.substr(first, last - first + 1));
}

void TrimInPlace(std::string& s) {
  const auto last = s.find_last_not_of(' ');
  if (last == std::string::npos) {
    s.clear();
    return;
  }
  s.erase(last + 1);
  s.erase(0, s.find_first_not_of(' '));
}

}  // namespace zav
