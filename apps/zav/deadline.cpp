#include "deadline.hpp"

#include <algorithm>
#include <iostream>
#include <nlohmann/json.hpp>
#include <vector>

#include "basic/number_text.hpp"
#include "basic/runtime_failure.hpp"
#include "calendar/business_days.hpp"
#include "calendar/day_numbers.hpp"
#include "calendar/holidays.hpp"
#include "command_line.hpp"
#include "control/zav.hpp"
#include "api/upload.hpp"
#include "platform/profile.hpp"

namespace zavcli {

namespace {

constexpr const char* kWeekdays[] = {"",         "Monday", "Tuesday",  "Wednesday",
                                     "Thursday", "Friday", "Saturday", "Sunday"};

bool AllDigits(const std::string& s, std::size_t n) {
  return s.size() == n && s.find_first_not_of("0123456789") == std::string::npos;
}

std::string Shown(const zav::CalendarDate& d) {
  return zav::FormatZeroPadded(d.day, 2) + "/" + zav::FormatZeroPadded(d.month, 2) + "/" +
         zav::FormatZeroPadded(d.year, 4);
}

// Why a period is not one the header takes (empty when it is): a year from 1997, a month
// 01 to 14, July 1997 the first.
std::string PeriodProblem(const std::string& period) {
  if (!AllDigits(period, 6)) return "--period must be YYYYMM, six digits";
  const int year = std::stoi(period.substr(0, 4)), month = std::stoi(period.substr(4, 2));
  if (month < 1 || month > 14) return "the period month must be 01 to 14";
  if (year < 1997 || (year == 1997 && month < 7)) return "periods start with July 1997 (199707)";
  return "";
}

struct Answer {
  zav::CalendarDate written;  // the deadline as the generating program writes it
  zav::CalendarDate last_day;
  std::vector<int> non_working;  // the days of the written deadline's month that do not count
};

// The deadline the file of `period` carries: the 17th of the month after the period; after
// December and the special periods 13 and 14, the 17th of January.
zav::CalendarDate WrittenDeadline(int year, int month) {
  return month >= 12 ? zav::CalendarDate{year + 1, 1, 17} : zav::CalendarDate{year, month + 1, 17};
}

std::vector<int> Listed(const zav::HolidayTable& table, int count) {
  std::vector<int> days;
  for (int k = 0; k < count; ++k) {
    const int d = table[static_cast<std::size_t>(k)];
    if (d > 0 && std::find(days.begin(), days.end(), d) == days.end()) days.push_back(d);
  }
  std::sort(days.begin(), days.end());
  return days;
}

Answer Compute(const DeadlineRequest& r) {
  const int year = std::stoi(r.period.substr(0, 4)), month = std::stoi(r.period.substr(4, 2));
  Answer a;
  a.written = WrittenDeadline(year, month);
  zav::ZAV z;
  const auto y16 = static_cast<std::int16_t>(a.written.year);
  const auto m16 = static_cast<std::int16_t>(a.written.month);
  if (!r.holidays) {
    // The control's own steps and its own settings file, on the control's drives.
    std::string sy = zav::FormatZeroPadded(a.written.year, 4);
    std::string sm = zav::FormatZeroPadded(a.written.month, 2);
    std::string sd = zav::FormatZeroPadded(a.written.day, 2);
    a.non_working = Listed(z.working().holidays, z.CargaDiasInhabiles(sy, sm));
    z.CalculaDiaHabil(sy, sm, sd);
    a.last_day = {zav::DatePartValue(sy), zav::DatePartValue(sm), zav::DatePartValue(sd)};
    return a;
  }
  // The same table the control builds, with the month's key read from the given file.
  int count = z.CalculaSemanaSanta(y16, m16);
  std::string value =
      zav::ReadProfileString(*r.holidays, zav::kHolidaySection, std::to_string(a.written.month), "",
                             zav::kHolidaySettingsBuffer);
  value = value.substr(0, value.find('\0'));
  zav::HolidayTable& table = z.working().holidays;
  count = zav::AppendListedDays(value, table, count);
  a.last_day = zav::NextBusinessDay(a.written, table, count);
  a.non_working = Listed(table, count);
  return a;
}

}  // namespace

CLI::App* AddDeadlineCommand(CLI::App& app, DeadlineRequest& r) {
  CLI::App* cmd = app.add_subcommand(
      "deadline",
      "The last day to pay a period: the deadline its file carries (the 17th of the next "
      "month) moved on, as the control moves it, over Fridays, weekends, holy week and the "
      "month's listed holidays; and the days left from today (negative: late, the control "
      "refuses the file with message 253)");
  cmd->footer(
      "Exit status: 0; 2 the holiday settings cannot be read; 64 a period or date that is "
      "not one");
  cmd->add_option("--period", r.period,
                  "Payment period YYYYMM: year from 1997, month 01 to 14 (13 and 14 are the "
                  "special periods, due in January like December)")
      ->required();
  cmd->add_option("--holidays", r.holidays,
                  "Holiday settings file to read instead of the control's own "
                  "(c:\\windows\\kiv.ini on its drive C): section [Inhabiles], key the month "
                  "number, value the days, e.g. 5=1,5")
      ->check(kExistingFile);
  cmd->add_option("--today", r.today,
                  "Count the days left from this date, YYYYMMDD (default: "
                  "the machine's date)");
  cmd->add_flag("--json", r.json, "One JSON object instead of text");
  return cmd;
}

int RunDeadline(const DeadlineRequest& r) {
  if (const std::string problem = PeriodProblem(r.period); !problem.empty()) {
    std::cerr << "zav: " << problem << " (given: " << r.period << ")\n";
    return 64;
  }
  zav::CalendarDate today;
  if (r.today) {
    const std::string& t = *r.today;
    if (!AllDigits(t, 8)) {
      std::cerr << "zav: --today must be YYYYMMDD (given: " << t << ")\n";
      return 64;
    }
    today = {std::stoi(t.substr(0, 4)), std::stoi(t.substr(4, 2)), std::stoi(t.substr(6, 2))};
  } else {
    const std::string s = zav::ServerDate();  // DD/MM/YYYY
    today = {std::stoi(s.substr(6, 4)), std::stoi(s.substr(3, 2)), std::stoi(s.substr(0, 2))};
  }
  // A date that is no day of the calendar (30 February) is refused rather than folded.
  const zav::CalendarDate real =
      zav::DateOfDayNumber(zav::DayNumber(today.year, today.month, today.day));
  if (real != today) {
    std::cerr << "zav: --today " << *r.today << " is not a date\n";
    return 64;
  }
  Answer a;
  try {
    a = Compute(r);
  } catch (const zav::RuntimeFailure& failure) {
    std::cerr << "zav: the holiday settings: " << failure.description() << "\n";
    return 2;
  }
  const std::int32_t last = zav::DayNumber(a.last_day.year, a.last_day.month, a.last_day.day);
  const std::int32_t left = last - zav::DayNumber(today.year, today.month, today.day);
  const char* weekday = kWeekdays[zav::WeekdayOf(last)];
  if (r.json) {
    nlohmann::ordered_json o;
    o["period"] = r.period;
    o["deadline"] = Shown(a.written);
    o["last_day"] = Shown(a.last_day);
    o["weekday"] = weekday;
    o["non_working_days"] = a.non_working;
    o["today"] = Shown(today);
    o["days_left"] = left;
    o["late"] = left < 0;
    std::cout << o.dump() << "\n";
    return 0;
  }
  std::cout << "period:           " << r.period.substr(0, 4) << "/" << r.period.substr(4, 2)
            << "\n";
  std::cout << "deadline in file: " << Shown(a.written) << "\n";
  std::cout << "last day to pay:  " << Shown(a.last_day) << " (" << weekday << ")\n";
  std::cout << "non-working days: ";
  if (a.non_working.empty()) std::cout << "none";
  for (std::size_t k = 0; k < a.non_working.size(); ++k) {
    std::cout << (k ? ", " : "") << a.non_working[k];
  }
  std::cout << " of " << zav::FormatZeroPadded(a.written.month, 2) << "/" << a.written.year << "\n";
  std::cout << "today:            " << Shown(today) << "\n";
  std::cout << "days left:        " << left
            << (left < 0    ? " (late: the control refuses the file with message 253)"
                : left == 0 ? " (today is the last day)"
                            : "")
            << "\n";
  return 0;
}

}  // namespace zavcli
