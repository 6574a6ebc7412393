// POST /api/check: the answer of `zav check --all --json` for a payment file or the page's
// zip, behind the same screening and credentials as uploads, with nothing stored.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "api/upload.hpp"
#include "support/serve_harness.hpp"

namespace zav::testing {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

class ServeCheck : public ServeTest {
 protected:
  // `zav sample [args]` in a folder of its own: the file it wrote.
  fs::path Sample(const std::string& folder, const std::string& args = "") {
    const fs::path dir = scratch / folder;
    fs::create_directories(dir);
    Shell(std::string(ZAV_BINARY) + " sample -o " + dir.string() + " " + args);
    return fs::directory_iterator(dir)->path();
  }
};

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
  struct Case {
    const char* what;
    fs::path file;      // the file the command checks the same way
    std::string query;  // name= and mask=
    std::string body;
    const char* type;
    const char* flags;  // the command's
  } cases[] = {
      {"an accepted file", good, "name=" + good.filename().string(), ReadAll(good),
       "application/octet-stream", ""},
      {"a rejected file", broken, "name=" + broken.filename().string(), ReadAll(broken),
       "application/octet-stream", ""},
      {"a rejected file masked", broken, "name=" + broken.filename().string() + "&mask=1",
       ReadAll(broken), "application/octet-stream", "--mask"},
      {"the page's zip", scratch / InnerName(archive_name), "name=" + archive_name, archive,
       "application/zip", ""},
  };
  for (const Case& c : cases) {
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
    // The parameter string names the archive the control would pack, here without the
    // server's folder.
    ASSERT_EQ(answer["param"].is_string(), printed["param"].is_string());
    if (answer["param"].is_string()) {
      EXPECT_EQ(answer["param"].get<std::string>().find(uploads.string()), std::string::npos);
      answer.erase("param");
      printed.erase("param");
    }
    EXPECT_EQ(answer, printed);
  }
  EXPECT_TRUE(fs::is_empty(uploads));

  const std::string name = "name=" + good.filename().string();
  const std::string body = ReadAll(good);
  struct Refused {
    const char* what;
    HttpReply reply;
    int status;
    const char* cause;
  } refused[] = {
      {"no credentials",
       HttpExchange(server.endpoint(), "POST", "/api/check?" + name,
                    {"Content-Type: application/octet-stream"}, body),
       401, "unauthenticated"},
      {"no name", check("", body), 400, "bad_name"},
      {"a name with a folder", check("name=..%2fP.ZAV", body), 400, "bad_name"},
      {"a bad mask", check(name + "&mask=yes", body), 400, "bad_request"},
      {"a form", check(name, body, "application/x-www-form-urlencoded"), 415, "unsupported_type"},
      {"an archive name on a file", check("name=" + archive_name, body), 400, "bad_archive"},
      {"GET", HttpExchange(server.endpoint(), "GET", "/api/check?" + name), 405,
       "method_not_allowed"},
  };
  for (const Refused& r : refused) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(r.reply.status, r.status) << r.reply.body;
    EXPECT_EQ(json::parse(r.reply.body).value("cause", ""), r.cause);
  }

  const HttpReply description = HttpExchange(server.endpoint(), "GET", "/api/openapi.json");
  ASSERT_EQ(description.status, 200);
  EXPECT_TRUE(json::parse(description.body)["paths"].contains("/api/check"));
}

// Checks cost what uploads cost: the limits of uploads bound them.
TEST_F(ServeCheck, ChecksCountAgainstTheUploadersLimits) {
  const fs::path good = Sample("good");
  const std::string body = ReadAll(good);
  struct Case {
    const char* what;
    std::vector<std::string> options;
    std::vector<int> statuses;  // of the same check, one after another
  } cases[] = {
      {"the quota", {"--quota-bytes", std::to_string(body.size() + 1000)}, {200, 507}},
      {"the file's size", {"--max-file-bytes", std::to_string(body.size() - 1)}, {413}},
      {"the body's size", {"--max-bytes", std::to_string(body.size() - 1)}, {413}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ServeProcess server(base / c.options[0].substr(2) / "uploads", web, c.options);
    ASSERT_TRUE(server.listening());
    for (const int status : c.statuses) {
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
