// Day numbers, their inverse and date differences.
#include "calendar/day_numbers.hpp"

#include <gtest/gtest.h>

#include <array>
#include <climits>

#include "basic/expect_failure.hpp"
#include "control/zav.hpp"

namespace zav {
namespace {

TEST(DayNumbers, KnownDates) {
  struct Case {
    std::int32_t y, m, d, jd;
  } cases[] = {
      {2000, 1, 1, 2451545},  {2004, 2, 29, 2453065}, {2004, 2, 30, 2453066},  // folds into March
      {2004, 13, 1, 2453372},                                                  // January 2005
      {2004, 3, 0, 2453065},                          // day 0: the day before the 1st
      {1900, 2, 29, 2415080}, {1900, 3, 1, 2415080},  // 1900 is not a leap year
      {2000, 2, 29, 2451604}, {2000, 3, 1, 2451605},  // 2000 is
  };
  ZAV zav;
  for (const auto& c : cases) {
    EXPECT_EQ(zav.JulianNumber(c.y, c.m, c.d), c.jd) << c.y << "-" << c.m << "-" << c.d;
  }
}

TEST(DayNumbers, InverseOverTheCalendarsRange) {
  const std::int32_t first = DayNumber(1900, 3, 1), last = DayNumber(2099, 12, 31);
  CalendarDate previous = DateOfDayNumber(first - 1);
  for (std::int32_t jd = first; jd <= last; ++jd) {
    const CalendarDate date = DateOfDayNumber(jd);
    ASSERT_EQ(DayNumber(date.year, date.month, date.day), jd);
    const bool next_day = date.day == previous.day + 1 && date.month == previous.month;
    const bool next_month = date.day == 1 && (date.month == previous.month + 1 ||
                                              (date.month == 1 && previous.month == 12));
    ASSERT_TRUE(next_day || next_month) << jd;
    previous = date;
  }
  EXPECT_EQ(DateOfDayNumber(2451545), (CalendarDate{2000, 1, 1}));
}

TEST(DayNumbers, DifferenceOfDateTexts) {
  struct Case {
    const char *day1, *day2, *month1, *month2, *year1, *year2;
    std::int32_t expected;
  } cases[] = {
      {"08", "07", "03", "03", "2005", "2005", 1},
      {"01", "02", "03", "03", "2005", "2005", -1},
      {"05", "5", "03", "3", "2005", "2005", 0},
      {"", "28", "03", "02", "2005", "2005", 0},  // day 0 of March is 28 February
      {"1", "31", "1", "12", "2005", "2004", 1},
      {"2.5", "2", "3", "3", "2005", "2005", 0},   // halves go to the even day
      {"31x", "30", "3", "3", "2005", "2005", 1},  // the leading number counts
  };
  ZAV zav;
  for (const auto& c : cases) {
    const Variant v = zav.ObtenDifer(c.day1, c.day2, c.month1, c.month2, c.year1, c.year2);
    EXPECT_EQ(v, Variant::Long(c.expected)) << c.day1 << "/" << c.month1 << "/" << c.year1;
  }
}

TEST(DayNumbers, OverflowIsARunTimeFailure) {
  ZAV zav;
  EXPECT_RUNTIME_FAILURE(err::kOverflow, zav.JulianNumber(1500000, 1, 1));
  EXPECT_RUNTIME_FAILURE(err::kOverflow, zav.JulianNumber(2000, 1, INT_MAX));
  EXPECT_RUNTIME_FAILURE(err::kOverflow, zav.ObtenDifer("1", "1", "1", "1", "99999999999", "2000"));
  EXPECT_RUNTIME_FAILURE(err::kOverflow,
                         zav.ObtenDifer("2000000000", "-2000000000", "1", "1", "2000", "2000"));
  std::int32_t y = 1, m = 2, d = 3;
  EXPECT_RUNTIME_FAILURE(err::kOverflow, zav.JulianToDate(INT_MAX - 1000, y, m, d));
  EXPECT_EQ((std::array{y, m, d}), (std::array{1, 2, 3}));  // untouched
  EXPECT_NO_THROW(zav.JulianNumber(1000000, 12, 31));
}

}  // namespace
}  // namespace zav
