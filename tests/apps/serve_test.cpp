// The upload server's handler: what it refuses and what it keeps. The same over HTTP, with
// the zav program, is the load test's business (tests/load/).
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <utility>
#include <vector>

#include "host/upload.hpp"
#include "support/serve_harness.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;

using testing::Listing;

const std::string kName = testing::ArchiveName("000001");

class Upload : public ::testing::Test {
 protected:
  testing::TempDrives drives{"C=fixed"};  // the holiday settings are looked up in here
  fs::path uploads = drives.base() / "uploads";
  fs::path scratch = drives.base() / "scratch";

  void SetUp() override {
    fs::create_directories(uploads);
    fs::create_directories(scratch);
  }
  std::string PageArchive(const PaymentPlan& plan) {
    return testing::PageArchive(plan, kName, scratch);
  }
};

TEST_F(Upload, RefusesWithAClearAnswerAndStoresNothing) {
  const PaymentPlan plan = SamplePaymentPlan(3, 7);
  std::ostringstream payment_text;
  WritePaymentFile(plan, payment_text);
  const std::string payment = payment_text.str();
  const std::string good = PageArchive(plan);
  const std::string inner = kName.substr(0, kName.size() - 3) + "zav";
  PaymentPlan other_folio = plan;
  other_folio.folio = "000002";

  struct Case {
    const char* what;
    std::string name;
    std::string body;
    int status;
    int message = 0;            // the control's message number, when it gave one
    std::string expected = "";  // the name the file has, when the name is not it
    std::string server_date = "10/05/2004";
    UploadLimits limits = {};
  } cases[] = {
      {"not the archive pattern", "pago.zip", good, 400},
      {"pattern in upper case", "33501E01.M1.S0870.RA1234567890.F000001.P200404.E999.ZIP", good,
       400},
      {"leading path", "../" + kName, good, 400},
      {"traversal inside the name", "33501e01.m1.s0870.r../../../...f000001.p200404.e999.zip", good,
       400},
      {"separator inside the name", "33501e01.m1.s0870.rA123/567890.f000001.p200404.e999.zip", good,
       400},
      {"folio not digits", "33501e01.m1.s0870.rA1234567890.f00000x.p200404.e999.zip", good, 400},
      {"empty name", "", good, 400},
      {"archive too large", kName, good, 413, 0, "", "10/05/2004", {100, 1 << 20}},
      {"not a zip", kName, payment, 400},
      {"empty body", kName, "", 400},
      {"two files", kName, testing::ZipOf({{inner, payment}, {"other.txt", "x"}}, scratch), 400},
      {"no file", kName, std::string("PK\5\6") + std::string(18, '\0'), 400},
      {"file inside a folder", kName, testing::ZipOf({{"sub/" + inner, payment}}, scratch), 400},
      {"parent folder in the entry", kName, testing::ZipOf({{"../" + inner, payment}}, scratch),
       400},
      {"unpacks too large",
       kName,
       testing::ZipOf({{inner, std::string(4 << 20, ' ')}}, scratch),
       413,
       0,
       "",
       "10/05/2004",
       {64 << 20, 1 << 20}},
      {"paid after the deadline", kName, good, 422, 253, "", "20/06/2004"},
      {"period of the name not the file's",
       "33501e01.m1.s0870.rA1234567890.f000001.p200405.e999.zip", good, 422, 234},
      {"folio of the name not the file's", testing::ArchiveName("000002"), good, 422, 0, kName},
      {"file of another folio", kName, PageArchive(other_folio), 422},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const UploadAnswer answer = HandleUpload(c.name, c.body, c.server_date, uploads, c.limits);
    EXPECT_EQ(answer.status, c.status) << answer.body.dump();
    EXPECT_TRUE(answer.body["error"].is_string()) << answer.body.dump();
    if (c.message != 0) {
      EXPECT_EQ(answer.body["message"], c.message) << answer.body.dump();
      EXPECT_TRUE(answer.body["text"].is_string());
    }
    if (!c.expected.empty()) {
      EXPECT_EQ(answer.body["expected"], c.expected);
    }
    EXPECT_TRUE(Listing(uploads).empty());  // hidden work files included
  }
}

TEST_F(Upload, KeepsAnAcceptedArchiveExactlyOnce) {
  const std::string archive = PageArchive(SamplePaymentPlan(3, 7));
  const UploadAnswer first = HandleUpload(kName, archive, "10/05/2004", uploads);
  ASSERT_EQ(first.status, 201) << first.body.dump();
  EXPECT_EQ(first.body["archive"], kName);
  EXPECT_EQ(first.body["capture_line"].get<std::string>().substr(0, 26),
            "A1234567890-000001-200404-");
  EXPECT_EQ(testing::ReadAll(uploads / kName), archive);
  EXPECT_EQ(Listing(uploads), std::vector<std::string>{kName});  // no work left behind

  const UploadAnswer again =
      HandleUpload(kName, PageArchive(SamplePaymentPlan(5, 9)), "10/05/2004", uploads);
  EXPECT_EQ(again.status, 409);
  EXPECT_EQ(testing::ReadAll(uploads / kName), archive);
  EXPECT_EQ(Listing(uploads), std::vector<std::string>{kName});
}

}  // namespace
}  // namespace zav
