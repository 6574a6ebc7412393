// The file check value and the capture-line check strings against the folding rule written out
// plainly, on texts of every kind, however they are cut and whenever the value is read.
#include "records/checksum.hpp"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "basic/expect_failure.hpp"
#include "control/zav.hpp"

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

// A record of the type with `tail` at position 121, where a validation record keeps its
// check value.
std::string Record(char type, const std::string& tail) {
  std::string record(295, ' ');
  record.replace(0, 2, {'0', type});
  record.replace(20, 10, "PAYMENT 42");
  record.replace(120, tail.size(), tail);
  return record;
}

TEST(Checksum, CheckStringOfKnownTexts) {
  const std::pair<std::string, std::string> cases[] = {
      {"ABC123", "716"},
      {"abc", "000"},  // lower case is not counted, nor folded to upper case
      {"A-1 b2", "204"},
      {"", "000"},
      {"\321\341 \r\n", "000"},  // accented letters, blanks and line ends are skipped
  };
  ZAV zav;
  for (auto [text, expected] : cases) {
    std::string out = "stale";
    zav.CheckString(text, out);
    EXPECT_EQ(out, expected) << text;
  }
}

// Nothing counted keeps the counters and cleans the digits; a state out of range is
// refused without writing.
TEST(Checksum, HostMethodStateIsCleanedOrRefused) {
  ZAV zav;
  std::string record = "abc -", sum = "12x4";
  std::int16_t i = 7, j = 3, r = 5;
  zav.AcarreaCheckString(record, sum, i, j, r);
  EXPECT_EQ(sum, "1204000000000000000");
  EXPECT_EQ((std::array<std::int16_t, 3>{i, j, r}), (std::array<std::int16_t, 3>{7, 3, 5}));
  const std::array<std::int16_t, 3> refused[] = {{19, 0, 0}, {-1, 0, 0}, {0, 19, 0}, {0, 0, 9}};
  for (const auto& state : refused) {
    std::string text = "AAAA", stale = "77";
    std::array<std::int16_t, 3> s = state;
    EXPECT_RUNTIME_FAILURE(err::kSubscriptOutOfRange,
                           zav.AcarreaCheckString(text, stale, s[0], s[1], s[2]));
    EXPECT_EQ(stale, "77");
    EXPECT_EQ(s, state);
  }
}

// Forty runs of thirty texts from the initial state, then two hundred short runs from a
// loaded one, with each width of vector instructions the processor has.
TEST(ChecksumFold, MatchesThePlainRule) {
  const auto runs = [](std::mt19937 rng) {
    const std::size_t lengths[] = {0, 1, 18, 19, 20, 121, 295, 511, 512, 513, 1300, 32767};
    for (int round = 0; round < 240; ++round) {
      RunningCheck fast;
      PlainCheck plain;
      if (round >= 40) {
        for (int& x : plain.d) x = static_cast<int>(rng() % 10);
        plain.i = static_cast<int>(rng() % 19);
        plain.j = static_cast<int>(rng() % 19);
        plain.r = static_cast<int>(rng() % 9);
        fast = RunningCheck::Load(plain.value(), static_cast<std::int16_t>(plain.i),
                                  static_cast<std::int16_t>(plain.j),
                                  static_cast<std::int16_t>(plain.r));
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
  };
  for (const PackWidth width : {PackWidth::kWidest, PackWidth::k16, PackWidth::kNone}) {
    SCOPED_TRACE(static_cast<int>(width));
    LimitPackWidth(width);
    runs(std::mt19937(7));
  }
  LimitPackWidth(PackWidth::kWidest);
}

// A "Z" counted at the last position owes the highest sum, 18 + 'Z': one byte at a time
// from a loaded position, and as the last byte of a block of nineteen. The last row counts
// more bytes than the digit sums may hold between two readings: they are settled on the way.
TEST(ChecksumFold, HighestSumsAndLongRunsBetweenReadings) {
  const struct {
    std::int16_t i;
    std::string text;
    int times = 1;
  } cases[] = {{18, "Z"},
               {11, "ABCDEFGZ"},
               {0, "0123456789ABCDEFGHZ"},
               {5, std::string(33, 'Z')},
               {0, std::string(32767, 'Z'), 1300}};
  for (const auto& c : cases) {
    RunningCheck fast = RunningCheck::Load(std::string(19, '0'), c.i, 0, 0);
    PlainCheck plain;
    plain.i = c.i;
    for (int k = 0; k < c.times; ++k) {
      fast.Fold(c.text);
      plain.Fold(c.text);
    }
    EXPECT_EQ(Of(fast), Of(plain)) << c.i << " " << c.text.substr(0, 20) << " x" << c.times;
  }
}

// The host's methods fold a run of records (the validation record's check value not
// counted) and texts of any length as the rule does, the state carried from call to call
// and the text left as it was; the short check string too.
TEST(ChecksumFold, HostMethodsFoldAsTheRule) {
  std::mt19937 rng(12);
  const std::string texts[] = {Record('2', "HEADER"),   Record('3', "W0001"),
                               Record('4', "MOVE"),     Record('6', "99999"),
                               std::string(32768, 'A'), RandomText(rng, 100'000, 1)};
  ZAV zav;
  PlainCheck plain;
  std::string sum(19, '0');
  std::int16_t i = 0, j = 0, r = 0;
  for (const std::string& original : texts) {
    std::string text = original, short_sum;
    zav.AcarreaCheckString(text, sum, i, j, r);
    plain.Fold(text);
    EXPECT_EQ(text, original);
    EXPECT_EQ((State{sum, i, j, r}), Of(plain)) << text.size();
    PlainRule<3> short_plain;
    short_plain.Fold(text);
    zav.CheckString(text, short_sum);
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
