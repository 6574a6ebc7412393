// The HTTP side of zav-serve: its routes, and each request over a connection of ours
// (connections.hpp, guarded_stream.hpp, http_layer.hpp); everything about a
// request that can be judged from its head is judged before its body is read.
#include "zav/serve.hpp"

#include <openssl/rand.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "access_log.hpp"
#include "api/upload.hpp"
#include "api_description.hpp"
#include "check_endpoint.hpp"
#include "connections.hpp"
#include "digest.hpp"
#include "guarded_stream.hpp"
#include "http_layer.hpp"
#include "metrics.hpp"
#include "page_files.hpp"
#include "receipt_lookup.hpp"
#include "receiver.hpp"
#include "signing.hpp"
#include "store.hpp"
#include "store_interface.hpp"
#include "uploaders.hpp"

namespace zavserve {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace {

constexpr auto kHeadTimeout = std::chrono::seconds(10);
constexpr auto kWriteTimeout = std::chrono::seconds(30);
constexpr auto kLinger = std::chrono::seconds(2);
constexpr const char* kRetryAfter = "2";
// The header in which nginx passes the subject of a client certificate it verified.
constexpr const char* kSubjectHeader = "X-Zav-Client-Subject";

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

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && text.size() <= 18 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
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

// The request being answered on this thread.
struct Exchange {
  Peer peer;
  bool front = false;  // nginx on the Unix socket: its headers speak for the client
  Clock::time_point started;
  ExchangeRecord record;
  std::optional<Uploader> uploader;
  bool store_down = false;  // the credentials could not be looked up
  const GuardedStream* stream = nullptr;
};
thread_local Exchange* current = nullptr;

class App : public HttpServer {
 public:
  App(const zavcli::ServeRequest& r, uid_t front_uid, Receiver& receiver, ReceiptStore& store,
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
        return LookupPeriod(store_, u,
                            req.get_param_value_count("period") == 1 ? req.get_param_value("period")
                                                                     : std::string());
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

  // One connection: one request, its answer, then the connection is let go. Its head is
  // read first; then it is served if a place among --max-connections is free (health and
  // the date need none), else answered 503 at once.
  void Serve(const Peer& peer, const ConnectionLoop::HeadIn& head_in) {
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

  // A connection over --max-head-connections: 503 at once.
  void Refuse(const Peer& peer) {
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

 private:
  static zav::UploadAnswer TooManyConnections() {
    return zav::Refusal(503, "too_many_connections", "the server is serving as many as it can");
  }

  static void Send(Response& res, const zav::UploadAnswer& answer) {
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

  void Finish(ExchangeRecord& record, Clock::time_point started, Clock::time_point answered) {
    record.seconds = std::chrono::duration<double>(answered - started).count();
    if (record.status == 0 && record.bytes_in == 0) return;  // connected, asked nothing
    if (record.status != 0) metrics_.Answered(record.status, record.cause);
    if (record.path == "/api/upload" && record.method == "POST") {
      metrics_.UploadTook(record.seconds);
    }
    LogExchange(record);
  }

  // Whether the peer on the Unix socket runs as nginx's user, as the kernel says: any other
  // process that may connect (one of nginx's group) is an anonymous client.
  bool FromFront(int fd) const {
    ucred peer{};
    socklen_t length = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
           length == sizeof peer && peer.uid == front_uid_;
  }

  // Before routing: who is asking.
  void Setup(Request& req, Exchange& x) {
    x.record.method = req.method;
    x.record.path = req.path;
    if (x.front) {
      const std::string client = Sanitized(req.get_header_value("X-Real-IP"), ".:");
      if (!client.empty()) x.record.client = client;
      x.record.id = Sanitized(req.get_header_value("X-Request-Id"), "-_");
    }
    if (x.record.id.empty()) x.record.id = NewRequestId();
  }

  std::optional<Uploader> Identify(const Request& req) {
    if (current->front && req.get_header_value_count(kSubjectHeader) == 1) {
      if (auto uploader = certificates_.Find(req.get_header_value(kSubjectHeader))) {
        return uploader;
      }
    }
    const std::string authorization = req.get_header_value("Authorization");
    if (req.get_header_value_count("Authorization") != 1 ||
        Lower(authorization.substr(0, 7)) != "bearer ") {
      return std::nullopt;
    }
    std::string token = authorization.substr(7);
    token.erase(0, token.find_first_not_of(' '));
    token.erase(token.find_last_not_of(' ') + 1);
    try {
      return tokens_.Find(token);
    } catch (const StoreUnavailable& e) {
      LogNote(std::string("cannot look up a token: ") + e.what());
      current->store_down = true;
      return std::nullopt;
    }
  }

  // A lookup of receipts by an identified uploader.
  void Lookup(const Request& req, Response& res,
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

  // A browser request made by a page of another site.
  bool ForeignOrigin(const Request& req) const {
    if (Lower(req.get_header_value("Sec-Fetch-Site")) == "cross-site") return true;
    if (req.get_header_value_count("Origin") > 1) return true;
    const std::string origin = req.get_header_value("Origin");
    if (origin.empty()) return false;
    if (std::find(r_.allow_origins.begin(), r_.allow_origins.end(), origin) !=
        r_.allow_origins.end()) {
      return false;
    }
    const std::size_t scheme = origin.find("://");
    return scheme == std::string::npos ||
           Lower(origin.substr(scheme + 3)) != Lower(req.get_header_value("Host"));
  }

  // Everything that can be judged from the head, judged before the body is read.
  HandlerResponse Screen(const Request& req, Response& res) {
    const auto refuse = [&](int status, const char* cause, std::string text) {
      Send(res, zav::Refusal(status, cause, std::move(text)));
      return HandlerResponse::Handled;
    };
    const std::size_t lengths = req.get_header_value_count("Content-Length");
    const bool chunked = req.has_header("Transfer-Encoding");
    const std::string length = req.get_header_value("Content-Length");
    if (lengths > 1) return refuse(400, "bad_request", "more than one Content-Length");
    if (chunked && lengths > 0) {
      return refuse(400, "bad_request", "both Content-Length and Transfer-Encoding");
    }
    if (lengths == 1 && !AllDigits(length))
      return refuse(400, "bad_request", "a bad Content-Length");
    const bool get = req.method == "GET" || req.method == "HEAD";
    const bool upload = req.path == "/api/upload" || req.path == kCheckPath;
    if (get) {
      if (chunked || (lengths == 1 && std::stoull(length) > 0)) {
        return refuse(400, "bad_request", "a body where none belongs");
      }
      if (upload) return refuse(405, "method_not_allowed", "upload with POST");
      return HandlerResponse::Unhandled;
    }
    if (req.method != "POST") return refuse(405, "method_not_allowed", "GET, HEAD or POST only");
    if (!upload) return refuse(404, "not_found", "not found");
    if (chunked || lengths == 0) {
      return refuse(411, "length_required", "send the archive with a Content-Length");
    }
    if (ForeignOrigin(req)) return refuse(403, "foreign_origin", "a page of another site");
    const std::string type = Lower(req.get_header_value("Content-Type"));
    const std::string media = type.substr(0, type.find(';'));
    if (media != "application/zip" && media != "application/octet-stream" &&
        media != "application/x-zip-compressed") {
      return refuse(415, "unsupported_type",
                    "send the archive as the body, Content-Type application/zip");
    }
    current->uploader = Identify(req);
    if (!current->uploader && current->store_down) {
      Send(res, Unavailable());
      return HandlerResponse::Handled;
    }
    if (!current->uploader) {
      return refuse(401, "unauthenticated",
                    "uploads need credentials: a bearer token or a client certificate");
    }
    current->record.identity = current->uploader->identity;
    if (req.path == kCheckPath) {
      const std::optional<zav::UploadAnswer> refusal = ScreenCheck(req);
      if (refusal) Send(res, *refusal);
      return refusal ? HandlerResponse::Handled : HandlerResponse::Unhandled;
    }
    const std::string name = req.get_param_value("name");
    if (req.get_param_value_count("name") != 1 || !zav::IsArchiveName(name)) {
      return refuse(400, "bad_name",
                    "the archive name must be 33501e01.m1.s0870.r<registration>.f<folio>"
                    ".p<YYYYMM>.e999.zip: POST /api/upload?name=NAME");
    }
    current->record.archive = name;
    // Decided by the credentials alone, before anything of the body or the store is seen:
    // the same answer whether or not another employer's name is stored.
    if (!current->uploader->MayUpload(zav::ArchiveRegistration(name))) {
      return refuse(403, "forbidden", "these credentials may not upload for this employer");
    }
    return HandlerResponse::Unhandled;
  }

  void Receive(const Request& req, Response& res, const ContentReader& read) {
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

  const zavcli::ServeRequest& r_;
  uid_t front_uid_;
  Receiver& receiver_;
  ReceiptStore& store_;
  TokenLookup& tokens_;
  CertificateMap& certificates_;
  Metrics& metrics_;
  const PageFiles& page_;
};

// The web/ folder of the tree the program sits in: beside the build folder (build/bin/zav)
// or in an installed tree (bin/zav, share/zav/web).
std::optional<fs::path> FindWebFolder() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return std::nullopt;
  const fs::path bin = exe.parent_path();
  for (const fs::path& candidate :
       {bin / ".." / ".." / "web", bin / ".." / "share" / "zav" / "web", bin / ".." / "web"}) {
    if (fs::is_directory(candidate, ec)) return fs::weakly_canonical(candidate, ec);
  }
  return std::nullopt;
}

// The uid of `user`, a name or a number.
std::optional<uid_t> UserId(const std::string& user) {
  if (AllDigits(user) && user.size() < 10) return static_cast<uid_t>(std::stoul(user));
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr) {
    return std::nullopt;
  }
  return found->pw_uid;
}

}  // namespace

}  // namespace zavserve

namespace zavcli {

int RunServe(const ServeRequest& r) {
  using namespace zavserve;
  // The stop signals are taken by one thread, which stops the server; every other thread has
  // them blocked.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  std::error_code ec;
  // Only the Unix socket has a front; on TCP its uid is never asked.
  const std::optional<uid_t> front_uid = r.socket ? UserId(r.front_user) : uid_t{0};
  if (!front_uid) {
    std::cerr << "zav serve: --front-user " << r.front_user
              << " is no user of this machine: name nginx's user or its uid\n";
    return 64;
  }
  std::optional<fs::path> token_file, map_file;
  if (r.tokens) token_file = fs::absolute(*r.tokens, ec);
  if (r.cert_map) map_file = fs::absolute(*r.cert_map, ec);
  for (const std::optional<fs::path>& file : {token_file, map_file}) {
    if (!file) continue;
    const std::string untrusted = UntrustedFile(*file);
    if (!untrusted.empty()) {
      std::cerr << "zav serve: " << untrusted << "\n";
      return 2;
    }
  }
  if (map_file && !fs::is_regular_file(*map_file, ec)) {
    std::cerr << "zav serve: no certificate map " << map_file->string() << "\n";
    return 2;
  }
  const std::optional<fs::path> web = r.web ? std::optional<fs::path>(*r.web) : FindWebFolder();
  if (!web || !fs::is_directory(*web, ec)) {
    std::cerr << "zav serve: no web folder" << (web ? " at " + web->string() : std::string())
              << "; name one with --web\n";
    return 64;
  }
  const fs::path uploads = fs::absolute(r.dir, ec);
  const fs::path work =
      r.work_dir ? fs::absolute(*r.work_dir, ec) : fs::path(uploads.native() + ".work");
  std::unique_ptr<ReceiptStore> store;
  std::unique_ptr<PageFiles> page;
  std::optional<ReceiptSigner> signer;
  Listener listener;
  try {
    store = OpenStore(r.store, uploads, work);
    signer = ReceiptSigner::FromKeyFile(r.receipt_key ? fs::absolute(*r.receipt_key, ec)
                                                      : DefaultReceiptKey(uploads));
    page = std::make_unique<PageFiles>(fs::canonical(*web));
    listener = Listen(r.socket.value_or(""), r.host, r.port, r.insecure_direct);
  } catch (const NotLoopback& e) {
    std::cerr << "zav serve: " << e.what() << "\n";
    return 64;
  } catch (const std::exception& e) {
    std::cerr << "zav serve: " << e.what() << "\n";
    return 2;
  }

  TokenFile token_file_lookup(token_file);
  TokenLookup tokens(token_file_lookup, *store);
  CertificateMap certificates(map_file);
  std::optional<RetentionLoop> retention;
  if (r.keep_days) retention.emplace(*store, *r.keep_days);
  Metrics metrics;
  const int per_uploader =
      r.max_uploads_per_uploader > 0 ? r.max_uploads_per_uploader : std::max(1, r.max_uploads / 4);
  Receiver receiver({{r.max_bytes, r.max_file_bytes, r.max_unpack_ratio},
                     r.min_free,
                     r.quota_bytes,
                     r.max_uploads,
                     std::min(per_uploader, r.max_uploads)},
                    *store, metrics);
  receiver.SignWith(*signer);
  App app(r, *front_uid, receiver, *store, tokens, certificates, metrics, *page, *signer);
  ConnectionLoop loop(
      listener, r.max_connections, r.max_head_connections,
      [&](const Peer& peer, const ConnectionLoop::HeadIn& head_in) { app.Serve(peer, head_in); },
      [&](const Peer& peer) { app.Refuse(peer); });

  std::atomic<bool> finished{false};
  std::thread stopper([&] {
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    if (!finished) loop.Stop();
  });
  std::cout << "zav serve: listening on " << listener.url << " (page from " << web->string() << ", "
            << store->Where() << ", work in " << store->work().string() << ")" << std::endl;
  LogNote("listening on " + listener.address);
  const bool served = loop.Run();
  finished = true;
  pthread_kill(stopper.native_handle(), SIGTERM);  // ends the wait if no signal came
  stopper.join();
  LogNote("stopped");
  return served ? 0 : 2;
}

int RunTokenAdd(const ServeRequest& r) {
  if (!r.tokens) {
    std::cerr << "zav serve: name the token file with --tokens FILE\n";
    return 64;
  }
  try {
    const std::string token = zavserve::TokenFile::Add(*r.tokens, r.token_employers);
    std::cout << token << std::endl;
    std::cerr << "zav serve: token added to " << *r.tokens
              << "; it is shown only now and stored only as its SHA-256\n";
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "zav serve: " << e.what() << "\n";
    return 64;
  }
}

}  // namespace zavcli
