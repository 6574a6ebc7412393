// zav-serve's stores over HTTP: replicas sharing a throwaway PostgreSQL database, and the
// lookups and removal of old archives in both stores.
#include <gtest/gtest.h>

#include <future>
#include <map>
#include <memory>
#include <set>

#include "support/serve_harness.hpp"

namespace zav::testing {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

// `zav serve ARGS`, its standard output and status.
Ran Zav(const std::string& args) { return Shell(std::string(ZAV_BINARY) + " serve " + args); }

json Body(const HttpReply& reply) { return json::parse(reply.body, nullptr, false); }

class ServeStore : public OnPostgres<ServeTest> {
 protected:
  // Replica `which` on the shared database, with its own work folder and token.
  std::unique_ptr<ServeProcess> Replica(const std::string& which,
                                        std::vector<std::string> extra = {}) {
    extra.insert(extra.begin(), {"--store", uri});
    auto replica = std::make_unique<ServeProcess>(base / which / "uploads", web, extra);
    EXPECT_TRUE(replica->listening()) << replica->Log();
    return replica;
  }
};

// A name raced on two replicas is stored once; quotas count across them. (A replica killed or
// the database stopped under load: tests/front/front_test.cpp.)
TEST_F(ServeStore, ReplicasStoreANameOnceAndShareQuotas) {
  auto a = Replica("a", {"--quota-bytes", "10000"}), b = Replica("b", {"--quota-bytes", "10000"});
  const std::string name = ArchiveName("000011");
  PaymentPlan other = SamplePaymentPlan(4, 27);  // another payment file under the same name
  other.folio = "000011";
  other.deadline_year = OnTimePlan().deadline_year;
  const std::string first = Archive("000011").second, second = Archive("000011", &other).second;
  std::vector<std::future<HttpReply>> replies;  // each file on each replica, twice
  for (int k = 0; k < 8; ++k) {
    replies.push_back(std::async(std::launch::async, [&, k] {
      return (k % 2 ? b : a)->Upload(name, k / 2 % 2 ? second : first);
    }));
  }
  std::map<int, int> statuses;
  std::set<std::string> digests;
  for (auto& reply : replies) {
    const HttpReply got = reply.get();
    ++statuses[got.status];
    if (got.status == 409) {
      EXPECT_EQ(Body(got)["cause"], "duplicate");
    } else {
      digests.insert(Body(got).value("payment_sha256", "?"));
    }
  }
  EXPECT_EQ(statuses, (std::map<int, int>{{200, 3}, {201, 1}, {409, 4}}));
  EXPECT_EQ(digests.size(), 1u);  // every 200 gives the first receipt
  EXPECT_EQ(Sql("SELECT count(*) FROM archives WHERE name = '" + name + "'"), "1");

  const std::string bearer = StoreToken(uri, "A1234567890"), junk(6000, 'x');
  EXPECT_EQ(a->Upload(ArchiveName("000061"), junk, {bearer}).status, 400);  // costs its bytes
  const HttpReply over = b->Upload(ArchiveName("000061"), junk, {bearer});
  EXPECT_EQ(over.status, 507) << over.body;
  EXPECT_EQ(Body(over)["cause"], "quota");
}

TEST_F(ServeStore, WithoutTheDatabaseUploadsWaitAndTheReplicaRecovers) {
  auto a = Replica("a");
  ASSERT_TRUE(pg->Stop());
  const auto [name, bytes] = Archive("000021");
  const HttpReply refused = a->Upload(name, bytes);
  EXPECT_EQ(refused.status, 503) << refused.body;
  EXPECT_EQ(Body(refused)["cause"], "store_unavailable");
  EXPECT_FALSE(refused.Header("Retry-After").empty());
  EXPECT_EQ(HttpExchange(a->endpoint(), "GET", "/api/date").status, 200);
  EXPECT_EQ(HttpExchange(a->endpoint(), "GET", "/healthz").status, 503);

  ASSERT_TRUE(pg->Start());
  int health = 0;
  for (int k = 0; k < 100 && health != 200; ++k) {
    health = HttpExchange(a->endpoint(), "GET", "/healthz").status;
    if (health != 200) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(health, 200);
  EXPECT_EQ(a->Upload(name, bytes).status, 201);
}

// Tokens made on one machine count on another replica at its next request, listed and
// revoked the same way as in the token file; a schema newer than the replica knows stops it.
TEST_F(ServeStore, TokensMadeByTheOperatorCountOnEveryReplicaAtOnce) {
  auto a = Replica("a");
  for (const bool database : {true, false}) {
    SCOPED_TRACE(database ? "database" : "token file");
    const auto [name, bytes] = Archive(database ? "000041" : "000042");
    const std::string where =
        database ? "--store " + Quoted(uri) : "--tokens " + (base / "a" / "tokens").string();
    const std::string bearer = database ? StoreToken(uri, "A1234567890") : a->Bearer();
    EXPECT_EQ(a->Upload(name, bytes, {bearer}).status, 201);
    const std::string identity = Body(a->Upload(name, bytes, {bearer})).value("uploader", "?");
    EXPECT_NE(Zav("token list " + where).out.find(identity + " A1234567890"), std::string::npos);
    EXPECT_EQ(Zav("token revoke " + where + " " + identity).status, 0);
    EXPECT_EQ(a->Upload(name, bytes, {bearer}).status, 401);
    EXPECT_EQ(Zav("token revoke " + where + " " + identity).status, 1);  // once
  }
  Sql("UPDATE zav_schema SET version = 99");
  ServeProcess newer(base / "c" / "uploads", web, {"--store", uri});
  EXPECT_EQ(newer.Wait(), 2);
  EXPECT_NE(newer.Log().find("schema version 99, newer than this zav-serve knows"),
            std::string::npos)
      << newer.Log();
}

// Lookups and retention: the same answers from either store.
TEST_F(ServeStore, LookupsShowOnlyTheEntitledAndOldArchivesGoButTheirReceiptsStay) {
  for (const bool database : {false, true}) {
    SCOPED_TRACE(database ? "database" : "folder");
    const fs::path uploads = base / (database ? "db" : "folder") / "uploads";
    std::vector<std::string> store;
    if (database) store = {"--store", uri};
    const auto [name, bytes] = Archive(database ? "000051" : "000052");
    auto server = std::make_unique<ServeProcess>(uploads, web, store);
    ASSERT_EQ(server->Upload(name, bytes).status, 201);
    const std::string stranger = database
                                     ? StoreToken(uri, "B9999999999")
                                     : Bearer(uploads.parent_path() / "tokens", {"B9999999999"});
    const std::string never = ArchiveName("000099"), mine = server->Bearer();
    const struct {
      const char* what;
      std::string credentials, target;
      int status;
    } cases[] = {
        {"entitled, stored", mine, "/api/receipts/" + name, 200},
        {"entitled, never stored", mine, "/api/receipts/" + never, 404},
        {"another employer's uploader", stranger, "/api/receipts/" + name, 404},
        {"no credentials", "", "/api/receipts/" + name, 401},
        {"entitled, the period", mine, "/api/receipts?period=200404", 200},
        {"another employer's, the period", stranger, "/api/receipts?period=200404", 200},
        {"no period", mine, "/api/receipts?period=2004", 400},
    };
    std::string not_found;
    for (const auto& c : cases) {
      SCOPED_TRACE(c.what);
      const HttpReply reply = HttpExchange(
          server->endpoint(), "GET", c.target,
          c.credentials.empty() ? std::vector<std::string>{} : std::vector{c.credentials});
      EXPECT_EQ(reply.status, c.status) << reply.body;
      if (c.status == 404 && not_found.empty()) not_found = reply.body;
      EXPECT_TRUE(c.status != 404 || reply.body == not_found) << reply.body;  // all alike
      const json body = Body(reply);
      if (c.status == 200 && body.contains("receipt")) {
        EXPECT_EQ(body["receipt"]["archive"], name);
        EXPECT_TRUE(body["archive_removed"].is_null());
      }
      if (c.status == 200 && body.contains("receipts")) {
        EXPECT_EQ(body["receipts"].size(), c.credentials == stranger ? 0u : 1u);
      }
    }
    const std::string csv =
        Zav("receipts export --period 200404 --format csv " +
            (database ? "--store " + Quoted(uri) : "--uploads " + uploads.string()))
            .out;
    EXPECT_NE(csv.find("\n" + name + ",A1234567890,200404,"), std::string::npos) << csv;

    // Started again keeping no archive: the archive goes, its receipt stays, marked.
    server.reset();
    store.insert(store.end(), {"--keep-days", "0"});
    server = std::make_unique<ServeProcess>(uploads, web, store);
    json removed;
    for (int k = 0; k < 100 && !removed.is_string(); ++k) {
      removed = Body(HttpExchange(server->endpoint(), "GET", "/api/receipts/" + name,
                                  {server->Bearer()}))["archive_removed"];
      if (!removed.is_string()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(removed.is_string());
    if (database) {
      EXPECT_EQ(Sql("SELECT count(*) FROM archives"), "0");
      EXPECT_EQ(Sql("SELECT count(*) FROM receipts"), "1");
    } else {
      EXPECT_FALSE(fs::exists(uploads / name));
      EXPECT_TRUE(fs::exists(uploads / (name + ".json")));
    }
    EXPECT_EQ(server->Upload(name, bytes).status, 200);  // still stored once
  }
}

}  // namespace
}  // namespace zav::testing
