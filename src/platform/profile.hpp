// Settings files ("profile" files): lines of "[section]" and "key=value", read the way
// the platform's profile reader reads them.
//
// - Section and key names match without regard to case (Windows-1252 upper-casing);
//   blanks (spaces, tabs) around the names in the file and in the request do not count.
// - The first section of that name is searched, and in it the first key of that name.
// - The value loses the blanks around it, then one pair of matching single or double
//   quotes that encloses it, and is cut to buffer_size - 1 characters.
// - Lines starting with ";" are comments; a line without "=" carries no value.
// - A missing or unreadable file, section or key (or a key without "=") gives the
//   default value, which loses its trailing blanks and is cut the same way.
// It never fails: a settings file is always optional.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace zav {

std::string ReadProfileString(const std::filesystem::path& file, std::string_view section,
                              std::string_view key, std::string_view default_value,
                              std::size_t buffer_size);

}  // namespace zav
