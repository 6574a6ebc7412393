// zav-serve on its own, tried as an attacker would: what it stores, its HTTP, its resources,
// whom it believes. Through nginx: tests/front/.
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <atomic>
#include <set>
#include <sstream>
#include <tuple>

#include "api/upload.hpp"
#include "support/serve_harness.hpp"

namespace zav::testing {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

std::string Sha256Sum(const fs::path& file) {
  return Shell("sha256sum " + file.string()).out.substr(0, 64);
}
std::string Cause(const HttpReply& reply) {
  return json::parse(reply.body, nullptr, false).value("cause", "");
}
long PeakKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("VmHWM:")) return std::atol(line.c_str() + 6);
  }
  return 0;
}

// `archive` with `prefix` in front and its offsets moved to match (zip -A): a reader that
// follows the central directory reads the archive, one that walks from the start the prefix.
std::string Prefixed(const std::string& prefix, const std::string& archive, const fs::path& at) {
  std::ofstream(at / "prefixed.zip", std::ios::binary) << prefix << archive;
  EXPECT_EQ(Shell("zip -qA " + (at / "prefixed.zip").string()).status, 0);
  return ReadAll(at / "prefixed.zip");
}

class ServeAttacks : public ServeTest {
 protected:
  fs::path work = base / "uploads.work";

  std::vector<std::string> Stored() {
    return fs::exists(uploads) ? Listing(uploads) : std::vector<std::string>{};
  }
  // Files left in the work folder (the check threads' own folders stay, empty).
  int WorkFiles() {
    int n = 0;
    for (const auto& e : fs::recursive_directory_iterator(work)) n += e.is_regular_file();
    return n;
  }
  // An upload whose head is in and whose body of `length` bytes never comes whole: it holds
  // its slot until the connection is closed.
  int HeldUpload(const ServeProcess& server, const std::string& credentials,
                 const std::string& folio, std::size_t length) {
    const int fd = Connect(server.endpoint());
    SendAll(fd, UploadHead(ArchiveName(folio), credentials) +
                    "Content-Length: " + std::to_string(length) + "\r\n\r\nPK");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // admitted
    return fd;
  }
  // A zip bomb within the size limits: 32 MiB of zeros in some 32 KiB.
  std::string Bomb(const std::string& credentials) {
    const std::string name = ArchiveName("000009");
    return UploadRequest(name, ZipOf({{InnerName(name), std::string(32 << 20, '0')}}, scratch),
                         {credentials});
  }
};

// A body stored as received showed a reader walking from its start what was not validated:
// the server stores its own packing, with a signed receipt; again: 200 that receipt, or 409.
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
  EXPECT_EQ(kept.substr(0, 4) + kept.substr(30, inner.size()), "PK\3\4" + inner);  // from the start
  EXPECT_EQ(ZipEntries(kept), ZipEntries(archive));

  const json receipt = json::parse(ReadAll(uploads / (name + ".json")));
  EXPECT_EQ(json::parse(stored.body), receipt);
  PageArchive(OnTimePlan("000001"), name, scratch);  // the payment file again
  EXPECT_EQ(receipt["payment_sha256"], Sha256Sum(scratch / inner));
  EXPECT_EQ(receipt["archive_sha256"], Sha256Sum(uploads / name));
  const json fields = {{"archive", name},    {"client", "127.0.0.1"}, {"server_date", ServerDate()},
                       {"period", "200404"}, {"folio", "000001"},     {"workers", 3}};
  for (const auto& [field, value] : fields.items()) EXPECT_EQ(receipt[field], value) << field;
  EXPECT_EQ(receipt["uploader"].get<std::string>().substr(0, 6), "token:");
  for (const char* field :
       {"capture_line", "received", "rfc", "receipt_number", "total", "amount_imss"}) {
    EXPECT_TRUE(receipt[field].is_string()) << field;
  }

  // Signed: `zav receipt verify` takes it with the served key (changed fields: receipt_test).
  const HttpReply key = HttpExchange(server.endpoint(), "GET", "/api/receipt-key");
  ASSERT_EQ(key.status, 200) << key.body;
  std::ofstream(scratch / "key.json") << key.body;
  std::ofstream(scratch / "receipt.json") << receipt.dump(2);
  const Ran verified =
      Shell(std::string(ZAV_BINARY) + " receipt verify " + (scratch / "receipt.json").string() +
            " --key " + (scratch / "key.json").string() + " 2>&1");
  EXPECT_EQ(verified.status, 0) << verified.out;
  EXPECT_NE(verified.out.find(": valid"), std::string::npos) << verified.out;

  const HttpReply again = server.Upload(name, archive);
  EXPECT_EQ(again.status, 200) << again.body;
  EXPECT_EQ(json::parse(again.body), receipt);
  json shown = receipt;  // who sent it and from where: for that uploader only
  shown.erase("uploader");
  shown.erase("client");
  const HttpReply colleague = server.Upload(name, archive, {Bearer(base / "tokens")});
  EXPECT_EQ(colleague.status, 200) << colleague.body;
  EXPECT_EQ(json::parse(colleague.body), shown);
  PaymentPlan changed = OnTimePlan("000001");
  changed.seed = 99;
  const HttpReply different = server.Upload(name, Archive("000001", &changed).second);
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
  EXPECT_EQ(json({line["identity"], line["archive"], line["method"]}),
            json({receipt["uploader"], name, "POST"}));
}

// Lax HTTP once took two lengths, many ranges, served links and /package.json%00.js, held
// chunked bodies whole and logged nothing: each refused (a body from its head), all logged.
TEST_F(ServeAttacks, HttpIsStrictBodiesAreRefusedUnreadAndEveryRequestIsLogged) {
  std::ofstream(web / "package.json") << "secret";
  ServeProcess server(uploads, web, {"--max-bytes", "1MiB"});
  ASSERT_TRUE(server.listening());
  const long peak_before = PeakKiB(server.pid());
  const auto [name, archive] = Archive("000001");
  const std::string upload_head = UploadHead(name, server.Bearer());
  const std::string flood(64 << 20, 'P'), small = "Content-Length: 1000\r\n\r\n";
  std::string ranges = "Range: bytes=0-0";
  while (ranges.size() < 6000) ranges += ",0-0";
  struct Case {
    std::string what;
    std::string request;
    int status;
    std::string body = "";  // when given, the whole body
    int or_status = 0;      // another status the HTTP library may give it
    bool flood = false;     // a body of 64 MiB follows the answer
  };
  std::vector<Case> cases = {
      {"two Content-Length",
       upload_head + "Content-Length: 5\r\nContent-Length: " + std::to_string(archive.size()) +
           "\r\n\r\n" + archive,
       400},
      {"Content-Length with chunked",
       upload_head + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400},
      {"chunked", upload_head + "Transfer-Encoding: chunked\r\n\r\n", 411, "", 0, true},
      {"over --max-bytes",
       upload_head + "Content-Length: " + std::to_string(flood.size()) + "\r\n\r\n", 413, "", 0,
       true},
      {"no length", upload_head + "\r\n", 411, "", 0, true},
      {"a name off the pattern", UploadHead("pago.zip", server.Bearer()) + small, 400, "", 0, true},
      {"no credentials", UploadHead(name, "Accept: */*") + small, 401, "", 0, true},
      {"a body on GET", HttpRequest("GET", "/api/date", {}, "x"), 400},
      {"many ranges", HttpRequest("GET", "/index.html", {ranges}), 200, "<p>zav</p>"},
      {"one range", HttpRequest("GET", "/index.html", {"Range: bytes=3-5"}), 206, "zav"},
      {"a range past the end", HttpRequest("GET", "/index.html", {"Range: bytes=99-"}), 416},
      {"a range on the API", HttpRequest("GET", "/api/date", {"Range: bytes=0-1"}), 200,
       ServerDate()},
      {"a raw NUL", HttpRequest("GET", std::string("/package.json\0.js", 17)), 400, "", 404},
      {"the page's module", HttpRequest("GET", "/dist/zavctl.js"), 200, "export {};"},
      {"another method", HttpRequest("DELETE", "/api/upload"), 405},
      {"a header line without its colon", "GET / HTTP/1.1\r\nHost 127.0.0.1\r\n\r\n", 400},
      {"a request line that is not HTTP", "GET /index.html HTTP/1.1 x\r\n\r\n", 400},
      {"a head too large",
       "GET / HTTP/1.1\r\nHost: x\r\nX-Pad: " + std::string(20000, 'x') + "\r\n\r\n", 431},
  };
  // The decoded path is judged whole: NULs in any form, control bytes, ways up, links.
  for (const char* path :
       {"/tests/e2e.mjs", "/linked.html", "/%2e%2e/secret.html", "/package.json%00.js",
        "/package.json%u0000.js", "/package.json%c0%80.js", "/dist%2f..%2fpackage.json",
        "/dist%5c..%5cpackage.json", "/package.json%0a.js", "/package.json%7f.js"}) {
    cases.push_back({path, HttpRequest("GET", path), 404});
  }
  std::multiset<int> logged, answered;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int fd = Connect(server.endpoint());
    ASSERT_TRUE(SendAll(fd, c.request));
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 20000), 1) << "no answer before the body";
    const HttpReply reply = ReadReply(fd);
    if (c.flood) SendAll(fd, "4000000\r\n" + flood);
    ::close(fd);
    RecordAnswer(c.request, reply);
    EXPECT_TRUE(reply.status == c.status || reply.status == c.or_status) << reply.head;
    answered.insert(reply.status);
    if (!c.body.empty()) {
      EXPECT_EQ(reply.body, c.body);
    }
    EXPECT_EQ(reply.body.find("secret"), std::string::npos);
  }
  EXPECT_LT(PeakKiB(server.pid()) - peak_before, 16 << 10) << "a refused body was kept";
  EXPECT_TRUE(Stored().empty());
  EXPECT_EQ(WorkFiles(), 0);

  ASSERT_EQ(server.Stop(), 0);
  std::istringstream log(server.Log());  // a line a request, every field, the same statuses
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

// Slow connections and heads once stopped the server or filled --max-connections, and zip
// bombs kept it waiting: under all of them the date, health and a genuine upload still answer.
TEST_F(ServeAttacks, SlowClientsAndZipBombsLeaveTheDateHealthAndUploadsAnswering) {
  ServeProcess server(uploads, web);
  ASSERT_TRUE(server.listening());
  const Endpoint at = server.endpoint();
  std::vector<int> idle;
  for (int k = 0; k < 140; ++k) {
    idle.push_back(Connect(at));
    SendAll(idle.back(), "GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\n");
  }
  std::vector<std::string> bombs;
  for (int k = 0; k < 3; ++k) bombs.push_back(Bomb(Bearer(base / "tokens")));
  std::atomic<int> next{0};
  const auto [name, archive] = Archive("000001");
  HttpReply genuine;
  int probes = 0;
  const Siege siege = Besiege(
      "of zav-serve alone under 140 slow heads, 16 slow clients and 16 zip bombs", 100,
      [&](const std::atomic<bool>& stop) {
        const int fd = Connect(at);
        Dribble(bombs[0], stop, [&](const char* c) { return ::send(fd, c, 1, MSG_NOSIGNAL) == 1; });
        ::close(fd);
      },
      [&] {
        const int status = RawExchange(at, bombs[next++ % 3]).status;
        return status == 413 || status == 503 || status == 507;  // 507: the quota they cost
      },
      [&] {
        if (++probes == 50) genuine = server.Upload(name, archive);  // under the same load
        return HttpExchange(at, "GET", "/api/date").status == 200 &&
               HttpExchange(at, "GET", "/healthz").status == 200;
      },
      16, 16, 30);
  for (const int fd : idle) ::close(fd);
  EXPECT_EQ(siege.answered, 100) << "the server stopped answering";
  EXPECT_EQ(siege.refused, siege.bombs);
  EXPECT_EQ(genuine.status, 201) << genuine.body;
  EXPECT_EQ(Stored(), (std::vector<std::string>{name, name + ".json"}));
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_EQ(WorkFiles(), 0);
}

// One uploader holds at most its share (a quarter) of --max-uploads, and beyond --max-uploads
// and --max-connections: 503 busy at once, health answering, idle connections taking no
// place; a head or body later than --request-timeout: 408.
TEST_F(ServeAttacks, BoundsOnUploadsConnectionsAndTimeAnswerAtOnce) {
  ServeProcess server(uploads, web, {"--max-uploads", "2", "--max-connections", "2"});
  ASSERT_TRUE(server.listening());
  const auto [name, archive] = Archive("000001");
  const auto [second_name, second_archive] = Archive("000002");
  const std::string request = UploadRequest(name, archive, {server.Bearer()});
  const std::string second = UploadRequest(second_name, second_archive, {Bearer(base / "tokens")});
  const int slow = Connect(server.endpoint());  // under way, its body cut short
  SendAll(slow, request.substr(0, request.size() - 10));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const HttpReply busy = RawExchange(server.endpoint(), request);  // the same uploader's next
  EXPECT_EQ(std::tuple(busy.status, Cause(busy), busy.Header("Retry-After")),
            std::tuple(503, "busy", "2"))
      << busy.body;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // its connection closes
  // Another uploader's takes the second place; a third request finds none, health does.
  const int slow_other = Connect(server.endpoint());
  SendAll(slow_other, second.substr(0, second.size() - 10));
  const int idle[] = {Connect(server.endpoint()), Connect(server.endpoint())};
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const HttpReply crowded = HttpExchange(server.endpoint(), "GET", "/index.html");
  EXPECT_EQ(crowded.status, 503) << crowded.body;
  EXPECT_EQ(crowded.Header("Retry-After"), "2");
  EXPECT_EQ(HttpExchange(server.endpoint(), "GET", "/healthz").status, 200);
  for (const int fd : idle) ::close(fd);
  SendAll(slow, request.substr(request.size() - 10));
  SendAll(slow_other, second.substr(second.size() - 10));
  EXPECT_EQ(ReadReply(slow).status, 201);
  EXPECT_EQ(ReadReply(slow_other).status, 201);
  ::close(slow);
  ::close(slow_other);
  int after = 0;  // the places come back once both connections are let go
  for (int tries = 0; tries < 50 && after != 200; ++tries) {
    if (tries > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    after = HttpExchange(server.endpoint(), "GET", "/index.html").status;
  }
  EXPECT_EQ(after, 200);

  ServeProcess timed(base / "timed" / "uploads", web, {"--request-timeout", "1"});
  ASSERT_TRUE(timed.listening());
  const std::string timed_request = UploadRequest(name, archive, {timed.Bearer()});
  for (const std::size_t sent : {std::size_t{20}, timed_request.size() - 10}) {
    const int fd = Connect(timed.endpoint());
    SendAll(fd, timed_request.substr(0, sent));  // and nothing more
    EXPECT_EQ(ReadReply(fd).status, 408) << sent;
    ::close(fd);
  }
}

// The disk could be filled by padding, unwatched free space, unpacking only the body was
// counted for, and refused uploads; stored files were world-readable.
TEST_F(ServeAttacks, TheDiskCannotBeFilled) {
  const auto [name, archive] = Archive("000001");
  const std::string padded = Prefixed(std::string(512 << 10, 'x'), archive, scratch);
  {
    ServeProcess server(uploads, web, {"--quota-bytes", std::to_string(padded.size() + 100)});
    ASSERT_TRUE(server.listening());
    EXPECT_EQ(server.Upload(name, padded).status, 201);
    EXPECT_LT(fs::file_size(uploads / name), archive.size() + 1024);
    const HttpReply over = server.Upload(ArchiveName("000002"), padded);
    EXPECT_EQ(over.status, 507) << over.body;
    EXPECT_EQ(Cause(over), "quota");
  }
  const auto mode = [](const fs::path& p) {
    struct stat st {};
    ::stat(p.c_str(), &st);
    return st.st_mode & 0777;
  };
  EXPECT_EQ(std::tuple(mode(uploads), mode(uploads / name), mode(uploads / (name + ".json"))),
            std::tuple(0750u, 0640u, 0640u));
  {
    ServeProcess full(uploads, web, {"--min-free", "1000000TiB"});
    ASSERT_TRUE(full.listening());
    const auto [third, third_archive] = Archive("000003");
    const HttpReply refused = full.Upload(third, third_archive);
    EXPECT_EQ(refused.status, 507) << refused.body;
    EXPECT_EQ(Cause(refused), "disk_full");
    EXPECT_EQ(Stored(), (std::vector<std::string>{name, name + ".json"}));
  }

  // Refused bombs (some 3 MiB unpacked each) count against the quota: a handful fit in 20 MiB.
  ServeProcess quota(base / "quota" / "uploads", web, {"--quota-bytes", "20MiB"});
  ASSERT_TRUE(quota.listening());
  const std::string bomb = Bomb(quota.Bearer());
  std::vector<int> statuses;
  for (int k = 0; k < 10; ++k) statuses.push_back(RawExchange(quota.endpoint(), bomb).status);
  EXPECT_EQ(statuses.front(), 413);
  EXPECT_EQ(statuses.back(), 507);
  const HttpReply genuine = quota.Upload(name, archive);
  EXPECT_EQ(genuine.status, 507) << genuine.body;
  EXPECT_EQ(Cause(genuine), "quota");
  EXPECT_EQ(quota.Upload(name, archive, {Bearer(base / "quota" / "tokens")}).status, 201);

  // An admitted upload reserves what it may unpack (1 MB to 32 MiB, some 98 MiB with both
  // archives) until its answer: room for one here.
  struct statvfs st {};
  ::statvfs(base.c_str(), &st);
  const std::uint64_t free = static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
  ServeProcess room(base / "room" / "uploads", web,
                    {"--max-file-bytes", "32MiB", "--min-free",
                     std::to_string(free - (std::uint64_t{150} << 20))});
  ASSERT_TRUE(room.listening());
  const std::string other = Bearer(base / "room" / "tokens");
  const int first = HeldUpload(room, room.Bearer(), "000001", 1000000);
  const HttpReply refused = RawExchange(room.endpoint(), UploadHead(ArchiveName("000002"), other) +
                                                             "Content-Length: 1000000\r\n\r\n");
  EXPECT_EQ(refused.status, 507) << refused.body;
  EXPECT_EQ(Cause(refused), "disk_full");
  const auto [small, small_archive] = Archive("000003");
  EXPECT_EQ(room.Upload(small, small_archive, {other}).status, 201);
  ::close(first);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // its answer, its room back
  const int again = HeldUpload(room, other, "000002", 1000000);
  pollfd p{again, POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 500), 0) << "admitted, it waits for its body";
  ::close(again);
}

// A server starting removes what a killed one left (an archive without its receipt was never
// answered as stored: its name is free again); stored archives stay.
TEST_F(ServeAttacks, LeftoversOfAKilledServerAreRemovedAtStart) {
  const auto [name, archive] = Archive("000001");
  const auto [lone, lone_archive] = Archive("000003");
  {
    ServeProcess server(uploads, web);
    ASSERT_TRUE(server.listening());
    EXPECT_NE(server.first_line().find("work in " + work.string()), std::string::npos)
        << server.first_line();
    ASSERT_EQ(server.Upload(name, archive).status, 201);
    server.Kill();
  }
  for (const fs::path& p : {work / "check-a1b2c3", uploads / ".check-d4e5f6"}) {
    fs::create_directories(p);
    std::ofstream(p / "P0404268.ZAV") << std::string(1 << 20, '0');
  }
  std::ofstream(uploads / ".upload-g7h8i9") << "half";
  std::ofstream(uploads / (ArchiveName("000002") + ".json")) << "{}";
  std::ofstream(uploads / lone, std::ios::binary) << lone_archive;
  ServeProcess again(uploads, web);
  ASSERT_TRUE(again.listening());
  EXPECT_NE(again.Log().find("removed the archive " + lone), std::string::npos) << again.Log();
  EXPECT_EQ(WorkFiles(), 0);
  EXPECT_EQ(Stored(), (std::vector<std::string>{name, name + ".json"}));
  EXPECT_EQ(again.Upload(lone, lone_archive).status, 201);
}

// /metrics in the Prometheus text format as promtool checks it, counting what happened; a
// stop finishes the upload under way before the server exits.
TEST_F(ServeAttacks, MetricsAreValidAndAStopFinishesUploadsUnderWay) {
  ServeProcess server(uploads, web);
  ASSERT_TRUE(server.listening());
  const auto [name, archive] = Archive("000001");
  const std::string request = UploadRequest(name, archive, {server.Bearer()});
  // A form-like POST (text/plain), as any site may send one, is not an upload.
  EXPECT_EQ(
      HttpExchange(server.endpoint(), "POST", "/api/upload?name=x", {"Content-Type: text/plain"})
          .status,
      415);
  const int fd = Connect(server.endpoint());
  SendAll(fd, request.substr(0, request.size() / 2));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const HttpReply metrics = HttpExchange(server.endpoint(), "GET", "/metrics");
  ASSERT_EQ(metrics.status, 200);
  for (const char* line :
       {"zav_requests_total{status=\"415\"} 1", "zav_refusals_total{cause=\"unsupported_type\"} 1",
        "zav_uploads_in_flight 1", "zav_upload_duration_seconds_count 1"}) {
    EXPECT_NE(metrics.body.find(line), std::string::npos) << line << "\n" << metrics.body;
  }
  std::ofstream(scratch / "metrics.txt") << metrics.body;
  const Ran said = Shell("promtool check metrics < " + (scratch / "metrics.txt").string());
  EXPECT_EQ(said.status, 0) << said.out << "(scripts/install-deps installs promtool)";

  ::kill(server.pid(), SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  SendAll(fd, request.substr(request.size() / 2));
  EXPECT_EQ(ReadReply(fd).status, 201);
  ::close(fd);
  EXPECT_EQ(server.Wait(), 0) << server.Log();
  EXPECT_TRUE(fs::exists(uploads / name));
}

class ServeTrust : public ServeTest {
 protected:
  fs::path tokens = base / "tokens";
};

// Only an uploader entitled to the registration stores (an RFC only what the operator tied
// to it, on the socket the CN nginx verified), no other site's page; a forged first upload
// locks no one out, and a refusal says nothing of what is stored.
TEST_F(ServeTrust, OnlyUploadersEntitledToTheRegistrationStoreAndNoOtherSite) {
  ServeProcess server(uploads, web, {"--allow-origin", "https://portal.example"});
  ASSERT_TRUE(server.listening()) << server.first_line();
  const fs::path map = base / "cert-map", front_uploads = base / "front" / "uploads";
  std::ofstream(map) << "ABCD010101XY1 B9999999999  # the file's RFC, another registration\n"
                        "WXYZ010101AB1 C0000000000 A1234567890\n";
  ServeProcess front(front_uploads, web,
                     {"--socket", (base / "zav.sock").string(), "--cert-map", map.string()});
  ASSERT_TRUE(front.listening()) << front.first_line() << front.Log();
  const std::string mine = server.Bearer(), subject = "X-Zav-Client-Subject: ";
  struct Case {
    std::string what;
    std::vector<std::string> headers;
    int status;
    std::string cause = "";
    bool fronted = false;  // on the socket, from nginx
  };
  std::vector<Case> cases = {
      {"no credentials", {}, 401, "unauthenticated"},
      {"an unknown token", {"Authorization: Bearer 0123"}, 401, "unauthenticated"},
      {"a certificate subject over TCP", {subject + "CN=A1234567890"}, 401, "unauthenticated"},
      {"another employer's token", {Bearer(tokens, {"B9999999999"})}, 403, "forbidden"},
      {"the file's RFC alone", {TokenLine("rfc-alone", "ABCD010101XY1")}, 403, "forbidden"},
      {"the file's RFC tied to another registration",
       {TokenLine("rfc-tied-elsewhere", "ABCD010101XY1=B9999999999")},
       403,
       "forbidden"},
      {"a page of another site", {mine, "Origin: https://evil.example"}, 403, "foreign_origin"},
      {"a cross-site fetch", {mine, "Sec-Fetch-Site: cross-site"}, 403, "foreign_origin"},
      {"the employer's own token", {mine, "Origin: http://127.0.0.1"}, 201},
      {"a page of a site let in", {mine, "Origin: https://portal.example"}, 201},
      {"the file's RFC tied to its registration",
       {Bearer(tokens, {"ABCD010101XY1=A1234567890"})},
       201},
  };
  for (const auto& [cn, status] : {std::pair{"O=Example,CN=B9999999999", 403},
                                   {"CN=ABCD010101XY1,O=Example", 403},
                                   {"CN=QRST010101AB1", 403},
                                   {"O=x\\,CN=A1234567890", 401},
                                   {"CN=x,CN=A1234567890", 401},
                                   {"CN=A1234567890+CN=B9999999999", 401},
                                   {"O=Example,CN=WXYZ010101AB1", 201},
                                   {"CN=A1234567890,O=Example", 201}}) {
    cases.push_back({cn, {subject + cn, "X-Real-IP: 203.0.113.5"}, status, "", true});
  }
  int folio = 0;
  std::string last;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ServeProcess& to = c.fronted ? front : server;
    const auto [name, archive] = Archive(std::to_string(1000000 + ++folio).substr(1));
    const HttpReply reply = to.Upload(name, archive, c.headers);
    EXPECT_EQ(reply.status, c.status) << reply.body;
    if (!c.cause.empty()) {
      EXPECT_EQ(json::parse(reply.body)["cause"], c.cause) << reply.body;
    }
    EXPECT_EQ(fs::exists((c.fronted ? front_uploads : uploads) / name), c.status == 201);
    if (c.status != 201 && !c.fronted) {
      EXPECT_EQ(server.Upload(name, archive).status, 201);
    }
    last = name;
  }
  const json receipt = json::parse(ReadAll(front_uploads / (last + ".json")));
  EXPECT_EQ(receipt["uploader"], "cert:A1234567890");
  EXPECT_EQ(receipt["client"], "203.0.113.5");

  // `token add` ties an RFC or refuses it alone.
  const Ran alone = Shell(std::string(ZAV_BINARY) + " serve token add --tokens " + tokens.string() +
                          " ABCD010101XY1");
  EXPECT_EQ(alone.status, 64);
  EXPECT_NE(alone.out.find("ABCD010101XY1=REGISTRATION"), std::string::npos) << alone.out;

  // Another employer's file under a stored name and under a free one: the same 403, once
  // said whether the name was stored (403) or free (422 wrong_name).
  const std::string intruder = TokenLine("intruder", "WXYZ010101AB1 B9999999999");
  const auto forged = [&](const std::string& folio) {
    PaymentPlan plan = OnTimePlan(folio);
    plan.registro_patronal = "B9999999999";
    plan.rfc = "WXYZ010101AB1";
    return Archive(folio, &plan);
  };
  const auto [free_name, forged_free] = forged("000099");
  const HttpReply on_stored =
      server.Upload(ArchiveName("000001"), forged("000001").second, {intruder});
  const HttpReply on_free = server.Upload(free_name, forged_free, {intruder});
  EXPECT_EQ(on_stored.status, 403) << on_stored.body;
  EXPECT_EQ(on_free.status, on_stored.status) << on_free.body;
  EXPECT_EQ(on_free.body, on_stored.body);
  EXPECT_FALSE(fs::exists(uploads / free_name));
}

// Only nginx's own user speaks for the client on the socket; any other process of its group
// is an anonymous client.
TEST_F(ServeTrust, OnlyNginxsUserSpeaksForTheClient) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run processes of other users";
  if (::getpwnam("www-data") == nullptr || ::getpwnam("nobody") == nullptr) {
    GTEST_SKIP() << "no users www-data and nobody";
  }
  // A folder every user may pass through, as /run/zav-serve is for nginx's group.
  std::string folder = (fs::temp_directory_path() / "zav-trust-XXXXXX").string();
  ASSERT_NE(::mkdtemp(folder.data()), nullptr);
  const struct Removed {
    std::string path;
    ~Removed() {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  } removed{folder};
  ::chmod(folder.c_str(), 0711);
  const fs::path socket = fs::path(folder) / "zav.sock";
  ServeProcess server(uploads, web, {"--socket", socket.string(), "--front-user", "www-data"});
  ASSERT_TRUE(server.listening()) << server.first_line() << server.Log();
  ::chmod(socket.c_str(), 0666);  // the group's processes: here, any
  const std::string subject = "X-Zav-Client-Subject: CN=A1234567890";
  const struct {
    const char* what;
    const char* user;  // in nginx's group; none: this process (root)
    std::vector<std::string> headers;
    int status;
  } connectors[] = {
      {"another user of the web group, forging a certificate", "nobody", {subject}, 401},
      {"root, forging a certificate", nullptr, {subject}, 401},
      {"another user, with a token and a forged address",
       "nobody",
       {server.Bearer(), "X-Real-IP: 203.0.113.66"},
       201},
      {"nginx's user", "www-data", {subject, "X-Real-IP: 203.0.113.5"}, 201},
  };
  int folio = 0;
  std::vector<std::string> stored;
  for (const auto& c : connectors) {
    SCOPED_TRACE(c.what);
    const auto [name, archive] = Archive(std::to_string(1000000 + ++folio).substr(1));
    std::string curl = std::string("runuser -u ") + (c.user ? c.user : "") +
                       " -g www-data -- curl -s -o /dev/null -w %{http_code} -H Expect: -H " +
                       "'Content-Type: application/zip' --unix-socket " + socket.string();
    for (const std::string& h : c.headers) curl += " -H '" + h + "'";
    const int status =
        c.user == nullptr
            ? server.Upload(name, archive, c.headers).status
            : std::atoi(Shell(curl + " --data-binary @- 'http://127.0.0.1/api/upload?name=" + name +
                              "' < " + (scratch / name).string())
                            .out.c_str());
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(fs::exists(uploads / name), c.status == 201);
    if (c.status == 201) stored.push_back(name);
  }
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(json::parse(ReadAll(uploads / (stored[0] + ".json")))["client"], "unix");
  const json fronted = json::parse(ReadAll(uploads / (stored[1] + ".json")));
  EXPECT_EQ(fronted["uploader"], "cert:A1234567890");
  EXPECT_EQ(fronted["client"], "203.0.113.5");
  EXPECT_EQ(server.Log().find("203.0.113.66"), std::string::npos);
}

// Unsafe starts are refused, saying why; a token file others may write (whoever appends a
// line mints a token) counts for nothing, also when it turns so while the server runs.
TEST_F(ServeTrust, UnsafeStartsAreRefusedAndAWritableTokenFileCountsForNothing) {
  ServeProcess server(uploads, web);
  ASSERT_TRUE(server.listening());
  const fs::path loose = base / "loose", directory = base / "directory";
  fs::create_directories(loose);
  Bearer(loose / "tokens");
  fs::permissions(loose / "tokens", fs::perms::group_write, fs::perm_options::add);
  const Ran add = Shell(std::string(ZAV_BINARY) + " serve token add --tokens " +
                        (loose / "tokens").string() + " A1234567890");
  EXPECT_EQ(add.status, 64) << add.out;
  fs::create_directories(directory / "tokens");
  std::ofstream(directory / "token") << "Authorization: Bearer none";
  const std::string port = std::to_string(server.port());
  const struct {
    const char* what;
    fs::path uploads;
    std::vector<std::string> extra;
    int status;
    std::string says;
  } starts[] = {
      {"a token file its group may write", loose / "uploads", {}, 2, "chmod go-w"},
      {"a folder for a token file", directory / "uploads", {}, 2, "not a regular file"},
      {"an unknown front user",
       base / "front" / "uploads",
       {"--socket", (base / "zav.sock").string(), "--front-user", "no-such-user-zav"},
       64,
       "--front-user"},
      {"an address in use",
       base / "other" / "uploads",
       {"--port", port},
       2,
       "127.0.0.1:" + port + " is in use"},
      {"an address not loopback",
       base / "other" / "uploads",
       {"--host", "0.0.0.0"},
       64,
       "--insecure-direct"},
      {"a second server on the same folders", uploads, {}, 2, "another zav serve uses"},
  };
  for (const auto& s : starts) {
    SCOPED_TRACE(s.what);
    ServeProcess refused(s.uploads, web, s.extra);
    EXPECT_FALSE(refused.listening());
    EXPECT_EQ(refused.Wait(), s.status);
    EXPECT_NE(refused.Log().find(s.says), std::string::npos) << refused.Log();
  }

  const auto [name, archive] = Archive("000001");
  const std::string minted = TokenLine("minted", "A1234567890");
  fs::permissions(tokens, fs::perms::others_write, fs::perm_options::add);
  EXPECT_EQ(server.Upload(name, archive, {minted}).status, 401);
  EXPECT_EQ(server.Upload(name, archive).status, 401);  // nothing in it counts
  fs::permissions(tokens, fs::perms::others_write, fs::perm_options::remove);
  EXPECT_EQ(server.Upload(name, archive).status, 201);
}

}  // namespace
}  // namespace zav::testing
