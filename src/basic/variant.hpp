// Variant: the control's dynamically typed value. It holds nothing (Empty), a 16-bit
// or 32-bit integer, a double, a text, a Boolean, a date or an object reference, and
// performs the arithmetic, comparisons and conversions the control relies on:
//  - an Empty variant is 0 in arithmetic and "" as text;
//  - integer sums that leave their range widen (16-bit to 32-bit to double);
//  - a text taking part in arithmetic must be numeric, else type mismatch (13);
//  - a Boolean is -1 (True) or 0 as a number and "True"/"False" as text.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

namespace zav {

// The classic type tags, as a host reads them.
enum class VarType : std::uint16_t {
  kEmpty = 0,
  kInteger = 2,
  kLong = 3,
  kDouble = 5,
  kDate = 7,
  kString = 8,
  kObject = 9,
  kBoolean = 11,
};

// Any object a host may store in a variant property. Identity is what matters:
// reading the property back yields the same object.
class VariantObject {
 public:
  virtual ~VariantObject() = default;
};

// A date is the classic serial number: days since 30 December 1899, the fraction
// being the time of day.
struct Date {
  double serial = 0;
  friend bool operator==(const Date&, const Date&) = default;
};

class Variant {
 public:
  Variant() = default;
  static Variant Integer(std::int16_t v) { return Variant(v); }
  static Variant Long(std::int32_t v) { return Variant(v); }
  static Variant Double(double v) { return Variant(v); }
  static Variant String(std::string v) { return Variant(std::move(v)); }
  static Variant Boolean(bool v) { return Variant(v); }
  static Variant FromDate(Date v) { return Variant(v); }
  static Variant Object(std::shared_ptr<VariantObject> v) { return Variant(std::move(v)); }

  VarType type() const;
  bool IsEmpty() const { return type() == VarType::kEmpty; }
  bool IsNumericType() const;  // integer, long, double, date or Boolean

  // Conversions. Numbers from text use the strict numeric conversion (13 when the
  // text is not a number); integer conversions round halves to even and fail with
  // overflow (6) out of range. An object converts to nothing: 13.
  double ToDouble() const;
  std::int16_t ToInteger() const;
  std::int32_t ToLong() const;
  std::uint8_t ToByte() const;
  bool ToBoolean() const;
  std::string ToText() const;  // general number text for numbers, "" for Empty
  // A text converts when it is a date as the control's locale writes one: day/month/year
  // ("07/03/2005") or year-month-day ("2005-03-07"); any other text is 13.
  Date ToDate() const;

  // Accessors for a known subtype (undefined for another subtype: check type() first).
  const std::string& text() const { return std::get<std::string>(value_); }
  double dbl() const { return std::get<double>(value_); }
  const std::shared_ptr<VariantObject>& object() const {
    return std::get<std::shared_ptr<VariantObject>>(value_);
  }

  // *this = *this + Variant::Double(v), in place when this already holds a double (the
  // running totals): the same result, the same overflow failure (6, leaving this as it
  // was), no temporary.
  void AddDouble(double v) {
    if (double* d = std::get_if<double>(&value_)) {
      const double sum = *d + v;
      if (std::isfinite(sum)) {
        *d = sum;
        return;
      }
    }
    AddDoubleByRule(v);
  }

  friend Variant operator+(const Variant& a, const Variant& b);
  friend Variant operator-(const Variant& a, const Variant& b);
  friend Variant operator*(const Variant& a, const Variant& b);

  // Same subtype and value (objects: same reference). Used by tests and hosts.
  friend bool operator==(const Variant& a, const Variant& b) = default;

 private:
  using Storage = std::variant<std::monostate, std::int16_t, std::int32_t, double, std::string,
                               bool, Date, std::shared_ptr<VariantObject>>;
  template <typename T>
  explicit Variant(T v) : value_(std::move(v)) {}

  // The general addition for AddDouble, out of line so that the running totals' usual
  // case stays small enough to inline.
  void AddDoubleByRule(double v);

  Storage value_;
};

// Comparison as the control's "=" and "<" on variants: numbers numerically, texts
// byte by byte, a number against a numeric text numerically; Empty is 0 or "".
// Returns negative, 0 or positive. Type mismatch (13) when not comparable.
int Compare(const Variant& a, const Variant& b);

}  // namespace zav
