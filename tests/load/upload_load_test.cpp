// `zav serve` under load on loopback (ctest -L load): 50 valid uploads of distinct
// archives, 10 of them sent twice at the same time, and 200 malformed ones (names off the
// pattern or climbing out of the folder, bodies cut short, too large, not zip, zip holding
// the wrong things), all from 32 threads at once. Afterwards every valid archive is stored
// exactly once and byte for byte, nothing else is in the upload folder (no half-written or
// work files), every malformed upload got a refusal, and the server still answers and stops
// cleanly. Every exchange has a time limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "files/zip_packing.hpp"
#include "platform/temp_drives.hpp"
#include "support/serve_harness.hpp"
#include "validation/payment_writer.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;
using testing::ReadAll;

constexpr int kValid = 50, kTwice = 10, kMalformed = 200, kThreads = 32;
constexpr std::size_t kMaxBytes = 1 << 20;  // the server's --max-bytes

std::string ArchiveName(const std::string& folio) {
  return "33501e01.m1.s0870.rA1234567890.f" + folio + ".p200404.e999.zip";
}

std::string Payment(const std::string& folio) {
  std::time_t now = std::time(nullptr);
  std::tm today{};
  localtime_r(&now, &today);
  PaymentPlan plan = SamplePaymentPlan(3, static_cast<std::uint32_t>(std::stoi(folio)));
  plan.folio = folio;
  plan.deadline_year = today.tm_year + 1900 + 1;  // never late against the server's date
  std::ostringstream out;
  WritePaymentFile(plan, out);
  return out.str();
}

// The control's own packing of the payment of `folio`.
std::string PageArchive(const std::string& folio, const fs::path& scratch) {
  const std::string name = ArchiveName(folio);
  const fs::path file = scratch / (name.substr(0, name.size() - 3) + "zav");
  std::ofstream(file, std::ios::binary) << Payment(folio);
  EXPECT_EQ(EmpacaArchivo((scratch / name).string(), file.string()), 0);
  return ReadAll(scratch / name);
}

struct Upload {
  std::string target;
  std::string body;
  std::size_t sent;       // bytes of the body actually sent (the rest is promised, then the
                          // connection is shut)
  int expected;           // status; 0 accepts no answer at all (the server may just hang up)
  std::string stored_as;  // the name it must be stored under ("" for none)
};

// One upload; the status, 0 for no answer.
int Exchange(int port, const Upload& u, const std::string& method = "POST") {
  return testing::HttpExchange(port, method, u.target, u.body, u.sent).status;
}

TEST(UploadLoad, ConcurrentValidAndMalformedUploads) {
  const auto started = std::chrono::steady_clock::now();
  testing::TempDrives drives{"C=fixed"};
  const fs::path uploads = drives.base() / "uploads", scratch = drives.base() / "scratch",
                 web = drives.base() / "web";
  for (const fs::path& p : {uploads, scratch, web}) fs::create_directories(p);
  std::ofstream(web / "index.html") << "<p>zav</p>";

  std::vector<Upload> work;
  std::map<std::string, std::string> valid;  // name -> archive
  for (int k = 1; k <= kValid; ++k) {
    char folio[8];
    std::snprintf(folio, sizeof folio, "%06d", k);
    const std::string archive = PageArchive(folio, scratch), name = ArchiveName(folio);
    valid[name] = archive;
    work.push_back({"/api/upload?name=" + name, archive, archive.size(), 201, name});
    if (k <= kTwice) work.push_back(work.back());  // the same upload twice at once
  }
  const std::string some = valid.begin()->second, payment = Payment("900000");
  const std::string inner = ArchiveName("900001").substr(0, ArchiveName("900001").size() - 3);
  const std::string two = testing::ZipOf({{inner + "zav", payment}, {"x.txt", "x"}}, scratch);
  const std::string climbing = testing::ZipOf({{"../" + inner + "zav", payment}}, scratch);
  const std::string huge(2 * kMaxBytes, 'P');
  const std::string name = "/api/upload?name=" + ArchiveName("900002");
  const Upload kinds[] = {
      {"/api/upload?name=pago.zip", some, some.size(), 400, ""},
      {"/api/upload?name=../" + valid.begin()->first, some, some.size(), 400, ""},
      {"/api/upload?name=..%2F..%2F" + valid.begin()->first, some, some.size(), 400, ""},
      {"/api/upload", some, some.size(), 400, ""},
      {name, payment, payment.size(), 400, ""},  // not a zip
      {name, some, some.size() / 2, 0, ""},      // cut short
      {name, huge, huge.size(), 0, ""},          // over --max-bytes
      {name, some, some.size(), 422, ""},        // an accepted file under another name
      {name, two, two.size(), 400, ""},
      {name, climbing, climbing.size(), 400, ""},
  };
  for (int k = 0; k < kMalformed; ++k) work.push_back(kinds[k % std::size(kinds)]);
  std::shuffle(work.begin(), work.end(), std::mt19937(7));

  testing::ServeProcess server(uploads, web, {"--max-bytes", std::to_string(kMaxBytes)});
  ASSERT_GT(server.port(), 0) << "the server did not say where it listens";
  std::atomic<std::size_t> next{0};
  std::vector<int> status(work.size(), -1);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (std::size_t k; (k = next++) < work.size();) status[k] = Exchange(server.port(), work[k]);
    });
  }
  for (std::thread& t : threads) t.join();

  std::map<std::string, std::vector<int>> answers;  // per valid name
  for (std::size_t k = 0; k < work.size(); ++k) {
    const Upload& u = work[k];
    if (!u.stored_as.empty()) {
      answers[u.stored_as].push_back(status[k]);
    } else if (u.expected == 0) {  // no answer, or a refusal
      EXPECT_TRUE(status[k] == 0 || (status[k] >= 400 && status[k] < 500))
          << u.target << " " << u.body.size() << ": " << status[k];
    } else {
      EXPECT_EQ(status[k], u.expected) << u.target << " " << u.body.size();
    }
  }
  for (const auto& [name, got] : answers) {
    std::vector<int> sorted = got;
    std::sort(sorted.begin(), sorted.end());
    const std::vector<int> once = {201}, twice = {201, 409};
    EXPECT_EQ(sorted, got.size() == 1 ? once : twice) << name;
  }
  std::vector<std::string> stored;
  for (const auto& e : fs::directory_iterator(uploads)) {
    stored.push_back(e.path().filename().string());
    const auto it = valid.find(stored.back());
    if (it == valid.end()) {
      ADD_FAILURE() << "not an accepted upload: " << stored.back();
    } else {
      EXPECT_EQ(ReadAll(e.path()), it->second) << stored.back();
    }
  }
  EXPECT_EQ(stored.size(), valid.size());

  // Still answering, and still refusing a second copy.
  EXPECT_EQ(Exchange(server.port(), {"/api/date", "", 0, 200, ""}, "GET"), 200);
  const Upload again{"/api/upload?name=" + valid.begin()->first, some, some.size(), 409, ""};
  EXPECT_EQ(Exchange(server.port(), again), 409);
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
}

}  // namespace
}  // namespace zav
