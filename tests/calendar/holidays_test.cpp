// Holy week, the listed holidays of a month and the next business day.
#include "calendar/holidays.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "calendar/business_days.hpp"
#include "control/zav.hpp"
#include "platform/temp_drives.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;

std::vector<std::int32_t> Table(const ZAV& zav, int count) {
  const auto& t = zav.working().holidays;
  return {t.begin(), t.begin() + count};
}

TEST(HolyWeek, ThursdayAndFridayOfTheMonth) {
  struct Case {
    std::int16_t year, month;
    std::vector<std::int32_t> days;  // Good Friday first
  } cases[] = {
      {2002, 3, {29, 28}}, {2016, 3, {25, 24}}, {2016, 4, {}},
      {2003, 4, {18, 17}}, {2018, 3, {30, 29}}, {2018, 4, {}},  // Easter on 1 April
      {1994, 3, {31}},     {1994, 4, {1}},                      // Easter on 3 April
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

// A C drive in a temporary folder, holding c:\windows\kiv.ini.
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
}

TEST_F(HolidayFile, WithoutTheFileOnlyHolyWeekCounts) {
  ZAV zav;
  fs::remove(drives_.native("C:/windows/kiv.ini"));
  EXPECT_EQ(zav.CargaDiasInhabiles("2002", "03"), 2);
  setenv("ZAV_DRIVES", "A=removable:/nonexistent-floppy", 1);  // no C drive at all
  EXPECT_EQ(zav.CargaDiasInhabiles("2002", "03"), 2);
  EXPECT_RUNTIME_FAILURE(err::kOverflow, zav.CargaDiasInhabiles("40000", "03"));
}

TEST_F(HolidayFile, BusinessDays) {
  struct Case {
    std::string year, month, day, expected;  // expected as YYYY-MM-DD
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
