// Test helpers for the record checks: records built from a layout table (blanks, with
// field texts placed at their positions) and a check that a layout table covers its
// record exactly once.
#pragma once

#include <gtest/gtest.h>

#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "validation/layout.hpp"

namespace zav::testing {

// Writes `text` into the field, padded with blanks to the field's length.
inline void Put(std::string& record, const Field& f, std::string_view text) {
  if (text.size() > static_cast<std::size_t>(f.length)) {
    throw std::logic_error(std::string("text longer than field ") + f.name);
  }
  std::string padded(text);
  padded.resize(static_cast<std::size_t>(f.length), ' ');
  record.replace(static_cast<std::size_t>(f.start - 1), padded.size(), padded);
}

inline std::string BlankRecord() { return std::string(kRecordLength, ' '); }

// The fields follow each other without gap or overlap from position 1 to `length`.
inline void ExpectCoversExactly(std::span<const Field> fields, int length) {
  int next = 1;
  for (const Field& f : fields) {
    EXPECT_EQ(f.start, next) << f.name;
    EXPECT_GT(f.length, 0) << f.name;
    next = f.start + f.length;
  }
  EXPECT_EQ(next, length + 1);
}

}  // namespace zav::testing
