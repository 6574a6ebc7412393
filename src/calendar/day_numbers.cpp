// Day numbers and date differences: JulianNumber, JulianToDate and ObtenDifer.
#include "calendar/day_numbers.hpp"

#include <string>

#include "basic/conversions.hpp"
#include "basic/numeric_text.hpp"
#include "calendar/checked.hpp"
#include "control/zav.hpp"

namespace zav {

using checked::Add;
using checked::Div;
using checked::Mul;
using checked::Sub;
using L32 = std::int32_t;

// Fliegel and Van Flandern.
std::int32_t DayNumber(std::int32_t year, std::int32_t month, std::int32_t day) {
  const L32 a = Div<L32>(Sub<L32>(month, 14), 12);  // -1 for January and February
  const L32 t1 = Div<L32>(Mul<L32>(367, Sub<L32>(Sub<L32>(month, 2), Mul<L32>(12, a))), 12);
  const L32 t2 = Div<L32>(Mul<L32>(1461, Add<L32>(Add<L32>(year, 4800), a)), 4);
  const L32 t3 = Div<L32>(Mul<L32>(3, Div<L32>(Add<L32>(Add<L32>(year, 4900), a), 100)), 4);
  return Sub<L32>(Add<L32>(Sub<L32>(Add<L32>(t1, t2), t3), day), 32075);
}

CalendarDate DateOfDayNumber(std::int32_t jd) {
  L32 l = Add<L32>(jd, 68569);
  const L32 n = Div<L32>(Mul<L32>(4, l), 146097);
  l = Sub<L32>(l, Div<L32>(Add<L32>(Mul<L32>(146097, n), 3), 4));
  const L32 i = Div<L32>(Mul<L32>(4000, Add<L32>(l, 1)), 1461001);
  l = Add<L32>(Sub<L32>(l, Div<L32>(Mul<L32>(1461, i), 4)), 31);
  const L32 j = Div<L32>(Mul<L32>(80, l), 2447);
  CalendarDate date;
  date.day = Sub<L32>(l, Div<L32>(Mul<L32>(2447, j), 80));
  l = Div<L32>(j, 11);
  date.month = Sub<L32>(Add<L32>(j, 2), Mul<L32>(12, l));
  date.year = Add<L32>(Add<L32>(Mul<L32>(100, Sub<L32>(n, 49)), i), l);
  return date;
}

int WeekdayOf(std::int32_t jd) noexcept {
  // Day number 0 was a Monday.
  return static_cast<int>(((jd % 7) + 7) % 7) + 1;
}

std::int32_t DatePartValue(std::string_view text) { return ToLong(LeadingValue(text)); }

std::int32_t ZAV::JulianNumber(std::int32_t Ano, std::int32_t Mes, std::int32_t Dia) {
  return DayNumber(Ano, Mes, Dia);
}

void ZAV::JulianToDate(std::int32_t jd, std::int32_t& Ano, std::int32_t& Mes, std::int32_t& Dia) {
  const CalendarDate date = DateOfDayNumber(jd);
  Dia = date.day;
  Mes = date.month;
  Ano = date.year;
}

Variant ZAV::ObtenDifer(std::string sDay, std::string sDia, std::string sMonth, std::string sMes,
                        std::string sYear, std::string sAno) {
  const L32 first = JulianNumber(DatePartValue(sYear), DatePartValue(sMonth), DatePartValue(sDay));
  const L32 second = JulianNumber(DatePartValue(sAno), DatePartValue(sMes), DatePartValue(sDia));
  return Variant::Long(Sub<L32>(first, second));
}

}  // namespace zav
