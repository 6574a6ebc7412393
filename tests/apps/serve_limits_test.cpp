// zav-serve's shares of what it has: disk space by what uploads may unpack, the quota by what
// refused uploads cost, upload slots per uploader, and connections whose head never comes
// apart from those being served.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/statvfs.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "support/serve_harness.hpp"

namespace zav::testing {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

std::uint64_t FreeBytes(const fs::path& folder) {
  struct statvfs st {};
  ::statvfs(folder.c_str(), &st);
  return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
}

// Whether the server answered on `fd` within half a second.
bool Answered(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 500) > 0;
}

std::string Cause(const HttpReply& reply) {
  return json::parse(reply.body, nullptr, false).value("cause", "");
}

class ServeLimits : public ServeTest {
 protected:
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

// Three 2.86 MB uploads unpacking 500 MiB each filled the disk under --min-free, because only
// the body was counted. Now each admitted upload reserves the most it may unpack and store
// until its answer: with room for one such upload, a second is refused while the first is
// under way, a small genuine one still fits beside it, and the room comes back after.
TEST_F(ServeLimits, AdmissionReservesWhatUploadsUnderWayMayUnpack) {
  // A body of 1 MB may unpack to 32 MiB here: with the server's archive of the file in the
  // work folder and in the upload folder, some 98 MiB on this one file system.
  const std::uint64_t room = std::uint64_t{150} << 20;
  ServeProcess server(
      uploads, web,
      {"--max-file-bytes", "32MiB", "--min-free", std::to_string(FreeBytes(base) - room)});
  ASSERT_TRUE(server.listening());
  const std::string other = Bearer(base / "tokens");
  const int first = HeldUpload(server, server.Bearer(), "000001", 1000000);
  const std::string second =
      UploadHead(ArchiveName("000002"), other) + "Content-Length: 1000000\r\n\r\n";
  const HttpReply refused = RawExchange(server.endpoint(), second);
  EXPECT_EQ(refused.status, 507) << refused.body;
  EXPECT_EQ(Cause(refused), "disk_full");
  const auto [name, archive] = Archive("000003");
  EXPECT_EQ(server.Upload(name, archive, {other}).status, 201);

  ::close(first);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // its answer, its room back
  const int again = HeldUpload(server, other, "000002", 1000000);
  EXPECT_FALSE(Answered(again)) << "admitted, it waits for its body";
  ::close(again);
}

// Refused uploads cost nothing: five bombs unpacked 2.5 GB, then the same token stored as
// before. Now what a refused upload received and unpacked counts against the quota.
TEST_F(ServeLimits, RefusedUploadsCountAgainstTheQuotaByWhatTheyCost) {
  ServeProcess server(uploads, web, {"--quota-bytes", "20MiB"});
  ASSERT_TRUE(server.listening());
  const std::string bomb = Bomb(server.Bearer());
  std::vector<int> statuses;
  for (int k = 0; k < 10; ++k) statuses.push_back(RawExchange(server.endpoint(), bomb).status);
  // Each unpacked some 3 MiB before it was refused: a handful fit in 20 MiB.
  EXPECT_EQ(statuses.front(), 413);
  EXPECT_EQ(statuses.back(), 507);
  const auto [name, archive] = Archive("000001");
  const HttpReply genuine = server.Upload(name, archive);
  EXPECT_EQ(genuine.status, 507) << genuine.body;
  EXPECT_EQ(Cause(genuine), "quota");
  EXPECT_EQ(server.Upload(name, archive, {Bearer(base / "tokens")}).status, 201);
}

// 32 slow uploads held all 16 slots. Now one uploader holds at most a quarter of them
// (--max-uploads-per-uploader), the rest answered 503 busy at once, and others still upload.
TEST_F(ServeLimits, OneUploaderCannotHoldEveryUploadSlot) {
  struct Case {
    std::vector<std::string> options;
    int held;
  } cases[] = {{{}, 4}, {{"--max-uploads", "4", "--max-uploads-per-uploader", "2"}, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.held);
    const fs::path folder = base / std::to_string(c.held) / "uploads";
    ServeProcess server(folder, web, c.options);
    ASSERT_TRUE(server.listening());
    std::vector<int> held;
    for (int k = 0; k < c.held; ++k) {
      held.push_back(HeldUpload(server, server.Bearer(), "00001" + std::to_string(k), 5000));
    }
    const HttpReply busy =
        RawExchange(server.endpoint(), UploadHead(ArchiveName("000020"), server.Bearer()) +
                                           "Content-Length: 5000\r\n\r\n");
    EXPECT_EQ(busy.status, 503) << busy.body;
    EXPECT_EQ(Cause(busy), "busy");
    EXPECT_EQ(busy.Header("Retry-After"), "2");
    const auto [name, archive] = Archive("000030");
    EXPECT_EQ(server.Upload(name, archive, {Bearer(folder.parent_path() / "tokens")}).status, 201);
    for (const int fd : held) ::close(fd);
  }
}

// 140 clients sending their heads slowly made /healthz answer 503: they counted against
// --max-connections. Now connections whose head is not in are counted apart, health and the
// date answer whatever the load, and uploads find their places. Health's latency under 16 zip
// bombs and 140 slow heads is printed, not judged.
TEST_F(ServeLimits, SlowHeadsLeaveHealthAndUploadsAnswering) {
  ServeProcess server(uploads, web);
  ASSERT_TRUE(server.listening());
  std::vector<int> slow;
  for (int k = 0; k < 140; ++k) {
    slow.push_back(Connect(server.endpoint()));
    SendAll(slow.back(), "GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\n");
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::vector<std::string> bombs;
  // Three uploaders' bombs hold at most three quarters of the slots.
  for (int k = 0; k < 3; ++k) bombs.push_back(Bomb(Bearer(base / "tokens")));
  std::atomic<int> next{0};
  const auto [name, archive] = Archive("000001");
  HttpReply genuine;
  int probes = 0;
  const Siege siege = Besiege(
      "of /healthz under 140 slow heads and 16 zip bombs", 100, nullptr,
      [&] {
        const int status = RawExchange(server.endpoint(), bombs[next++ % 3]).status;
        return status == 413 || status == 503 || status == 507;
      },
      [&] {
        if (++probes == 50) genuine = server.Upload(name, archive);  // under the same load
        return HttpExchange(server.endpoint(), "GET", "/healthz").status == 200;
      },
      0, 16, 30);
  for (const int fd : slow) ::close(fd);
  EXPECT_EQ(siege.answered, 100);
  EXPECT_EQ(siege.refused, siege.bombs);
  EXPECT_EQ(genuine.status, 201) << genuine.body;
  EXPECT_EQ(HttpExchange(server.endpoint(), "GET", "/api/date").status, 200);
}

}  // namespace
}  // namespace zav::testing
