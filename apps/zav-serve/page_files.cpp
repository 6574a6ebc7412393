#include "page_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace zavserve {

namespace {

constexpr off_t kLargestFile = off_t{256} << 20;

// The content type of a page file by its extension; none for a file that is not one.
const char* ContentType(const std::string& name) {
  static const std::map<std::string, const char*> types = {
      {"html", "text/html; charset=utf-8"},
      {"js", "text/javascript; charset=utf-8"},
      {"mjs", "text/javascript; charset=utf-8"},
      {"css", "text/css; charset=utf-8"},
      {"wasm", "application/wasm"},
      {"png", "image/png"},
      {"svg", "image/svg+xml"},
      {"ico", "image/x-icon"},
      {"jpg", "image/jpeg"},
      {"jpeg", "image/jpeg"},
      {"gif", "image/gif"},
      {"webp", "image/webp"},
      {"woff", "font/woff"},
      {"woff2", "font/woff2"},
  };
  const std::size_t dot = name.rfind('.');
  if (name.empty() || name.front() == '.' || dot == std::string::npos) return nullptr;
  std::string kind = name.substr(dot + 1);
  for (char& c : kind) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const auto found = types.find(kind);
  return found == types.end() ? nullptr : found->second;
}

// Whether `path` (decoded, without its leading '/') is made only of the bytes a page file's
// path may hold: letters, digits, '-', '_', '.' and '/'. A NUL would cut the name short where
// it is opened (package.json%00.js would open package.json), and control bytes, backslashes and
// bytes over 0x7f (overlong or other encodings of those) name no file of the page either.
bool PlainPath(std::string_view path) {
  for (const char c : path) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.' || c == '/';
    if (!plain) return false;
  }
  return true;
}

// The one range of a Range header over a file of `size` bytes: {first, last}, or {size, 0}
// when unsatisfiable; nothing when the header asks for several ranges or is not understood
// (the whole file is the answer then).
std::optional<std::pair<off_t, off_t>> OneRange(const std::string& header, off_t size) {
  if (!header.starts_with("bytes=") || header.find(',') != std::string::npos) return std::nullopt;
  const std::string wanted = header.substr(6);
  const std::size_t dash = wanted.find('-');
  const auto number = [](const std::string& text) -> std::optional<off_t> {
    if (text.empty() || text.size() > 15) return std::nullopt;
    off_t value = 0;
    for (const char c : text) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + (c - '0');
    }
    return value;
  };
  if (dash == std::string::npos) return std::nullopt;
  const std::optional<off_t> first = number(wanted.substr(0, dash));
  const std::optional<off_t> last = number(wanted.substr(dash + 1));
  if (!first) {  // the last `last` bytes
    if (!last || *last == 0) return last ? std::optional(std::pair(size, off_t{0})) : std::nullopt;
    return std::pair(std::max<off_t>(0, size - *last), size - 1);
  }
  if (dash + 1 < wanted.size() && !last) return std::nullopt;
  if (last && *last < *first) return std::nullopt;
  if (*first >= size) return std::pair(size, off_t{0});
  return std::pair(*first, last ? std::min(*last, size - 1) : size - 1);
}

}  // namespace

PageFiles::PageFiles(const std::filesystem::path& web) {
  folder_ = ::open(web.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_ < 0) throw std::runtime_error("no web folder at " + web.string());
}

PageFiles::~PageFiles() {
  if (folder_ >= 0) ::close(folder_);
}

void PageFiles::Answer(const Request& req, Response& res) const {
  res.status = 404;
  std::string path = req.path.substr(1);
  if (!PlainPath(path)) return;
  if (path.empty() || path.back() == '/') path += "index.html";
  std::string folder, name = path;
  if (const std::size_t slash = path.find('/'); slash != std::string::npos) {
    folder = path.substr(0, slash);
    name = path.substr(slash + 1);
    if (folder != "dist" && folder != "lib") return;
  }
  const char* type = ContentType(name);
  if (type == nullptr || name.find('/') != std::string::npos) return;

  // Neither the folder nor the file may be a symbolic link.
  int dir = folder_;
  if (!folder.empty()) {
    dir = ::openat(folder_, folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) return;
  }
  const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (dir != folder_) ::close(dir);
  if (fd < 0) return;
  struct stat st {};
  std::string body;
  bool read_whole = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kLargestFile;
  if (read_whole) {
    body.resize(static_cast<std::size_t>(st.st_size));
    for (std::size_t done = 0; read_whole && done < body.size();) {
      const ssize_t n = ::read(fd, body.data() + done, body.size() - done);
      read_whole = n > 0;
      if (read_whole) done += static_cast<std::size_t>(n);
    }
  }
  ::close(fd);
  if (!read_whole) return;

  res.set_header("Accept-Ranges", "bytes");
  res.set_header("Cache-Control", "no-cache");
  const off_t size = static_cast<off_t>(body.size());
  const std::optional<std::pair<off_t, off_t>> range =
      OneRange(req.get_header_value("Range"), size);
  if (range && range->first >= size) {
    res.status = 416;
    res.set_header("Content-Range", "bytes */" + std::to_string(size));
    return;
  }
  res.status = 200;
  if (range) {
    res.status = 206;
    res.set_header("Content-Range", "bytes " + std::to_string(range->first) + "-" +
                                        std::to_string(range->second) + "/" + std::to_string(size));
    body = body.substr(static_cast<std::size_t>(range->first),
                       static_cast<std::size_t>(range->second - range->first + 1));
  }
  res.body = std::move(body);
  res.set_header("Content-Type", type);
}

}  // namespace zavserve
