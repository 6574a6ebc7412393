// The command line as users and scripts meet it: exit statuses, the JSON fields, and
// what is left on disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "apps/zav_command.hpp"
#include "platform/temp_drives.hpp"
#include "validation/payment_writer.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;

using testing::CliRun;
using testing::Zav;

class Cli : public ::testing::Test {
 protected:
  testing::TempDrives drives{"C=fixed"};
  fs::path source = drives.base() / "source";
  void SetUp() override { fs::create_directories(source); }
  std::string Write(const PaymentPlan& plan) {
    const fs::path file = source / WorkFileName(plan);
    WritePaymentFile(plan, file);
    return file.string();
  }
};

TEST_F(Cli, BundledExampleValidatesAndPacks) {
  const std::string example = std::string(ZAV_SOURCE_DIR) + "/examples/P0404268.ZAV";
  const std::string before = testing::ReadAll(example);
  const CliRun run = Zav("validate " + example + " --server-date 10/05/2004 --json");
  ASSERT_EQ(run.status, 0) << run.out;
  const auto j = nlohmann::json::parse(run.out);
  EXPECT_EQ(j["result"], "0");
  EXPECT_EQ(j["accepted"], true);
  EXPECT_TRUE(j["message"].is_null());
  EXPECT_TRUE(j["failure"].is_null());
  EXPECT_EQ(j["archive_name"], "33501e01.m1.s0870.rA1234567890.f000001.p200404.e999.zip");
  const fs::path archive = j["archive"].get<std::string>();
  EXPECT_TRUE(fs::exists(archive));
  EXPECT_EQ(archive.parent_path(), drives.root('C') / "ZAV" / "temp");
  EXPECT_EQ(j["capture_line"].get<std::string>().substr(0, 26), "A1234567890-000001-200404-");
  EXPECT_EQ(j["param"].get<std::string>().find("PATRON DE PRUEBA"), 0u);
  EXPECT_EQ(testing::ReadAll(example), before);  // the user's file is never touched
}

TEST_F(Cli, ExitStatusesAndVerdicts) {
  const std::string file = Write(SamplePaymentPlan(4, 3));
  // Diskette sets join from their first part; a set missing its last part is refused.
  for (const char* folder : {"set", "cut"}) fs::create_directories(source / folder);
  const auto parts = WriteDiskettes(SamplePaymentPlan(30, 9), source / "set", "P0404268", 3);
  const auto broken = WriteDiskettes(SamplePaymentPlan(30, 9), source / "cut", "P0404268", 3);
  ASSERT_EQ(parts.size(), 3u);
  fs::remove(broken.back());
  struct Case {
    std::string args;
    int status;
    std::string expected;  // in the output
  } cases[] = {
      {"check " + file + " --server-date 10/05/2004", 0, "accepted"},
      {"check " + file + " --server-date 20/06/2004", 1, "message 253"},
      {"check " + file + " --server-date 20/06/2004 --management", 0, "accepted"},
      {"check " + source.string() + "/missing.ZAV", 64, "no such payment file"},
      {"validate " + file + " --tolerance 300", 64, ""},
      {"frobnicate", 64, ""},
      {"message 9", 0, "RFC del sumario"},
      {"message 224", 1, "not a message number"},
      {"validate " + parts.front().string() + " --server-date 10/05/2004", 0, ""},
      {"validate " + broken.front().string() + " --server-date 10/05/2004", 64, "missing"},
      {"sample --period 200415", 64, ""},
      {"--version", 0, " (commit "},
  };
  for (const Case& c : cases) {
    const CliRun run = Zav(c.args);
    EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.out;
    EXPECT_NE(run.out.find(c.expected), std::string::npos) << c.args << "\n" << run.out;
  }
}

TEST_F(Cli, CheckLeavesNothingBehindAndARunTimeFailureIsTwo) {
  PaymentPlan plan = SamplePaymentPlan(2, 5);
  const std::string file = Write(plan);
  CliRun run = Zav("check " + file + " --server-date 10/05/2004 --json");
  ASSERT_EQ(run.status, 0) << run.out;
  auto j = nlohmann::json::parse(run.out);
  EXPECT_TRUE(j["archive"].is_null());
  EXPECT_TRUE(j["archive_name"].is_null());
  EXPECT_FALSE(j["capture_line"].is_null());
  EXPECT_TRUE(fs::is_empty(drives.root('C') / "ZAV" / "temp"));

  // A source name without an extension of three characters cannot be judged: "5".
  const fs::path odd = source / "P0404268.ZV";
  fs::copy_file(file, odd);
  run = Zav("check " + odd.string() + " --work-name " + WorkFileName(plan) +
            " --server-date 10/05/2004 --json");
  EXPECT_EQ(run.status, 2) << run.out;
  j = nlohmann::json::parse(run.out);
  EXPECT_EQ(j["result"], "5");
  EXPECT_FALSE(j["failure"].is_null());
}

TEST_F(Cli, SampleWritesFilesThatValidate) {
  // Without a period the file is last month's, on time today.
  const std::pair<std::string, std::string> runs[] = {
      {"--workers 12 --period 200413 --seed 4", "--server-date 01/01/2005"}, {"", ""}};
  for (const auto& [options, date] : runs) {
    const fs::path out = drives.base() / ("samples" + std::to_string(options.size()));
    CliRun run = Zav("sample " + options + " -o " + out.string());
    ASSERT_EQ(run.status, 0) << run.out;
    const std::string written = run.out.substr(0, run.out.find('\n'));
    run = Zav("check " + written + " " + date);
    EXPECT_EQ(run.status, 0) << options << "\n" << run.out;
  }
}

}  // namespace
}  // namespace zav
