// zav-serve on its own, tried as an attacker would: each test is one way of hurting the server
// or its users, with what must hold afterwards; here what is stored and its HTTP. Who may
// store is serve_trust_test.cpp's, its resources serve_exhaustion_test.cpp's, nginx in
// front tests/front/'s.
#include "apps/serve_attacks.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "api/upload.hpp"
#include "support/serve_harness.hpp"

namespace zav::testing {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

std::string Sha256Sum(const fs::path& file) {
  return Shell("sha256sum " + file.string()).out.substr(0, 64);
}

// 4. The body was stored as received, so what a reader walking the archive from its start
// saw was not what was validated. Now the server stores its own archive of the validated
// payment file, with a receipt; the same upload again gets the first receipt (200), without
// its uploader and client address for another uploader, and another payment file under the
// name 409 saying when the first came.
TEST_F(ServeAttacks, TheStoredArchiveIsTheServersPackingOfTheValidatedFile) {
  ServeProcess server(uploads, web);
  ASSERT_TRUE(server.listening());
  const auto [name, archive] = Archive("000001");
  const std::string inner = InnerName(name);
  PaymentPlan invalid = OnTimePlan("000001");
  invalid.nombre = "OTRO PATRON";
  std::string prefix = ZipOf({{inner, FileOf(invalid)}}, scratch);
  prefix.resize(1 << 20, ' ');
  const std::string forged = Prefixed(prefix, archive, scratch);
  ASSERT_EQ(ZipEntries(forged), ZipEntries(archive));  // the reader is fooled

  const HttpReply stored = server.Upload(name, forged);
  ASSERT_EQ(stored.status, 201) << stored.body;
  const std::string kept = ReadAll(uploads / name);
  EXPECT_LT(kept.size(), archive.size() + 1024);
  EXPECT_EQ(kept.substr(0, 4), "PK\3\4");
  EXPECT_EQ(kept.substr(30, inner.size()), inner);  // the first entry from the start is it
  const auto entries = ZipEntries(kept);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0], ZipEntries(archive)[0]);

  const json receipt = json::parse(ReadAll(uploads / (name + ".json")));
  EXPECT_EQ(json::parse(stored.body), receipt);
  PageArchive(OnTimePlan("000001"), name, scratch);  // the payment file again
  EXPECT_EQ(receipt["payment_sha256"], Sha256Sum(scratch / inner));
  EXPECT_EQ(receipt["archive_sha256"], Sha256Sum(uploads / name));
  EXPECT_EQ(receipt["archive"], name);
  EXPECT_EQ(receipt["uploader"].get<std::string>().substr(0, 6), "token:");
  EXPECT_EQ(receipt["client"], "127.0.0.1");
  EXPECT_EQ(receipt["server_date"], ServerDate());
  for (const char* field : {"capture_line", "received", "rfc", "receipt_number"}) {
    EXPECT_TRUE(receipt[field].is_string()) << field;
  }
  EXPECT_EQ(receipt["period"], "200404");
  EXPECT_EQ(receipt["folio"], "000001");
  EXPECT_EQ(receipt["workers"], 3);
  EXPECT_TRUE(receipt["total"].is_string() && receipt["amount_imss"].is_string());

  // Signed: `zav receipt verify` takes it with the served key, and names a changed field.
  const HttpReply key = HttpExchange(server.endpoint(), "GET", "/api/receipt-key");
  ASSERT_EQ(key.status, 200) << key.body;
  EXPECT_EQ(json::parse(key.body)["key_id"], receipt["key_id"]);
  std::ofstream(scratch / "key.json") << key.body;
  json changed_total = receipt;
  changed_total["total"] = "0.01";
  struct Verified {
    json receipt;
    int status;
    const char* says;
  } verified[] = {{receipt, 0, ": valid"}, {changed_total, 1, "field total does not match"}};
  for (const Verified& v : verified) {
    std::ofstream(scratch / "receipt.json") << v.receipt.dump(2);
    const auto run =
        Shell(std::string(ZAV_BINARY) + " receipt verify " + (scratch / "receipt.json").string() +
              " --key " + (scratch / "key.json").string() + " 2>&1");
    EXPECT_EQ(run.status, v.status) << run.out;
    EXPECT_NE(run.out.find(v.says), std::string::npos) << run.out;
  }

  const HttpReply again = server.Upload(name, archive);
  EXPECT_EQ(again.status, 200) << again.body;
  EXPECT_EQ(json::parse(again.body), receipt);
  // Who sent it and from where are shown to that uploader only, not to another entitled one.
  json shown = receipt;
  shown.erase("uploader");
  shown.erase("client");
  const HttpReply colleague = server.Upload(name, archive, {Bearer(base / "tokens")});
  EXPECT_EQ(colleague.status, 200) << colleague.body;
  EXPECT_EQ(json::parse(colleague.body), shown);
  PaymentPlan changed = OnTimePlan("000001");
  changed.seed = 99;
  const auto [same_name, other_file] = Archive("000001", &changed);
  const HttpReply different = server.Upload(name, other_file);
  EXPECT_EQ(different.status, 409) << different.body;
  EXPECT_EQ(json::parse(different.body)["received"], receipt["received"]);
  EXPECT_EQ(ReadAll(uploads / name), kept);
  EXPECT_EQ(json::parse(ReadAll(uploads / (name + ".json"))), receipt);
  EXPECT_EQ(Stored(), (std::vector<std::string>{name, name + ".json"}));

  // The log line of the upload names who, what and how it ended.
  const std::string log = server.Log();
  const std::size_t at = log.find("\"status\":201");
  ASSERT_NE(at, std::string::npos) << log;
  const std::size_t from = log.rfind('\n', at) + 1;
  const json line = json::parse(log.substr(from, log.find('\n', at) - from));
  EXPECT_EQ(line["identity"], receipt["uploader"]);
  EXPECT_EQ(line["archive"], name);
  EXPECT_EQ(line["method"], "POST");
}

// 7. Lax HTTP: two Content-Length headers were taken, a many-range header drew a huge answer,
// the page's tests and symbolic links were served, and nothing was logged; a NUL, control
// byte or other encoding in the path cut the name short where it was opened
// (/package.json%00.js served package.json). Now framing that is not plain is 400, at most
// one range is served (on page files only), only the page's files are, the decoded path
// judged whole, and every request is one JSON line in the log.
TEST_F(ServeAttacks, HttpIsStrictAndEveryRequestIsLogged) {
  for (const char* file : {"package.json", "build-wasm.sh", "index.html~"}) {
    std::ofstream(web / file) << "secret";
  }
  ServeProcess server(uploads, web);
  ASSERT_TRUE(server.listening());
  const auto [name, archive] = Archive("000001");
  const std::string upload_head = UploadHead(name, server.Bearer());
  std::string ranges = "Range: bytes=0-0";
  while (ranges.size() < 6000) ranges += ",0-0";
  struct Case {
    const char* what;
    std::string request;
    int status;
    std::string body = "";  // when given, the whole body
    int or_status = 0;      // another status the HTTP library may give it
  } cases[] = {
      {"two Content-Length",
       upload_head + "Content-Length: 5\r\nContent-Length: " + std::to_string(archive.size()) +
           "\r\n\r\n" + archive,
       400},
      {"Content-Length with chunked",
       upload_head + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400},
      {"a body on GET", HttpRequest("GET", "/api/date", {}, "x"), 400},
      {"many ranges", HttpRequest("GET", "/index.html", {ranges}), 200, "<p>zav</p>"},
      {"one range", HttpRequest("GET", "/index.html", {"Range: bytes=3-5"}), 206, "zav"},
      {"a range past the end", HttpRequest("GET", "/index.html", {"Range: bytes=99-"}), 416},
      {"a range on the API", HttpRequest("GET", "/api/date", {"Range: bytes=0-1"}), 200,
       ServerDate()},
      {"the page's tests", HttpRequest("GET", "/tests/e2e.mjs"), 404},
      {"a symbolic link", HttpRequest("GET", "/linked.html"), 404},
      {"a hidden path", HttpRequest("GET", "/%2e%2e/secret.html"), 404},
      {"an encoded NUL", HttpRequest("GET", "/package.json%00.js"), 404},
      {"an encoded NUL after a script", HttpRequest("GET", "/build-wasm.sh%00.js"), 404},
      {"an encoded NUL after a backup", HttpRequest("GET", "/index.html~%00.js"), 404},
      {"a NUL in %u form", HttpRequest("GET", "/package.json%u0000.js"), 404},
      {"an overlong NUL", HttpRequest("GET", "/package.json%c0%80.js"), 404},
      {"a NUL in the folder", HttpRequest("GET", "/dist%00/../package.json%00.js"), 404},
      {"an encoded way up", HttpRequest("GET", "/dist%2f..%2fpackage.json%00.js"), 404},
      {"a line feed", HttpRequest("GET", "/package.json%0a.js"), 404},
      {"a carriage return", HttpRequest("GET", "/package.json%0d.js"), 404},
      {"a tab", HttpRequest("GET", "/package.json%09.js"), 404},
      {"a delete", HttpRequest("GET", "/package.json%7f.js"), 404},
      {"a backslash", HttpRequest("GET", "/dist%5c..%5cpackage.json%00.js"), 404},
      {"a raw NUL", HttpRequest("GET", std::string("/package.json\0.js", 17)), 400, "", 404},
      {"the page's module", HttpRequest("GET", "/dist/zavctl.js"), 200, "export {};"},
      {"another method", HttpRequest("DELETE", "/api/upload"), 405},
      {"a header line without its colon", "GET / HTTP/1.1\r\nHost 127.0.0.1\r\n\r\n", 400},
      {"a request line that is not HTTP", "GET /index.html HTTP/1.1 x\r\n\r\n", 400},
      {"a head too large",
       "GET / HTTP/1.1\r\nHost: x\r\nX-Pad: " + std::string(20000, 'x') + "\r\n\r\n", 431},
  };
  std::multiset<int> logged, answered;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const HttpReply reply = RawExchange(server.endpoint(), c.request);
    EXPECT_TRUE(reply.status == c.status || reply.status == c.or_status) << reply.head;
    answered.insert(reply.status);
    if (!c.body.empty()) {
      EXPECT_EQ(reply.body, c.body);
    }
    EXPECT_EQ(reply.body.find("secret"), std::string::npos);
  }
  EXPECT_TRUE(Stored().empty());

  ASSERT_EQ(server.Stop(), 0);
  // One line a request, with every field: the same statuses as the answers.
  std::istringstream log(server.Log());
  for (std::string line; std::getline(log, line);) {
    const json entry = json::parse(line, nullptr, false);
    ASSERT_TRUE(entry.is_object()) << line;
    if (!entry.contains("status")) continue;
    logged.insert(entry["status"].get<int>());
    for (const char* field : {"time", "id", "client", "method", "path", "bytes_in", "bytes_out",
                              "ms", "identity", "archive", "message", "cause"}) {
      EXPECT_TRUE(entry.contains(field)) << field;
    }
  }
  EXPECT_EQ(logged, answered);
}

// One server an address: a second one on it is refused, saying which address; an address
// that is not loopback needs the operator's word that no front is wanted.
TEST_F(ServeAttacks, AnAddressInUseOrNotLoopbackIsRefused) {
  ServeProcess first(uploads, web);
  ASSERT_TRUE(first.listening());
  const fs::path other = base / "other" / "uploads";
  ServeProcess second(other, web, {"--port", std::to_string(first.port())});
  EXPECT_EQ(second.Wait(), 2);
  EXPECT_NE(second.Log().find("127.0.0.1:" + std::to_string(first.port()) + " is in use"),
            std::string::npos)
      << second.Log();
  ServeProcess open(other, web, {"--host", "0.0.0.0"});
  EXPECT_EQ(open.Wait(), 64);
  EXPECT_NE(open.Log().find("--insecure-direct"), std::string::npos) << open.Log();
  EXPECT_EQ(HttpExchange(first.endpoint(), "GET", "/healthz").status, 200);
}

}  // namespace
}  // namespace zav::testing
