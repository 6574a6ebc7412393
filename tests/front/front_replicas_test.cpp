// Two replicas of zav-serve sharing a PostgreSQL database behind Debian's nginx with the
// shipped site: a name raced across them is stored once, and uploads under a replica killed
// or the database stopped lose nothing and leave nothing half-stored, as read back from the
// database and the replicas' folders.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "front/front_harness.hpp"
#include "support/pg_cluster.hpp"

namespace zav::testing {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

// Two replicas sharing a PostgreSQL database (a throwaway cluster of the suite, a database
// of each test) behind the shipped site, both in its upstream.
class FrontReplicas : public OnPostgres<Front> {
 protected:
  void SetUp() override {
    OnPostgres::SetUp();
    if (!IsSkipped() && !HasFatalFailure()) token = StoreToken(uri, "A1234567890");
  }
  std::vector<fs::path> StartServers() override {
    for (const char* which : {"a", "b"}) replicas.push_back(StartReplica(which));
    return {base / "a.sock", base / "b.sock"};
  }
  std::unique_ptr<ServeProcess> StartReplica(const std::string& which) {
    auto replica = std::make_unique<ServeProcess>(
        base / which / "uploads", web,
        std::vector<std::string>{"--store", uri, "--socket", (base / (which + ".sock")).string(),
                                 "--max-bytes", "1MiB", "--max-uploads-per-uploader", "16"});
    EXPECT_TRUE(replica->listening()) << replica->Log();
    return replica;
  }
  // An upload through the front, from the host the site exempts from its rate limits, so
  // that a load is not turned away.
  HttpReply Upload(const std::string& name, const std::string& archive) {
    return Send(UploadRequest(name, archive, {token}), "", kMonitor);
  }

  // Nothing half-stored: every receipt has its archive, the archive the receipt names, of
  // the payment file that was sent under its name; no replica keeps a file in its work folder.
  void ExpectWholeStore(const std::map<std::string, std::string>& sent) {
    EXPECT_EQ(Sql("SELECT count(*) FROM receipts LEFT JOIN archives USING (name) "
                  "WHERE archives.name IS NULL"),
              "0");
    std::istringstream rows(
        Sql("SELECT name || ' ' || payment_sha256 || ' ' || (receipt::json->>'archive_sha256') "
            "|| ' ' || encode(sha256(archive), 'hex') FROM receipts JOIN archives USING (name)"));
    for (std::string name, payment, named, archive; rows >> name >> payment >> named >> archive;) {
      ASSERT_TRUE(sent.contains(name)) << name;
      const auto entries = ZipEntries(sent.at(name));
      ASSERT_EQ(entries.size(), 1u) << name;
      EXPECT_EQ(payment, Sha256(entries[0].second)) << name;
      EXPECT_EQ(archive, named) << name;
    }
    for (const char* which : {"a", "b"}) {
      std::error_code ec;
      for (const auto& entry :
           fs::recursive_directory_iterator(base / which / "uploads.work", ec)) {
        if (!entry.is_directory()) ADD_FAILURE() << "left in the work folder: " << entry.path();
      }
    }
  }
  static std::string Sha256(const std::string& bytes) {
    unsigned char digest[32];
    unsigned int size = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr);
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
      hex += "0123456789abcdef"[digest[i] >> 4];
      hex += "0123456789abcdef"[digest[i] & 15];
    }
    return hex;
  }
  // Which upstream servers answered uploads, from nginx's log.
  std::set<std::string> UpstreamsOfUploads() {
    std::istringstream log(ReadAll(base / "nginx" / "access.log"));
    std::set<std::string> upstreams;
    for (std::string target, status, upstream; log >> target >> status >> upstream;) {
      if (target.starts_with("/api/upload")) upstreams.insert(upstream);
    }
    return upstreams;
  }

  std::string token;
  std::vector<std::unique_ptr<ServeProcess>> replicas;
};

// Uploads of one name racing through the front, spread over both replicas: one 201; the
// same payment file again gets 200 with the first receipt, another file 409.
TEST_F(FrontReplicas, ANameRacedAcrossReplicasIsStoredOnce) {
  const std::string name = ArchiveName("000071");
  const std::string first = Archive("000071").second, second = OtherArchive("000071");
  std::vector<std::future<HttpReply>> replies;
  for (int k = 0; k < 8; ++k) {
    replies.push_back(
        std::async(std::launch::async, [&, k] { return Upload(name, k % 2 ? second : first); }));
  }
  std::map<int, int> statuses;
  std::set<std::string> digests;
  for (auto& reply : replies) {
    const HttpReply got = reply.get();
    ++statuses[got.status];
    if (got.status != 409) {
      digests.insert(json::parse(got.body, nullptr, false).value("payment_sha256", "?"));
    }
  }
  EXPECT_EQ(statuses, (std::map<int, int>{{200, 3}, {201, 1}, {409, 4}}));
  ASSERT_EQ(digests.size(), 1u);  // every 200 gives the first receipt
  EXPECT_EQ(Sql("SELECT count(*) FROM receipts"), "1");
  EXPECT_EQ(Sql("SELECT payment_sha256 FROM receipts"), *digests.begin());
  EXPECT_EQ(UpstreamsOfUploads().size(), 2u) << ReadAll(base / "nginx" / "access.log");
  const bool first_won = Sha256(ZipEntries(first)[0].second) == *digests.begin();
  ExpectWholeStore({{name, first_won ? first : second}});
}

// A load of uploads through the front while a fault strikes: each answer is a 201 with its
// receipt and archive stored, or a refusal; nothing is ever half-stored, and once the fault
// is mended every refused upload is stored by sending it again.
TEST_F(FrontReplicas, UploadsUnderAKilledReplicaOrAStoppedDatabaseLoseNothing) {
  struct Case {
    const char* what;
    std::function<void()> strike, mend;
    std::set<int> refusals;
  } cases[] = {
      {"a replica killed mid-upload and started again",
       [&] { replicas[0]->Kill(); },
       [&] { replicas[0] = StartReplica("a"); },
       {502}},
      {"the database stopped and started",
       [&] { ASSERT_TRUE(pg->Stop()); },
       [&] { ASSERT_TRUE(pg->Start()); },
       {503}},
  };
  int folio = 100000;
  std::map<std::string, std::string> sent;  // of every case
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Files of 300 workers, so that a replica is in the middle of one when the fault strikes.
    std::vector<std::string> names;
    for (int k = 0; k < 48; ++k, ++folio) {
      const std::string f = std::to_string(folio);
      PaymentPlan plan = SamplePaymentPlan(300, static_cast<std::uint32_t>(folio));
      plan.folio = f;
      plan.deadline_year = OnTimePlan().deadline_year;
      names.push_back(ArchiveName(f));
      sent[names.back()] = PageArchive(plan, names.back(), scratch);
    }
    std::atomic<std::size_t> next{0};
    std::vector<std::pair<std::string, HttpReply>> answers(names.size());
    std::vector<std::thread> clients;
    for (int t = 0; t < 3; ++t) {
      clients.emplace_back([&] {
        for (std::size_t k; (k = next++) < names.size();) {
          answers[k] = {names[k], Upload(names[k], sent[names[k]])};
        }
      });
    }
    while (next < names.size() / 4) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    c.strike();
    while (next < names.size() / 2) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    c.mend();
    for (std::thread& t : clients) t.join();

    std::map<int, int> statuses;
    for (const auto& [name, reply] : answers) {
      ++statuses[reply.status];
      const std::string stored = Sql(
          "SELECT count(*) FROM receipts JOIN archives USING (name) WHERE name = '" + name + "'");
      if (reply.status == 201) {
        EXPECT_EQ(stored, "1") << name;
      } else {
        EXPECT_TRUE(c.refusals.contains(reply.status)) << reply.status << " " << reply.body;
      }
    }
    std::string counts;
    for (const auto& [status, count] : statuses) {
      counts += " " + std::to_string(count) + " x " + std::to_string(status);
    }
    std::printf("[ figures  ] %s:%s\n", c.what, counts.c_str());
    ExpectWholeStore(sent);

    // Mended: both replicas ready again through the front; every upload sent again is
    // stored, once (200 when a refused one had been stored after all).
    for (int k = 0; k < 100 && Get("/healthz").status != 200; ++k) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (const auto& [name, reply] : answers) {
      if (reply.status == 201) continue;
      const HttpReply again = Upload(name, sent[name]);
      EXPECT_TRUE(again.status == 201 || again.status == 200) << again.status << " " << again.body;
    }
    EXPECT_EQ(Sql("SELECT count(*) FROM receipts JOIN archives USING (name)"),
              std::to_string(sent.size()));
    ExpectWholeStore(sent);
  }
}

}  // namespace
}  // namespace zav::testing
