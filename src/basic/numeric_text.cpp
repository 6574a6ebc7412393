#include "basic/numeric_text.hpp"

#include <charconv>
#include <cstdint>
#include <limits>

#include "basic/runtime_failure.hpp"

namespace zav {
namespace {

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

constexpr char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Value of c as a digit of the given radix (8 or 16), or -1.
constexpr int RadixDigit(char c, int radix) {
  if (c >= '0' && c <= '7') return c - '0';
  if (radix == 8) return -1;
  if (c == '8' || c == '9') return c - '0';
  const char u = Upper(c);
  if (u >= 'A' && u <= 'F') return u - 'A' + 10;
  return -1;
}

enum class Outcome { kOk, kOverflow };

constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A decimal exponent is read with saturation: anything beyond this is out of every range.
constexpr std::int64_t kExponentCap = 1'000'000;

void AddExponentDigit(std::int64_t& exponent, char c) {
  exponent = exponent * 10 + (c - '0');
  if (exponent > kExponentCap) exponent = kExponentCap;
}

// Collects the significant digits of a decimal number and turns them into the nearest
// double. Enough digits are kept to decide every rounding exactly (a double halfway point
// has at most 767 significant digits); later non-zero digits only leave a sticky 1.
class DecimalDigits {
 public:
  void IntegerDigit(char c) {
    seen_ = true;
    if (count_ == 0 && c == '0') return;
    if (count_ < kKept) {
      digits_[count_++] = c;
    } else {
      ++scale_;
      if (c != '0') dropped_nonzero_ = true;
    }
  }

  void FractionDigit(char c) {
    seen_ = true;
    if (count_ == 0 && c == '0') {
      --scale_;
    } else if (count_ < kKept) {
      digits_[count_++] = c;
      --scale_;
    } else if (c != '0') {
      dropped_nonzero_ = true;
    }
  }

  bool seen() const { return seen_; }

  // The magnitude times 10^exponent; kOverflow when beyond the double range.
  Outcome Magnitude(std::int64_t exponent, double& out) const {
    out = 0;
    if (count_ == 0) return Outcome::kOk;
    std::int64_t scale = scale_ + exponent;
    // Fast path, the usual field: up to 15 digits and a power of ten that are both exact
    // doubles, so one multiplication or division rounds correctly.
    if (count_ <= 15 && !dropped_nonzero_ && scale >= -22 && scale <= 22) {
      std::uint64_t m = 0;
      for (int i = 0; i < count_; ++i) m = m * 10 + static_cast<std::uint64_t>(digits_[i] - '0');
      const double power = kPowersOfTen[scale < 0 ? -scale : scale];
      out = scale < 0 ? static_cast<double>(m) / power : static_cast<double>(m) * power;
      return Outcome::kOk;
    }
    char text[kKept + 32];
    int n = count_;
    for (int i = 0; i < n; ++i) text[i] = digits_[i];
    if (dropped_nonzero_) {
      text[n++] = '1';
      --scale;
    }
    // Decimal exponent of the first digit, plus one.
    const std::int64_t magnitude = scale + n;
    if (magnitude > 400) return Outcome::kOverflow;
    if (magnitude < -400) return Outcome::kOk;
    text[n++] = 'e';
    const auto written = std::to_chars(text + n, text + sizeof text, scale);
    const auto parsed = std::from_chars(text, written.ptr, out, std::chars_format::scientific);
    if (parsed.ec == std::errc::result_out_of_range) {
      out = 0;
      return magnitude > 0 ? Outcome::kOverflow : Outcome::kOk;
    }
    return Outcome::kOk;
  }

 private:
  static constexpr int kKept = 780;
  char digits_[kKept];
  int count_ = 0;
  std::int64_t scale_ = 0;  // value = digits * 10^scale_
  bool dropped_nonzero_ = false;
  bool seen_ = false;
};

// Digits of a radix form, with the classic typing of the result.
class RadixDigits {
 public:
  void Add(int digit, int radix) {
    seen_ = true;
    approx_ = approx_ * radix + digit;
    if (value_ > (UINT64_MAX >> 4)) wide_ = true;
    value_ = value_ * static_cast<std::uint64_t>(radix) + static_cast<std::uint64_t>(digit);
  }
  bool seen() const { return seen_; }
  bool fits32() const { return !wide_ && value_ <= 0xFFFFFFFFu; }
  // 16 bits when it fits, else 32 bits, both signed; wider keeps its plain value.
  double Value() const {
    if (!wide_ && value_ <= 0xFFFFu) return static_cast<std::int16_t>(value_);
    if (fits32()) return static_cast<std::int32_t>(value_);
    return wide_ ? approx_ : static_cast<double>(value_);
  }

 private:
  std::uint64_t value_ = 0;
  double approx_ = 0;
  bool wide_ = false;
  bool seen_ = false;
};

// Reads characters while skipping spaces, tabs and line feeds wherever they occur.
class BlankSkipper {
 public:
  explicit BlankSkipper(std::string_view text) : text_(text) {}
  char Peek() {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
    return pos_ < text_.size() ? text_[pos_] : '\0';
  }
  void Next() { ++pos_; }

 private:
  static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }
  std::string_view text_;
  std::size_t pos_ = 0;
};

double LeadingRadix(BlankSkipper& in) {
  in.Next();  // '&'
  const char kind = Upper(in.Peek());
  int radix = 0;
  if (kind == 'H') radix = 16;
  if (kind == 'O') radix = 8;
  if (radix == 0) return 0;
  in.Next();
  RadixDigits digits;
  for (int d; (d = RadixDigit(in.Peek(), radix)) >= 0; in.Next()) digits.Add(d, radix);
  return digits.Value();
}

// The strict grammar, shared by the numeric test and the conversion.
enum class Strict { kNumber, kNotNumber, kOverflow };

Strict ParseStrict(std::string_view s, double& out) {
  out = 0;
  const std::size_t n = s.size();
  std::size_t i = 0;
  auto at = [&](std::size_t k) { return k < n ? s[k] : '\0'; };

  bool sign_seen = false, negative = false, currency = false, open_paren = false;
  for (;; ++i) {
    const char c = at(i);
    if (c == ' ') continue;
    if ((c == '+' || c == '-') && !sign_seen) {
      sign_seen = true;
      negative = c == '-';
    } else if (c == '$' && !currency) {
      currency = true;
    } else if (c == '(' && !open_paren) {
      open_paren = true;
    } else {
      break;
    }
  }

  double magnitude = 0;
  bool overflow = false;
  if (at(i) == '&' && (Upper(at(i + 1)) == 'H' || Upper(at(i + 1)) == 'O')) {
    // A radix form stands alone: no sign, currency or parentheses with it.
    if (sign_seen || currency || open_paren) return Strict::kNotNumber;
    const int radix = Upper(at(i + 1)) == 'H' ? 16 : 8;
    i += 2;
    RadixDigits digits;
    for (int d; (d = RadixDigit(at(i), radix)) >= 0; ++i) digits.Add(d, radix);
    if (!digits.seen()) return Strict::kNotNumber;
    overflow = !digits.fits32();
    magnitude = digits.Value();
  } else {
    DecimalDigits digits;
    while (IsDigit(at(i)) || (at(i) == ',' && i > 0 && IsDigit(s[i - 1]) && IsDigit(at(i + 1)))) {
      if (s[i] != ',') digits.IntegerDigit(s[i]);
      ++i;
    }
    if (at(i) == '.') {
      for (++i; IsDigit(at(i)); ++i) digits.FractionDigit(s[i]);
    }
    if (!digits.seen()) return Strict::kNotNumber;
    std::int64_t exponent = 0;
    if (Upper(at(i)) == 'E') {
      ++i;
      bool negative_exponent = false;
      if (at(i) == '+' || at(i) == '-') negative_exponent = s[i++] == '-';
      if (!IsDigit(at(i))) return Strict::kNotNumber;
      for (; IsDigit(at(i)); ++i) AddExponentDigit(exponent, s[i]);
      if (negative_exponent) exponent = -exponent;
    }
    overflow = digits.Magnitude(exponent, magnitude) == Outcome::kOverflow;
  }

  bool close_paren = false;
  for (; i < n; ++i) {
    const char c = s[i];
    if (c == ' ') continue;
    if ((c == '+' || c == '-') && !sign_seen) {
      sign_seen = true;
      negative = c == '-';
    } else if (c == '$' && !currency) {
      currency = true;
    } else if (c == ')' && open_paren && !close_paren) {
      close_paren = true;
    } else {
      return Strict::kNotNumber;
    }
  }
  if (open_paren != close_paren) return Strict::kNotNumber;
  if (open_paren && sign_seen) return Strict::kNotNumber;
  // Out of range only counts once the whole text has proved to be a number.
  if (overflow) return Strict::kOverflow;
  out = (negative || open_paren) && magnitude != 0 ? -magnitude : magnitude;
  return Strict::kNumber;
}

}  // namespace

double LeadingValue(std::string_view text) noexcept {
  if (double plain; PlainDigitsValue(text, plain)) return plain;
  BlankSkipper in(text);
  char c = in.Peek();
  if (c == '&') return LeadingRadix(in);
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    in.Next();
    c = in.Peek();
  }
  DecimalDigits digits;
  for (; IsDigit(c); in.Next(), c = in.Peek()) digits.IntegerDigit(c);
  if (c == '.') {
    in.Next();
    for (c = in.Peek(); IsDigit(c); in.Next(), c = in.Peek()) digits.FractionDigit(c);
  }
  if (!digits.seen()) return 0;
  std::int64_t exponent = 0;
  if (Upper(c) == 'E' || Upper(c) == 'D') {
    in.Next();
    c = in.Peek();
    bool negative_exponent = false;
    if (c == '+' || c == '-') {
      negative_exponent = c == '-';
      in.Next();
      c = in.Peek();
    }
    for (; IsDigit(c); in.Next(), c = in.Peek()) AddExponentDigit(exponent, c);
    if (negative_exponent) exponent = -exponent;
  }
  double magnitude;
  if (digits.Magnitude(exponent, magnitude) == Outcome::kOverflow) {
    magnitude = std::numeric_limits<double>::infinity();
  }
  return negative && magnitude != 0 ? -magnitude : magnitude;
}

bool IsNumeric(std::string_view text) noexcept {
  double value;
  if (PlainDigitsValue(text, value)) return true;
  return ParseStrict(text, value) == Strict::kNumber;
}

double StrictNumber(std::string_view text) {
  double value;
  switch (ParseStrict(text, value)) {
    case Strict::kNumber:
      return value;
    case Strict::kOverflow:
      throw RuntimeFailure(err::kOverflow);
    case Strict::kNotNumber:
      break;
  }
  throw RuntimeFailure(err::kTypeMismatch);
}

}  // namespace zav
