// zav check over many files: every file gets its row whatever happens to the others, the
// exit status is the worst verdict's, and the CSV summary opens safely in a spreadsheet.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "apps/zav_command.hpp"
#include "platform/temp_drives.hpp"
#include "writing/payment_writer.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;

using testing::CliRun;
using testing::Zav;

class CliMany : public ::testing::Test {
 protected:
  testing::TempDrives drives{"C=fixed"};
  fs::path folder = drives.base() / "payments";
  std::string good, parts, rejected, missing;

  void SetUp() override {
    fs::create_directories(folder / "set");
    PaymentPlan plan = SamplePaymentPlan(5, 2);
    good = (folder / WorkFileName(plan)).string();
    WritePaymentFile(plan, fs::path(good));
    // A diskette set of the same name, joined in its own work folder.
    parts =
        WriteDiskettes(SamplePaymentPlan(30, 9), folder / "set", "P0404268", 2).front().string();
    PaymentPlan late = SamplePaymentPlan(3, 4);  // due on the 1st, so late on the 10th
    late.deadline_day = 1;
    rejected = (folder / "R0404268.ZAV").string();
    WritePaymentFile(late, fs::path(rejected));
    std::ofstream(folder / "notes.txt") << "not a payment file\n";
    missing = (folder / "gone.ZAV").string();
  }
};

std::vector<std::vector<std::string>> CsvRows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> cells(1);
    bool quoted = false;
    for (const char c : line) {
      if (c == '"') {
        quoted = !quoted;
      } else if (c == ',' && !quoted) {
        cells.emplace_back();
      } else {
        cells.back() += c;
      }
    }
    rows.push_back(cells);
  }
  return rows;
}

TEST_F(CliMany, EveryFileHasItsRowAndTheWorstVerdictIsTheStatus) {
  const std::string date = " --server-date 10/05/2004";
  const std::string files = good + " " + missing + " " + rejected + " " + parts;

  const CliRun csv = Zav("check " + files + date + " --summary csv 2>/dev/null");
  EXPECT_EQ(csv.status, 2) << csv.out;  // the missing file outweighs the rejection
  const auto rows = CsvRows(csv.out);
  ASSERT_EQ(rows.size(), 5u) << csv.out;
  EXPECT_EQ(rows[0].front(), "file");
  struct Expected {
    std::string file, verdict;
  } expected[] = {
      {good, "accepted"}, {missing, "unreadable"}, {rejected, "rejected"}, {parts, "accepted"}};
  for (std::size_t k = 0; k < 4; ++k) {
    ASSERT_EQ(rows[k + 1].size(), rows[0].size()) << csv.out;
    EXPECT_EQ(rows[k + 1][0], expected[k].file);
    EXPECT_EQ(rows[k + 1][7], expected[k].verdict) << rows[k + 1][9];
  }
  EXPECT_EQ(rows[1][1], "A1234567890");
  EXPECT_EQ(rows[1][3], "200404");
  EXPECT_EQ(rows[1][5], "5");
  EXPECT_EQ(rows[1][10], "17/05/2004");
  EXPECT_EQ(rows[1][11], "0");
  EXPECT_EQ(rows[1][12].substr(0, 26), "A1234567890-000001-200404-");
  EXPECT_NE(rows[3][8], "");  // the rejection's message number and text
  EXPECT_NE(rows[3][9], "");
  EXPECT_EQ(rows[4][5], "30");  // read from the first part

  const CliRun json =
      Zav("check " + files + " --server-date 20/05/2004 --summary json 2>/dev/null");
  EXPECT_EQ(json.status, 2);
  const auto j = nlohmann::json::parse(json.out);
  ASSERT_EQ(j.size(), 4u);
  EXPECT_EQ(j[0]["verdict"], "rejected");  // three days late
  EXPECT_EQ(j[0]["days_late"], 3);
  EXPECT_EQ(j[0]["workers"], 5);
  EXPECT_TRUE(j[1]["registration"].is_null());
  EXPECT_TRUE(j[1]["capture_line"].is_null());

  // Without the missing file, the rejection is the worst.
  EXPECT_EQ(Zav("check " + good + " " + rejected + date).status, 1);
  EXPECT_EQ(Zav("check " + good + " " + parts + date).status, 0);
}

TEST_F(CliMany, AFolderGivesItsPaymentFiles) {
  const CliRun run = Zav("check " + folder.string() + " " + (folder / "set").string() +
                         " --server-date 10/05/2004 --summary json 2>/dev/null");
  const auto j = nlohmann::json::parse(run.out);
  std::vector<std::string> names;
  for (const auto& row : j) names.push_back(fs::path(row["file"].get<std::string>()).filename());
  EXPECT_EQ(names, (std::vector<std::string>{"P0404268.ZAV", "R0404268.ZAV", "P0404268.ZA0"}));
  EXPECT_EQ(run.status, 1);
  // A payment file that cannot be read is its row; every other row stays.
  fs::create_symlink(folder / "nowhere", folder / "Q0404268.ZAV");
  const CliRun broken =
      Zav("check " + folder.string() + " --server-date 10/05/2004 --summary json 2>/dev/null");
  EXPECT_EQ(broken.status, 2);
  std::vector<std::string> verdicts;
  for (const auto& row : nlohmann::json::parse(broken.out)) verdicts.push_back(row["verdict"]);
  EXPECT_EQ(verdicts, (std::vector<std::string>{"accepted", "unreadable", "rejected"}));
  // A folder without payment files is a row too.
  fs::create_directories(folder / "empty");
  const CliRun empty = Zav("check " + (folder / "empty").string() + " --summary csv");
  EXPECT_EQ(empty.status, 2);
  EXPECT_NE(empty.out.find("no payment file"), std::string::npos) << empty.out;
}

// Late counts from the last day to pay, the deadline moved on as the control moves it: due
// Friday 17/12/2004, payable until Monday 20/12; never late in management mode.
TEST_F(CliMany, DaysLateCountFromTheLastDayToPay) {
  PaymentPlan plan = SamplePaymentPlan(3, 5);
  plan.month = 11;
  plan.deadline_month = 12;
  const fs::path file = folder / "F0411268.ZAV";
  WritePaymentFile(plan, file);
  struct Case {
    const char* date;
    const char* extra;
    const char* verdict;
    int days_late;
  } cases[] = {
      {"17/12/2004", "", "accepted", 0},
      {"20/12/2004", "", "accepted", 0},
      {"21/12/2004", "", "rejected", 1},
      {"21/12/2004", " --management", "accepted", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.date) + c.extra);
    const CliRun run = Zav("check " + file.string() + " --server-date " + c.date + c.extra +
                           " --summary json 2>/dev/null");
    const auto row = nlohmann::json::parse(run.out, nullptr, false)[0];
    EXPECT_EQ(row["verdict"], c.verdict) << run.out;
    EXPECT_EQ(row["days_late"], c.days_late);
    EXPECT_EQ(row["deadline"], "17/12/2004");
  }
}

// A cell a spreadsheet would run as a formula (a file's name here) opens as text: it gets a
// leading quote; numbers stay as they are.
TEST_F(CliMany, FormulaCellsGetAQuoteNumbersStayNumbers) {
  const fs::path odd = drives.base() / "odd";
  fs::create_directories(odd);
  for (const char* name : {"=1+1.ZAV", "@SUM.ZAV", "+1.ZAV"}) {
    WritePaymentFile(SamplePaymentPlan(2, 1), odd / name);
  }
  const CliRun run = Zav("check =1+1.ZAV @SUM.ZAV +1.ZAV --server-date 10/05/2004 --summary csv",
                         "cd '" + odd.string() + "' &&");
  EXPECT_EQ(run.status, 1) << run.out;  // such names are not work names (234)
  for (const char* row : {"\n'=1+1.ZAV,A1234567890,", "\n'@SUM.ZAV,", "\n'+1.ZAV,"}) {
    EXPECT_NE(run.out.find(row), std::string::npos) << row << " in " << run.out;
  }
  EXPECT_NE(run.out.find(",rejected,234,"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(",17/05/2004,0,"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace zav
