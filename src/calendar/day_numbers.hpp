// Day numbers: the Julian Day Number of a Gregorian date (1 January 2000 is 2451545),
// on which the control does all its date arithmetic. Adding n days is DayNumber, plus n,
// then DateOfDayNumber.
//
// The arithmetic is 32-bit and signed, every division truncating toward zero; a step that
// leaves the 32-bit range is an overflow (RuntimeFailure err::kOverflow). Nothing is
// validated: a month or day outside its range folds into a neighbouring date (30 February
// 2004 is 1 March 2004; day 0 is the last day of the month before).
#pragma once

#include <cstdint>
#include <string_view>

namespace zav {

struct CalendarDate {
  std::int32_t year = 0;
  std::int32_t month = 0;
  std::int32_t day = 0;
  friend bool operator==(const CalendarDate&, const CalendarDate&) = default;
};

std::int32_t DayNumber(std::int32_t year, std::int32_t month, std::int32_t day);
CalendarDate DateOfDayNumber(std::int32_t jd);

// The weekday of a day number, Monday 1 .. Sunday 7.
int WeekdayOf(std::int32_t jd) noexcept;

// A date part given as text: its leading-number value rounded to a whole number, halves
// to even ("05" and "5" are 5, "" is 0). Out of the 32-bit range: overflow.
std::int32_t DatePartValue(std::string_view text);

}  // namespace zav
