#include "http_layer.hpp"

#include <boost/asio/buffer.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>
#include <cstdint>
#include <limits>
#include <string_view>

namespace zavserve {

namespace beast_http = boost::beast::http;

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// %XX decoded; a '%' not followed by two hex digits stays as it is.
std::string Decoded(std::string_view text, bool plus_is_space) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size()) {
      const int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    out += plus_is_space && c == '+' ? ' ' : c;
  }
  return out;
}

Params QueryParams(std::string_view query) {
  Params params;
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (pair.empty()) continue;
    const std::size_t eq = pair.find('=');
    const std::string_view key = pair.substr(0, eq);
    if (key.empty()) continue;
    params.emplace(Decoded(key, true),
                   eq == std::string_view::npos ? "" : Decoded(pair.substr(eq + 1), true));
  }
  return params;
}

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

bool WriteAll(GuardedStream& stream, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = stream.write(text.data() + done, text.size() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool NoCase::operator()(const std::string& a, const std::string& b) const {
  const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    const int x = lower(static_cast<unsigned char>(a[i]));
    const int y = lower(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

std::string Request::get_header_value(const std::string& name) const {
  const auto found = headers.find(name);
  return found == headers.end() ? std::string() : found->second;
}

std::string Request::get_param_value(const std::string& name) const {
  const auto found = params.find(name);
  return found == params.end() ? std::string() : found->second;
}

void Response::set_header(const std::string& name, const std::string& value) {
  if (HasLineBreak(name) || HasLineBreak(value)) return;
  headers.erase(name);
  headers.emplace(name, value);
}

void Response::set_content(std::string content, const std::string& content_type) {
  body = std::move(content);
  set_header("Content-Type", content_type);
}

void HttpServer::Get(const std::string& pattern, Handler handler) {
  get_routes_.push_back({std::regex(pattern), std::move(handler), nullptr});
}

void HttpServer::Post(const std::string& pattern, ReadingHandler handler) {
  post_routes_.push_back({std::regex(pattern), nullptr, std::move(handler)});
}

bool HttpServer::Process(GuardedStream& stream, const std::function<void(Request&)>& setup) {
  beast_http::request_parser<beast_http::empty_body> parser;
  parser.header_limit(static_cast<std::uint32_t>(kMaxHead));
  // The body's length is judged by the screen and the receiver, with their own answers.
  parser.body_limit(std::numeric_limits<std::uint64_t>::max());
  parser.eager(false);
  boost::beast::error_code ec;
  const std::string_view head = stream.head();
  parser.put(boost::asio::buffer(head.data(), head.size()), ec);
  if (ec || !parser.is_header_done()) return false;
  stream.SkipHead();

  const auto& message = parser.get();
  Request req;
  req.method.assign(message.method_string().data(), message.method_string().size());
  req.target.assign(message.target().data(), message.target().size());
  const std::string_view target(req.target);
  const std::size_t question = target.find('?');
  req.path = Decoded(target.substr(0, question), false);
  if (question != std::string_view::npos) req.params = QueryParams(target.substr(question + 1));
  for (const auto& field : message) {
    req.headers.emplace(std::string(field.name_string().data(), field.name_string().size()),
                        std::string(field.value().data(), field.value().size()));
  }
  if (setup) setup(req);

  Response res;
  if (req.get_header_value("Expect") == "100-continue") {
    const int status = expect_100_ ? expect_100_(req, res) : 100;
    if (status != 100) {
      if (res.status < 0) res.status = status;
      Answer(stream, req, res);
      return true;
    }
    WriteAll(stream, "HTTP/1.1 100 Continue\r\n\r\n");
  }
  Dispatch(stream, req, res);
  Answer(stream, req, res);
  return true;
}

void HttpServer::Dispatch(GuardedStream& stream, const Request& req, Response& res) const {
  if (pre_routing_ && pre_routing_(req, res) == HandlerResponse::Handled) return;
  const bool get = req.method == "GET" || req.method == "HEAD";
  const bool post = req.method == "POST";
  if (!get && !post) {
    res.status = 400;
    return;
  }
  for (const Route& route : get ? get_routes_ : post_routes_) {
    if (!std::regex_match(req.path, route.pattern)) continue;
    if (get) {
      route.handler(req, res);
    } else {
      const std::string length = req.get_header_value("Content-Length");
      std::uint64_t left = 0;
      for (const char c : length) {
        if (c < '0' || c > '9' || left > std::numeric_limits<std::uint64_t>::max() / 10 - 1) {
          res.status = 400;
          return;
        }
        left = left * 10 + static_cast<std::uint64_t>(c - '0');
      }
      const ContentReader read = [&stream, left](const auto& take) mutable {
        char buffer[16 << 10];
        while (left > 0) {
          const ssize_t n = stream.read(
              buffer, static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buffer, left)));
          if (n <= 0) return false;
          left -= static_cast<std::uint64_t>(n);
          if (!take(buffer, static_cast<std::size_t>(n))) return false;
        }
        return true;
      };
      route.reading(req, res, read);
    }
    if (res.status < 0) res.status = 200;
    return;
  }
  res.status = 404;
}

void HttpServer::Answer(GuardedStream& stream, const Request& req, Response& res) const {
  if (res.status < 0) res.status = 500;
  if (res.status >= 400 && error_) error_(req, res);
  Headers headers = res.headers;
  for (const auto& [name, value] : default_headers_) {
    if (headers.count(name) == 0) headers.emplace(name, value);
  }
  headers.erase("Connection");
  headers.emplace("Connection", "close");
  if (!res.body.empty() && headers.count("Content-Type") == 0) {
    headers.emplace("Content-Type", "text/plain");
  }
  headers.erase("Content-Length");
  headers.emplace("Content-Length", std::to_string(res.body.size()));
  std::string text =
      "HTTP/1.1 " + std::to_string(res.status) + " " + ReasonPhrase(res.status) + "\r\n";
  for (const auto& [name, value] : headers) text += name + ": " + value + "\r\n";
  text += "\r\n";
  if (req.method != "HEAD") text += res.body;
  WriteAll(stream, text);
  if (logger_) logger_(req, res);
}

const char* ReasonPhrase(int status) {
  switch (status) {
    case 100:
      return "Continue";
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 204:
      return "No Content";
    case 206:
      return "Partial Content";
    case 304:
      return "Not Modified";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 409:
      return "Conflict";
    case 411:
      return "Length Required";
    case 413:
      return "Payload Too Large";
    case 415:
      return "Unsupported Media Type";
    case 416:
      return "Range Not Satisfiable";
    case 417:
      return "Expectation Failed";
    case 422:
      return "Unprocessable Content";
    case 429:
      return "Too Many Requests";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    case 507:
      return "Insufficient Storage";
    default:
      return status < 400 ? "OK" : status < 500 ? "Bad Request" : "Internal Server Error";
  }
}

}  // namespace zavserve
