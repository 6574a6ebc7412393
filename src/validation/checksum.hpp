// The check value of a payment file and the short check strings of the capture line.
//
// One folding rule turns a text into decimal check digits. Only "0".."9" and "A".."Z"
// count; every other byte (lower case, blanks, accented letters, line ends) is skipped.
// For each counted byte c, with position counter i, carry index j and remainder r:
//   D((i + c) mod m) += c (mod 10);  r := (r + c) mod 9;  i := (i + 1) mod m;
//   and after every m-th counted byte D(j) += r (mod 10), j := (j + 1) mod m.
// The file check value uses m = 19 and is carried from record to record; a validation
// record (second character "6") does not count from position 121 on, where its own
// stored check value lies. The capture-line check string uses m = 3 from a zero state.
//
// RunningCheck is the whole-file value as the driver feeds it: it folds every record in
// place and never allocates. State handed in by a host (a counter outside its range, a
// text too long for the 16-bit position counter) is refused with subscript out of range
// (9) before anything is written.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zav {

class RunningCheck {
 public:
  static constexpr std::size_t kDigits = 19;
  // The longest text the 16-bit position counter can walk.
  static constexpr std::size_t kMaxText = 32767;
  // Where the stored check value starts in a validation record (1-based).
  static constexpr std::size_t kExcludedFrom = 121;

  // The initial state: nineteen "0", counters 0, 0, 0.
  RunningCheck() noexcept;

  // A state handed back by a host. Digits are read as the rule reads them: a non-digit or
  // a missing position is 0, positions after the 19th are not read. Throws
  // RuntimeFailure(err::kSubscriptOutOfRange) when i or j is outside 0..18 or r outside 0..8.
  static RunningCheck Load(std::string_view digits, std::int16_t i, std::int16_t j, std::int16_t r);

  // Folds one record. Throws RuntimeFailure(err::kSubscriptOutOfRange), leaving the state
  // as it was, for a text longer than kMaxText.
  void Fold(std::string_view record);

  // The 19 check digits, D(0) first. A view into this object.
  std::string_view value() const noexcept { return {digits_.data(), digits_.size()}; }
  std::int16_t i() const noexcept { return i_; }
  std::int16_t j() const noexcept { return j_; }
  std::int16_t r() const noexcept { return r_; }

  // True when the stored check value of a file equals this one, byte for byte.
  bool Matches(std::string_view stored) const noexcept { return value() == stored; }

 private:
  std::array<char, kDigits> digits_;
  std::int16_t i_ = 0;
  std::int16_t j_ = 0;
  std::int16_t r_ = 0;
};

// The 3-digit check string of a text, folded from a zero state. Throws
// RuntimeFailure(err::kSubscriptOutOfRange) for a text longer than RunningCheck::kMaxText.
std::string ShortCheck(std::string_view text);

}  // namespace zav
