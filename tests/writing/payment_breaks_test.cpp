// Files broken on purpose: every message listed is the one the control refuses the file
// with, for a period of some kind (the period rules' messages need the period they break).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "api/validate_file.hpp"
#include "platform/temp_drives.hpp"
#include "writing/payment_writer.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;

TEST(PaymentBreaks, EveryListedMessageIsTheRefusal) {
  testing::TempDrives drives{"C=fixed"};
  const fs::path folder = drives.base() / "breaks";
  fs::create_directories(folder);
  ASSERT_GT(BreakableMessages().size(), 100u);
  std::map<std::int16_t, int> refusals;
  // An even month, an odd one and a period 13.
  for (const int month : {4, 5, 13}) {
    PaymentPlan plan = SamplePaymentPlan(3, 7);
    plan.month = month;
    plan.deadline_month = month >= 12 ? 1 : month + 1;
    plan.deadline_year = month >= 12 ? 2005 : 2004;
    const std::string date =
        month >= 12 ? "10/01/2005" : "10/0" + std::to_string(month + 1) + "/2004";
    std::ostringstream clean;
    WritePaymentFile(plan, clean);
    const fs::path file = folder / WorkFileName(plan);
    ValidateOptions options;
    options.pack = false;
    options.server_date = date;
    for (const std::int16_t message : BreakableMessages()) {
      bool refused = false;
      for (const FileBreak& b : FileBreaks()) {
        if (b.message != message || refused) continue;
        std::string bytes = clean.str();
        ApplyBreak(b, plan, bytes);
        std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
        refused = ValidateFile(file.string(), options, false).verdict.message == message;
      }
      refusals[message] += refused ? 1 : 0;
    }
    std::ofstream(file, std::ios::binary | std::ios::trunc) << clean.str();
    EXPECT_TRUE(ValidateFile(file.string(), options, false).verdict.accepted);
  }
  for (const std::int16_t message : BreakableMessages()) {
    EXPECT_GE(refusals[message], 1) << message;
  }
}

}  // namespace
}  // namespace zav
