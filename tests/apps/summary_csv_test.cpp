// The CSV summary of zav check: a cell a spreadsheet would run as a formula opens as text.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "apps/zav_command.hpp"
#include "platform/temp_drives.hpp"
#include "writing/payment_writer.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;

TEST(CliSummaryCsv, FormulaCellsGetAQuoteNumbersStayNumbers) {
  testing::TempDrives drives{"C=fixed"};
  const fs::path folder = drives.base() / "files";
  fs::create_directories(folder);
  PaymentPlan plan = SamplePaymentPlan(2, 1);
  for (const char* name : {"=1+1.ZAV", "@SUM.ZAV", "+1.ZAV"}) {
    WritePaymentFile(plan, folder / name);
  }
  const testing::CliRun run = testing::Zav(
      "check =1+1.ZAV @SUM.ZAV +1.ZAV "
      "--server-date 10/05/2004 --summary csv",
      "cd '" + folder.string() + "' &&");
  EXPECT_EQ(run.status, 1) << run.out;  // such names are not work names (234)
  for (const char* row : {"\n'=1+1.ZAV,A1234567890,", "\n'@SUM.ZAV,", "\n'+1.ZAV,"}) {
    EXPECT_NE(run.out.find(row), std::string::npos) << row << " in " << run.out;
  }
  EXPECT_NE(run.out.find(",rejected,234,"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(",17/05/2004,0,"), std::string::npos) << run.out;  // numbers as they are
}

}  // namespace
}  // namespace zav
