// CalculaDiaHabil: the payment deadline moved to a business day.
#include "calendar/business_days.hpp"

#include <algorithm>

#include "basic/number_text.hpp"
#include "calendar/checked.hpp"
#include "control/zav.hpp"

namespace zav {

CalendarDate NextBusinessDay(CalendarDate date, const HolidayTable& table, int listed) {
  const auto first = table.begin();
  const auto last = first + std::clamp(listed, 0, static_cast<int>(table.size()));
  for (;;) {
    const std::int32_t jd = DayNumber(date.year, date.month, date.day);
    if (std::find(first, last, date.day) != last) {
      date = DateOfDayNumber(checked::Add<std::int32_t>(jd, 1));
      continue;
    }
    const int weekday = WeekdayOf(jd);
    if (weekday < 5) return date;  // Monday to Thursday; a Friday moves on too
    date = DateOfDayNumber(checked::Add<std::int32_t>(jd, 8 - weekday));
  }
}

void ZAV::CalculaDiaHabil(std::string& sAno, std::string& sMes, std::string& sDia) {
  // The table is built for the month given, and stays so if the date moves on.
  const int listed = CargaDiasInhabiles(sAno, sMes);
  CalendarDate date;
  date.day = DatePartValue(sDia);
  date.month = DatePartValue(sMes);
  date.year = DatePartValue(sAno);
  date = NextBusinessDay(date, w_.holidays, listed);

  std::string year = FormatZeroPadded(date.year, 4);
  std::string month = FormatZeroPadded(date.month, 2);
  std::string day = FormatZeroPadded(date.day, 2);
  sAno = std::move(year);
  sMes = std::move(month);
  sDia = std::move(day);
}

}  // namespace zav
