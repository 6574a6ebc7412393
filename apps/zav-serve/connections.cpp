#include "connections.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>

namespace zavserve {

namespace {

std::runtime_error Failure(const std::string& what) { return std::runtime_error(what); }

bool IsLoopback(const sockaddr* address) {
  if (address->sa_family == AF_INET) {
    const auto* a = reinterpret_cast<const sockaddr_in*>(address);
    return (ntohl(a->sin_addr.s_addr) >> 24) == 127;
  }
  if (address->sa_family == AF_INET6) {
    const auto* a = reinterpret_cast<const sockaddr_in6*>(address);
    return IN6_IS_ADDR_LOOPBACK(&a->sin6_addr) ||
           (IN6_IS_ADDR_V4MAPPED(&a->sin6_addr) && a->sin6_addr.s6_addr[12] == 127);
  }
  return false;
}

// "127.0.0.1:8080", "[::1]:8080".
std::string AddressText(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address->sa_family == AF_INET) {
    const auto* a = reinterpret_cast<const sockaddr_in*>(address);
    ::inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(a->sin_port));
  }
  const auto* a = reinterpret_cast<const sockaddr_in6*>(address);
  ::inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
  return "[" + std::string(text) + "]:" + std::to_string(ntohs(a->sin6_port));
}

std::string PeerIp(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text,
                sizeof text);
  } else if (address.ss_family == AF_INET6) {
    ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, text,
                sizeof text);
  }
  return text;
}

constexpr int kBacklog = 511;

Listener ListenUnix(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    throw Failure("the socket path " + path + " is empty or too long");
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const std::string where = "unix:" + path;
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) throw Failure(path + " exists and is not a socket");
    // A socket file left by a server that stopped is taken over; one a server answers on is
    // in use.
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool answered =
        ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    if (answered) throw Failure(where + " is in use: another server listens there");
    ::unlink(path.c_str());
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw Failure("cannot open a socket: " + std::string(std::strerror(errno)));
  // Only the owner and its group (nginx's) may connect.
  const mode_t mask = ::umask(0117);
  const int bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  const int bind_error = errno;
  ::umask(mask);
  if (bound != 0 || ::listen(fd, kBacklog) != 0) {
    const int error = bound != 0 ? bind_error : errno;
    ::close(fd);
    throw Failure("cannot listen on " + where + ": " + std::strerror(error));
  }
  return {fd, true, where, where, path};
}

Listener ListenTcp(const std::string& host, int port, bool insecure_direct) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port_text = std::to_string(port);
  if (::getaddrinfo(host.c_str(), port_text.c_str(), &hints, &found) != 0 || found == nullptr) {
    throw Failure("unknown address " + host);
  }
  const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> guard(found, ::freeaddrinfo);
  const std::string where = AddressText(found->ai_addr);
  if (!IsLoopback(found->ai_addr) && !insecure_direct) {
    throw NotLoopback(where +
                      " is not a loopback address: public traffic meets nginx first "
                      "(deploy/nginx/zav.conf), which reaches zav serve on --socket or loopback; "
                      "say --insecure-direct to serve clients without it");
  }
  const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw Failure("cannot open a socket: " + std::string(std::strerror(errno)));
  // Rebinding over connections still closing is fine; sharing the port with a listening
  // server is not (no SO_REUSEPORT), so a second server on the address fails here.
  const int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (::bind(fd, found->ai_addr, found->ai_addrlen) != 0) {
    const int error = errno;
    ::close(fd);
    if (error == EADDRINUSE) throw Failure(where + " is in use: another server listens there");
    throw Failure("cannot listen on " + where + ": " + std::strerror(error));
  }
  if (::listen(fd, kBacklog) != 0) {
    const int error = errno;
    ::close(fd);
    throw Failure("cannot listen on " + where + ": " + std::strerror(error));
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
  const std::string address = AddressText(reinterpret_cast<sockaddr*>(&bound));
  return {fd, false, address, "http://" + address + "/", ""};
}

}  // namespace

Listener Listen(const std::string& socket_path, const std::string& host, int port,
                bool insecure_direct) {
  return socket_path.empty() ? ListenTcp(host, port, insecure_direct) : ListenUnix(socket_path);
}

ConnectionLoop::ConnectionLoop(Listener listener, int max_connections, int max_heads, Serve serve,
                               Refuse refuse)
    : listener_(std::move(listener)),
      max_connections_(max_connections),
      max_heads_(max_heads),
      serve_(std::move(serve)),
      refuse_(std::move(refuse)) {
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
}

ConnectionLoop::~ConnectionLoop() {
  for (const int fd : wake_) {
    if (fd >= 0) ::close(fd);
  }
  if (listener_.fd >= 0) ::close(listener_.fd);
}

void ConnectionLoop::Stop() {
  const char byte = 0;
  [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
}

void ConnectionLoop::Serve1(Peer peer) {
  bool reading_head = true, counted = false;
  serve_(peer, [&](bool count) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (reading_head) {
      reading_head = false;
      --heads_;
    }
    if (!count || counted) return true;
    if (served_ >= max_connections_) return false;
    ++served_;
    counted = true;
    return true;
  });
  ::close(peer.fd);
  const std::lock_guard<std::mutex> lock(mutex_);
  if (reading_head) --heads_;
  if (counted) --served_;
  finished_.push_back(std::this_thread::get_id());
  if (--active_ == 0) idle_.notify_all();
}

void ConnectionLoop::JoinFinished() {
  std::vector<std::thread> ended;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (const std::thread::id id : finished_) {
      const auto found = threads_.find(id);
      if (found == threads_.end()) continue;
      ended.push_back(std::move(found->second));
      threads_.erase(found);
    }
    finished_.clear();
  }
  for (std::thread& t : ended) t.join();
}

bool ConnectionLoop::Run() {
  bool accepted = true;
  for (;;) {
    pollfd waits[2] = {{listener_.fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(waits, 2, -1) < 0) {
      if (errno == EINTR) continue;
      accepted = false;
      break;
    }
    if (waits[1].revents != 0) break;
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int fd =
        ::accept4(listener_.fd, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN || errno == EPROTO) continue;
      accepted = false;
      break;
    }
    JoinFinished();
    Peer peer{fd, listener_.unix_socket, listener_.unix_socket ? "" : PeerIp(address)};
    bool started = false;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (heads_ < max_heads_) {
        ++active_;
        ++heads_;
        try {
          std::thread thread([this, peer] { Serve1(peer); });
          const std::thread::id id = thread.get_id();
          threads_.emplace(id, std::move(thread));
          started = true;
        } catch (const std::system_error&) {
          --active_;
          --heads_;
        }
      }
    }
    if (!started) {
      refuse_(peer);
      ::close(fd);
    }
  }
  ::close(listener_.fd);
  listener_.fd = -1;
  if (!listener_.path.empty()) ::unlink(listener_.path.c_str());
  {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return active_ == 0; });
  }
  JoinFinished();
  return accepted;
}

}  // namespace zavserve
