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
// place and never allocates. Texts of any length fold (the counters wrap at m). State
// handed in by a host with a counter outside its range is refused with subscript out of
// range (9) before anything is written.
//
// It runs over every byte of every file, so it is shaped for speed. Additions modulo 10
// commute: each digit collects a plain sum of what it is owed, and the sums are reduced
// only when the value or a counter is read. Counted bytes are folded nineteen at a time
// from position 0, each at a position known in advance; up to eighteen left over at the
// end of a record wait for the next one. Where the processor permutes bytes by index
// (AVX-512 VBMI), what a run of blocks owes is gathered 64 bytes at a time, each position's
// share in byte lanes, and only the running remainder goes block by block; a long text
// folds faster than its records one by one. Reading the value or a counter settles all of
// this, which is why those const readers update the (mutable) state: an instance is not
// for concurrent use.
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
  // Where the stored check value starts in a validation record (1-based).
  static constexpr std::size_t kExcludedFrom = 121;

  // The initial state: nineteen "0", counters 0, 0, 0.
  RunningCheck() noexcept;

  // A state handed back by a host. Digits are read as the rule reads them: a non-digit or
  // a missing position is 0, positions after the 19th are not read. Throws
  // RuntimeFailure(err::kSubscriptOutOfRange) when i or j is outside 0..18 or r outside 0..8.
  static RunningCheck Load(std::string_view digits, std::int16_t i, std::int16_t j, std::int16_t r);

  // Folds one record (or any text, however long).
  void Fold(std::string_view record);

  // The 19 check digits, D(0) first. A view into this object, valid until the next Fold.
  std::string_view value() const noexcept;
  std::int16_t i() const noexcept;
  std::int16_t j() const noexcept;
  std::int16_t r() const noexcept;

  // True when the stored check value of a file equals this one, byte for byte.
  bool Matches(std::string_view stored) const noexcept { return value() == stored; }

 private:
  // Sums owed by position + byte, before reduction modulo 19: indices 0 to 18 + 'Z'.
  static constexpr std::size_t kBins = kDigits - 1 + 'Z' + 1;
  using Sums = std::array<std::uint32_t, kBins>;
  struct Folder;

  // Folds the waiting bytes and reduces the sums into the digits.
  void Settle() const noexcept;
  // Reduces the sums into the digits.
  void Reduce() const noexcept;

  mutable std::array<char, kDigits> digits_;
  mutable Sums owed_{};
  mutable std::uint32_t running_ = 0;  // r plus the counted bytes since it was reduced
  mutable std::uint8_t pos_ = 0;       // i
  mutable std::uint8_t carry_ = 0;     // j
  mutable std::uint8_t waiting_count_ = 0;
  mutable std::array<unsigned char, kDigits - 1> waiting_{};  // counted, not yet folded
  mutable std::uint32_t unsettled_ = 0;  // counted bytes in owed_, kept below overflow
};

// The widest vector instructions the fold may use to gather the counted bytes: all the
// processor has (the default), sixteen bytes at a time, or none. Every width gives the same
// value; tests run each on one machine.
enum class PackWidth { kWidest, k16, kNone };
void LimitPackWidth(PackWidth width) noexcept;

// The 3-digit check string of a text, folded from a zero state.
std::string ShortCheck(std::string_view text);

}  // namespace zav
