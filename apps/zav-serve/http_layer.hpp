// HTTP/1.1 for zav-serve, one request a connection: the head, already read whole by a
// GuardedStream, is parsed by Boost.Beast's parser (strict about its syntax, bounded to
// kMaxHead); the request goes to the first route whose pattern matches its whole decoded
// path, after a screen that may answer it from the head alone; a POST route reads the body,
// Content-Length bytes and never more, as it goes; the answer is written with
// "Connection: close". Bodies sent chunked are never read: the screen refuses them.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "guarded_stream.hpp"

namespace zavserve {

// Header names compare without regard to case.
struct NoCase {
  bool operator()(const std::string& a, const std::string& b) const;
};
using Headers = std::multimap<std::string, std::string, NoCase>;
using Params = std::multimap<std::string, std::string>;

struct Request {
  std::string method;  // as sent: "GET", "HEAD", "POST", ...
  std::string target;  // as sent
  std::string path;    // the target before '?', percent-decoded
  Params params;       // the query's name=value pairs, decoded ('+' is a space)
  Headers headers;

  bool has_header(const std::string& name) const { return headers.count(name) > 0; }
  bool has_param(const std::string& name) const { return params.count(name) > 0; }
  std::size_t get_header_value_count(const std::string& name) const { return headers.count(name); }
  // The first value of the header, "" when there is none.
  std::string get_header_value(const std::string& name) const;
  std::size_t get_param_value_count(const std::string& name) const { return params.count(name); }
  std::string get_param_value(const std::string& name) const;
};

struct Response {
  int status = -1;  // -1 until a handler sets it: 200 then, or 404 when no route matched
  Headers headers;
  std::string body;

  // Replaces the header (values holding CR or LF are dropped).
  void set_header(const std::string& name, const std::string& value);
  void set_content(std::string content, const std::string& content_type);
};

// Hands the body to `take` piece by piece, until it is whole (true) or `take` answers false or
// the connection fails (false).
using ContentReader =
    std::function<bool(const std::function<bool(const char*, std::size_t)>& take)>;

enum class HandlerResponse { Handled, Unhandled };

class HttpServer {
 public:
  using Handler = std::function<void(const Request&, Response&)>;
  using ReadingHandler = std::function<void(const Request&, Response&, const ContentReader&)>;

  HttpServer() = default;
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // GET (and HEAD, answered without the body) of paths matching `pattern`.
  void Get(const std::string& pattern, Handler handler);
  // POST to paths matching `pattern`; the handler reads the body.
  void Post(const std::string& pattern, ReadingHandler handler);

  void set_default_headers(Headers headers) { default_headers_ = std::move(headers); }
  // Before routing, with the head alone: Handled answers the request with `res`.
  void set_pre_routing_handler(std::function<HandlerResponse(const Request&, Response&)> h) {
    pre_routing_ = std::move(h);
  }
  // For "Expect: 100-continue": 100 lets the client send its body, any other status is the
  // answer.
  void set_expect_100_continue_handler(std::function<int(const Request&, Response&)> h) {
    expect_100_ = std::move(h);
  }
  // Every answer of 400 and above, before it is written.
  void set_error_handler(std::function<void(const Request&, Response&)> h) {
    error_ = std::move(h);
  }
  // Every answer, once written.
  void set_logger(std::function<void(const Request&, const Response&)> h) {
    logger_ = std::move(h);
  }

  // Answers the request whose head `stream` has read (ReadHead() was kComplete); `setup` sees
  // it first. False when the head is not HTTP (nothing is written then: the caller answers).
  bool Process(GuardedStream& stream, const std::function<void(Request&)>& setup);

 private:
  struct Route {
    std::regex pattern;
    Handler handler;
    ReadingHandler reading;
  };

  void Answer(GuardedStream& stream, const Request& req, Response& res) const;
  void Dispatch(GuardedStream& stream, const Request& req, Response& res) const;

  std::vector<Route> get_routes_, post_routes_;
  Headers default_headers_;
  std::function<HandlerResponse(const Request&, Response&)> pre_routing_;
  std::function<int(const Request&, Response&)> expect_100_;
  std::function<void(const Request&, Response&)> error_;
  std::function<void(const Request&, const Response&)> logger_;
};

// The status's reason phrase, as sent on the status line.
const char* ReasonPhrase(int status);

}  // namespace zavserve
