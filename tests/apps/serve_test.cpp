// The upload check: what it refuses, and the archive it packs itself. The server around it
// (who may upload, storing, HTTP) is tested over HTTP in serve_attacks_test.cpp.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <utility>
#include <variant>
#include <vector>

#include "api/upload.hpp"
#include "support/serve_harness.hpp"

namespace zav::testing {
namespace {

namespace fs = std::filesystem;

const std::string kName = ArchiveName("000001");
const std::string kInner = InnerName(kName);

class UploadCheck : public ::testing::Test {
 protected:
  TempDrives drives{"C=fixed"};  // the holiday settings are looked up in here
  fs::path work = drives.base() / "work";
  fs::path scratch = drives.base() / "scratch";
  fs::path file = work / WorkName(kName);

  void SetUp() override {
    fs::create_directories(work);
    fs::create_directories(scratch);
  }
};

TEST_F(UploadCheck, ArchiveNamesFollowThePatternExactly) {
  EXPECT_TRUE(IsArchiveName(kName));
  EXPECT_EQ(ArchiveRegistration(kName), "A1234567890");
  EXPECT_EQ(WorkName(kName), "P0404268.ZAV");
  for (const char* bad : {"pago.zip", "33501E01.M1.S0870.RA1234567890.F000001.P200404.E999.ZIP",
                          "../33501e01.m1.s0870.rA1234567890.f000001.p200404.e999.zip",
                          "33501e01.m1.s0870.r../../../...f000001.p200404.e999.zip",
                          "33501e01.m1.s0870.rA123/567890.f000001.p200404.e999.zip",
                          "33501e01.m1.s0870.rA1234567890.f00000x.p200404.e999.zip", ""}) {
    EXPECT_FALSE(IsArchiveName(bad)) << bad;
  }
}

TEST_F(UploadCheck, UnpackRefusesWhatIsNotOnePlainFileOfBoundedSize) {
  const std::string payment = FileOf(SamplePaymentPlan(3, 7));
  const std::string good = ZipOf({{kInner, payment}}, scratch);
  struct Case {
    const char* what;
    std::string body;
    int status;
    UploadLimits limits = {};
  } cases[] = {
      {"not a zip", payment, 400},
      {"empty body", "", 400},
      {"two files", ZipOf({{kInner, payment}, {"other.txt", "x"}}, scratch), 400},
      {"no file", std::string("PK\5\6") + std::string(18, '\0'), 400},
      {"file inside a folder", ZipOf({{"sub/" + kInner, payment}}, scratch), 400},
      {"parent folder in the entry", ZipOf({{"../" + kInner, payment}}, scratch), 400},
      {"archive too large", good, 413, {100, 1 << 20}},
      {"unpacks too large",
       ZipOf({{kInner, std::string(4 << 20, ' ')}}, scratch),
       413,
       {64 << 20, 1 << 20}},
      {"unpacks to 1000 times its size", ZipOf({{kInner, std::string(8 << 20, ' ')}}, scratch),
       413},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<UploadAnswer> refusal = UnpackUpload(c.body, file, c.limits);
    ASSERT_TRUE(refusal.has_value());
    EXPECT_EQ(refusal->status, c.status) << refusal->body.dump();
    EXPECT_TRUE(refusal->body["error"].is_string() && refusal->body["cause"].is_string());
  }
  EXPECT_FALSE(UnpackUpload(good, file, {}).has_value());
  EXPECT_EQ(ReadAll(file), payment);
}

TEST_F(UploadCheck, ValidatesWithItsOwnDateAndPacksTheValidatedFileItself) {
  const PaymentPlan plan = SamplePaymentPlan(3, 7);
  PaymentPlan other_folio = plan;
  other_folio.folio = "000002";
  struct Case {
    const char* what;
    std::string name;
    PaymentPlan plan;
    std::string server_date;
    int message = 0;            // the control's message number, when it gave one
    std::string expected = "";  // the name the file has, when the name is not it
  } cases[] = {
      {"paid after the deadline", kName, plan, "20/06/2004", 253},
      {"period of the name not the file's",
       "33501e01.m1.s0870.rA1234567890.f000001.p200405.e999.zip", plan, "10/05/2004", 234},
      {"folio of the name not the file's", ArchiveName("000002"), plan, "10/05/2004", 0, kName},
      {"file of another folio", kName, other_folio, "10/05/2004", 0, ArchiveName("000002")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path unpacked = work / WorkName(c.name);
    std::ofstream(unpacked, std::ios::binary) << FileOf(c.plan);
    const auto checked = ValidateUpload(c.name, unpacked, c.server_date);
    ASSERT_TRUE(std::holds_alternative<UploadAnswer>(checked));
    const UploadAnswer& answer = std::get<UploadAnswer>(checked);
    EXPECT_EQ(answer.status, 422) << answer.body.dump();
    if (c.message != 0) {
      EXPECT_EQ(answer.body["message"], c.message) << answer.body.dump();
    }
    if (!c.expected.empty()) {
      EXPECT_EQ(answer.body["expected"], c.expected);
    }
    EXPECT_EQ(Listing(work), std::vector<std::string>{unpacked.filename()});  // left as it was
    fs::remove(unpacked);
  }

  const std::string payment = FileOf(plan);
  std::ofstream(file, std::ios::binary) << payment;
  const auto checked = ValidateUpload(kName, file, "10/05/2004");
  ASSERT_TRUE(std::holds_alternative<ValidUpload>(checked));
  const ValidUpload& valid = std::get<ValidUpload>(checked);
  EXPECT_EQ(valid.capture_line.substr(0, 26), "A1234567890-000001-200404-");
  EXPECT_EQ(valid.rfc, "ABCD010101XY1");
  EXPECT_EQ(valid.archive, work / kName);
  const auto entries = ZipEntries(ReadAll(valid.archive));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].first, kInner);
  EXPECT_EQ(entries[0].second, payment);
  EXPECT_EQ(Listing(work), (std::vector<std::string>{kInner, kName}));
}

}  // namespace
}  // namespace zav::testing
