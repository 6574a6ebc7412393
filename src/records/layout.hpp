// Record layouts. A payment file is a sequence of fixed 295-byte records; a field is
// (start, length), 1-based as in the layout tables. Each record type keeps its layout
// in one table (records/record_02.hpp to record_06.hpp), which the record checks, the
// description of a file, the sample writer and the diskette split all read; records/
// also holds the file's check value. It depends on nothing but basic/ and the control.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace zav {

inline constexpr std::size_t kRecordLength = 295;

struct Field {
  int start;         // 1-based position of the first character
  int length;        // characters
  const char* name;  // short Spanish name, as the layout tables give it
};

// The field's text inside a record: shorter, or empty, when the record ends earlier.
// A view into the record, never a copy.
inline std::string_view Cut(std::string_view record, int start, int length) {
  const std::size_t from = static_cast<std::size_t>(start - 1);
  if (from >= record.size() || length <= 0) return {};
  return record.substr(from, static_cast<std::size_t>(length));
}
inline std::string_view Cut(std::string_view record, const Field& f) {
  return Cut(record, f.start, f.length);
}

}  // namespace zav
