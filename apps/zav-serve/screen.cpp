// App's screening of a request's head, before its body is read: the framing (one plain
// Content-Length, no body where none belongs), the method and path, the origin of a
// browser's request, the Content-Type, the credentials (a client certificate nginx verified,
// or a bearer token) and the archive name with its employer's entitlement.
#include <algorithm>
#include <cctype>
#include <optional>
#include <string>

#include "app.hpp"
#include "check_endpoint.hpp"

namespace zavserve {

namespace {

// The header in which nginx passes the subject of a client certificate it verified.
constexpr const char* kSubjectHeader = "X-Zav-Client-Subject";

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

bool AllDigits(const std::string& text) {
  return !text.empty() && text.size() <= 18 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<Uploader> App::Identify(const Request& req) {
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

bool App::ForeignOrigin(const Request& req) const {
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

HandlerResponse App::Screen(const Request& req, Response& res) {
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
  if (lengths == 1 && !AllDigits(length)) return refuse(400, "bad_request", "a bad Content-Length");
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

}  // namespace zavserve
