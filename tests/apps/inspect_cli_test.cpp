// The command line for people mending payment files, run as a user runs it: zav check
// --all and zav describe; zav split's runs are cli_test.cpp's.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "apps/zav_command.hpp"
#include "records/record_02.hpp"
#include "records/record_03.hpp"
#include "support/payment_run.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

using testing::CliRun;
using testing::Put;
using testing::Reseal;
using testing::Zav;

class InspectCli : public ::testing::Test {
 protected:
  InspectCli() {
    spec_ = SamplePaymentPlan(3, 7);  // records: header, 3 workers, movements, summary, validation
    file_ = drives_.base() / WorkFileName(spec_);
    WritePaymentFile(spec_, file_);
  }

  std::string Run(const std::string& command) const {
    return command + " '" + file_.string() + "' --server-date 17/05/2004 --work-dir '" +
           (drives_.base() / "work").string() + "'";
  }

  testing::TempDrives drives_{"C=fixed"};
  PaymentPlan spec_;
  fs::path file_;
};

TEST_F(InspectCli, CheckAllListsEveryProblemAndKeepsTheVerdict) {
  std::string bytes = testing::ReadAll(file_);
  Put(bytes, 1, record02::kCodigoPostal, "ABCDE");            // 2100
  Put(bytes, 3, record03::kTipoTrabajador, "X");              // 172
  Put(bytes, 4, record03::kSeguridadSocial, "A\rCDEFGHIJK");  // 225
  Put(bytes, 7, record06::kVersion, "W201");                  // 49, found before the records
  Reseal(bytes);
  std::ofstream(file_, std::ios::binary | std::ios::trunc) << bytes;

  const CliRun all = Zav(Run("check --all --json"));
  EXPECT_EQ(all.status, 1) << all.out;
  const json j = json::parse(all.out, nullptr, false);
  ASSERT_FALSE(j.is_discarded()) << all.out;
  EXPECT_EQ(j["message"], 49);
  std::vector<int> messages, records;
  for (const json& p : j["problems"]) {
    messages.push_back(p["message"]);
    records.push_back(p["record"]);
  }
  EXPECT_EQ(messages, (std::vector<int>{49, 2100, 172, 225}));
  EXPECT_EQ(records, (std::vector<int>{7, 1, 3, 4}));
  EXPECT_EQ(j["problems"][1]["field"],
            "c\xC3\xB3"
            "digo postal");  // UTF-8
  EXPECT_EQ(j["problems"][1]["start"], 171);
  EXPECT_EQ(j["problems"][1]["length"], 5);
  // Each with what it found and what it expected.
  const json& nss = j["problems"][3];
  EXPECT_EQ(nss["compared"], "format");
  EXPECT_EQ(nss["found"], "A\rCDEFGHIJK");
  EXPECT_EQ(nss["expected"], "11 d\xC3\xADgitos");
  EXPECT_EQ(nss["marked"].size(), 11u);

  // The same verdict without --all; text output lists the problems.
  const json plain = json::parse(Zav(Run("check --json")).out, nullptr, false);
  EXPECT_EQ(plain["message"], 49);
  EXPECT_FALSE(plain.contains("problems"));
  const CliRun text = Zav(Run("check --all"));
  EXPECT_NE(text.out.find("4 problems"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("record 4 (03), n\xC3\xBAmero de seguridad social (33, 11): 225"),
            std::string::npos)
      << text.out;
  // A control byte is shown as an escape, not written to the terminal.
  EXPECT_NE(text.out.find("encontrado \"[A][\\r][C]"), std::string::npos) << text.out;
}

TEST_F(InspectCli, DescribeNamesTheFieldsAndMasks) {
  const std::string file = " '" + file_.string() + "'";
  testing::ExpectRuns({
      {"describe" + file,
       0,
       {"registro 1: encabezado patronal", "RFC del patr\xC3\xB3n: ABCD010101XY1",
        "registro 2: trabajador 1", "n\xC3\xBAmero de seguridad social: 00000000001",
        "fecha l\xC3\xADmite de pago (AAAAMMDD): 17/05/2004", "registro 7: validaci\xC3\xB3n",
        "7 registros, 2065 bytes"}},
      {"describe --mask" + file,
       0,
       {"RFC del patr\xC3\xB3n: **********XY1", "n\xC3\xBAmero de seguridad social: ********001"}},
  });
  const CliRun lines = Zav("describe --json" + file);
  std::size_t records = 0;
  for (std::size_t at = 0; (at = lines.out.find('\n', at)) != std::string::npos; ++at) ++records;
  EXPECT_EQ(records, 7u);
}

// --mask hides every personal value the file holds wherever zav shows it: describe's
// fields, the found values of check --all, the summary's RFC.
TEST_F(InspectCli, MaskHidesEveryPersonalValueWhereverItIsShown) {
  std::string bytes = testing::ReadAll(file_);
  Put(bytes, 2, record03::kNombre, "PEREZ$LOPEZ$JUANA=");    // found by 3113 or shown
  Put(bytes, 2, record03::kUltimoSalario, "12X4567");        // 171: its value is found
  Put(bytes, 3, record03::kSeguridadSocial, "9876543X210");  // 225
  Reseal(bytes);
  std::ofstream(file_, std::ios::binary | std::ios::trunc) << bytes;
  const std::vector<std::string> personal = {"ABCD010101XY1", "PEREZ$LOPEZ$JUANA", "12X4567",
                                             "9876543X210"};
  struct Case {
    const char* command;             // the file follows
    std::vector<std::string> shown;  // of `personal`, what the unmasked output holds
  } cases[] = {
      {"describe", personal},
      {"check --server-date 17/05/2004 --all --json", {"12X4567", "9876543X210"}},
      {"check --server-date 17/05/2004 --summary csv", {"ABCD010101XY1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    const std::string run = std::string(c.command) + " '" + file_.string() + "'";
    const std::string plain = Zav(run).out, masked = Zav(run + " --mask").out;
    for (const std::string& value : c.shown) {
      EXPECT_NE(plain.find(value), std::string::npos) << value << " in\n" << plain;
    }
    for (const std::string& value : personal) {
      EXPECT_EQ(masked.find(value), std::string::npos) << value << " in\n" << masked;
    }
    EXPECT_FALSE(masked.empty());
  }
}

}  // namespace
}  // namespace zav
