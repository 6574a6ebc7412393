#include "guarded_stream.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace zavserve {

GuardedStream::GuardedStream(int fd, const StreamBounds& bounds) : fd_(fd), bounds_(bounds) {}

bool GuardedStream::Wait(short events, Clock::time_point deadline) const {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd_, events, 0};
    const int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000)));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

std::size_t GuardedStream::Fill(std::size_t at, Clock::time_point deadline) {
  for (;;) {
    if (!Wait(POLLIN, deadline)) {
      timed_out_ = true;
      return 0;
    }
    const ssize_t n = ::recv(fd_, buffer_ + at, sizeof buffer_ - at, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return 0;
    bytes_in_ += static_cast<std::uint64_t>(n);
    return static_cast<std::size_t>(n);
  }
}

GuardedStream::Head GuardedStream::ReadHead() {
  const Clock::time_point deadline = std::min(bounds_.head_deadline, bounds_.read_deadline);
  for (;;) {
    const std::string_view got(buffer_, end_);
    if (const std::size_t blank = got.find("\r\n\r\n"); blank != std::string_view::npos) {
      head_end_ = blank + 4;
      return Head::kComplete;
    }
    if (end_ == sizeof buffer_) return Head::kTooLarge;
    const std::size_t n = Fill(end_, deadline);
    if (n == 0) return timed_out_ ? Head::kTimedOut : Head::kClosed;
    end_ += n;
  }
}

void GuardedStream::SkipHead() {
  at_ = head_end_;
  if (at_ == end_) head_end_ = 0;  // the buffer is refilled from its start with body
}

ssize_t GuardedStream::read(char* ptr, size_t size) {
  if (size == 0) return 0;
  if (at_ == end_) {
    // The head was read whole; the rest is body, counted.
    if (body_bytes_ >= bounds_.max_body) {
      body_over_ = true;
      return -1;
    }
    at_ = end_ = 0;
    end_ = Fill(0, bounds_.read_deadline);
    if (end_ == 0) return timed_out_ ? -1 : 0;
  }
  std::size_t n = std::min(size, end_ - at_);
  if (at_ >= head_end_) {
    if (body_bytes_ >= bounds_.max_body) {
      body_over_ = true;
      return -1;
    }
    n = static_cast<std::size_t>(std::min<std::uint64_t>(n, bounds_.max_body - body_bytes_));
    body_bytes_ += n;
  } else {
    n = std::min(n, head_end_ - at_);  // the head, then the body apart
  }
  std::memcpy(ptr, buffer_ + at_, n);
  at_ += n;
  if (at_ == end_) head_end_ = 0;  // the buffer is refilled from its start with body
  return static_cast<ssize_t>(n);
}

ssize_t GuardedStream::write(const char* ptr, size_t size) {
  if (!write_started_) {
    write_started_ = true;
    write_deadline_ = Clock::now() + bounds_.write_timeout;
  }
  for (;;) {
    if (!Wait(POLLOUT, write_deadline_)) return -1;
    const ssize_t n = ::send(fd_, ptr, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n > 0) bytes_out_ += static_cast<std::uint64_t>(n);
    return n;
  }
}

void GuardedStream::Linger(std::uint64_t max_bytes, std::chrono::milliseconds max_time) {
  ::shutdown(fd_, SHUT_WR);
  const Clock::time_point until = Clock::now() + max_time;
  char drop[16 << 10];
  for (std::uint64_t dropped = 0; dropped < max_bytes && Wait(POLLIN, until);) {
    const ssize_t n = ::recv(fd_, drop, sizeof drop, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    dropped += static_cast<std::uint64_t>(n);
    bytes_in_ += static_cast<std::uint64_t>(n);
  }
}

}  // namespace zavserve
