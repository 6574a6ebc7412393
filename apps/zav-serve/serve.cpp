// The start of zav-serve: the options of `zav serve` checked and wired into the store, the
// receipts' signer, the page, the listener, the receiver and the App (app.hpp), served until a
// stop signal; and `zav serve token add`.
#include "zav/serve.hpp"

#include <pthread.h>
#include <pwd.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "access_log.hpp"
#include "app.hpp"
#include "connections.hpp"
#include "metrics.hpp"
#include "page_files.hpp"
#include "receiver.hpp"
#include "signing.hpp"
#include "store.hpp"
#include "store_interface.hpp"
#include "uploaders.hpp"

namespace zavserve {

namespace fs = std::filesystem;

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