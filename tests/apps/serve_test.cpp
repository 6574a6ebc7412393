// The upload server: what the upload handler refuses and keeps, and one real round trip
// over HTTP with the zav program.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <sstream>
#include <utility>
#include <vector>

#include "files/zip_packing.hpp"
#include "host/upload.hpp"
#include "platform/temp_drives.hpp"
#include "support/serve_harness.hpp"
#include "validation/payment_writer.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;

const std::string kName = "33501e01.m1.s0870.rA1234567890.f000001.p200404.e999.zip";

std::string PaymentBytes(const PaymentPlan& plan) {
  std::ostringstream out;
  WritePaymentFile(plan, out);
  return out.str();
}

class Upload : public ::testing::Test {
 protected:
  testing::TempDrives drives{"C=fixed"};  // the holiday settings are looked up in here
  fs::path uploads = drives.base() / "uploads";
  fs::path scratch = drives.base() / "scratch";

  void SetUp() override {
    fs::create_directories(uploads);
    fs::create_directories(scratch);
  }

  // The archive the page uploads: the payment file under the name the control gives it,
  // packed by the control's own packing.
  std::string PageArchive(const PaymentPlan& plan, const std::string& name = kName) {
    const fs::path file = scratch / (name.substr(0, name.size() - 3) + "zav");
    WritePaymentFile(plan, file);
    const fs::path archive = scratch / name;
    EXPECT_EQ(EmpacaArchivo(archive.string(), file.string()), 0);
    return testing::ReadAll(archive);
  }

  // Every entry of the upload folder, hidden ones included.
  std::vector<std::string> Stored() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(uploads)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }
};

TEST_F(Upload, RefusesWithAClearAnswerAndStoresNothing) {
  const PaymentPlan plan = SamplePaymentPlan(3, 7);
  const std::string payment = PaymentBytes(plan);
  const std::string good = PageArchive(plan);
  const std::string inner = kName.substr(0, kName.size() - 3) + "zav";
  PaymentPlan other_folio = plan;
  other_folio.folio = "000002";

  struct Case {
    const char* what;
    std::string name;
    std::string body;
    int status;
    int message = 0;  // the control's message number, when it gave one
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
      {"archive too large", kName, good, 413, 0, "10/05/2004", {100, 1 << 20}},
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
       "10/05/2004",
       {64 << 20, 1 << 20}},
      {"paid after the deadline", kName, good, 422, 253, "20/06/2004"},
      {"period of the name not the file's",
       "33501e01.m1.s0870.rA1234567890.f000001.p200405.e999.zip", good, 422, 234},
      {"folio of the name not the file's",
       "33501e01.m1.s0870.rA1234567890.f000002.p200404.e999.zip", good, 422},
      {"file of another folio", kName, PageArchive(other_folio, kName), 422},
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
    EXPECT_TRUE(Stored().empty());
  }
}

TEST_F(Upload, NameMismatchSaysWhichNameTheFileHas) {
  const UploadAnswer answer =
      HandleUpload("33501e01.m1.s0870.rA1234567890.f000002.p200404.e999.zip",
                   PageArchive(SamplePaymentPlan(3, 7)), "10/05/2004", uploads);
  EXPECT_EQ(answer.status, 422);
  EXPECT_EQ(answer.body["expected"], kName);
}

TEST_F(Upload, KeepsAnAcceptedArchiveExactlyOnce) {
  const std::string archive = PageArchive(SamplePaymentPlan(3, 7));
  const UploadAnswer first = HandleUpload(kName, archive, "10/05/2004", uploads);
  ASSERT_EQ(first.status, 201) << first.body.dump();
  EXPECT_EQ(first.body["archive"], kName);
  EXPECT_EQ(first.body["capture_line"].get<std::string>().substr(0, 26),
            "A1234567890-000001-200404-");
  EXPECT_EQ(testing::ReadAll(uploads / kName), archive);
  EXPECT_EQ(Stored(), std::vector<std::string>{kName});  // no work left behind

  const UploadAnswer again =
      HandleUpload(kName, PageArchive(SamplePaymentPlan(5, 9)), "10/05/2004", uploads);
  EXPECT_EQ(again.status, 409);
  EXPECT_EQ(testing::ReadAll(uploads / kName), archive);
  EXPECT_EQ(Stored(), std::vector<std::string>{kName});
}

// ---- Over HTTP, with the zav program ----

TEST_F(Upload, ServerRoundTrip) {
  const fs::path web = scratch / "web";
  fs::create_directories(web / "sub");
  std::ofstream(web / "index.html") << "<p>zav</p>";
  std::ofstream(web / ".hidden") << "secret";
  std::ofstream(web / "build.sh") << "secret";
  // The server judges lateness by today's date: a deadline next year is never late.
  std::time_t now = std::time(nullptr);
  std::tm today{};
  localtime_r(&now, &today);
  PaymentPlan plan = SamplePaymentPlan(3, 7);
  plan.deadline_year = today.tm_year + 1900 + 1;
  const std::string archive = PageArchive(plan);

  testing::ServeProcess server(uploads, web);
  ASSERT_GT(server.port(), 0) << "the server did not say where it listens";
  const int port = server.port();

  const testing::HttpReply date = testing::HttpExchange(port, "GET", "/api/date");
  EXPECT_EQ(date.status, 200);
  EXPECT_EQ(date.body.size(), 10u);
  EXPECT_EQ(date.body, ServerDate());

  const testing::HttpReply page = testing::HttpExchange(port, "GET", "/");
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.body, "<p>zav</p>");
  for (const char* hidden :
       {"/.hidden", "/../serve_test.cpp", "/%2e%2e/%2e%2e/etc/passwd", "/sub/", "/api/upload"}) {
    const testing::HttpReply refused = testing::HttpExchange(port, "GET", hidden);
    EXPECT_GE(refused.status, 400) << hidden;
    EXPECT_EQ(refused.body.find("secret"), std::string::npos) << hidden;
  }

  EXPECT_EQ(testing::HttpExchange(port, "POST", "/api/upload", archive).status, 400);  // no name
  const testing::HttpReply stored =
      testing::HttpExchange(port, "POST", "/api/upload?name=" + kName, archive);
  EXPECT_EQ(stored.status, 201) << stored.body;
  EXPECT_NE(stored.body.find("\"archive\":\"" + kName + "\""), std::string::npos) << stored.body;
  EXPECT_EQ(testing::ReadAll(uploads / kName), archive);
  EXPECT_EQ(testing::HttpExchange(port, "POST", "/api/upload?name=" + kName, archive).status, 409);

  EXPECT_EQ(server.Stop(), 0);
}

}  // namespace
}  // namespace zav
