// zav sample --break as a payroll program uses it: every message it lists is the one zav
// check then refuses the written file with.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "apps/zav_command.hpp"
#include "platform/temp_drives.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;
using testing::CliRun;
using testing::Zav;

TEST(CliBreak, EveryListedMessageIsWhatCheckReports) {
  testing::TempDrives drives{"C=fixed"};
  const CliRun list = Zav("sample --break list");
  ASSERT_EQ(list.status, 0) << list.out;
  // The period rules' messages need the period they break: an even month, an odd one and
  // a period 13, each checked before its deadline.
  const std::pair<std::string, std::string> periods[] = {
      {"200404", "10/05/2004"}, {"200405", "10/06/2004"}, {"200413", "10/01/2005"}};
  std::istringstream lines(list.out);
  int listed = 0;
  for (std::string line; std::getline(lines, line); ++listed) {
    const int message = std::stoi(line);
    const std::string out = (drives.base() / std::to_string(message)).string();
    nlohmann::json verdict = nlohmann::json::object();
    for (const auto& [period, date] : periods) {
      const CliRun made =
          Zav("sample --break " + std::to_string(message) + " --period " + period + " -o " + out);
      if (made.status != 0) continue;
      const CliRun check =
          Zav("check --json --server-date " + date + " " + made.out.substr(0, made.out.find('\n')));
      EXPECT_EQ(check.status, 1) << line << "\n" << check.out;
      if (const auto j = nlohmann::json::parse(check.out, nullptr, false); j.is_object()) {
        verdict = j;
      }
      break;
    }
    EXPECT_EQ(verdict["message"], message) << line << "\n" << verdict.dump();
  }
  EXPECT_GT(listed, 100);
}

}  // namespace
}  // namespace zav
