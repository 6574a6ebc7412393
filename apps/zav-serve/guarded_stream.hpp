// One connection's bytes as the HTTP layer (http_layer.hpp) reads and writes them, with the bounds
// a server facing the open internet needs, counted on the socket whatever the request says of
// itself: its head (up to the blank line) at most kMaxHead bytes and in by `head_deadline`,
// read whole before it is parsed; the bytes after it at most `max_body`, everything
// in by `read_deadline`; an answer written within `write_timeout`. A read past a bound fails
// instead of waiting or growing. Reads and writes wait with poll, never past their
// deadlines.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace zavserve {

using Clock = std::chrono::steady_clock;

inline constexpr std::size_t kMaxHead = 16 << 10;

struct StreamBounds {
  Clock::time_point head_deadline;
  Clock::time_point read_deadline;
  std::uint64_t max_body = 0;
  std::chrono::milliseconds write_timeout{30000};
};

class GuardedStream final {
 public:
  GuardedStream(int fd, const StreamBounds& bounds);

  enum class Head { kComplete, kTooLarge, kTimedOut, kClosed };
  // Reads the request's head, before anything else.
  Head ReadHead();

  // Once the head is in and before anything is read: its first line.
  std::string_view request_line() const {
    const std::string_view head(buffer_, head_end_);
    return head.substr(0, head.find("\r\n"));
  }
  // Once the head is in and before anything is read: all of it, up to its blank line.
  std::string_view head() const { return {buffer_, head_end_}; }
  // The head parsed: reads start with the body.
  void SkipHead();

  // The bytes read into `ptr` (the head's, then the body's), 0 at the end, -1 past a bound.
  ssize_t read(char* ptr, size_t size);
  ssize_t write(const char* ptr, size_t size);

  std::uint64_t bytes_in() const { return bytes_in_; }
  std::uint64_t bytes_out() const { return bytes_out_; }
  bool timed_out() const { return timed_out_; }       // a deadline passed while reading
  bool body_too_large() const { return body_over_; }  // more than max_body after the head

  // After the answer: no more writes; whatever the client still sends (at most `max_bytes`,
  // for at most `max_time`) is read and dropped, so that it reads the answer rather than a
  // reset connection.
  void Linger(std::uint64_t max_bytes, std::chrono::milliseconds max_time);

 private:
  // Waits for `events` on the socket until `deadline`.
  bool Wait(short events, Clock::time_point deadline) const;
  // Reads more from the socket into the buffer from `at`; the bytes read, 0 at the end, on
  // error or time-out.
  std::size_t Fill(std::size_t at, Clock::time_point deadline);

  int fd_;
  StreamBounds bounds_;
  char buffer_[kMaxHead];
  std::size_t at_ = 0, end_ = 0;
  std::size_t head_end_ = 0;  // where the head ends in the buffer, once read
  std::uint64_t body_bytes_ = 0, bytes_in_ = 0, bytes_out_ = 0;
  bool timed_out_ = false, body_over_ = false;
  bool write_started_ = false;
  Clock::time_point write_deadline_{};
};

}  // namespace zavserve
