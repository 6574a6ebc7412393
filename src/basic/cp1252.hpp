// Windows-1252 text: the one-byte-a-character text the control and the payment file use.
// Upper-casing by the code page's own rules, conversion to and from UTF-8 at the host
// boundaries, and the trimming of blanks (spaces only).
#pragma once

#include <string>
#include <string_view>

namespace zav {

// a-z, the accented small letters 0xE0-0xFE (not 0xF7, the division sign), and
// 0x9A, 0x9C, 0x9E, 0xFF become their capitals (0xFF, y diaeresis, becomes 0x9F). Every
// other byte is unchanged, 0xDF (sharp s) and 0xB5 (micro sign) included.
char UpperCase1252(char c);
std::string UpperCase1252(std::string_view s);

// Every byte has a character: the five bytes the code page leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) become the control characters of the same number.
std::string Cp1252ToUtf8(std::string_view s);

// The reverse. Malformed UTF-8 (overlong forms, surrogates, truncated sequences) or a
// character with no Windows-1252 byte throws RuntimeFailure(err::kTypeMismatch).
std::string Utf8ToCp1252(std::string_view s);

// Removes leading and trailing spaces (code 32) only; tabs and other blanks stay.
std::string Trim(std::string_view s);
// The same in place, without allocating.
void TrimInPlace(std::string& s);

}  // namespace zav
