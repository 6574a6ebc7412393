// Where zav-serve listens and how connections are taken: a Unix socket for nginx in front, or
// a TCP address (loopback unless the operator says there is no front), never shared with
// another server; then one thread a connection, so that slow clients hold a thread each and
// never the server. Connections are bounded twice: those whose request head is still coming
// in (max_heads), and those being served once it is in (max_connections). A client that
// never finishes its head thus never takes the place of one that did, and the server's
// answers of a moment (health, the date) can be given to every head that came in whole.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace zavserve {

struct Listener {
  int fd = -1;
  bool unix_socket = false;
  std::string address;  // what it listens on, as said to people: "127.0.0.1:8080", "unix:PATH"
  std::string url;      // "http://127.0.0.1:8080/" or "unix:PATH"
  std::string path;     // the Unix socket's path, removed when the server stops
};

// An address that is not loopback, without the operator's word that there is no front.
struct NotLoopback : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Listens on the Unix socket `socket_path` when not empty, else on host:port (port 0: any
// free one). Throws NotLoopback, or std::runtime_error saying what else is wrong: an address
// in use (even by a server that would share it), unknown.
Listener Listen(const std::string& socket_path, const std::string& host, int port,
                bool insecure_direct);

// A client connection as accepted.
struct Peer {
  int fd = -1;
  bool unix_socket = false;  // through the server's own socket: nginx in front
  std::string ip;            // the TCP peer ("" on the Unix socket)
};

class ConnectionLoop {
 public:
  // Called by Serve once the head is in: the connection leaves the head readers. Counted
  // (counted = true) among the max_connections served, it may be served only when it
  // answers true; uncounted it always may.
  using HeadIn = std::function<bool(bool counted)>;
  using Serve = std::function<void(const Peer&, const HeadIn&)>;  // answers and closes nothing
  using Refuse = std::function<void(const Peer&)>;                // when max_heads are coming in

  ConnectionLoop(Listener listener, int max_connections, int max_heads, Serve serve, Refuse refuse);
  ~ConnectionLoop();
  ConnectionLoop(const ConnectionLoop&) = delete;
  ConnectionLoop& operator=(const ConnectionLoop&) = delete;

  // Accepts connections until Stop(), then closes the listener and waits for the
  // connections under way. False when accepting failed.
  bool Run();
  // From any thread: no new connections.
  void Stop();

 private:
  void Serve1(Peer peer);

  Listener listener_;
  int max_connections_, max_heads_;
  Serve serve_;
  Refuse refuse_;
  int wake_[2] = {-1, -1};
  std::mutex mutex_;
  std::condition_variable idle_;
  int active_ = 0;  // threads
  int heads_ = 0;   // of them, reading a head
  int served_ = 0;  // counted among max_connections
  // Each connection's thread is joined once it ended (a thread ends after its last word to
  // the loop, and the libraries' per-thread state goes only when it has): those that
  // finished are joined before the next is started, the rest before Run returns.
  std::unordered_map<std::thread::id, std::thread> threads_;
  std::vector<std::thread::id> finished_;
  void JoinFinished();
};

}  // namespace zavserve
