// Day numbers and date differences, holy week, the listed holidays of a month and the next
// business day.
#include "calendar/holidays.hpp"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "calendar/business_days.hpp"
#include "calendar/day_numbers.hpp"
#include "control/zav.hpp"
#include "platform/temp_drives.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;

std::vector<std::int32_t> Table(const ZAV& zav, int count) {
  const auto& t = zav.working().holidays;
  return {t.begin(), t.begin() + count};
}

TEST(DayNumbers, KnownDatesAndOverflow) {
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
  EXPECT_RUNTIME_FAILURE(err::kOverflow, zav.JulianNumber(1500000, 1, 1));
  EXPECT_RUNTIME_FAILURE(err::kOverflow, zav.JulianNumber(2000, 1, INT_MAX));
  EXPECT_NO_THROW(zav.JulianNumber(1000000, 12, 31));
  std::int32_t y = 1, m = 2, d = 3;
  EXPECT_RUNTIME_FAILURE(err::kOverflow, zav.JulianToDate(INT_MAX - 1000, y, m, d));
  EXPECT_EQ((std::array{y, m, d}), (std::array{1, 2, 3}));  // untouched
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
  EXPECT_RUNTIME_FAILURE(err::kOverflow, zav.ObtenDifer("1", "1", "1", "1", "99999999999", "2000"));
  EXPECT_RUNTIME_FAILURE(err::kOverflow,
                         zav.ObtenDifer("2000000000", "-2000000000", "1", "1", "2000", "2000"));
}

TEST(HolyWeek, ThursdayAndFridayOfTheMonth) {
  struct Case {
    std::int16_t year, month;
    std::vector<std::int32_t> days;  // Good Friday first
  } cases[] = {
      {2002, 3, {29, 28}}, {2003, 4, {18, 17}},
      {2018, 3, {30, 29}}, {2018, 4, {}},   // Easter on 1 April
      {1994, 3, {31}},     {1994, 4, {1}},  // Easter on 3 April
  };
  for (const auto& c : cases) {
    ZAV zav;
    const int count = zav.CalculaSemanaSanta(c.year, c.month);
    EXPECT_EQ(Table(zav, count), c.days) << c.year << "-" << c.month;
  }
}

// Against the Meeus/Jones/Butcher computation of Easter.
TEST(HolyWeek, EasterAgreesWithAnIndependentRule) {
  for (int y = 1583; y <= 4099; ++y) {
    const int a = y % 19, b = y / 100, c = y % 100, d = b / 4, e = b % 4, f = (b + 8) / 25;
    const int g = (b - f + 1) / 3, h = (19 * a + b - d - g + 15) % 30, i = c / 4, k = c % 4;
    const int l = (32 + 2 * e + 2 * i - h - k) % 7, m = (a + 11 * h + 22 * l) / 451;
    const MonthDay expected{static_cast<std::int16_t>((h + l - 7 * m + 114) / 31),
                            static_cast<std::int16_t>((h + l - 7 * m + 114) % 31 + 1)};
    ASSERT_EQ(EasterSunday(static_cast<std::int16_t>(y)), expected) << y;
  }
  EXPECT_RUNTIME_FAILURE(err::kOverflow, EasterSunday(30000));
  EXPECT_RUNTIME_FAILURE(11, EasterSunday(-32762));  // the rule divides by zero there
}

TEST(ListedDays, ValueParsing) {
  struct Case {
    const char* value;
    std::vector<std::int32_t> days;
  } cases[] = {
      {"1,21", {1, 21}}, {"16,", {16, 0}},    {",5", {0, 5}},
      {"", {}},          {"1,,2", {1, 0, 2}}, {"3 y 07", {3, 0, 0, 7}},
  };
  for (const auto& c : cases) {
    HolidayTable table{};
    table[0] = 99;
    const int count = AppendListedDays(c.value, table, 1);
    EXPECT_EQ(std::vector<std::int32_t>(table.begin() + 1, table.begin() + count), c.days)
        << c.value;
    EXPECT_EQ(table[0], 99);
  }
  HolidayTable table{};
  EXPECT_RUNTIME_FAILURE(err::kOverflow, AppendListedDays("1,99999999999", table, 0));
}

class HolidayFile : public ::testing::Test {
 protected:
  HolidayFile() {
    drives_.Write("C:/windows/kiv.ini",
                  "; non-working days\r\n[Otros]\r\n3=9\r\n[ inhabiles ]\r\n 3 = 1,21 \r\n"
                  "4=3\r\n5=17\r\n6=17\r\n7=1,2,3,4,5,6,7,8,9,10,11\r\n");
  }
  testing::TempDrives drives_;
};

TEST_F(HolidayFile, MonthTableIsHolyWeekThenListedDays) {
  struct Case {
    const char *year, *month;
    std::vector<std::int32_t> days;
  } cases[] = {
      {"2002", "03", {29, 28, 1, 21}},
      {"2002", "3", {29, 28, 1, 21}},
      {"2002", "08", {}},                              // no key for August
      {"2004", "07", {1, 2, 3, 4, 5, 6, 7, 8, 9, 1}},  // only 19 characters are read
  };
  for (const auto& c : cases) {
    ZAV zav;
    const int count = zav.CargaDiasInhabiles(c.year, c.month);
    EXPECT_EQ(Table(zav, count), c.days) << c.year << "-" << c.month;
  }
  ZAV zav;
  zav.CargaDiasInhabiles("2002", "03");
  EXPECT_EQ(zav.working().settings, std::string("1,21") + std::string(16, '\0'));
  // Without the file only holy week counts.
  fs::remove(drives_.native("C:/windows/kiv.ini"));
  EXPECT_EQ(zav.CargaDiasInhabiles("2002", "03"), 2);
  setenv("ZAV_DRIVES", "A=removable:/nonexistent-floppy", 1);  // no C drive at all
  EXPECT_EQ(zav.CargaDiasInhabiles("2002", "03"), 2);
  EXPECT_RUNTIME_FAILURE(err::kOverflow, zav.CargaDiasInhabiles("40000", "03"));
}

TEST_F(HolidayFile, BusinessDays) {
  struct Case {
    std::string year, month, day, expected;
  } cases[] = {
      {"2004", "03", "17", "2004-03-17"},  // Wednesday
      {"2004", "09", "17", "2004-09-20"},  // Friday moves to Monday
      {"2004", "04", "17", "2004-04-19"},  // Saturday
      {"2004", "10", "17", "2004-10-18"},  // Sunday
      {"2004", "06", "17", "2004-06-21"},  // listed Thursday, then Friday
      {"2004", "05", "17", "2004-05-18"},  // listed Monday
      // Maundy Thursday, Good Friday, the weekend, then Monday 1 April, listed for March.
      {"2002", "03", "28", "2002-04-02"},
      // Friday to Monday 3 May, a day listed for April: the table stays April's.
      {"2004", "04", "30", "2004-05-04"},
      {"2004", "3", "8", "2004-03-08"},
  };
  ZAV zav;
  for (auto c : cases) {
    zav.CalculaDiaHabil(c.year, c.month, c.day);
    EXPECT_EQ(c.year + "-" + c.month + "-" + c.day, c.expected);
  }

  std::string year = "99999", month = "03", day = "17";
  EXPECT_RUNTIME_FAILURE(err::kOverflow, zav.CalculaDiaHabil(year, month, day));
  EXPECT_EQ(year + month + day, "999990317");
}

}  // namespace
}  // namespace zav
