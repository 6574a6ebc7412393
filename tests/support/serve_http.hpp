// Raw HTTP/1.1 exchanges with the upload server: a connection on loopback or its Unix socket,
// requests written byte for byte, answers read to the end of the connection.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/payment_run.hpp"

namespace zav::testing {

// Where a server listens: a loopback port, or a Unix socket when `socket` is not empty.
struct Endpoint {
  int port = 0;
  std::string socket;
};

struct HttpReply {
  int status = 0;  // 0: no answer
  std::string head;
  std::string body;

  // The value of header `name` (case as sent), "" when absent.
  std::string Header(const std::string& name) const {
    const std::size_t at = head.find("\r\n" + name + ": ");
    if (at == std::string::npos) return "";
    const std::size_t from = at + name.size() + 4;
    return head.substr(from, head.find("\r\n", from) - from);
  }
};

// A connected socket to `to`, -1 when it cannot connect; each way waits at most 30 s. With
// `source` (a loopback address), a TCP connection comes from there.
inline int Connect(const Endpoint& to, const char* source = nullptr) {
  const int fd = ::socket(to.socket.empty() ? AF_INET : AF_UNIX, SOCK_STREAM, 0);
  timeval limit{30, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  int connected = -1;
  if (to.socket.empty()) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    if (source != nullptr) {
      ::inet_pton(AF_INET, source, &address.sin_addr);
      ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    address.sin_port = htons(static_cast<std::uint16_t>(to.port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  } else {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, to.socket.c_str(), sizeof address.sun_path - 1);
    connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  if (connected != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

inline bool SendAll(int fd, std::string_view bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The answer in `raw`, a whole HTTP/1.1 response; status 0 when it is not one.
inline HttpReply ParseReply(const std::string& raw) {
  HttpReply reply;
  const std::size_t head_end = raw.find("\r\n\r\n");
  if (raw.size() > 12 && raw.starts_with("HTTP/1.1 ") && head_end != std::string::npos) {
    reply.status = std::atoi(raw.c_str() + 9);
    reply.head = raw.substr(0, head_end + 2);
    reply.body = raw.substr(head_end + 4);
  }
  return reply;
}

// Reads an answer to the end of the connection.
inline HttpReply ReadReply(int fd) {
  std::string raw;
  char buffer[16384];
  for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) raw.append(buffer, n);
  return ParseReply(raw);
}

// In zav_tests every answer RawExchange receives is recorded, and at the end checked against
// the server's description (share/zav/openapi.json) by tests/apps/check_answers.py: a status,
// header or body the description does not allow for its path fails the run.
#ifdef ZAV_CHECK_ANSWERS
inline const std::filesystem::path& AnswerRecord() {
  static const std::filesystem::path path = [] {
    const char* tmp = std::getenv("ZAV_TEST_TMP");
    const std::filesystem::path folder = tmp != nullptr ? tmp : "/tmp";
    std::error_code ec;  // a process of another user may be unable to look: it records nothing
    std::filesystem::create_directories(folder, ec);
    return folder / ("answers-" + std::to_string(::getpid()) + ".jsonl");
  }();
  return path;
}

inline void RecordAnswer(std::string_view request, const HttpReply& reply) {
  if (reply.status == 0) return;
  const std::string line(request.substr(0, request.find("\r\n")));
  const std::size_t space = line.find(' ');
  const std::size_t second = line.find(' ', space + 1);
  nlohmann::json answer = {
      {"method", line.substr(0, space)},
      {"target", space == std::string::npos ? "" : line.substr(space + 1, second - space - 1)},
      {"status", reply.status},
      {"head", reply.head}};
  const std::string type = reply.Header("Content-Type");
  const bool text = type.starts_with("application/json") || type.starts_with("text/plain");
  answer["body"] = text ? nlohmann::json(reply.body) : nlohmann::json(nullptr);
  static std::mutex turn;
  const std::lock_guard<std::mutex> lock(turn);
  std::ofstream(AnswerRecord(), std::ios::app)
      << answer.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

class AnswerCheck : public ::testing::Environment {
 public:
  void TearDown() override {
    std::error_code ec;
    if (!std::filesystem::exists(AnswerRecord(), ec)) return;
    const Ran ran =
        Shell(std::string("python3 ") + ZAV_SOURCE_DIR + "/tests/apps/check_answers.py " +
              ZAV_SOURCE_DIR + "/share/zav/openapi.json " + AnswerRecord().string());
    EXPECT_EQ(ran.status, 0) << ran.out;
    const std::size_t tally = ran.out.rfind("check_answers:");
    if (tally != std::string::npos) std::printf("[ answers  ] %s", ran.out.c_str() + tally);
    if (ran.status == 0) std::filesystem::remove(AnswerRecord(), ec);
  }
};
inline ::testing::Environment* const kAnswerCheck =
    ::testing::AddGlobalTestEnvironment(new AnswerCheck);
#else
inline void RecordAnswer(std::string_view, const HttpReply&) {}
#endif

// Sends `request` (raw bytes) and reads the answer. With `cut`, only the first `cut` bytes
// are sent and the sending side is shut: the rest never comes.
inline HttpReply RawExchange(const Endpoint& to, std::string_view request,
                             std::size_t cut = std::string::npos) {
  const int fd = Connect(to);
  if (fd < 0) return {};
  SendAll(fd, request.substr(0, cut));
  if (cut < request.size()) ::shutdown(fd, SHUT_WR);
  HttpReply reply = ReadReply(fd);
  ::close(fd);
  RecordAnswer(request, reply);
  return reply;
}

// An HTTP/1.1 request with a Content-Length, the connection closed after it; `headers` are
// "Name: value" lines.
inline std::string HttpRequest(const std::string& method, const std::string& target,
                               const std::vector<std::string>& headers = {},
                               const std::string& body = "") {
  std::string request =
      method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
  for (const std::string& h : headers) request += h + "\r\n";
  return request + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

inline HttpReply HttpExchange(const Endpoint& to, const std::string& method,
                              const std::string& target,
                              const std::vector<std::string>& headers = {},
                              const std::string& body = "") {
  return RawExchange(to, HttpRequest(method, target, headers, body));
}

// The head of an upload of `name` by `credentials` (a header line), without its framing:
// Content-Length or Transfer-Encoding and the blank line are the caller's.
inline std::string UploadHead(const std::string& name, const std::string& credentials) {
  return "POST /api/upload?name=" + name +
         " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Type: application/zip\r\n" +
         credentials + "\r\n";
}

// A whole upload of `body` as `name`; `headers` carry the credentials.
inline std::string UploadRequest(const std::string& name, const std::string& body,
                                 std::vector<std::string> headers) {
  headers.push_back("Content-Type: application/zip");
  return HttpRequest("POST", "/api/upload?name=" + name, headers, body);
}

}  // namespace zav::testing
