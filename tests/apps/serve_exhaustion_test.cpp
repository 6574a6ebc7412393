// zav-serve on its own, tried as an attacker would through its resources: bodies too large,
// slow clients and zip bombs, more uploads and connections than it serves, a disk to fill, a
// crash's leftovers, a stop during an upload; each test with what must hold afterwards.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "apps/serve_attacks.hpp"
#include "support/serve_harness.hpp"

namespace zav::testing {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

long PeakKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("VmHWM:")) return std::atol(line.c_str() + 6);
  }
  return 0;
}

// 1. Chunked bodies ignored --max-bytes and were held in memory whole; now a body is refused
// from its head (chunked: 411; over the limit: 413; a bad name or no credentials too) before
// a byte of it is read, and what the client sends anyway is dropped, never kept.
TEST_F(ServeAttacks, OversizedAndChunkedBodiesAreRefusedBeforeTheyAreRead) {
  ServeProcess server(uploads, web, {"--max-bytes", "1MiB"});
  ASSERT_TRUE(server.listening());
  const std::string head = UploadHead(ArchiveName("000001"), server.Bearer());
  const std::string flood(64 << 20, 'P'), small = "Content-Length: 1000\r\n";
  const long peak_before = PeakKiB(server.pid());
  struct Case {
    const char* what;
    std::string head;
    int status;
  } cases[] = {
      {"chunked", head + "Transfer-Encoding: chunked\r\n", 411},
      {"over --max-bytes", head + "Content-Length: " + std::to_string(flood.size()) + "\r\n", 413},
      {"no length", head, 411},
      {"a name off the pattern", UploadHead("pago.zip", server.Bearer()) + small, 400},
      {"no credentials", UploadHead(ArchiveName("000001"), "Accept: */*") + small, 401},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int fd = Connect(server.endpoint());
    ASSERT_TRUE(SendAll(fd, c.head + "\r\n"));
    // The answer comes before any of the body: then the body is sent all the same.
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 20000), 1) << "no answer before the body";
    const HttpReply reply = ReadReply(fd);
    SendAll(fd, "4000000\r\n" + flood);
    ::close(fd);
    EXPECT_EQ(reply.status, c.status) << reply.body;
  }
  EXPECT_LT(PeakKiB(server.pid()) - peak_before, 16 << 10) << "a refused body was kept";
  EXPECT_TRUE(Stored().empty());
  EXPECT_EQ(WorkFiles(), 0);
}

// 2. Eight slow connections stopped the server, zip bombs kept it waiting: now slow clients
// hold a thread each (and lose it at the head's deadline), checks run on their own threads
// at a lower priority, a file may unpack to at most 200 times its size, and uploads beyond
// --max-uploads get 503 at once. The date and health answer throughout; their latency is
// printed, not judged.
TEST_F(ServeAttacks, SlowClientsAndZipBombsLeaveTheDateAndHealthAnswering) {
  ServeProcess server(uploads, web);
  ASSERT_TRUE(server.listening());
  const Endpoint at = server.endpoint();
  const std::string inner = ArchiveName("000001");
  const std::string bomb = UploadRequest(
      inner, ZipOf({{InnerName(inner), std::string(32 << 20, '0')}}, scratch), {server.Bearer()});
  const Siege siege = Besiege(
      "of zav-serve alone under 16 slow clients and 8 zip bombs", 60,
      [&](const std::atomic<bool>& stop) {
        const int fd = Connect(at);
        Dribble(bomb, stop, [&](const char* c) { return ::send(fd, c, 1, MSG_NOSIGNAL) == 1; });
        ::close(fd);
      },
      [&] {
        const int status = RawExchange(at, bomb).status;
        return status == 413 || status == 503 || status == 507;  // 507: the quota they cost
      },
      [&] {
        return HttpExchange(at, "GET", "/api/date").status == 200 &&
               HttpExchange(at, "GET", "/healthz").status == 200;
      });
  EXPECT_EQ(siege.answered, 60) << "the server stopped answering";
  EXPECT_EQ(siege.refused, siege.bombs);
  EXPECT_TRUE(Stored().empty());
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_EQ(WorkFiles(), 0);
}

// Uploads beyond --max-uploads (or an uploader's share of them) and requests beyond
// --max-connections get 503 at once, while health answers and connections whose head is not
// in take no place; a request whose head or body does not come within --request-timeout, 408.
TEST_F(ServeAttacks, BoundsOnUploadsConnectionsAndTimeAnswerAtOnce) {
  ServeProcess server(uploads, web, {"--max-uploads", "2", "--max-connections", "2"});
  ASSERT_TRUE(server.listening());
  const auto [name, archive] = Archive("000001");
  const auto [second_name, second_archive] = Archive("000002");
  const std::string another = Bearer(base / "tokens");
  const std::string request = UploadRequest(name, archive, {server.Bearer()});
  const std::string second = UploadRequest(second_name, second_archive, {another});
  // One upload under way (its body cut short): the uploader's next is refused.
  const int slow = Connect(server.endpoint());
  SendAll(slow, request.substr(0, request.size() - 10));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const HttpReply busy = RawExchange(server.endpoint(), request);
  EXPECT_EQ(busy.status, 503) << busy.body;
  EXPECT_EQ(busy.Header("Retry-After"), "2");
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
  // The places come back once the server has let both connections go.
  int after = 0;
  for (int tries = 0; tries < 50 && after != 200; ++tries) {
    if (tries > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    after = HttpExchange(server.endpoint(), "GET", "/index.html").status;
  }
  EXPECT_EQ(after, 200);

  const fs::path other = base / "timed" / "uploads";
  ServeProcess timed(other, web, {"--request-timeout", "1"});
  ASSERT_TRUE(timed.listening());
  const std::string timed_request = UploadRequest(name, archive, {timed.Bearer()});
  for (const std::size_t sent : {std::size_t{20}, timed_request.size() - 10}) {
    const int fd = Connect(timed.endpoint());
    SendAll(fd, timed_request.substr(0, sent));  // and nothing more
    EXPECT_EQ(ReadReply(fd).status, 408) << sent;
    ::close(fd);
  }
}

// 5. The disk could be filled: padding rode along every accepted name, nothing watched free
// space, and stored files were world-readable. Now padding never reaches the disk, uploads
// stop at --min-free and at each uploader's daily quota (507), and the folder and files are
// 0750 and 0640.
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
    EXPECT_EQ(json::parse(over.body)["cause"], "quota");
  }
  const auto mode = [](const fs::path& p) {
    struct stat st {};
    ::stat(p.c_str(), &st);
    return st.st_mode & 0777;
  };
  EXPECT_EQ(mode(uploads), 0750u);
  EXPECT_EQ(mode(uploads / name), 0640u);
  EXPECT_EQ(mode(uploads / (name + ".json")), 0640u);

  ServeProcess full(uploads, web, {"--min-free", "1000000TiB"});
  ASSERT_TRUE(full.listening());
  const auto [third, third_archive] = Archive("000003");
  const HttpReply refused = full.Upload(third, third_archive);
  EXPECT_EQ(refused.status, 507) << refused.body;
  EXPECT_EQ(json::parse(refused.body)["cause"], "disk_full");
  EXPECT_EQ(Stored(), (std::vector<std::string>{name, name + ".json"}));
}

// 6. Work folders lived inside the upload folder and survived a crash. Now they live in a
// folder of their own, and a server starting removes what a killed one left: work folders,
// half-written files, a receipt whose archive never came, an archive whose receipt never came
// (power lost between the two: its upload was never answered as stored, so its name is free
// again); stored archives stay.
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
  const std::string orphan = ArchiveName("000002") + ".json";
  for (const fs::path& p : {work / "check-a1b2c3", uploads / ".check-d4e5f6"}) {
    fs::create_directories(p);
    std::ofstream(p / "P0404268.ZAV") << std::string(1 << 20, '0');
  }
  std::ofstream(uploads / ".upload-g7h8i9") << "half";
  std::ofstream(uploads / orphan) << "{}";
  std::ofstream(uploads / lone, std::ios::binary) << lone_archive;
  ServeProcess again(uploads, web);
  ASSERT_TRUE(again.listening());
  EXPECT_NE(again.Log().find("removed the archive " + lone), std::string::npos) << again.Log();
  EXPECT_EQ(WorkFiles(), 0);
  EXPECT_EQ(Stored(), (std::vector<std::string>{name, name + ".json"}));
  EXPECT_EQ(again.Upload(lone, lone_archive).status, 201);
  // A second server on the same folders is refused: it would remove the first one's work.
  ServeProcess second(uploads, web);
  EXPECT_EQ(second.Wait(), 2);
}

// Operations: /metrics in the Prometheus text format as promtool checks it, counting what
// happened; a stop finishes the upload under way before the server exits.
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

}  // namespace
}  // namespace zav::testing
