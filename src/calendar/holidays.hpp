// The non-working days of one month: the Thursday and Friday of holy week, then the days
// listed for that month in the holiday settings file. They fill the control's private
// holiday table (day-of-month numbers only) from index 0.
//
// The settings file is "c:\windows\kiv.ini" on the control's drives, section "Inhabiles",
// the key being the month number ("3" for March). Its value, at most 19 characters, lists
// days as runs of digits; any other character ends a number, so "1,21" lists days 1 and
// 21, a trailing separator adds a 0 and an empty value adds nothing. A missing file,
// section or key lists no days.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zav {

inline constexpr std::string_view kHolidaySettingsFile = "c:\\windows\\kiv.ini";
inline constexpr std::string_view kHolidaySection = "Inhabiles";
inline constexpr std::size_t kHolidaySettingsBuffer = 20;

using HolidayTable = std::array<std::int32_t, 33>;

struct MonthDay {
  std::int16_t month = 0;
  std::int16_t day = 0;
  friend bool operator==(const MonthDay&, const MonthDay&) = default;
};

// Easter Sunday of a Gregorian year, in 16-bit arithmetic: a step outside the 16-bit range
// is an overflow (err::kOverflow).
MonthDay EasterSunday(std::int16_t year);

// Stores the days a settings value lists into the table from index `count`; returns the
// new count. A number beyond the 32-bit range is an overflow; a full table is error 9.
int AppendListedDays(std::string_view value, HolidayTable& table, int count);

// The value of one month's key in the holiday settings file, as the control's 20-character
// buffer receives it (at most 19 characters); "" when there is none.
std::string ReadHolidaySetting(std::string_view key);

}  // namespace zav
