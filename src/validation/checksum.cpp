// The folding rule of the file check value and the capture-line check strings, and the
// two control methods that expose it (CheckString, AcarreaCheckString).
#include "validation/checksum.hpp"

#include "basic/runtime_failure.hpp"
#include "control/zav.hpp"

namespace zav {

namespace {

constexpr bool Counted(unsigned c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'); }

char AddDigit(char digit, unsigned amount) {
  return static_cast<char>('0' + (static_cast<unsigned>(digit - '0') + amount) % 10);
}

// Folds text[0, end) into the digits (held as the characters "0".."9") and the counters.
// The counters are in range on entry and stay so.
template <std::size_t M>
void FoldDigits(std::array<char, M>& d, unsigned& i, unsigned& j, unsigned& r,
                std::string_view text, std::size_t end) {
  for (std::size_t k = 0; k < end; ++k) {
    const unsigned c = static_cast<unsigned char>(text[k]);
    if (!Counted(c)) continue;
    const unsigned p = (i + c) % M;
    d[p] = AddDigit(d[p], c);
    r = (r + c) % 9;
    i = (i + 1) % M;
    if (i == 0) {
      d[j] = AddDigit(d[j], r);
      j = (j + 1) % M;
    }
  }
}

void RefuseLongText(std::string_view text) {
  if (text.size() > RunningCheck::kMaxText) throw RuntimeFailure(err::kSubscriptOutOfRange);
}

}  // namespace

RunningCheck::RunningCheck() noexcept { digits_.fill('0'); }

RunningCheck RunningCheck::Load(std::string_view digits, std::int16_t i, std::int16_t j,
                                std::int16_t r) {
  const auto in = [](std::int16_t v, std::size_t limit) {
    return v >= 0 && static_cast<std::size_t>(v) < limit;
  };
  if (!in(i, kDigits) || !in(j, kDigits) || !in(r, 9)) {
    throw RuntimeFailure(err::kSubscriptOutOfRange);
  }
  RunningCheck check;
  for (std::size_t n = 0; n < kDigits && n < digits.size(); ++n) {
    if (digits[n] >= '0' && digits[n] <= '9') check.digits_[n] = digits[n];
  }
  check.i_ = i;
  check.j_ = j;
  check.r_ = r;
  return check;
}

void RunningCheck::Fold(std::string_view record) {
  RefuseLongText(record);
  // The record type is the value of the second character; a validation record's own
  // check value and everything after it do not count.
  std::size_t end = record.size();
  if (record.size() >= 2 && record[1] == '6' && end >= kExcludedFrom) end = kExcludedFrom - 1;
  unsigned i = static_cast<unsigned>(i_), j = static_cast<unsigned>(j_),
           r = static_cast<unsigned>(r_);
  FoldDigits(digits_, i, j, r, record, end);
  i_ = static_cast<std::int16_t>(i);
  j_ = static_cast<std::int16_t>(j);
  r_ = static_cast<std::int16_t>(r);
}

std::string ShortCheck(std::string_view text) {
  RefuseLongText(text);
  std::array<char, 3> d{'0', '0', '0'};
  unsigned i = 0, j = 0, r = 0;
  FoldDigits(d, i, j, r, text, text.size());
  return std::string(d.data(), d.size());
}

void ZAV::CheckString(std::string& sDigVer, std::string& sCheckSum) {
  sCheckSum = ShortCheck(sDigVer);
}

void ZAV::AcarreaCheckString(std::string& sDigVer, std::string& sCheckSum, std::int16_t& iVar,
                             std::int16_t& jVar, std::int16_t& rVar) {
  RunningCheck check = RunningCheck::Load(sCheckSum, iVar, jVar, rVar);
  check.Fold(sDigVer);
  // Every output is written only once the fold has succeeded.
  sCheckSum.assign(check.value());
  iVar = check.i();
  jVar = check.j();
  rVar = check.r();
}

}  // namespace zav
