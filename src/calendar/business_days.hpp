// The next business day: CalculaDiaHabil moves a date forward over the non-working days
// of its month (by day-of-month only, as the holiday table holds them) and over Fridays,
// Saturdays and Sundays, which all move on to the following Monday. The payment deadline
// goes through it before it is compared with the server's date.
#pragma once

#include <cstdint>

#include "calendar/day_numbers.hpp"
#include "calendar/holidays.hpp"

namespace zav {

// The first date, from the given one on, that is Monday to Thursday and whose day of the
// month is none of the first `listed` entries of the table. The answer keeps the date as
// given (even out of range) when it already passes; a moved date is a real one.
CalendarDate NextBusinessDay(CalendarDate date, const HolidayTable& table, int listed);

}  // namespace zav
