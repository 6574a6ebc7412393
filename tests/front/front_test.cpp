// zav-serve behind Debian's nginx with the shipped site (deploy/nginx/zav.conf), set up as an
// operator would (127.0.0.3 is its monitoring host): the attacks through the front, what it
// adds, and two replicas sharing a PostgreSQL database behind it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <tuple>

#include "support/serve_harness.hpp"

namespace zav::testing {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

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

// A CA, the server's certificate (RSA: key exchange without forward secrecy needs one) and
// employers' client certificates, made in `dir`.
void MakeCertificates(const fs::path& dir) {
  std::ofstream(dir / "server.ext") << "subjectAltName=IP:127.0.0.1\n";
  const std::string req = "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
  std::string script = "set -e; cd " + dir.string() + "; " + req +
                       "-x509 -days 2 -keyout ca.key -out ca.pem -subj /CN=zav-test-ca; " + req +
                       "-x509 -days 2 -keyout forged.key -out forged.pem -subj /CN=A1234567890; ";
  for (const auto& [name, subject, extra] :
       {std::tuple{"server", "/CN=127.0.0.1", " -extfile server.ext"},
        {"employer", "/O=Patron de prueba/CN=A1234567890", ""},
        {"stranger", "/O=Otro patron/CN=B9999999999", ""}}) {
    script += (std::string(name) == "server" ? "openssl req -newkey rsa:2048 -nodes " : req) +
              "-keyout " + name + ".key -out " + name + ".csr -subj '" + subject +
              "'; openssl x509 -req -in " + name + ".csr -CA ca.pem -CAkey ca.key -CAcreateserial" +
              " -days 2 -out " + name + ".pem" + extra + "; ";
  }
  const Ran made = Shell(script + "cp ca.pem clients-ca.pem");
  ASSERT_EQ(made.status, 0) << made.out;
}

// A checked TLS connection to `port`, showing `certificate` and from `source` when given;
// with `suites`, TLS 1.2 offering only those (weak ones allowed).
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
  HttpReply Read() {  // to the end of the connection
    std::string raw;
    char buffer[16384];
    for (int n; connected_ && (n = SSL_read(ssl_, buffer, sizeof buffer)) > 0;)
      raw.append(buffer, n);
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
    if (!HasFatalFailure()) StartNginx(sockets);
  }
  void TearDown() override {
    if (nginx <= 0) return;
    ::kill(nginx, SIGTERM);
    ::waitpid(nginx, nullptr, 0);
  }

  // The servers behind the front: their sockets.
  virtual std::vector<fs::path> StartServers() {
    server = std::make_unique<ServeProcess>(
        uploads, web,
        std::vector<std::string>{"--socket", (base / "zav.sock").string(), "--max-bytes", "1MiB"});
    EXPECT_TRUE(server->listening()) << server->first_line();
    return {base / "zav.sock"};
  }

  // The shipped site on loopback ports, the servers' sockets its upstream, with the test's
  // certificates and a body limit matching --max-bytes; one nginx process, killed with the
  // test at the latest.
  void StartNginx(const std::vector<fs::path>& sockets) {
    std::string site = ReadAll(fs::path(ZAV_SOURCE_DIR) / "deploy" / "nginx" / "zav.conf");
    https = FreePort();
    std::string upstream;
    for (const fs::path& socket : sockets) {
      upstream += (upstream.empty() ? "" : "\n    ") + ("server unix:" + socket.string() + ";");
    }
    std::vector<std::pair<std::string, std::string>> edits = {
        {"server unix:/run/zav-serve/zav-serve.sock;", upstream},
        {"listen 80;", "listen 127.0.0.1:" + std::to_string(FreePort()) + ";"},
        {"listen [::]:80;", ""},
        {"listen 443 ssl http2;", "listen 127.0.0.1:" + std::to_string(https) + " ssl;"},
        {"listen [::]:443 ssl http2;", ""},
        {"client_max_body_size 64m;", "client_max_body_size 1m;"},
        {"# 192.0.2.10 0;  # the monitoring host", std::string(kMonitor) + " 0;"},
        {"# allow 192.0.2.10;  # the monitoring host", "allow " + std::string(kMonitor) + ";"}};
    for (const char* file : {"server.pem", "server.key", "clients-ca.pem"}) {
      edits.emplace_back(std::string("/etc/zav/tls/") + file, (tls / file).string());
    }
    for (const auto& [from, to] : edits) {
      const std::size_t at = site.find(from);
      ASSERT_NE(at, std::string::npos) << from;
      site.replace(at, from.size(), to);
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

// A certificate nginx verified or a token names the uploader; a forged certificate or header
// stores nothing. (What zav-serve makes of a subject or Origin: serve_attacks_test.cpp.)
TEST_F(Front, CertificatesAndTokensDecideWhoStores) {
  const std::string token = server->Bearer();
  const struct {
    const char* what;
    std::vector<std::string> headers;
    std::string certificate;
    int status;
  } cases[] = {
      {"a forged certificate header", {"X-Zav-Client-Subject: CN=A1234567890"}, "", 401},
      {"a certificate of no authority we know", {}, "forged", 400},
      {"another employer's certificate", {}, "stranger", 403},
      {"the employer's certificate", {}, "employer", 201},
      {"the employer's token", {token}, "", 201},
  };
  int folio = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto [name, archive] = Archive(std::to_string(1000000 + ++folio).substr(1));
    const HttpReply reply = Send(UploadRequest(name, archive, c.headers), c.certificate);
    EXPECT_EQ(reply.status, c.status) << reply.body;
    EXPECT_EQ(fs::exists(uploads / name), c.status == 201);
  }
  const json receipt = json::parse(ReadAll(uploads / (ArchiveName("000004") + ".json")));
  EXPECT_EQ(receipt["uploader"], "cert:A1234567890");
  EXPECT_EQ(receipt["client"], "127.0.0.1");
}

// Oversized bodies and odd framing end at nginx, chunked ones are read whole there first; the
// metrics are the monitoring host's only, not this machine's.
TEST_F(Front, BodiesFramingAndFilesAreBoundedThroughTheFront) {
  const auto [name, archive] = Archive("000001");
  const std::string head = UploadHead(name, server->Bearer());
  std::string chunked = head + "Transfer-Encoding: chunked\r\n\r\n", small_chunks = chunked;
  for (int k = 0; k < 3; ++k) chunked += "80000\r\n" + std::string(0x80000, 'P') + "\r\n";
  for (const char c : archive) small_chunks += "1\r\n" + std::string(1, c) + "\r\n";
  chunked += "0\r\n\r\n";
  small_chunks += "0\r\n\r\n";
  std::string ranges = "Range: bytes=0-0";
  while (ranges.size() < 6000) ranges += ",0-0";
  const struct {
    const char* what;
    std::string request;
    int status;
    const char* source = nullptr;  // a client address other than this machine's
  } cases[] = {
      {"chunked, over the limit", chunked, 413},
      {"a length over the limit",
       UploadRequest(name, std::string(2 << 20, 'P'), {server->Bearer()}), 413},
      {"two Content-Length", head + "Content-Length: 5\r\nContent-Length: 6\r\n\r\nabcdef", 400},
      {"the metrics from elsewhere", HttpRequest("GET", "/metrics"), 403, "127.0.0.2"},
      {"the metrics from this machine", HttpRequest("GET", "/metrics"), 403, "127.0.0.1"},
      {"the metrics from the monitoring host", HttpRequest("GET", "/metrics"), 200, kMonitor},
      {"many ranges", HttpRequest("GET", "/index.html", {ranges}), 200},
      {"chunked, whole and small", small_chunks, 201},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const HttpReply reply = Send(c.request, "", c.source);
    EXPECT_EQ(reply.status, c.status) << reply.head << reply.body;
    if (c.status == 200 && c.source == nullptr) {
      EXPECT_EQ(reply.body, "<p>zav</p>");
    }
  }
  // Only the whole, small chunked upload reached zav-serve's upload handler; its log line has
  // the client's address and nginx's request id.
  const std::string log = server->Log();
  EXPECT_EQ(log.find("\"status\":411"), std::string::npos) << log;
  EXPECT_LT(fs::file_size(uploads / name), archive.size() + 1024);
  EXPECT_EQ(ZipEntries(ReadAll(uploads / name)), ZipEntries(archive));
  EXPECT_TRUE(
      std::regex_search(log, std::regex("\"id\":\"[0-9a-f]{32}\",\"client\":\"127.0.0.1\"")))
      << log;
}

// Under slow clients and bombs the date and health answer; a client uploading too fast gets
// 429, this machine too (a proxy on it would be everyone), the monitoring host not.
TEST_F(Front, SlowClientsBombsAndFloodsAreHeldAtTheFront) {
  const std::string inner = ArchiveName("000001");
  const std::string bomb = UploadRequest(
      inner, ZipOf({{InnerName(inner), std::string(16 << 20, '0')}}, scratch), {server->Bearer()});
  const Siege siege = Besiege(
      "through nginx, TLS handshakes included, under 16 slow clients and 8 zip bombs", 40,
      [&](const std::atomic<bool>& stop) {
        TlsClient client(tls, https);
        Dribble(bomb, stop, [&](const char* c) { return client.Write({c, 1}); });
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

  const auto [name, archive] = Archive("000002");  // 40 at once from one address
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
    EXPECT_EQ(held > 0, source != kMonitor) << held;
  }
}

// TLS 1.2 only forward-secret and AEAD, TLS 1.3; no session tickets (their key is never
// rotated); the Server header names no version.
TEST_F(Front, TlsTakesOnlyForwardSecretAeadSuitesAndTellsNoVersion) {
  for (const auto& [suites, connects] :  // TLS 1.2 offering only `suites`; none: TLS 1.3
       {std::pair<const char*, bool>{"AES128-SHA", false},
        {"AES256-GCM-SHA384", false},
        {"ECDHE-RSA-AES128-SHA256", false},
        {"DHE-RSA-AES128-GCM-SHA256", false},
        {"ECDHE-RSA-AES128-GCM-SHA256", true},
        {nullptr, true}}) {
    SCOPED_TRACE(suites ? suites : "TLS 1.3");
    TlsClient client(tls, https, "", nullptr, suites);
    EXPECT_EQ(client.connected(), connects);
    if (!client.connected()) continue;
    EXPECT_FALSE(suites != nullptr && client.ticket());
    client.Write(HttpRequest("GET", "/healthz"));
    const HttpReply reply = client.Read();
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.Header("Server"), "nginx") << reply.head;
  }
}

// Two replicas sharing a PostgreSQL database (a throwaway cluster of the suite, a database of
// each test), both in the site's upstream.
class FrontReplicas : public OnPostgres<Front> {
 protected:
  void SetUp() override {
    OnPostgres::SetUp();
    if (!IsSkipped() && !HasFatalFailure()) token = StoreToken(uri, "A1234567890");
  }
  std::vector<fs::path> StartServers() override {
    for (const char* which : {"a", "b"}) replicas.push_back(StartReplica(which));
    return {base / "a.sock", base / "b.sock"};
  }
  std::unique_ptr<ServeProcess> StartReplica(const std::string& which) {
    auto replica = std::make_unique<ServeProcess>(
        base / which / "uploads", web,
        std::vector<std::string>{"--store", uri, "--socket", (base / (which + ".sock")).string(),
                                 "--max-bytes", "1MiB", "--max-uploads-per-uploader", "16"});
    EXPECT_TRUE(replica->listening()) << replica->Log();
    return replica;
  }
  // Through the front, from the host the site exempts from its rate limits: a load is not
  // turned away.
  HttpReply Upload(const std::string& name, const std::string& archive) {
    return Send(UploadRequest(name, archive, {token}), "", kMonitor);
  }

  // Nothing half-stored: every receipt has its archive, the archive the receipt names, of the
  // payment file sent under its name; no replica keeps a file in its work folder.
  void ExpectWholeStore(const std::map<std::string, std::string>& sent) {
    EXPECT_EQ(Sql("SELECT count(*) FROM receipts LEFT JOIN archives USING (name) "
                  "WHERE archives.name IS NULL"),
              "0");
    std::istringstream rows(
        Sql("SELECT name || ' ' || payment_sha256 || ' ' || (receipt::json->>'archive_sha256') "
            "|| ' ' || encode(sha256(archive), 'hex') FROM receipts JOIN archives USING (name)"));
    for (std::string name, payment, named, archive; rows >> name >> payment >> named >> archive;) {
      ASSERT_TRUE(sent.contains(name)) << name;
      const fs::path file = scratch / InnerName(name);  // what PageArchive packed
      EXPECT_EQ(payment, Shell("sha256sum " + file.string()).out.substr(0, 64)) << name;
      EXPECT_EQ(archive, named) << name;
    }
    for (const char* which : {"a", "b"}) {
      std::error_code ec;
      for (const auto& entry :
           fs::recursive_directory_iterator(base / which / "uploads.work", ec)) {
        if (!entry.is_directory()) ADD_FAILURE() << "left in the work folder: " << entry.path();
      }
    }
  }

  std::string token;
  std::vector<std::unique_ptr<ServeProcess>> replicas;
};

// Under a load while a fault strikes: each answer is 201 and stored, or a refusal; nothing is
// half-stored, and once mended every refused upload is stored when sent again.
TEST_F(FrontReplicas, UploadsUnderAKilledReplicaOrAStoppedDatabaseLoseNothing) {
  const struct {
    const char* what;
    std::function<void()> strike, mend;
    int refusal;
  } cases[] = {
      {"a replica killed mid-upload and started again", [&] { replicas[0]->Kill(); },
       [&] { replicas[0] = StartReplica("a"); }, 502},
      {"the database stopped and started", [&] { ASSERT_TRUE(pg->Stop()); },
       [&] { ASSERT_TRUE(pg->Start()); }, 503},
  };
  int folio = 100000;
  std::map<std::string, std::string> sent;  // of every case
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // Files of 300 workers, so that a replica is in the middle of one when the fault strikes.
    std::vector<std::string> names;
    for (int k = 0; k < 48; ++k, ++folio) {
      PaymentPlan plan = SamplePaymentPlan(300, static_cast<std::uint32_t>(folio));
      plan.folio = std::to_string(folio);
      plan.deadline_year = OnTimePlan().deadline_year;
      names.push_back(ArchiveName(plan.folio));
      sent[names.back()] = PageArchive(plan, names.back(), scratch);
    }
    std::atomic<std::size_t> next{0};
    std::vector<HttpReply> answers(names.size());
    std::vector<std::thread> clients;
    for (int t = 0; t < 3; ++t) {
      clients.emplace_back([&] {
        for (std::size_t k; (k = next++) < names.size();)
          answers[k] = Upload(names[k], sent[names[k]]);
      });
    }
    while (next < names.size() / 4) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    c.strike();
    while (next < names.size() / 2) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    c.mend();
    for (std::thread& t : clients) t.join();

    for (std::size_t k = 0; k < names.size(); ++k) {
      const std::string stored =
          Sql("SELECT count(*) FROM receipts JOIN archives USING (name) WHERE name = '" + names[k] +
              "'");
      if (answers[k].status == 201) {
        EXPECT_EQ(stored, "1") << names[k];
      } else {
        EXPECT_EQ(answers[k].status, c.refusal) << answers[k].body;
      }
    }
    ExpectWholeStore(sent);

    // Mended: both replicas ready again through the front; every upload sent again is stored,
    // once (200 when a refused one had been stored after all).
    for (int k = 0; k < 100 && Get("/healthz").status != 200; ++k) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (std::size_t k = 0; k < names.size(); ++k) {
      if (answers[k].status == 201) continue;
      const HttpReply again = Upload(names[k], sent[names[k]]);
      EXPECT_TRUE(again.status == 201 || again.status == 200) << again.status << " " << again.body;
    }
    EXPECT_EQ(Sql("SELECT count(*) FROM receipts JOIN archives USING (name)"),
              std::to_string(sent.size()));
    ExpectWholeStore(sent);
  }
}

}  // namespace
}  // namespace zav::testing
