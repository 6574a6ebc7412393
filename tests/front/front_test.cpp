// zav-serve behind Debian's nginx with the shipped site, on loopback ports, with
// certificates made here: the attacks tried on zav-serve alone, through the front, and what
// the front adds (TLS, client certificates, whole bodies, rate limits). The site is set up
// as an operator would: 127.0.0.3 is the monitoring host it lists.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>
#include <vector>

#include "front/front_harness.hpp"

namespace zav::testing {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

// Who may upload: a client certificate nginx verified names the employer (a forged
// certificate or a forged header names no one), a token does; no other site's page can. An
// RFC, the file's own included, entitles only the registrations the operator tied to it.
TEST_F(Front, CertificatesAndTokensDecideWhoStores) {
  const std::string token = server->Bearer();
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
  const json receipt = json::parse(ReadAll(uploads / (ArchiveName("000006") + ".json")));
  EXPECT_EQ(receipt["uploader"], "cert:A1234567890");
  EXPECT_EQ(receipt["client"], "127.0.0.1");
}

// Bodies: oversized and chunked ones end at nginx (413) or are read whole there first (even
// in one-byte chunks) and stored as the server packs them; framing that is not plain ends at
// nginx; at most one range; the metrics are the listed monitoring host's only, not even this
// machine's.
TEST_F(Front, BodiesFramingAndFilesAreBoundedThroughTheFront) {
  const auto [name, archive] = Archive("000001");
  const std::string head = UploadHead(name, server->Bearer());
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
      {"the metrics from elsewhere", HttpRequest("GET", "/metrics"), 403, "127.0.0.2"},
      {"the metrics from this machine", HttpRequest("GET", "/metrics"), 403, "127.0.0.1"},
      {"the metrics from the monitoring host", HttpRequest("GET", "/metrics"), 200, kMonitor},
      {"many ranges", HttpRequest("GET", "/index.html", {ranges}), 200},
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
  EXPECT_EQ(ZipEntries(ReadAll(uploads / name)), ZipEntries(archive));
  // The log has the client's address and nginx's request id.
  const std::regex upload_line("\"id\":\"[0-9a-f]{32}\",\"client\":\"127.0.0.1\"");
  EXPECT_TRUE(std::regex_search(log, upload_line)) << log;
}

// Slow clients and zip bombs meet nginx first; the date and health answer throughout (the
// latency through the front is printed, not judged); a client that uploads too fast is
// held back (429), this machine too (a proxy on it would be everyone); the listed monitoring
// host is not.
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
    client.Write(HttpRequest("GET", "/healthz"));
    const HttpReply reply = client.Read();
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.Header("Server"), "nginx") << reply.head;
  }
}

}  // namespace
}  // namespace zav::testing
