// Reading one value out of a settings file.
#include "platform/profile.hpp"

#include <fstream>
#include <iterator>
#include <optional>

#include "basic/cp1252.hpp"

namespace zav {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    if (UpperCase1252(a[k]) != UpperCase1252(b[k])) return false;
  }
  return true;
}

std::string Cut(std::string_view value, std::size_t buffer_size) {
  if (buffer_size == 0) return {};
  return std::string(value.substr(0, buffer_size - 1));
}

// The value of the key in the first section of that name; nothing when the section, the
// key or its "=" is missing.
std::optional<std::string_view> FindValue(std::string_view text, std::string_view section,
                                          std::string_view key) {
  bool in_section = false;
  while (!text.empty()) {
    const std::size_t eol = text.find_first_of("\r\n");
    std::string_view line = TrimBlanks(text.substr(0, eol));
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const std::size_t close = line.rfind(']');
      if (close != std::string_view::npos) {
        if (in_section) return std::nullopt;  // only the first section of the name counts
        in_section = SameName(TrimBlanks(line.substr(1, close - 1)), section);
        continue;
      }
    }
    if (!in_section) continue;
    const std::size_t eq = line.find('=');
    if (!SameName(TrimBlanks(line.substr(0, eq)), key)) continue;
    if (eq == std::string_view::npos) return std::nullopt;
    return TrimBlanks(line.substr(eq + 1));
  }
  return std::nullopt;
}

}  // namespace

std::string ReadProfileString(const std::filesystem::path& file, std::string_view section,
                              std::string_view key, std::string_view default_value,
                              std::size_t buffer_size) {
  std::string_view trimmed_default = default_value;
  while (!trimmed_default.empty() && IsBlank(trimmed_default.back())) {
    trimmed_default.remove_suffix(1);
  }
  const std::string fallback = Cut(trimmed_default, buffer_size);

  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return fallback;
  std::ifstream in(file, std::ios::binary);
  if (!in) return fallback;
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return fallback;

  auto value = FindValue(text, TrimBlanks(section), TrimBlanks(key));
  if (!value) return fallback;
  std::string_view v = *value;
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  return Cut(v, buffer_size);
}

}  // namespace zav
