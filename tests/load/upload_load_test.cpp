// `zav serve` under load on loopback (ctest -L load): 50 valid uploads of distinct
// archives, 10 of them sent twice at the same time, and 200 malformed ones (names off the
// pattern or climbing out of the folder, bodies cut short, too large, not zip, zip holding
// the wrong things), all from 32 threads at once. Afterwards every valid archive is stored
// exactly once and byte for byte, nothing else is in the upload folder (no half-written or
// work files), every malformed upload got a refusal, and the server still answers and stops
// cleanly. Every exchange has a time limit.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

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

// A zip of `entries` made with the zip library, or the control's own packing of one file.
std::string Zip(const std::vector<std::pair<std::string, std::string>>& entries,
                const fs::path& scratch) {
  const fs::path path = scratch / "made.zip";
  fs::remove(path);
  int error = 0;
  zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  for (const auto& [name, bytes] : entries) {
    zip_file_add(za, name.c_str(), zip_source_buffer(za, bytes.data(), bytes.size(), 0), 0);
  }
  zip_close(za);
  return ReadAll(path);
}
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

// One exchange on 127.0.0.1:port, at most 30 s each way. Answers the status, 0 for none.
int Exchange(int port, const Upload& u, const std::string& method = "POST") {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  timeval limit{30, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int status = 0;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string request = method + " " + u.target +
                                " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                                "Content-Type: application/zip\r\nContent-Length: " +
                                std::to_string(u.body.size()) + "\r\n\r\n" +
                                u.body.substr(0, u.sent);
    for (std::size_t done = 0; done < request.size();) {
      const ssize_t n = ::send(fd, request.data() + done, request.size() - done, MSG_NOSIGNAL);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    if (u.sent < u.body.size()) ::shutdown(fd, SHUT_WR);  // the rest never comes
    std::string raw;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
      raw.append(buffer, static_cast<std::size_t>(n));
    }
    if (raw.size() > 12 && raw.starts_with("HTTP/1.1 ")) status = std::stoi(raw.substr(9, 3));
  }
  ::close(fd);
  return status;
}

// `zav serve` on a free port; killed at the end (or with the test) at the latest.
class Server {
 public:
  Server(const fs::path& uploads, const fs::path& web) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives a test killed midway
      ::dup2(fds[1], 1);
      ::close(fds[0]);
      ::close(fds[1]);
      const std::string max = std::to_string(kMaxBytes);
      ::execl(ZAV_BINARY, "zav", "serve", "--port", "0", "--dir", uploads.c_str(), "--web",
              web.c_str(), "--max-bytes", max.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    out_ = fds[0];
    std::string line;
    char c;
    pollfd p{out_, POLLIN, 0};
    while (line.find('\n') == std::string::npos && ::poll(&p, 1, 20000) > 0 &&
           ::read(out_, &c, 1) == 1) {
      line += c;
    }
    const std::size_t at = line.find("http://127.0.0.1:");
    if (at != std::string::npos) port_ = std::atoi(line.c_str() + at + 17);
  }
  ~Server() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  int port() const { return port_; }
  // SIGTERM, then the exit status (-1 when it has not stopped within 10 s).
  int Stop() {
    ::kill(pid_, SIGTERM);
    for (int k = 0; k < 100; ++k) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int port_ = 0;
};

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
  const std::string two = Zip({{inner + "zav", payment}, {"x.txt", "x"}}, scratch);
  const std::string climbing = Zip({{"../" + inner + "zav", payment}}, scratch);
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

  Server server(uploads, web);
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
