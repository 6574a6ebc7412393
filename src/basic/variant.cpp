#include "basic/variant.hpp"

#include <charconv>
#include <chrono>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>

#include "basic/conversions.hpp"
#include "basic/number_text.hpp"
#include "basic/numeric_text.hpp"
#include "basic/runtime_failure.hpp"

namespace zav {

VarType Variant::type() const {
  switch (value_.index()) {
    case 0:
      return VarType::kEmpty;
    case 1:
      return VarType::kInteger;
    case 2:
      return VarType::kLong;
    case 3:
      return VarType::kDouble;
    case 4:
      return VarType::kString;
    case 5:
      return VarType::kBoolean;
    case 6:
      return VarType::kDate;
    default:
      return VarType::kObject;
  }
}

bool Variant::IsNumericType() const {
  switch (type()) {
    case VarType::kInteger:
    case VarType::kLong:
    case VarType::kDouble:
    case VarType::kBoolean:
    case VarType::kDate:
      return true;
    default:
      return false;
  }
}

double Variant::ToDouble() const {
  switch (type()) {
    case VarType::kEmpty:
      return 0;
    case VarType::kInteger:
      return std::get<std::int16_t>(value_);
    case VarType::kLong:
      return std::get<std::int32_t>(value_);
    case VarType::kDouble:
      return std::get<double>(value_);
    case VarType::kString:
      return StrictNumber(std::get<std::string>(value_));
    case VarType::kBoolean:
      return std::get<bool>(value_) ? -1 : 0;
    case VarType::kDate:
      return std::get<Date>(value_).serial;
    case VarType::kObject:
      break;
  }
  throw RuntimeFailure(err::kTypeMismatch);
}

std::int16_t Variant::ToInteger() const { return zav::ToInteger(ToDouble()); }
std::int32_t Variant::ToLong() const { return zav::ToLong(ToDouble()); }
std::uint8_t Variant::ToByte() const { return zav::ToByte(ToDouble()); }

bool Variant::ToBoolean() const {
  if (type() == VarType::kString) {
    const std::string& s = std::get<std::string>(value_);
    std::string upper;
    for (char c : s) upper.push_back(static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c));
    if (upper == "TRUE") return true;
    if (upper == "FALSE") return false;
  }
  if (type() == VarType::kBoolean) return std::get<bool>(value_);
  return ToDouble() != 0;
}

std::string Variant::ToText() const {
  switch (type()) {
    case VarType::kEmpty:
      return "";
    case VarType::kString:
      return std::get<std::string>(value_);
    case VarType::kBoolean:
      return std::get<bool>(value_) ? "True" : "False";
    case VarType::kObject:
      throw RuntimeFailure(err::kTypeMismatch);
    default:
      return GeneralNumberText(ToDouble());
  }
}

namespace {

// A number of `min` to `max` digits at the front of `text`, taken off it.
std::optional<int> TakeNumber(std::string_view& text, std::size_t min, std::size_t max) {
  std::size_t n = 0;
  while (n < text.size() && n < max + 1 && text[n] >= '0' && text[n] <= '9') ++n;
  if (n < min || n > max) return std::nullopt;
  int value = 0;
  std::from_chars(text.data(), text.data() + n, value);
  text.remove_prefix(n);
  return value;
}

bool TakeSeparator(std::string_view& text, char separator) {
  if (text.empty() || text.front() != separator) return false;
  text.remove_prefix(1);
  return true;
}

// A date written as text, read as the control's locale reads it: day/month/year, the form
// of the server date ("07/03/2005", one or two digits for the day and the month), or
// year-month-day with dashes ("2005-03-07"). Blanks around it do not count. Nothing for
// any other text, or for a day that does not exist.
std::optional<Date> DateFromText(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  std::optional<int> d, m, y;
  if (text.find('/') != std::string_view::npos) {
    d = TakeNumber(text, 1, 2);
    if (d && TakeSeparator(text, '/')) m = TakeNumber(text, 1, 2);
    if (m && TakeSeparator(text, '/')) y = TakeNumber(text, 4, 4);
  } else {
    y = TakeNumber(text, 4, 4);
    if (y && TakeSeparator(text, '-')) m = TakeNumber(text, 1, 2);
    if (m && TakeSeparator(text, '-')) d = TakeNumber(text, 1, 2);
  }
  if (!d || !m || !y || !text.empty() || *y < 100) return std::nullopt;
  namespace chrono = std::chrono;
  const chrono::year_month_day date{chrono::year(*y), chrono::month(static_cast<unsigned>(*m)),
                                    chrono::day(static_cast<unsigned>(*d))};
  if (!date.ok()) return std::nullopt;
  const chrono::sys_days epoch{chrono::year(1899) / chrono::December / 30};
  return Date{static_cast<double>((chrono::sys_days(date) - epoch).count())};
}

}  // namespace

Date Variant::ToDate() const {
  if (type() == VarType::kDate) return std::get<Date>(value_);
  if (type() == VarType::kString) {
    if (const auto date = DateFromText(std::get<std::string>(value_))) return *date;
    throw RuntimeFailure(err::kTypeMismatch);
  }
  return Date{ToDouble()};
}

namespace {

enum class Op { kAdd, kSubtract, kMultiply };

double Apply(Op op, double a, double b) {
  switch (op) {
    case Op::kAdd:
      return a + b;
    case Op::kSubtract:
      return a - b;
    case Op::kMultiply:
      return a * b;
  }
  return 0;
}

// The rank of a numeric subtype in the widening order Integer < Long < Double.
int Rank(VarType t) {
  switch (t) {
    case VarType::kEmpty:
    case VarType::kBoolean:
    case VarType::kInteger:
      return 0;
    case VarType::kLong:
      return 1;
    default:
      return 2;
  }
}

Variant Arithmetic(Op op, const Variant& a, const Variant& b) {
  const VarType ta = a.type();
  const VarType tb = b.type();
  if (ta == VarType::kDouble && tb == VarType::kDouble) {
    // The running totals: two doubles give a double, as the general path below would.
    const double result = Apply(op, a.dbl(), b.dbl());
    if (!std::isfinite(result)) throw RuntimeFailure(err::kOverflow);
    return Variant::Double(result);
  }
  if (ta == VarType::kObject || tb == VarType::kObject) throw RuntimeFailure(err::kTypeMismatch);
  if (op == Op::kAdd) {
    // "+" joins two texts, and a text with nothing stays that text.
    const bool sa = ta == VarType::kString, sb = tb == VarType::kString;
    if ((sa && sb) || (sa && tb == VarType::kEmpty) || (ta == VarType::kEmpty && sb)) {
      return Variant::String(a.ToText() + b.ToText());
    }
  }
  if (ta == VarType::kEmpty && tb == VarType::kEmpty) return Variant::Integer(0);
  const double result = Apply(op, a.ToDouble(), b.ToDouble());
  if (!std::isfinite(result)) throw RuntimeFailure(err::kOverflow);
  if (ta == VarType::kString || tb == VarType::kString) return Variant::Double(result);
  if (ta == VarType::kDate || tb == VarType::kDate) {
    if (op == Op::kAdd || (op == Op::kSubtract && !(ta == VarType::kDate && tb == VarType::kDate)))
      return Variant::FromDate(Date{result});
    return Variant::Double(result);
  }
  int rank = std::max(Rank(ta), Rank(tb));
  if (rank == 0) {
    if (result >= std::numeric_limits<std::int16_t>::min() &&
        result <= std::numeric_limits<std::int16_t>::max())
      return Variant::Integer(static_cast<std::int16_t>(result));
    rank = 1;  // the sum no longer fits: widen
  }
  if (rank == 1) {
    if (result >= std::numeric_limits<std::int32_t>::min() &&
        result <= std::numeric_limits<std::int32_t>::max())
      return Variant::Long(static_cast<std::int32_t>(result));
  }
  return Variant::Double(result);
}

}  // namespace

Variant operator+(const Variant& a, const Variant& b) { return Arithmetic(Op::kAdd, a, b); }

void Variant::AddDoubleByRule(double v) { *this = *this + Variant::Double(v); }
Variant operator-(const Variant& a, const Variant& b) { return Arithmetic(Op::kSubtract, a, b); }
Variant operator*(const Variant& a, const Variant& b) { return Arithmetic(Op::kMultiply, a, b); }

int Compare(const Variant& a, const Variant& b) {
  const VarType ta = a.type(), tb = b.type();
  if (ta == VarType::kObject || tb == VarType::kObject) throw RuntimeFailure(err::kTypeMismatch);
  const bool sa = ta == VarType::kString, sb = tb == VarType::kString;
  if ((sa && sb) || (sa && tb == VarType::kEmpty) || (ta == VarType::kEmpty && sb)) {
    const int c = a.ToText().compare(b.ToText());
    return (c > 0) - (c < 0);
  }
  const double x = a.ToDouble(), y = b.ToDouble();
  return (x > y) - (x < y);
}

}  // namespace zav
