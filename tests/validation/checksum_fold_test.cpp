// The running check value against the folding rule written out plainly, on texts of every
// kind: the fast fold must give the same digits and counters, however the texts are cut
// and whenever the value is read.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "records/checksum.hpp"

namespace zav {
namespace {

// The rule, one byte at a time.
struct PlainCheck {
  std::array<int, 19> d{};
  int i = 0, j = 0, r = 0;

  void Fold(const std::string& text) {
    std::size_t end = text.size();
    if (text.size() >= 121 && text[1] == '6') end = 120;
    for (std::size_t k = 0; k < end; ++k) {
      const int c = static_cast<unsigned char>(text[k]);
      if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'))) continue;
      d[(i + c) % 19] = (d[(i + c) % 19] + c) % 10;
      r = (r + c) % 9;
      i = (i + 1) % 19;
      if (i == 0) {
        d[j] = (d[j] + r) % 10;
        j = (j + 1) % 19;
      }
    }
  }
  std::string value() const {
    std::string v;
    for (int x : d) v += static_cast<char>('0' + x);
    return v;
  }
};

using State = std::tuple<std::string, int, int, int>;
State Of(const PlainCheck& c) { return {c.value(), c.i, c.j, c.r}; }
State Of(const RunningCheck& c) { return {std::string(c.value()), c.i(), c.j(), c.r()}; }

std::string RandomText(std::mt19937& rng, std::size_t length, int kind) {
  static const std::string kRecordLike = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ       abc.-\321";
  std::string text(length, ' ');
  for (char& c : text) {
    c = kind == 0 ? static_cast<char>(rng() % 256)  // any byte
                  : kRecordLike[rng() % kRecordLike.size()];
  }
  if (kind == 2 && length > 1) text[1] = '6';  // a validation record
  return text;
}

// Forty runs of thirty texts from the initial state, then two hundred short runs from a
// loaded one.
TEST(ChecksumFold, MatchesThePlainRule) {
  std::mt19937 rng(7);
  const std::size_t lengths[] = {0, 1, 18, 19, 20, 121, 295, 511, 512, 513, 1300, 32767};
  for (int round = 0; round < 240; ++round) {
    RunningCheck fast;
    PlainCheck plain;
    if (round >= 40) {
      for (int& x : plain.d) x = static_cast<int>(rng() % 10);
      plain.i = static_cast<int>(rng() % 19);
      plain.j = static_cast<int>(rng() % 19);
      plain.r = static_cast<int>(rng() % 9);
      const auto [value, i, j, r] = Of(plain);
      fast = RunningCheck::Load(value, static_cast<std::int16_t>(i), static_cast<std::int16_t>(j),
                                static_cast<std::int16_t>(r));
    }
    for (int record = 0; record < (round < 40 ? 30 : 3); ++record) {
      const std::size_t length = round % 2 == 0 ? lengths[rng() % std::size(lengths)] : 295;
      const std::string text = RandomText(rng, length, static_cast<int>(rng() % 3));
      fast.Fold(text);
      plain.Fold(text);
      if (rng() % 4 == 0) {  // reading settles the state; folding goes on from there
        ASSERT_EQ(Of(fast), Of(plain)) << "round " << round << " record " << record;
      }
    }
    EXPECT_EQ(Of(fast), Of(plain)) << "round " << round;
  }
}

// More counted bytes than the digit sums may hold between two readings: they are settled on
// the way, and the value stays the rule's.
TEST(ChecksumFold, LongRunsBetweenReadings) {
  const std::string text(RunningCheck::kMaxText, 'Z');
  RunningCheck fast;
  PlainCheck plain;
  for (int k = 0; k < 1300; ++k) {
    fast.Fold(text);
    plain.Fold(text);
  }
  EXPECT_EQ(Of(fast), Of(plain));
}

}  // namespace
}  // namespace zav
