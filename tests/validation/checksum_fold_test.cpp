// The running check value against the folding rule written out plainly, on texts of every
// kind: the fast fold must give the same digits and counters, however the texts are cut
// and whenever the value is read.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "control/zav.hpp"
#include "records/checksum.hpp"

namespace zav {
namespace {

// The rule, one byte at a time, with m digits; with 19, a validation record stops counting
// at position 121.
template <int M>
struct PlainRule {
  std::array<int, M> d{};
  int i = 0, j = 0, r = 0;

  void Fold(const std::string& text) {
    std::size_t end = text.size();
    if (M == 19 && text.size() >= 121 && text[1] == '6') end = 120;
    for (std::size_t k = 0; k < end; ++k) {
      const int c = static_cast<unsigned char>(text[k]);
      if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'))) continue;
      d[(i + c) % M] = (d[(i + c) % M] + c) % 10;
      r = (r + c) % 9;
      i = (i + 1) % M;
      if (i == 0) {
        d[j] = (d[j] + r) % 10;
        j = (j + 1) % M;
      }
    }
  }
  std::string value() const {
    std::string v;
    for (int x : d) v += static_cast<char>('0' + x);
    return v;
  }
};
using PlainCheck = PlainRule<19>;

using State = std::tuple<std::string, int, int, int>;
void MatchesThePlainRuleWith(std::mt19937 rng);
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
// loaded one, with each width of vector instructions the processor has.
TEST(ChecksumFold, MatchesThePlainRule) {
  for (const PackWidth width : {PackWidth::kWidest, PackWidth::k16, PackWidth::kNone}) {
    SCOPED_TRACE(static_cast<int>(width));
    LimitPackWidth(width);
    MatchesThePlainRuleWith(std::mt19937(7));
  }
  LimitPackWidth(PackWidth::kWidest);
}

void MatchesThePlainRuleWith(std::mt19937 rng) {
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
  const std::string text(32767, 'Z');
  RunningCheck fast;
  PlainCheck plain;
  for (int k = 0; k < 1300; ++k) {
    fast.Fold(text);
    plain.Fold(text);
  }
  EXPECT_EQ(Of(fast), Of(plain));
}

// A "Z" counted at the last position owes the highest sum, 18 + 'Z': one byte at a time
// from a loaded position, and as the last byte of a block of nineteen.
TEST(ChecksumFold, ZAtTheLastPosition) {
  const struct {
    std::int16_t i;
    std::string text;
  } cases[] = {{18, "Z"}, {11, "ABCDEFGZ"}, {0, "0123456789ABCDEFGHZ"}, {5, std::string(33, 'Z')}};
  for (const auto& c : cases) {
    RunningCheck fast = RunningCheck::Load(std::string(19, '0'), c.i, 0, 0);
    PlainCheck plain;
    plain.i = c.i;
    fast.Fold(c.text);
    plain.Fold(c.text);
    EXPECT_EQ(Of(fast), Of(plain)) << c.i << " " << c.text;
  }
}

// The host's methods fold texts of any length: the counters wrap, nothing limits the text.
TEST(ChecksumFold, TextsOfAnyLength) {
  std::mt19937 rng(12);
  ZAV zav;
  for (std::string text : {std::string(32768, 'A'), RandomText(rng, 100'000, 1)}) {
    PlainRule<19> plain;
    PlainRule<3> short_plain;
    plain.Fold(text);
    short_plain.Fold(text);
    std::string sum(19, '0'), short_sum;
    std::int16_t i = 0, j = 0, r = 0;
    zav.AcarreaCheckString(text, sum, i, j, r);
    zav.CheckString(text, short_sum);
    EXPECT_EQ((State{sum, i, j, r}), Of(plain)) << text.size();
    EXPECT_EQ(short_sum, short_plain.value()) << text.size();
  }
  // One text long enough that its sums must be reduced on the way (every block of it owes
  // one and the same sum) folds as it does in pieces.
  const std::string block = "ZYXWVUTSRQPONMLKJIH";
  std::string longest(56'000'000, ' ');
  for (std::size_t k = 0; k < longest.size(); ++k) longest[k] = block[k % block.size()];
  RunningCheck whole, pieces;
  whole.Fold(longest);
  for (std::size_t k = 0; k < longest.size(); k += 29'000) {
    pieces.Fold(std::string_view(longest).substr(k, 29'000));
  }
  EXPECT_EQ(Of(whole), Of(pieces));
}

}  // namespace
}  // namespace zav
