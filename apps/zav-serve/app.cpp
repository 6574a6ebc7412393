// App's routes and its serving of a connection: the head read, a place among
// --max-connections taken or a 503 at once, the request answered by the routes (or refused
// here when its head is not HTTP), the exchange logged and counted. The screening of a
// request's head is screen.cpp's.
#include "app.hpp"

#include <openssl/rand.h>
#include <sys/socket.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string_view>

#include "api_description.hpp"
#include "check_endpoint.hpp"
#include "digest.hpp"
#include "receipt_lookup.hpp"

namespace zavserve {

using json = nlohmann::ordered_json;

thread_local Exchange* current = nullptr;

namespace {

constexpr auto kHeadTimeout = std::chrono::seconds(10);
constexpr auto kWriteTimeout = std::chrono::seconds(30);
constexpr auto kLinger = std::chrono::seconds(2);
constexpr const char* kRetryAfter = "2";

// A request answered at once from memory, whatever the load: health and the date. These
// never count against --max-connections.
bool Momentary(std::string_view request_line) {
  for (const char* method : {"GET ", "HEAD "}) {
    for (const char* path : {"/healthz ", "/api/date "}) {
      if (request_line.starts_with(std::string(method) + path)) return true;
    }
  }
  return false;
}

// An answer written straight to the socket, when the request was not parsed.
std::string CannedAnswer(const zav::UploadAnswer& answer) {
  const std::string body = answer.body.dump();
  std::string head = "HTTP/1.1 " + std::to_string(answer.status) + " " +
                     ReasonPhrase(answer.status) +
                     "\r\nContent-Type: application/json\r\nCache-Control: no-store\r\n"
                     "Connection: close\r\nContent-Length: " +
                     std::to_string(body.size()) + "\r\n";
  if (answer.status == 503) head += std::string("Retry-After: ") + kRetryAfter + "\r\n";
  return head + "\r\n" + body;
}

// A value of ours from a header the front sets: letters, digits and a few marks, bounded.
std::string Sanitized(const std::string& text, const char* marks) {
  if (text.empty() || text.size() > 64) return "";
  for (const char c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && std::strchr(marks, c) == nullptr) return "";
  }
  return text;
}

std::string NewRequestId() {
  unsigned char bytes[8];
  if (RAND_bytes(bytes, sizeof bytes) != 1) return "-";
  return Hex(bytes, sizeof bytes);
}

}  // namespace

App::App(const zavcli::ServeRequest& r, uid_t front_uid, Receiver& receiver, ReceiptStore& store,
         TokenLookup& tokens, CertificateMap& certificates, Metrics& metrics, const PageFiles& page,
         const ReceiptSigner& signer)
    : r_(r),
      front_uid_(front_uid),
      receiver_(receiver),
      store_(store),
      tokens_(tokens),
      certificates_(certificates),
      metrics_(metrics),
      page_(page) {
  set_default_headers({
      {"X-Content-Type-Options", "nosniff"},
      {"X-Frame-Options", "DENY"},
      {"Referrer-Policy", "no-referrer"},
      {"Content-Security-Policy",
       "default-src 'self'; script-src 'self' 'wasm-unsafe-eval'; img-src 'self' data:; "
       "frame-ancestors 'none'; base-uri 'none'; form-action 'none'"},
  });
  set_pre_routing_handler([this](const Request& req, Response& res) { return Screen(req, res); });
  set_expect_100_continue_handler([this](const Request& req, Response& res) {
    return Screen(req, res) == HandlerResponse::Handled ? res.status : 100;
  });
  set_logger([](const Request& req, const Response& res) {
    if (current == nullptr) return;
    current->record.method = req.method;
    current->record.path = req.path;
    current->record.status = res.status;
  });
  set_error_handler([](const Request&, Response& res) {
    if (!res.body.empty()) return;
    Send(res, zav::Refusal(res.status, res.status == 404 ? "not_found" : "bad_request",
                           res.status == 404
                               ? "not found"
                               : "the request was refused (" + std::to_string(res.status) + ")"));
  });

  Get("/api/date", [](const Request&, Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_content(zav::ServerDate(), "text/plain");
  });
  Get("/healthz", [this](const Request&, Response& res) {
    if (!store_.Ready()) return Send(res, Unavailable());
    res.set_header("Cache-Control", "no-store");
    res.set_content("ok", "text/plain");
  });
  Get("/api/receipts/[^/]+", [this](const Request& req, Response& res) {
    const std::string name = req.path.substr(std::string_view("/api/receipts/").size());
    Lookup(req, res, [&](const Uploader& u) { return LookupReceipt(store_, u, name); });
  });
  Get("/api/receipts", [this](const Request& req, Response& res) {
    Lookup(req, res, [&](const Uploader& u) {
      return LookupPeriod(
          store_, u,
          req.get_param_value_count("period") == 1 ? req.get_param_value("period") : std::string());
    });
  });
  Get("/metrics", [this](const Request&, Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_content(metrics_.Text(), "text/plain; version=0.0.4; charset=utf-8");
  });
  Get("/api/receipt-key", [&signer](const Request&, Response& res) {
    res.set_header("Cache-Control", "no-cache");  // a new key is seen at once
    res.set_content(signer.PublicKeyAnswer().dump(), "application/json");
  });
  Get(kApiDescriptionPath, [](const Request&, Response& res) { AnswerApiDescription(res); });
  Get("/.*", [this](const Request& req, Response& res) {
    if (req.path.starts_with("/api/")) {
      res.status = 404;
    } else {
      page_.Answer(req, res);
    }
  });
  Post("/api/upload", [this](const Request& req, Response& res, const ContentReader& read) {
    Receive(req, res, read);
  });
  Post(kCheckPath, [this](const Request& req, Response& res, const ContentReader& read) {
    Send(res, AnswerCheck(req, read, *current->uploader, receiver_, *current->stream));
  });
}

void App::Serve(const Peer& peer, const ConnectionLoop::HeadIn& head_in) {
  Exchange x;
  x.peer = peer;
  x.front = peer.unix_socket && FromFront(peer.fd);
  x.started = Clock::now();
  x.record.client = peer.unix_socket ? "unix" : peer.ip;
  current = &x;
  const StreamBounds bounds{x.started + kHeadTimeout,
                            x.started + std::chrono::seconds(r_.request_timeout), r_.max_bytes,
                            kWriteTimeout};
  GuardedStream stream(peer.fd, bounds);
  x.stream = &stream;
  const GuardedStream::Head head = stream.ReadHead();
  if (head == GuardedStream::Head::kComplete && !head_in(!Momentary(stream.request_line()))) {
    const std::string text = CannedAnswer(TooManyConnections());
    stream.write(text.data(), text.size());
    x.record.id = NewRequestId();
    x.record.status = 503;
    x.record.cause = "too_many_connections";
  } else if (head == GuardedStream::Head::kComplete &&
             Process(stream, [&](Request& req) { Setup(req, x); })) {
    // answered by the routes
  } else if (head != GuardedStream::Head::kClosed && stream.bytes_in() > 0) {
    // The head never came whole, or is not HTTP: answered here.
    const zav::UploadAnswer answer =
        head == GuardedStream::Head::kComplete
            ? zav::Refusal(400, "bad_request", "the request's head is not HTTP")
        : head == GuardedStream::Head::kTooLarge
            ? zav::Refusal(431, "bad_request", "the request's head is too large")
            : zav::Refusal(408, "timeout", "the request's head did not come in time");
    const std::string text = CannedAnswer(answer);
    stream.write(text.data(), text.size());
    x.record.id = NewRequestId();
    x.record.status = answer.status;
    x.record.cause = answer.body["cause"];
  }
  const Clock::time_point answered = Clock::now();
  stream.Linger(r_.max_bytes + kMaxHead, kLinger);
  current = nullptr;
  x.record.bytes_in = stream.bytes_in();
  x.record.bytes_out = stream.bytes_out();
  Finish(x.record, x.started, answered);
}

void App::Refuse(const Peer& peer) {
  const zav::UploadAnswer answer = TooManyConnections();
  const std::string text = CannedAnswer(answer);
  [[maybe_unused]] const ssize_t n =
      ::send(peer.fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  ExchangeRecord record;
  record.id = NewRequestId();
  record.client = peer.unix_socket ? "unix" : peer.ip;
  record.status = answer.status;
  record.cause = "too_many_connections";
  record.bytes_out = text.size();
  Finish(record, Clock::now(), Clock::now());
}

zav::UploadAnswer App::TooManyConnections() {
  return zav::Refusal(503, "too_many_connections", "the server is serving as many as it can");
}

void App::Send(Response& res, const zav::UploadAnswer& answer) {
  res.status = answer.status;
  res.set_header("Cache-Control", "no-store");
  if (answer.status == 503) res.set_header("Retry-After", kRetryAfter);
  if (answer.status == 401) res.set_header("WWW-Authenticate", "Bearer realm=\"zav\"");
  if (answer.status == 405) res.set_header("Allow", "GET, HEAD, POST");
  res.set_content(answer.body.dump(-1, ' ', false, json::error_handler_t::replace),
                  "application/json");
  if (current != nullptr && answer.body.contains("cause")) {
    current->record.cause = answer.body["cause"];
  }
  if (current != nullptr && answer.body.contains("message") &&
      answer.body["message"].is_number_integer()) {
    current->record.message = answer.body["message"].get<int>();
  }
}

void App::Finish(ExchangeRecord& record, Clock::time_point started, Clock::time_point answered) {
  record.seconds = std::chrono::duration<double>(answered - started).count();
  if (record.status == 0 && record.bytes_in == 0) return;  // connected, asked nothing
  if (record.status != 0) metrics_.Answered(record.status, record.cause);
  if (record.path == "/api/upload" && record.method == "POST") {
    metrics_.UploadTook(record.seconds);
  }
  LogExchange(record);
}

bool App::FromFront(int fd) const {
  ucred peer{};
  socklen_t length = sizeof peer;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && length == sizeof peer &&
         peer.uid == front_uid_;
}

void App::Setup(Request& req, Exchange& x) {
  x.record.method = req.method;
  x.record.path = req.path;
  if (x.front) {
    const std::string client = Sanitized(req.get_header_value("X-Real-IP"), ".:");
    if (!client.empty()) x.record.client = client;
    x.record.id = Sanitized(req.get_header_value("X-Request-Id"), "-_");
  }
  if (x.record.id.empty()) x.record.id = NewRequestId();
}

void App::Lookup(const Request& req, Response& res,
                 const std::function<zav::UploadAnswer(const Uploader&)>& answer) {
  current->uploader = Identify(req);
  if (!current->uploader) {
    Send(res, current->store_down
                  ? Unavailable()
                  : zav::Refusal(401, "unauthenticated",
                                 "lookups need credentials: a bearer token or a client "
                                 "certificate"));
    return;
  }
  current->record.identity = current->uploader->identity;
  Send(res, answer(*current->uploader));
}

void App::Receive(const Request& req, Response& res, const ContentReader& read) {
  const std::uint64_t length = std::stoull(req.get_header_value("Content-Length"));
  Receiver::Slot slot;
  if (auto refusal = receiver_.Admit(*current->uploader, length, slot)) {
    Send(res, *refusal);
    return;
  }
  Upload upload{req.get_param_value("name"), {}, *current->uploader, current->record.client};
  upload.body.reserve(static_cast<std::size_t>(length));
  const bool read_whole = read([&](const char* data, std::size_t n) {
    upload.body.append(data, n);
    return upload.body.size() <= length;
  });
  if (!read_whole || upload.body.size() != length) {
    receiver_.Charge(current->uploader->identity, upload.body.size());
    Send(res, current->stream->timed_out()
                  ? zav::Refusal(408, "timeout", "the archive did not come in time")
                  : zav::Refusal(400, "bad_request", "the archive did not come whole"));
    return;
  }
  zav::UploadAnswer answer = receiver_.Receive(upload);
  // The first receipt again: who stored it and from where is only its uploader's to see.
  if (answer.status == 200 && answer.body.value("uploader", "") != upload.uploader.identity) {
    answer.body.erase("uploader");
    answer.body.erase("client");
  }
  Send(res, answer);
}

}  // namespace zavserve
