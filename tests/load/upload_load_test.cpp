// `zav serve` under load (ctest -L load): 50 valid uploads, 10 sent twice at once, and 200
// malformed ones from 32 threads: each valid one stored once, each malformed one refused,
// nothing else in the folder, and the server still answers and stops cleanly.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "api/upload.hpp"
#include "support/serve_harness.hpp"

namespace zav::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kValid = 50, kTwice = 10, kMalformed = 200, kThreads = 32;
constexpr std::size_t kMaxBytes = 1 << 20;  // the server's --max-bytes

struct Upload {
  std::string target, body;
  std::size_t sent;       // bytes of the body sent (the rest is promised, then the line shut)
  int expected;           // status; 0 also accepts no answer (the server may just hang up)
  std::string stored_as;  // the name it must be stored under ("" for none)
  bool credentials = true;
};

TEST(UploadLoad, ConcurrentValidAndMalformedUploads) {
  const auto started = std::chrono::steady_clock::now();
  TempDrives drives{"C=fixed"};
  const fs::path uploads = drives.base() / "uploads", scratch = drives.base() / "scratch",
                 web = drives.base() / "web";
  for (const fs::path& p : {uploads, scratch, web}) fs::create_directories(p);
  std::ofstream(web / "index.html") << "<p>zav</p>";

  std::vector<Upload> work;
  std::map<std::string, std::string> valid;  // name -> archive
  for (int k = 1; k <= kValid; ++k) {
    const std::string folio = std::to_string(1000000 + k).substr(1), name = ArchiveName(folio);
    valid[name] = PageArchive(OnTimePlan(folio), name, scratch);
    work.push_back({"/api/upload?name=" + name, valid[name], valid[name].size(), 201, name});
    if (k <= kTwice) work.push_back(work.back());  // the same upload twice at once
  }
  // One of each stage that refuses (what each refuses: serve_test.cpp, serve_attacks_test.cpp).
  const std::string some = valid.begin()->second, payment = FileOf(OnTimePlan("900000"));
  const std::string huge(2 * kMaxBytes, 'P');
  const std::string name = "/api/upload?name=" + ArchiveName("900002");
  const Upload kinds[] = {
      {"/api/upload?name=../" + valid.begin()->first, some, some.size(), 400, ""},
      {name, payment, payment.size(), 400, ""},   // not a zip
      {name, some, some.size() / 2, 0, ""},       // cut short
      {name, huge, huge.size(), 0, ""},           // over --max-bytes
      {name, some, some.size(), 422, ""},         // an accepted file under another name
      {name, some, some.size(), 401, "", false},  // no credentials
  };
  for (int k = 0; k < kMalformed; ++k) work.push_back(kinds[k % std::size(kinds)]);
  std::shuffle(work.begin(), work.end(), std::mt19937(7));

  ServeProcess server(
      uploads, web,
      {"--max-bytes", std::to_string(kMaxBytes), "--max-uploads", std::to_string(kThreads),
       "--max-uploads-per-uploader", std::to_string(kThreads)});  // one token for all
  ASSERT_GT(server.port(), 0) << "the server did not say where it listens";
  std::atomic<std::size_t> next{0};
  std::vector<int> status(work.size(), -1);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (std::size_t k; (k = next++) < work.size();) {
        const Upload& u = work[k];
        std::vector<std::string> headers = {"Content-Type: application/zip"};
        if (u.credentials) headers.push_back(server.Bearer());
        const std::string request = HttpRequest("POST", u.target, headers, u.body);
        status[k] =
            RawExchange(server.endpoint(), request, request.size() - (u.body.size() - u.sent))
                .status;  // 0: no answer
      }
    });
  }
  for (std::thread& t : threads) t.join();

  std::map<std::string, std::multiset<int>> answers;  // per valid name
  for (std::size_t k = 0; k < work.size(); ++k) {
    const Upload& u = work[k];
    if (!u.stored_as.empty()) {
      answers[u.stored_as].insert(status[k]);
    } else if (u.expected == 0) {  // no answer, or a refusal
      EXPECT_TRUE(status[k] == 0 || (status[k] >= 400 && status[k] < 500))
          << u.target << " " << u.body.size() << ": " << status[k];
    } else {
      EXPECT_EQ(status[k], u.expected) << u.target << " " << u.body.size();
    }
  }
  for (const auto& [name, got] : answers) {
    EXPECT_EQ(got, (got.size() == 1 ? std::multiset<int>{201} : std::multiset<int>{200, 201}))
        << name;
  }
  // Still answering: the date, the page, one more upload, and still refusing another file
  // under a stored name.
  const Endpoint& port = server.endpoint();
  EXPECT_EQ(HttpExchange(port, "GET", "/api/date").body, ServerDate());
  EXPECT_EQ(HttpExchange(port, "GET", "/").body, "<p>zav</p>");
  const std::string last = ArchiveName("000099");
  valid[last] = PageArchive(OnTimePlan("000099"), last, scratch);
  const HttpReply stored = server.Upload(last, valid[last]);
  EXPECT_EQ(stored.status, 201) << stored.body;
  EXPECT_NE(stored.body.find("\"archive\":\"" + last + "\""), std::string::npos) << stored.body;
  EXPECT_EQ(server.Upload(valid.begin()->first, valid[last]).status, 409);

  std::vector<std::string> names;
  for (const auto& [name, archive] : valid) {
    names.insert(names.end(), {name, name + ".json"});
    EXPECT_EQ(ZipEntries(ReadAll(uploads / name)), ZipEntries(archive)) << name;
  }
  EXPECT_EQ(Listing(uploads), names);  // nothing else: no half-written or work files
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
}

}  // namespace
}  // namespace zav::testing
