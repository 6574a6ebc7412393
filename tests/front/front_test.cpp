// zav-serve behind Debian's nginx with the shipped site (deploy/nginx/zav.conf), on loopback
// ports, with certificates made here: the attacks tried on zav-serve alone, through the
// front, and what the front adds (TLS, client certificates, whole bodies, rate limits). The
// site is set up as an operator would: 127.0.0.3 is the monitoring host it lists.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>
#include <tuple>
#include <vector>

#include "support/serve_harness.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using testing::HttpReply;
using testing::ReadAll;
using testing::UploadRequest;

constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr const char* kMonitor = "127.0.0.3";

int FreePort() {
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

void Replace(std::string& text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
}

// A certificate authority, the server's certificate for 127.0.0.1 (RSA: the key exchange
// without forward secrecy is only possible with one) and employers' client certificates,
// made with the openssl command in `dir`.
void MakeCertificates(const fs::path& dir) {
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
  const testing::Ran made = testing::Shell(script + "cp ca.pem clients-ca.pem");
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
    fd_ = testing::Connect({port, ""}, source);
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
    return testing::ParseReply(raw);
  }

 private:
  SSL_CTX* context_;
  SSL* ssl_ = nullptr;
  int fd_ = -1;
  bool connected_ = false;
};

class Front : public testing::ServeTest {
 protected:
  fs::path tls = base / "tls";
  std::unique_ptr<testing::ServeProcess> server;
  pid_t nginx = -1;
  int https = 0;

  void SetUp() override {
    if (!fs::exists(kNginx)) GTEST_SKIP() << "nginx is missing (scripts/install-deps installs it)";
    testing::ServeTest::SetUp();
    for (const fs::path& p : {tls, base / "nginx"}) fs::create_directories(p);
    MakeCertificates(tls);
    server = std::make_unique<testing::ServeProcess>(
        uploads, web,
        std::vector<std::string>{"--socket", (base / "zav.sock").string(), "--max-bytes", "1MiB"});
    ASSERT_TRUE(server->listening()) << server->first_line();

    // The shipped site, on loopback ports, with the test's socket, certificates and a body
    // limit matching --max-bytes.
    std::string site = ReadAll(fs::path(ZAV_SOURCE_DIR) / "deploy" / "nginx" / "zav.conf");
    https = FreePort();
    Replace(site, "unix:/run/zav-serve/zav-serve.sock", "unix:" + (base / "zav.sock").string());
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
        << "events { worker_connections 256; }\nhttp {\n  access_log " << n
        << "/access.log;\n  client_body_temp_path " << n << "/body;\n  proxy_temp_path " << n
        << "/proxy;\n  fastcgi_temp_path " << n << "/fastcgi;\n  uwsgi_temp_path " << n
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
    return Send(testing::HttpRequest("GET", target), "", source);
  }
  HttpReply Send(const std::string& request, const std::string& certificate = "",
                 const char* source = nullptr) {
    TlsClient client(tls, https, certificate, source);
    client.Write(request);
    return client.Read();
  }
};

// Who may upload: a client certificate nginx verified names the employer (a forged
// certificate or a forged header names no one), a token does; no other site's page can. An
// RFC, the file's own included, entitles only the registrations the operator tied to it.
TEST_F(Front, CertificatesAndTokensDecideWhoStores) {
  const std::string token = server->Bearer();
  const std::string elsewhere = testing::Bearer(base / "tokens", {"ABCD010101XY1=B9999999999"});
  struct Case {
    const char* what;
    std::vector<std::string> headers;
    std::string certificate;
    int status;
  } cases[] = {
      {"a forged certificate header", {"X-Zav-Client-Subject: CN=A1234567890"}, "", 401},
      {"a certificate of no authority we know", {}, "forged", 400},
      {"another employer's certificate", {}, "stranger", 403},
      {"a certificate of the file's RFC, tied to nothing", {}, "rfc", 403},
      {"a token of the file's RFC, tied to another registration", {elsewhere}, "", 403},
      {"a page of another site", {token, "Origin: https://evil.example"}, "", 403},
      {"the employer's certificate", {}, "employer", 201},
      {"the employer's token", {token}, "", 201},
  };
  int folio = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto [name, archive] = Archive(std::to_string(1000000 + ++folio).substr(1));
    const HttpReply reply = Send(UploadRequest(name, archive, c.headers), c.certificate);
    EXPECT_EQ(reply.status, c.status) << reply.body;
    EXPECT_EQ(fs::exists(uploads / name), c.status == 201);
  }
  const json receipt = json::parse(ReadAll(uploads / (testing::ArchiveName("000007") + ".json")));
  EXPECT_EQ(receipt["uploader"], "cert:A1234567890");
  EXPECT_EQ(receipt["client"], "127.0.0.1");
}

// Bodies: oversized and chunked ones end at nginx (413) or are read whole there first (even
// in one-byte chunks) and stored as the server packs them; framing that is not plain ends at
// nginx; at most one range; the metrics are the listed monitoring host's only, not even this
// machine's.
TEST_F(Front, BodiesFramingAndFilesAreBoundedThroughTheFront) {
  const auto [name, archive] = Archive("000001");
  const std::string head = testing::UploadHead(name, server->Bearer());
  std::string chunked = head + "Transfer-Encoding: chunked\r\n\r\n";
  for (int k = 0; k < 3; ++k) chunked += "80000\r\n" + std::string(0x80000, 'P') + "\r\n";
  chunked += "0\r\n\r\n";
  std::string small_chunks = head + "Transfer-Encoding: chunked\r\n\r\n";
  for (const char c : archive) small_chunks += "1\r\n" + std::string(1, c) + "\r\n";
  small_chunks += "0\r\n\r\n";
  std::string ranges = "Range: bytes=0-0";
  while (ranges.size() < 6000) ranges += ",0-0";
  struct Case {
    const char* what;
    std::string request;
    int status;
    const char* source = nullptr;  // a client address other than this machine's
  } cases[] = {
      {"chunked, over the limit", chunked, 413},
      {"a length over the limit",
       UploadRequest(name, std::string(2 << 20, 'P'), {server->Bearer()}), 413},
      {"two Content-Length", head + "Content-Length: 5\r\nContent-Length: 6\r\n\r\nabcdef", 400},
      {"the metrics from elsewhere", testing::HttpRequest("GET", "/metrics"), 403, "127.0.0.2"},
      {"the metrics from this machine", testing::HttpRequest("GET", "/metrics"), 403, "127.0.0.1"},
      {"the metrics from the monitoring host", testing::HttpRequest("GET", "/metrics"), 200,
       kMonitor},
      {"many ranges", testing::HttpRequest("GET", "/index.html", {ranges}), 200},
      {"chunked, whole and small", small_chunks, 201},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const HttpReply reply = Send(c.request, "", c.source);
    EXPECT_EQ(reply.status, c.status) << reply.head << reply.body;
    if (c.status == 200 && c.source == nullptr) {
      EXPECT_EQ(reply.body, "<p>zav</p>");
    }
  }
  // Only the whole, small chunked upload reached zav-serve's upload handler.
  const std::string log = server->Log();
  EXPECT_EQ(log.find("\"status\":411"), std::string::npos) << log;
  EXPECT_LT(fs::file_size(uploads / name), archive.size() + 1024);
  EXPECT_EQ(testing::ZipEntries(ReadAll(uploads / name)), testing::ZipEntries(archive));
  // The log has the client's address and nginx's request id.
  const std::regex upload_line("\"id\":\"[0-9a-f]{32}\",\"client\":\"127.0.0.1\"");
  EXPECT_TRUE(std::regex_search(log, upload_line)) << log;
}

// Slow clients and zip bombs meet nginx first; the date and health answer throughout (the
// latency through the front is printed, not judged); a client that uploads too fast is
// held back (429), this machine too (a proxy on it would be everyone); the listed monitoring
// host is not.
TEST_F(Front, SlowClientsBombsAndFloodsAreHeldAtTheFront) {
  const std::string inner = testing::ArchiveName("000001");
  const std::string bomb = UploadRequest(
      inner, testing::ZipOf({{testing::InnerName(inner), std::string(16 << 20, '0')}}, scratch),
      {server->Bearer()});
  const testing::Siege siege = testing::Besiege(
      "through nginx, TLS handshakes included", 40,
      [&](const std::atomic<bool>& stop) {
        TlsClient client(tls, https);
        testing::Dribble(bomb, stop, [&](const char* c) { return client.Write({c, 1}); });
      },
      [&] {
        const int status = Send(bomb).status;
        return status == 413 || status == 503 || status == 429;
      },
      [&] {
        return Get("/healthz", kMonitor).status == 200 && Get("/api/date", kMonitor).status == 200;
      });
  EXPECT_EQ(siege.answered, 40) << "the front stopped answering";
  EXPECT_EQ(siege.refused, siege.bombs);
  EXPECT_FALSE(fs::exists(uploads / inner));

  // 40 uploads at once from one address: the burst passes, the rest wait their turn (429),
  // from this machine as from any other; from the monitoring host none waits.
  const auto [name, archive] = Archive("000002");
  const std::string request = UploadRequest(name, archive, {server->Bearer()});
  for (const char* source : {"127.0.0.2", "127.0.0.1", kMonitor}) {
    SCOPED_TRACE(source);
    int held = 0, stored = 0;
    for (int k = 0; k < 40; ++k) {
      const int status = Send(request, "", source).status;
      held += status == 429;
      stored += status == 200 || status == 201;
    }
    EXPECT_EQ(held + stored, 40);
    if (source == kMonitor) {
      EXPECT_EQ(held, 0);
    } else {
      EXPECT_GT(held, 0);
    }
  }
}

// TLS 1.2 only with forward secrecy and authenticated encryption, whatever the client
// offers; TLS 1.3 as OpenSSL has it; no session tickets (their key is never rotated); the
// Server header names no version.
TEST_F(Front, TlsTakesOnlyForwardSecretAeadSuitesAndTellsNoVersion) {
  struct Case {
    const char* what;
    const char* suites;  // TLS 1.2 offering only these; none: TLS 1.3
    bool connects;
  } cases[] = {
      {"RSA key exchange, CBC, SHA-1", "AES128-SHA", false},
      {"RSA key exchange, GCM", "AES256-GCM-SHA384", false},
      {"ECDHE, CBC, SHA-1", "ECDHE-RSA-AES128-SHA", false},
      {"ECDHE, CBC, SHA-256", "ECDHE-RSA-AES128-SHA256", false},
      {"finite-field DHE, GCM", "DHE-RSA-AES128-GCM-SHA256", false},
      {"ECDHE, AES-GCM", "ECDHE-RSA-AES128-GCM-SHA256", true},
      {"ECDHE, ChaCha20-Poly1305", "ECDHE-RSA-CHACHA20-POLY1305", true},
      {"TLS 1.3", nullptr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TlsClient client(tls, https, "", nullptr, c.suites);
    EXPECT_EQ(client.connected(), c.connects);
    if (!client.connected()) continue;
    if (c.suites != nullptr) {
      EXPECT_FALSE(client.ticket());
    }
    client.Write(testing::HttpRequest("GET", "/healthz"));
    const HttpReply reply = client.Read();
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.Header("Server"), "nginx") << reply.head;
  }
}

}  // namespace
}  // namespace zav
