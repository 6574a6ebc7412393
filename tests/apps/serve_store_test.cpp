// zav-serve's stores over HTTP: replicas sharing a PostgreSQL database (a throwaway cluster
// the test starts on a Unix socket of its own) store a name once, answer 503 while the
// database is gone and recover by themselves, share tokens made by the operator's command;
// lookups and the removal of old archives, in both stores.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "support/pg_cluster.hpp"
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

TEST_F(ServeStore, ReplicasStoreANameOnce) {
  auto a = Replica("a"), b = Replica("b");
  struct Case {
    const char* what;
    std::string folio;
    bool same_file;
    int other_status;
  } cases[] = {
      {"the same file on both", "000011", true, 200},
      {"another file under the same name", "000012", false, 409},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto [name, bytes] = Archive(c.folio);
    const std::string other = c.same_file ? bytes : OtherArchive(c.folio);
    auto first = std::async(std::launch::async, [&] { return a->Upload(name, bytes); });
    auto second = std::async(std::launch::async, [&] { return b->Upload(name, other); });
    const HttpReply replies[] = {first.get(), second.get()};
    const std::multiset<int> statuses = {replies[0].status, replies[1].status};
    EXPECT_EQ(statuses, (std::multiset<int>{201, c.other_status})) << replies[0].body << "\n"
                                                                   << replies[1].body;
    const int winner = replies[0].status == 201 ? 0 : 1;
    if (c.same_file) {
      EXPECT_EQ(Body(replies[1 - winner])["payment_sha256"],
                Body(replies[winner])["payment_sha256"]);
    } else {
      EXPECT_EQ(Body(replies[1 - winner])["cause"], "duplicate");
    }
    EXPECT_EQ(Sql("SELECT count(*) FROM archives WHERE name = '" + name + "'"), "1");
  }
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

  // Restarted under uploads: each is stored, or answered 503 with nothing stored.
  std::vector<std::pair<std::string, std::future<HttpReply>>> uploads;
  for (const char* folio : {"000022", "000023", "000024", "000025"}) {
    auto [other, archive] = Archive(folio);
    uploads.emplace_back(other, std::async(std::launch::async, [&a, other, archive] {
                           return a->Upload(other, archive);
                         }));
  }
  ASSERT_TRUE(pg->Restart());
  for (auto& [other, reply] : uploads) {
    const HttpReply got = reply.get();
    EXPECT_TRUE(got.status == 201 || got.status == 503) << got.body;
    EXPECT_EQ(Sql("SELECT count(*) FROM receipts r JOIN archives USING (name) WHERE name = '" +
                  other + "'"),
              got.status == 201 ? "1" : "0");
  }
}

TEST_F(ServeStore, AReplicaKilledMidUploadLeavesNothing) {
  auto a = Replica("a"), b = Replica("b");
  const auto [name, bytes] = Archive("000031");
  const std::string request = UploadRequest(name, bytes, {a->Bearer()});
  const int fd = Connect(a->endpoint());
  ASSERT_GE(fd, 0);
  SendAll(fd, std::string_view(request).substr(0, request.size() - bytes.size() / 2));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  a->Kill();
  ::close(fd);
  EXPECT_EQ(Sql("SELECT count(*) FROM receipts"), "0");
  EXPECT_EQ(Sql("SELECT count(*) FROM archives"), "0");
  a = Replica("a");  // started again, it clears what the killed one left in its work folder
  for (const auto& entry : fs::recursive_directory_iterator(base / "a" / "uploads.work")) {
    EXPECT_TRUE(entry.is_directory()) << entry.path();  // the check slots' folders, empty
  }
  EXPECT_EQ(b->Upload(name, bytes).status, 201);  // the name is free
}

// Made on one machine, known by another replica at its next request; listed and revoked
// the same way in the token file.
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
}

TEST_F(ServeStore, TheQuotaIsCountedAcrossReplicas) {
  auto a = Replica("a", {"--quota-bytes", "1500"}), b = Replica("b", {"--quota-bytes", "1500"});
  const std::string bearer = StoreToken(uri, "A1234567890");
  const std::string name = ArchiveName("000061"), junk(1000, 'x');
  EXPECT_EQ(a->Upload(name, junk, {bearer}).status, 400);  // costs its 1000 bytes
  const HttpReply over = b->Upload(name, junk, {bearer});
  EXPECT_EQ(over.status, 507) << over.body;
  EXPECT_EQ(Body(over)["cause"], "quota");
}

TEST_F(ServeStore, ANewerSchemaIsRefused) {
  Sql("CREATE TABLE zav_schema (version integer NOT NULL); INSERT INTO zav_schema VALUES (99)");
  ServeProcess a(base / "a" / "uploads", web, {"--store", uri});
  EXPECT_EQ(a.Wait(), 2);
  EXPECT_NE(a.Log().find("schema version 99, newer than this zav-serve knows"), std::string::npos)
      << a.Log();
}

// Lookups and retention: the same answers from either store.
TEST_F(ServeStore, LookupsShowOnlyTheEntitledAndOldArchivesGoButTheirReceiptsStay) {
  for (const bool database : {false, true}) {
    SCOPED_TRACE(database ? "database" : "folder");
    const fs::path uploads = base / (database ? "db" : "folder") / "uploads";
    const std::vector<std::string> store =
        database ? std::vector<std::string>{"--store", uri} : std::vector<std::string>{};
    const std::string folio = database ? "000051" : "000052";
    const auto [name, bytes] = Archive(folio);
    auto server = std::make_unique<ServeProcess>(uploads, web, store);
    ASSERT_EQ(server->Upload(name, bytes).status, 201);
    const std::string stranger = database
                                     ? StoreToken(uri, "B9999999999")
                                     : Bearer(uploads.parent_path() / "tokens", {"B9999999999"});
    const std::string never = ArchiveName("000099");
    struct Case {
      const char* what;
      std::string credentials, target;
      int status;
    } cases[] = {
        {"entitled, stored", server->Bearer(), "/api/receipts/" + name, 200},
        {"entitled, never stored", server->Bearer(), "/api/receipts/" + never, 404},
        {"another employer's uploader", stranger, "/api/receipts/" + name, 404},
        {"no credentials", "", "/api/receipts/" + name, 401},
        {"entitled, the period", server->Bearer(), "/api/receipts?period=200404", 200},
        {"another employer's, the period", stranger, "/api/receipts?period=200404", 200},
        {"no period", server->Bearer(), "/api/receipts?period=2004", 400},
    };
    std::string not_found;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      const HttpReply reply = HttpExchange(
          server->endpoint(), "GET", c.target,
          c.credentials.empty() ? std::vector<std::string>{} : std::vector{c.credentials});
      EXPECT_EQ(reply.status, c.status) << reply.body;
      if (c.status == 404 && not_found.empty()) not_found = reply.body;
      if (c.status == 404) {
        EXPECT_EQ(reply.body, not_found);  // nothing tells them apart
      }
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
    server = std::make_unique<ServeProcess>(uploads, web, [&] {
      auto extra = store;
      extra.insert(extra.end(), {"--keep-days", "0"});
      return extra;
    }());
    json removed;
    for (int k = 0; k < 100 && !removed.is_string(); ++k) {
      const HttpReply reply =
          HttpExchange(server->endpoint(), "GET", "/api/receipts/" + name, {server->Bearer()});
      removed = Body(reply)["archive_removed"];
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
