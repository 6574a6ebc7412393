// Holy week and the listed holidays: CalculaSemanaSanta and CargaDiasInhabiles.
#include "calendar/holidays.hpp"

#include "basic/conversions.hpp"
#include "basic/numeric_text.hpp"
#include "basic/runtime_failure.hpp"
#include "calendar/checked.hpp"
#include "calendar/day_numbers.hpp"
#include "control/zav.hpp"
#include "platform/drives.hpp"
#include "platform/profile.hpp"

namespace zav {

using checked::Add;
using checked::Div;
using checked::Mod;
using checked::Mul;
using checked::Sub;
using I16 = std::int16_t;

MonthDay EasterSunday(std::int16_t year) {
  const I16 y = year;
  const I16 g = Mod<I16>(y, 19);
  const I16 c = Div<I16>(y, 100);
  const I16 h = Mod<I16>(Add<I16>(Add<I16>(Sub<I16>(Sub<I16>(c, Div<I16>(c, 4)),
                                                    Div<I16>(Add<I16>(Mul<I16>(8, c), 13), 25)),
                                           Mul<I16>(19, g)),
                                  15),
                         30);
  const I16 h28 = Div<I16>(h, 28);
  const I16 i =
      Sub<I16>(h, Mul<I16>(h28, Sub<I16>(1, Mul<I16>(Mul<I16>(h28, Div<I16>(29, Add<I16>(h, 1))),
                                                     Div<I16>(Sub<I16>(21, g), 11)))));
  const I16 j = Mod<I16>(
      Add<I16>(Sub<I16>(Add<I16>(Add<I16>(Add<I16>(y, Div<I16>(y, 4)), i), 2), c), Div<I16>(c, 4)),
      7);
  const I16 l = Sub<I16>(i, j);
  MonthDay easter;
  easter.month = Add<I16>(3, Div<I16>(Add<I16>(l, 40), 44));
  easter.day = Sub<I16>(Add<I16>(l, 28), Mul<I16>(31, Div<I16>(easter.month, 4)));
  return easter;
}

int AppendListedDays(std::string_view value, HolidayTable& table, int count) {
  if (value.empty()) return count;
  const auto store = [&](std::string_view digits) {
    if (count < 0 || static_cast<std::size_t>(count) >= table.size()) {
      throw RuntimeFailure(err::kSubscriptOutOfRange);
    }
    table[static_cast<std::size_t>(count++)] = ToLong(LeadingValue(digits));
  };
  std::size_t run = 0;  // start of the current run of digits
  for (std::size_t k = 0; k < value.size(); ++k) {
    if (value[k] >= '0' && value[k] <= '9') continue;
    store(value.substr(run, k - run));
    run = k + 1;
  }
  store(value.substr(run));
  return count;
}

std::string ReadHolidaySetting(std::string_view key) {
  std::filesystem::path file;
  try {
    file = ResolvePath(kHolidaySettingsFile);
  } catch (const RuntimeFailure&) {
    return {};  // no such drive: no settings file
  }
  return ReadProfileString(file, kHolidaySection, key, "", kHolidaySettingsBuffer);
}

std::int16_t ZAV::CalculaSemanaSanta(std::int16_t Ayo, std::int16_t MesCalcula) {
  const MonthDay easter = EasterSunday(Ayo);
  const std::int32_t sunday = JulianNumber(Ayo, easter.month, easter.day);
  std::int16_t count = 0;
  // Good Friday first, then Maundy Thursday; either may fall in the month before Easter's.
  for (const std::int32_t back : {2, 3}) {
    std::int32_t y = 0, m = 0, d = 0;
    JulianToDate(checked::Sub<std::int32_t>(sunday, back), y, m, d);
    if (m == MesCalcula) w_.holidays[static_cast<std::size_t>(count++)] = d;
  }
  return count;
}

std::int16_t ZAV::CargaDiasInhabiles(std::string sAno, std::string sMes) {
  const std::int16_t year = ToInteger(LeadingValue(sAno));
  const std::int16_t month = ToInteger(LeadingValue(sMes));
  int count = CalculaSemanaSanta(year, month);

  // The value lands in the fixed 20-character buffer; what follows its end is NUL.
  const std::string value = ReadHolidaySetting(std::to_string(month));
  w_.settings.assign(kHolidaySettingsBuffer, '\0');
  w_.settings.replace(0, value.size(), value);
  const std::size_t nul = w_.settings.find('\0');
  const std::string_view listed = std::string_view(w_.settings).substr(0, nul);

  count = AppendListedDays(listed, w_.holidays, count);
  return static_cast<std::int16_t>(count);
}

}  // namespace zav
