#include "zav/serve.hpp"

#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "host/upload.hpp"

namespace zavcli {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace {

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

// Whether a path has a segment starting with '.': a hidden file, "." or "..".
bool HasDotSegment(const std::string& path) {
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '.' && (i == 0 || path[i - 1] == '/')) return true;
  }
  return false;
}

std::string ErrorText(int status) {
  switch (status) {
    case 404:
      return "not found";
    case 413:
      return "the upload is too large";
    default:
      return "the request was refused (" + std::to_string(status) + ")";
  }
}

// Whether a path names a file of the kinds a page is made of (or a folder's index.html):
// the rest of the web folder (build scripts, sources, package files) is not served.
bool IsPageFile(const std::string& path) {
  if (path.empty() || path.back() == '/') return true;
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
  std::string kind = path.substr(dot + 1);
  for (char& c : kind) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* page_kind : {"html", "js", "mjs", "css", "wasm", "png", "svg", "ico", "jpg",
                                "jpeg", "gif", "webp", "woff", "woff2"}) {
    if (kind == page_kind) return true;
  }
  return false;
}

void SendJson(httplib::Response& res, int status, const json& body) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

}  // namespace

int RunServe(const ServeRequest& r) {
  std::error_code ec;
  const std::optional<fs::path> web = r.web ? std::optional<fs::path>(*r.web) : FindWebFolder();
  if (!web || !fs::is_directory(*web, ec)) {
    std::cerr << "zav serve: no web folder" << (web ? " at " + web->string() : std::string())
              << "; name one with --web\n";
    return 64;
  }
  const fs::path uploads = fs::absolute(r.dir, ec);
  fs::create_directories(uploads, ec);
  if (!fs::is_directory(uploads, ec)) {
    std::cerr << "zav serve: cannot create the upload folder " << uploads << "\n";
    return 2;
  }
  const zav::UploadLimits limits{r.max_bytes, r.max_file_bytes};

  httplib::Server server;
  server.set_payload_max_length(static_cast<std::size_t>(r.max_bytes));
  server.set_default_headers({{"X-Content-Type-Options", "nosniff"}});
  server.set_file_extension_and_mimetype_mapping("wasm", "application/wasm");
  server.set_file_extension_and_mimetype_mapping("mjs", "text/javascript");
  server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    const bool static_file =
        (req.method == "GET" || req.method == "HEAD") && !req.path.starts_with("/api/");
    if (HasDotSegment(req.path) || (static_file && !IsPageFile(req.path))) {
      res.status = 404;
      return httplib::Server::HandlerResponse::Handled;
    }
    // Form bodies would be parsed as forms (and those over 8 KiB refused as too large):
    // the archive must come as the body itself.
    const std::string type = req.get_header_value("Content-Type");
    if (req.path == "/api/upload" && (type.starts_with("application/x-www-form-urlencoded") ||
                                      type.starts_with("multipart/form-data"))) {
      SendJson(res, 415, {{"error", "send the archive as the body, Content-Type application/zip"}});
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  if (!server.set_mount_point("/", web->string())) {
    std::cerr << "zav serve: cannot serve " << *web << "\n";
    return 64;
  }
  server.Get("/api/date", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_content(zav::ServerDate(), "text/plain");
  });
  server.Post("/api/upload", [&](const httplib::Request& req, httplib::Response& res) {
    if (!req.has_param("name")) {
      SendJson(res, 400, {{"error", "the archive name is missing: POST /api/upload?name=NAME"}});
      return;
    }
    const zav::UploadAnswer answer = zav::HandleUpload(req.get_param_value("name"), req.body,
                                                       zav::ServerDate(), uploads, limits);
    SendJson(res, answer.status, answer.body);
  });
  // Errors of our own carry their JSON already; the rest (404, 413 before the body was
  // read, ...) get one.
  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return;
    SendJson(res, res.status, {{"error", ErrorText(res.status)}});
  });

  // The stop signals are taken by one thread, which stops the server; every other thread,
  // the server's workers included, has them blocked.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  int port = r.port;
  if (port == 0) {
    port = server.bind_to_any_port(r.host);
  } else if (!server.bind_to_port(r.host, port)) {
    port = -1;
  }
  if (port <= 0) {
    std::cerr << "zav serve: cannot listen on " << r.host << ":" << r.port << "\n";
    return 2;
  }

  std::atomic<bool> finished{false};
  std::thread stopper([&] {
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    // A stop that came before the server started listening would be lost.
    while (!server.is_running() && !finished) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    server.stop();
  });
  std::cout << "zav serve: listening on http://" << r.host << ":" << port << "/ (page from "
            << web->string() << ", uploads to " << uploads.string() << ")" << std::endl;
  const bool listened = server.listen_after_bind();
  finished = true;
  pthread_kill(stopper.native_handle(), SIGTERM);  // ends the wait if no signal came
  stopper.join();
  std::cerr << "zav serve: stopped\n";
  return listened ? 0 : 2;
}

}  // namespace zavcli
