// The upload check (what it refuses, the archive it packs itself), and POST /api/check: the
// answer of `zav check --all --json` behind the same screening, credentials and limits as
// uploads, with nothing stored. The server around them is tested in serve_attacks_test.cpp.
#include <gtest/gtest.h>

#include <tuple>
#include <variant>

#include "api/upload.hpp"
#include "support/serve_harness.hpp"

namespace zav::testing {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

const std::string kName = ArchiveName("000001");
const std::string kInner = InnerName(kName);

class UploadCheck : public ServeTest {  // its drives hold the holiday settings looked up
 protected:
  fs::path work = base / "work";
  fs::path file = work / WorkName(kName);

  void SetUp() override {
    ServeTest::SetUp();
    fs::create_directories(work);
  }
  // `zav sample [args]` in a folder of its own: the file it wrote.
  fs::path Sample(const std::string& folder, const std::string& args = "") {
    const fs::path dir = scratch / folder;
    fs::create_directories(dir);
    Shell(std::string(ZAV_BINARY) + " sample -o " + dir.string() + " " + args);
    return fs::directory_iterator(dir)->path();
  }
};

TEST_F(UploadCheck, ArchiveNamesFollowThePatternExactly) {
  EXPECT_TRUE(IsArchiveName(kName));
  EXPECT_EQ(ArchiveRegistration(kName), "A1234567890");
  EXPECT_EQ(WorkName(kName), "P0404268.ZAV");
  for (const char* bad : {"pago.zip", "33501E01.M1.S0870.RA1234567890.F000001.P200404.E999.ZIP",
                          "../33501e01.m1.s0870.rA1234567890.f000001.p200404.e999.zip",
                          "33501e01.m1.s0870.rA123/567890.f000001.p200404.e999.zip",
                          "33501e01.m1.s0870.rA1234567890.f00000x.p200404.e999.zip", ""}) {
    EXPECT_FALSE(IsArchiveName(bad)) << bad;
  }
}

TEST_F(UploadCheck, UnpackRefusesWhatIsNotOnePlainFileOfBoundedSize) {
  const std::string payment = FileOf(SamplePaymentPlan(3, 7));
  const std::string good = ZipOf({{kInner, payment}}, scratch);
  const struct {
    const char* what;
    std::string body;
    int status;
    UploadLimits limits = {};
  } cases[] = {
      {"not a zip", payment, 400},
      {"two files", ZipOf({{kInner, payment}, {"other.txt", "x"}}, scratch), 400},
      {"no file", std::string("PK\5\6") + std::string(18, '\0'), 400},
      {"parent folder in the entry", ZipOf({{"../" + kInner, payment}}, scratch), 400},
      {"archive too large", good, 413, {100, 1 << 20}},
      {"unpacks too large",
       ZipOf({{kInner, std::string(4 << 20, ' ')}}, scratch),
       413,
       {64 << 20, 1 << 20}},
      {"unpacks to 1000 times its size", ZipOf({{kInner, std::string(8 << 20, ' ')}}, scratch),
       413},
  };
  for (const auto& c : cases) {
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
  const struct {
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
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path unpacked = work / WorkName(c.name);
    std::ofstream(unpacked, std::ios::binary) << FileOf(c.plan);
    const auto checked = ValidateUpload(c.name, unpacked, c.server_date);
    ASSERT_TRUE(std::holds_alternative<UploadAnswer>(checked));
    const UploadAnswer& answer = std::get<UploadAnswer>(checked);
    EXPECT_EQ(std::tuple(answer.status, answer.body.value("message", 0),
                         answer.body.value("expected", "")),
              std::tuple(422, c.message, c.expected))
        << answer.body.dump();
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
  EXPECT_EQ(ZipEntries(ReadAll(valid.archive)),
            (std::vector<std::pair<std::string, std::string>>{{kInner, payment}}));
  EXPECT_EQ(Listing(work), (std::vector<std::string>{kInner, kName}));
}

class ServeCheck : public UploadCheck {};

TEST_F(ServeCheck, AnswersWhatTheCommandPrintsAndStoresNothing) {
  ServeProcess server(uploads, web);
  ASSERT_TRUE(server.listening());
  const fs::path good = Sample("good"), broken = Sample("broken", "--break 27");
  const auto [archive_name, archive] = Archive("000001");
  const auto check = [&](const std::string& query, const std::string& body,
                         const char* type = "application/octet-stream") {
    return HttpExchange(server.endpoint(), "POST", "/api/check?" + query,
                        {server.Bearer(), std::string("Content-Type: ") + type}, body);
  };
  const std::string good_name = "name=" + good.filename().string(), body = ReadAll(good);
  const struct {
    const char* what;
    fs::path file;      // the file the command checks the same way
    std::string query;  // name= and mask=
    std::string body;
    const char* type;
    const char* flags;  // the command's
  } cases[] = {
      {"an accepted file", good, good_name, body, "application/octet-stream", ""},
      {"a rejected file", broken, "name=" + broken.filename().string(), ReadAll(broken),
       "application/octet-stream", ""},
      {"a rejected file masked", broken, "name=" + broken.filename().string() + "&mask=1",
       ReadAll(broken), "application/octet-stream", "--mask"},
      {"the page's zip", scratch / InnerName(archive_name), "name=" + archive_name, archive,
       "application/zip", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const HttpReply reply = check(c.query, c.body, c.type);
    ASSERT_EQ(reply.status, 200) << reply.body;
    json answer = json::parse(reply.body);
    // The page's zip holds the file under its packing name; the command checks it as the
    // server does, under its work name.
    const fs::path as_checked =
        c.file.parent_path() / "checked" /
        (c.type == std::string("application/zip") ? WorkName(archive_name)
                                                  : c.file.filename().string());
    fs::create_directories(as_checked.parent_path());
    fs::copy_file(c.file, as_checked, fs::copy_options::overwrite_existing);
    json printed = json::parse(Shell(std::string(ZAV_BINARY) + " check --all --json " + c.flags +
                                     " " + as_checked.string())
                                   .out);
    // The parameter string names the archive the control would pack, without the server's
    // folder.
    ASSERT_EQ(answer["param"].is_string(), printed["param"].is_string());
    if (answer["param"].is_string()) {
      EXPECT_EQ(answer["param"].get<std::string>().find(uploads.string()), std::string::npos);
      answer.erase("param");
      printed.erase("param");
    }
    EXPECT_EQ(answer, printed);
  }
  EXPECT_TRUE(fs::is_empty(uploads));

  const struct {
    const char* what;
    HttpReply reply;
    int status;
    const char* cause;
  } refused[] = {
      {"no credentials",
       HttpExchange(server.endpoint(), "POST", "/api/check?" + good_name,
                    {"Content-Type: application/octet-stream"}, body),
       401, "unauthenticated"},
      {"a name with a folder", check("name=..%2fP.ZAV", body), 400, "bad_name"},
      {"a bad mask", check(good_name + "&mask=yes", body), 400, "bad_request"},
      {"a form", check(good_name, body, "application/x-www-form-urlencoded"), 415,
       "unsupported_type"},
      {"an archive name on a file", check("name=" + archive_name, body), 400, "bad_archive"},
      {"GET", HttpExchange(server.endpoint(), "GET", "/api/check?" + good_name), 405,
       "method_not_allowed"},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(r.reply.status, r.status) << r.reply.body;
    EXPECT_EQ(json::parse(r.reply.body).value("cause", ""), r.cause);
  }
  const HttpReply description = HttpExchange(server.endpoint(), "GET", "/api/openapi.json");
  EXPECT_TRUE(json::parse(description.body)["paths"].contains("/api/check"));
}

// Checks cost what uploads cost: the limits of uploads bound them.
TEST_F(ServeCheck, ChecksCountAgainstTheUploadersLimits) {
  const fs::path good = Sample("good");
  const std::string body = ReadAll(good);
  for (const auto& [option, value, statuses] :
       {std::tuple<std::string, std::size_t, std::vector<int>>{
            "--quota-bytes", body.size() + 1000, {200, 507}},
        {"--max-file-bytes", body.size() - 1, {413}},
        {"--max-bytes", body.size() - 1, {413}}}) {
    SCOPED_TRACE(option);
    ServeProcess server(base / option.substr(2) / "uploads", web, {option, std::to_string(value)});
    ASSERT_TRUE(server.listening());
    for (const int status : statuses) {  // of the same check, one after another
      EXPECT_EQ(
          HttpExchange(server.endpoint(), "POST", "/api/check?name=" + good.filename().string(),
                       {server.Bearer(), "Content-Type: application/octet-stream"}, body)
              .status,
          status);
    }
  }
}

}  // namespace
}  // namespace zav::testing
