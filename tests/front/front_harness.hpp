// What the tests behind the front share: Debian's nginx with the shipped site
// (deploy/nginx/zav.conf) on loopback ports, certificates made with openssl, a TLS client,
// and zav-serve on its Unix socket behind it.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support/serve_harness.hpp"

namespace zav::testing {

namespace fs = std::filesystem;

constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr const char* kMonitor = "127.0.0.3";

inline int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

inline void Replace(std::string& text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
}

// A certificate authority, the server's certificate for 127.0.0.1 (RSA: the key exchange
// without forward secrecy is only possible with one) and employers' client certificates,
// made with the openssl command in `dir`.
inline void MakeCertificates(const fs::path& dir) {
  std::ofstream(dir / "server.ext") << "subjectAltName=IP:127.0.0.1\n";
  const std::string req = "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
  std::string script = "set -e; cd " + dir.string() + "; " + req +
                       "-x509 -days 2 -keyout ca.key -out ca.pem -subj /CN=zav-test-ca; " + req +
                       "-x509 -days 2 -keyout forged.key -out forged.pem -subj /CN=A1234567890; ";
  for (const auto& [name, subject, extra] :
       {std::tuple{"server", "/CN=127.0.0.1", " -extfile server.ext"},
        {"employer", "/O=Patron de prueba/CN=A1234567890", ""},
        {"stranger", "/O=Otro patron/CN=B9999999999", ""},
        {"rfc", "/O=Patron de prueba/CN=ABCD010101XY1", ""}}) {
    script += (std::string(name) == "server" ? "openssl req -newkey rsa:2048 -nodes " : req) +
              "-keyout " + name + ".key -out " + name + ".csr -subj '" + subject +
              "'; openssl x509 -req -in " + name + ".csr -CA ca.pem -CAkey ca.key -CAcreateserial" +
              " -days 2 -out " + name + ".pem" + extra + "; ";
  }
  const Ran made = Shell(script + "cp ca.pem clients-ca.pem");
  ASSERT_EQ(made.status, 0) << made.out;
}

// A TLS connection to the front on `port`, its certificate checked; with `certificate` (a
// name of MakeCertificates) the client shows it; from `source` (a loopback address) when given;
// with `suites`, TLS 1.2 offering only those (OpenSSL's names, weak ones allowed).
class TlsClient {
 public:
  TlsClient(const fs::path& tls, int port, const std::string& certificate = "",
            const char* source = nullptr, const char* suites = nullptr)
      : context_(SSL_CTX_new(TLS_client_method())) {
    SSL_CTX_load_verify_locations(context_, (tls / "ca.pem").c_str(), nullptr);
    SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
    if (suites != nullptr) {
      SSL_CTX_set_max_proto_version(context_, TLS1_2_VERSION);
      SSL_CTX_set_cipher_list(context_, (std::string(suites) + ":@SECLEVEL=0").c_str());
    }
    if (!certificate.empty()) {
      SSL_CTX_use_certificate_file(context_, (tls / (certificate + ".pem")).c_str(),
                                   SSL_FILETYPE_PEM);
      SSL_CTX_use_PrivateKey_file(context_, (tls / (certificate + ".key")).c_str(),
                                  SSL_FILETYPE_PEM);
    }
    ssl_ = SSL_new(context_);
    fd_ = Connect({port, ""}, source);
    connected_ = fd_ >= 0 && SSL_set_fd(ssl_, fd_) == 1 && SSL_connect(ssl_) == 1;
  }
  ~TlsClient() {
    SSL_free(ssl_);
    if (fd_ >= 0) ::close(fd_);
    SSL_CTX_free(context_);
  }
  TlsClient(const TlsClient&) = delete;
  TlsClient& operator=(const TlsClient&) = delete;

  bool connected() const { return connected_; }
  // Whether the server gave a session ticket (TLS 1.2 gives it in the handshake).
  bool ticket() const { return connected_ && SSL_SESSION_has_ticket(SSL_get0_session(ssl_)); }

  bool Write(std::string_view bytes) {
    const int size = static_cast<int>(bytes.size());
    return connected_ && SSL_write(ssl_, bytes.data(), size) == size;
  }
  // The answer, read to the end of the connection.
  HttpReply Read() {
    std::string raw;
    char buffer[16384];
    for (int n; connected_ && (n = SSL_read(ssl_, buffer, sizeof buffer)) > 0;) {
      raw.append(buffer, static_cast<std::size_t>(n));
    }
    return ParseReply(raw);
  }

 private:
  SSL_CTX* context_;
  SSL* ssl_ = nullptr;
  int fd_ = -1;
  bool connected_ = false;
};

class Front : public ServeTest {
 protected:
  fs::path tls = base / "tls";
  std::unique_ptr<ServeProcess> server;
  pid_t nginx = -1;
  int https = 0;

  void SetUp() override {
    if (!fs::exists(kNginx)) GTEST_SKIP() << "nginx is missing (scripts/install-deps installs it)";
    ServeTest::SetUp();
    for (const fs::path& p : {tls, base / "nginx"}) fs::create_directories(p);
    MakeCertificates(tls);
    const std::vector<fs::path> sockets = StartServers();
    if (HasFatalFailure()) return;
    StartNginx(sockets);
  }

  // The servers behind the front: their sockets.
  virtual std::vector<fs::path> StartServers() {
    server = std::make_unique<ServeProcess>(
        uploads, web,
        std::vector<std::string>{"--socket", (base / "zav.sock").string(), "--max-bytes", "1MiB"});
    EXPECT_TRUE(server->listening()) << server->first_line();
    return {base / "zav.sock"};
  }

  // The shipped site, on loopback ports, with the servers' sockets as its upstream, the
  // test's certificates and a body limit matching --max-bytes.
  void StartNginx(const std::vector<fs::path>& sockets) {
    std::string site = ReadAll(fs::path(ZAV_SOURCE_DIR) / "deploy" / "nginx" / "zav.conf");
    https = FreePort();
    std::string upstream;
    for (const fs::path& socket : sockets) {
      upstream += (upstream.empty() ? "" : "\n    ") + ("server unix:" + socket.string() + ";");
    }
    Replace(site, "server unix:/run/zav-serve/zav-serve.sock;", upstream);
    Replace(site, "listen 80;", "listen 127.0.0.1:" + std::to_string(FreePort()) + ";");
    Replace(site, "listen [::]:80;", "");
    Replace(site, "listen 443 ssl http2;", "listen 127.0.0.1:" + std::to_string(https) + " ssl;");
    Replace(site, "listen [::]:443 ssl http2;", "");
    Replace(site, "client_max_body_size 64m;", "client_max_body_size 1m;");
    Replace(site, "# 192.0.2.10 0;  # the monitoring host", std::string(kMonitor) + " 0;");
    Replace(site, "# allow 192.0.2.10;  # the monitoring host",
            "allow " + std::string(kMonitor) + ";");
    for (const char* file : {"server.pem", "server.key", "clients-ca.pem"}) {
      Replace(site, std::string("/etc/zav/tls/") + file, (tls / file).string());
    }
    std::ofstream(base / "nginx" / "zav.conf") << site;
    const std::string n = (base / "nginx").string();
    std::ofstream(base / "nginx" / "nginx.conf")
        << (::geteuid() == 0 ? "user root;\n" : "") << "daemon off;\nmaster_process off;\npid " << n
        << "/nginx.pid;\nerror_log " << n << "/error.log warn;\n"
        << "events { worker_connections 256; }\nhttp {\n  log_format upstream "
        << "'$request_uri $status $upstream_addr';\n  access_log " << n
        << "/access.log upstream;\n  client_body_temp_path " << n << "/body;\n  proxy_temp_path "
        << n << "/proxy;\n  fastcgi_temp_path " << n << "/fastcgi;\n  uwsgi_temp_path " << n
        << "/uwsgi;\n  scgi_temp_path " << n << "/scgi;\n  include " << n << "/zav.conf;\n}\n";
    // One process, killed with the test at the latest.
    nginx = ::fork();
    if (nginx == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      const int null = ::open("/dev/null", O_RDWR);
      for (const int fd : {0, 1, 2}) ::dup2(null, fd);
      ::execl(kNginx, "nginx", "-p", n.c_str(), "-c", (n + "/nginx.conf").c_str(), "-e",
              (n + "/error.log").c_str(), nullptr);
      ::_exit(127);
    }
    for (int k = 0; k < 100 && Get("/healthz").status != 200; ++k) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_EQ(Get("/healthz").status, 200) << ReadAll(base / "nginx" / "error.log");
  }

  void TearDown() override {
    if (nginx > 0) {
      ::kill(nginx, SIGTERM);
      ::waitpid(nginx, nullptr, 0);
    }
  }

  HttpReply Get(const std::string& target, const char* source = nullptr) {
    return Send(HttpRequest("GET", target), "", source);
  }
  HttpReply Send(const std::string& request, const std::string& certificate = "",
                 const char* source = nullptr) {
    TlsClient client(tls, https, certificate, source);
    client.Write(request);
    return client.Read();
  }
};

}  // namespace zav::testing
