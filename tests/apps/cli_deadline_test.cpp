// zav deadline: the last day to pay, moved as the control moves the deadline of a file.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "apps/zav_command.hpp"
#include "platform/temp_drives.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;
using testing::CliRun;
using testing::Zav;

class CliDeadline : public ::testing::Test {
 protected:
  testing::TempDrives drives{"C=fixed"};

  std::string Holidays(const std::string& lines) const {
    const fs::path file = drives.base() / "holidays.ini";
    std::ofstream(file) << "[Inhabiles]\n" << lines;
    return file.string();
  }
};

TEST_F(CliDeadline, MovesTheDeadlineAsTheControlDoes) {
  struct Case {
    const char* period;
    std::string holidays;  // lines of the settings file, "" for none given
    const char* today;
    const char* last_day;
    int days_left;
  } cases[] = {
      {"202605", "", "20260610", "17/06/2026", 7},                // a Wednesday stays
      {"202604", "", "20260518", "18/05/2026", 0},                // Sunday: Monday
      {"202609", "", "20261020", "19/10/2026", -1},               // Saturday: Monday; late
      {"202603", "", "20260401", "20/04/2026", 19},               // a Friday moves on too
      {"202605", "6=17\n", "20260601", "18/06/2026", 17},         // a listed holiday
      {"202608", "9=1,17\n", "20260901", "21/09/2026", 20},       // Thursday holiday, Friday
      {"202503", "", "20250401", "21/04/2025", 20},               // Maundy Thursday 2025
      {"202508", "9=16,\n8=18\n", "20250901", "17/09/2025", 16},  // only the month's key
      {"202612", "", "20261231", "18/01/2027", 18},               // December: January, Sunday
      {"202613", "1=18\n", "20270101", "19/01/2027", 18},         // the special periods too
      {"202414", "", "20250117", "20/01/2025", 3},                // 17/01/2025 is a Friday
  };
  for (const Case& c : cases) {
    std::string args = std::string("deadline --json --period ") + c.period + " --today " + c.today;
    if (!c.holidays.empty()) args += " --holidays " + Holidays(c.holidays);
    const CliRun run = Zav(args);
    ASSERT_EQ(run.status, 0) << c.period << ": " << run.out;
    const auto j = nlohmann::json::parse(run.out);
    EXPECT_EQ(j["last_day"], c.last_day) << c.period;
    EXPECT_EQ(j["days_left"], c.days_left) << c.period;
    EXPECT_EQ(j["late"], c.days_left < 0) << c.period;
  }
}

TEST_F(CliDeadline, WithoutHolidaysItReadsTheControlsOwnSettings) {
  drives.Write("C:/windows/kiv.ini", "[Inhabiles]\n6=17\n");
  testing::ExpectRuns({{"deadline --period 202605 --today 20260617",
                        0,
                        {"last day to pay:  18/06/2026 (Thursday)", "days left:        1\n"}}});
}

// The day it names is the last day the control takes the file of that period.
TEST_F(CliDeadline, AgreesWithTheCheckOfASampleFile) {
  const fs::path out = drives.base() / "out";
  for (const auto& [period, last, after] : {std::tuple{"202604", "18/05/2026", "19/05/2026"},
                                            std::tuple{"202503", "21/04/2025", "22/04/2025"}}) {
    const CliRun sample = Zav(std::string("sample --period ") + period + " -o " + out.string());
    ASSERT_EQ(sample.status, 0) << sample.out;
    const std::string file = sample.out.substr(0, sample.out.find('\n'));
    const auto j = nlohmann::json::parse(
        Zav(std::string("deadline --json --period ") + period + " --today 20250101").out);
    EXPECT_EQ(j["last_day"], last);
    EXPECT_EQ(Zav("check " + file + " --server-date " + last).status, 0) << period;
    const CliRun late = Zav("check " + file + " --json --server-date " + after);
    EXPECT_EQ(nlohmann::json::parse(late.out)["message"], 253) << late.out;
  }
}

TEST_F(CliDeadline, RefusesWhatIsNoPeriodOrDate) {
  testing::ExpectRuns({
      {"deadline --period 2026", 64, {"--period must be YYYYMM, six digits (given: 2026)"}},
      {"deadline --period 202615", 64, {"the period month must be 01 to 14 (given: 202615)"}},
      {"deadline --period 202600", 64, {"the period month must be 01 to 14 (given: 202600)"}},
      {"deadline --period 199706", 64, {"periods start with July 1997 (199707) (given: 199706)"}},
      {"deadline --period 20260a", 64, {"--period must be YYYYMM, six digits (given: 20260a)"}},
      {"deadline --period 202605 --today 20260230", 64, {"--today 20260230 is not a date"}},
      {"deadline --period 202605 --today 2026", 64, {"--today must be YYYYMMDD (given: 2026)"}},
      {"deadline --period 202605 --holidays /nonexistent/kiv.ini",
       64,
       {"/nonexistent/kiv.ini does not exist"}},
      {"deadline ", 64, {"--period is required"}},
  });
}

}  // namespace
}  // namespace zav
