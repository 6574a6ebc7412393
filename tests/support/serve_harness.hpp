// What the tests of the upload server share: `zav serve` in a child process, one HTTP
// exchange on loopback, the archives the page uploads, and zip archives made with the zip
// library directly.
#pragma once

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

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "files/zip_packing.hpp"
#include "platform/temp_drives.hpp"
#include "validation/payment_writer.hpp"

namespace zav::testing {

struct HttpReply {
  int status = 0;  // 0: no answer
  std::string body;
};

// One HTTP/1.1 exchange on 127.0.0.1:port, the connection closed after it, at most 30 s
// each way. Only the first `sent` bytes of the body are sent (all by default); the rest is
// promised, then the connection is shut.
inline HttpReply HttpExchange(int port, const std::string& method, const std::string& target,
                              const std::string& body = "", std::size_t sent = std::string::npos) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  timeval limit{30, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  HttpReply reply;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string request = method + " " + target +
                                " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                                "Content-Type: application/zip\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\n\r\n" + body.substr(0, sent);
    for (std::size_t done = 0; done < request.size();) {
      const ssize_t n = ::send(fd, request.data() + done, request.size() - done, MSG_NOSIGNAL);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    if (sent < body.size()) ::shutdown(fd, SHUT_WR);  // the rest never comes
    std::string raw;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
      raw.append(buffer, static_cast<std::size_t>(n));
    }
    const std::size_t head_end = raw.find("\r\n\r\n");
    if (raw.size() > 12 && raw.starts_with("HTTP/1.1 ") && head_end != std::string::npos) {
      reply.status = std::atoi(raw.c_str() + 9);
      reply.body = raw.substr(head_end + 4);
    }
  }
  ::close(fd);
  return reply;
}

// `zav serve --port 0 --dir UPLOADS --web WEB [extra...]` on a free port; killed at the end
// (or with the test) at the latest.
class ServeProcess {
 public:
  ServeProcess(const std::filesystem::path& uploads, const std::filesystem::path& web,
               std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"zav",   "serve",          "--port", "0",
                                     "--dir", uploads.string(), "--web",  web.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives a test killed midway
      ::dup2(fds[1], 1);
      ::close(fds[0]);
      ::close(fds[1]);
      ::execv(ZAV_BINARY, argv.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    out_ = fds[0];
    // The first line says where it listens: "... listening on http://127.0.0.1:PORT/ ...".
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
  ~ServeProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }
  ServeProcess(const ServeProcess&) = delete;
  ServeProcess& operator=(const ServeProcess&) = delete;

  int port() const { return port_; }

  // Asks it to stop as a service manager would: its exit status, -1 when it was killed by
  // a signal or has not stopped within 10 s.
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

// The name the control gives the archive of folio `folio` (of the sample employer, 2004-04).
inline std::string ArchiveName(const std::string& folio) {
  return "33501e01.m1.s0870.rA1234567890.f" + folio + ".p200404.e999.zip";
}

// A sample payment of folio `folio` that is never late against the server's date: its
// deadline is next year.
inline PaymentPlan OnTimePlan(const std::string& folio = "000001") {
  const std::time_t now = std::time(nullptr);
  std::tm today{};
  localtime_r(&now, &today);
  PaymentPlan plan = SamplePaymentPlan(3, static_cast<std::uint32_t>(std::stoul(folio) + 6));
  plan.folio = folio;
  plan.deadline_year = today.tm_year + 1900 + 1;
  return plan;
}

// The archive the page uploads: the payment file under the name the control gives it,
// packed in `scratch` by the control's own packing.
inline std::string PageArchive(const PaymentPlan& plan, const std::string& name,
                               const std::filesystem::path& scratch) {
  const std::filesystem::path file = scratch / (name.substr(0, name.size() - 3) + "zav");
  WritePaymentFile(plan, file);
  EXPECT_EQ(EmpacaArchivo((scratch / name).string(), file.string()), 0);
  return ReadAll(scratch / name);
}

// A zip archive holding `entries` (name, bytes), made in `scratch` with the zip library.
inline std::string ZipOf(const std::vector<std::pair<std::string, std::string>>& entries,
                         const std::filesystem::path& scratch) {
  const std::filesystem::path path = scratch / "made.zip";
  std::filesystem::remove(path);
  int error = 0;
  zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  for (const auto& [name, bytes] : entries) {
    zip_source_t* source = zip_source_buffer(za, bytes.data(), bytes.size(), 0);
    EXPECT_GE(zip_file_add(za, name.c_str(), source, 0), 0) << name;
  }
  EXPECT_EQ(zip_close(za), 0);
  return ReadAll(path);
}

}  // namespace zav::testing
