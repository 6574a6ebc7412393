#include "platform/file_system.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "basic/cp1252.hpp"
#include "basic/runtime_failure.hpp"
#include "platform/drives.hpp"

#ifdef __EMSCRIPTEN__
#include <emscripten/emscripten.h>
#endif

namespace zav {

namespace fs = std::filesystem;

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool HasWildcards(std::string_view name) {
  return name.find_first_of("*?") != std::string_view::npos;
}

// A control path cut before its last component: ("C:\a\", "b*.x"), ("C:", "x"), ("", "x").
struct SplitPath {
  std::string_view folder;
  std::string_view name;
};

SplitPath Split(std::string_view path) {
  std::size_t cut = path.size();
  while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;
  if (cut == 0 && path.size() >= 2 && path[1] == ':') cut = 2;
  return {path.substr(0, cut), path.substr(cut)};
}

// '*' any run of characters, '?' one character, without regard to case. "*.*" is
// everything, dot or no dot, as the classic listing has it.
bool Matches(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*") pattern = "*";
  std::size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || UpperCase1252(pattern[p]) == UpperCase1252(name[n]))) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool IsReadOnly(const fs::file_status& st) {
  return (st.permissions() & fs::perms::owner_write) == fs::perms::none;
}

bool IsHiddenName(std::string_view name) { return !name.empty() && name.front() == '.'; }

int AttributesOf(const fs::file_status& st, std::string_view name) {
  int bits = attr::kNormal;
  if (fs::is_directory(st))
    bits |= attr::kDirectory;
  else if (!fs::is_regular_file(st))
    bits |= attr::kSystem;
  if (IsHiddenName(name)) bits |= attr::kHidden;
  if (IsReadOnly(st)) bits |= attr::kReadOnly;
  return bits;
}

// Whether an entry with these attributes is listed under the filter `wanted`.
bool Listed(int bits, int wanted) {
  const int special = bits & (attr::kDirectory | attr::kHidden | attr::kSystem);
  return (special & ~wanted) == 0;
}

// The number for a missing `p`: 53 when its folder exists, 76 when that is missing too.
int MissingNumber(const fs::path& p) {
  std::error_code ec;
  return fs::is_directory(p.parent_path(), ec) ? err::kFileNotFound : err::kPathNotFound;
}

fs::file_status StatusOf(const fs::path& p) {
  std::error_code ec;
  return fs::status(p, ec);
}

// The native destination of a copy or a move: into the folder when it ends with a separator.
fs::path Destination(std::string_view destination, const fs::path& source) {
  if (!EndsWithSeparator(destination)) return ResolvePath(destination);
  const fs::path folder = ResolvePath(destination);
  if (!fs::is_directory(StatusOf(folder))) throw RuntimeFailure(err::kPathNotFound);
  return ResolvePath(std::string(destination) + ControlName(source.filename()));
}

void RequireFolderOf(const fs::path& p) {
  if (!fs::is_directory(StatusOf(p.parent_path()))) throw RuntimeFailure(err::kPathNotFound);
}

[[noreturn]] void ThrowLastError() {
  ThrowNativeError(std::error_code(errno, std::generic_category()), err::kFileNotFound);
}

// A descriptor closed on every way out.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now, reporting a failure (a write that could not be completed).
  void Close() {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) ThrowLastError();
  }

 private:
  int fd_;
};

// Copies what `in` holds into `out` inside the kernel: a payment file can be large, and
// the copy then makes no trip through our memory. False, with nothing copied, when the
// kernel cannot copy between these two files (older kernels, some file systems).
bool CopyInKernel([[maybe_unused]] int in, [[maybe_unused]] int out) {
#if defined(__linux__) && !defined(__EMSCRIPTEN__)
  constexpr std::size_t kStep = std::size_t{1} << 30;
  for (bool first = true;; first = false) {
    const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, kStep, 0);
    if (n > 0) continue;
    if (n == 0) return true;
    if (errno == EINTR) continue;
    if (first && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
      return false;
    }
    ThrowLastError();
  }
#else
  return false;
#endif
}

// Copies what `in` holds into `out`, through a buffer when the kernel cannot do it.
void CopyContents(int in, int out) {
  if (CopyInKernel(in, out)) return;
#ifdef __EMSCRIPTEN__
  // The browser's in-memory files grow by an eighth at a time, each time copied whole:
  // sized once, a large file is copied once. Only a hint: a failure changes nothing.
  if (struct stat st{}; ::fstat(in, &st) == 0 && st.st_size > 0) {
    (void)::posix_fallocate(out, 0, st.st_size);
  }
#endif
  constexpr std::size_t kBuffer = std::size_t{1} << 18;
  const std::unique_ptr<char[]> buffer(new char[kBuffer]);
  for (;;) {
    const ssize_t got = ::read(in, buffer.get(), kBuffer);
    if (got == 0) return;
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowLastError();
    }
    for (ssize_t put = 0; put < got;) {
      const ssize_t n = ::write(out, buffer.get() + put, static_cast<std::size_t>(got - put));
      if (n < 0) {
        if (errno == EINTR) continue;
        ThrowLastError();
      }
      put += n;
    }
  }
}

// Copies `source` beside `target` and renames the copy into place. The pending file is new
// and empty: it is written without truncating it, which on ext4 would have the whole copy
// flushed to disk when it is closed.
#ifdef __EMSCRIPTEN__
// In the browser a picked file lies on a read-only file system over the browser's own
// file object (the module's WORKERFS), which never changes. Its copy is a new file that
// reads the same object, made in no time and holding no bytes of its own: the copy of a
// whole payment file would double the page's memory. Answers 0 for any other source,
// which is copied byte by byte.
// clang-format off
EM_JS(int, zav_share_read_only_file, (const char* source, const char* target), {
  var from = FS.lookupPath(UTF8ToString(source)).node;
  if (!(from.contents instanceof Blob) || from.node_ops !== WORKERFS.node_ops) return 0;
  var path = UTF8ToString(target);
  var parent = FS.lookupPath(PATH.dirname(path)).node;
  var name = PATH.basename(path);
  FS.unlink(path);
  var node = FS.createNode(parent, name, from.mode, 0);
  node.node_ops = from.node_ops;
  node.stream_ops = from.stream_ops;
  node.size = from.size;
  node.contents = from.contents;
  node.timestamp = Date.now();
  parent.contents[name] = node;
  return 1;
});
// clang-format on
#endif

void CopyAside(const fs::path& source, const fs::path& target) {
  PendingFile pending(target);
#ifdef __EMSCRIPTEN__
  if (zav_share_read_only_file(source.c_str(), pending.path().c_str()) != 0) {
    pending.Commit();
    return;
  }
#endif
  {
    Descriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) ThrowLastError();
    Descriptor out(::open(pending.path().c_str(), O_WRONLY | O_CLOEXEC));
    if (out.get() < 0) ThrowLastError();
    CopyContents(in.get(), out.get());
    out.Close();
  }
  std::error_code ec;
  fs::permissions(pending.path(), StatusOf(source).permissions(), ec);
  if (ec) ThrowNativeError(ec, err::kFileNotFound);
  pending.Commit();
}

}  // namespace

[[noreturn]] void ThrowNativeError(const std::error_code& ec, int missing) {
  const auto is = [&ec](std::errc e) { return ec == std::make_error_condition(e); };
  int number = err::kPathFileAccess;
  if (is(std::errc::no_such_file_or_directory)) {
    number = missing;
  } else if (is(std::errc::not_a_directory)) {
    number = err::kPathNotFound;
  } else if (is(std::errc::permission_denied) || is(std::errc::operation_not_permitted) ||
             is(std::errc::read_only_file_system) || is(std::errc::text_file_busy)) {
    number = err::kPermissionDenied;
  } else if (is(std::errc::no_space_on_device) || is(std::errc::file_too_large)
#ifdef EDQUOT
             || ec.value() == EDQUOT
#endif
  ) {
    number = err::kDiskFull;
  } else if (is(std::errc::io_error)) {
    number = err::kDeviceIo;
  } else if (is(std::errc::filename_too_long) || is(std::errc::invalid_argument)) {
    number = err::kBadFileName;
  } else if (is(std::errc::no_such_device) || is(std::errc::no_such_device_or_address)) {
    number = err::kDiskNotReady;
  }
  throw RuntimeFailure(number);
}

std::vector<std::string> ListDirectory(std::string_view pattern, int attributes) {
  const SplitPath split = Split(pattern);
  std::vector<std::string> names;
  if (!split.name.empty() && !HasWildcards(split.name)) {
    const fs::path p = ResolvePath(pattern);
    const fs::file_status st = StatusOf(p);
    const std::string name = ControlName(p.filename());
    if (fs::exists(st) && Listed(AttributesOf(st, name), attributes)) names.push_back(name);
    return names;
  }
  const std::string_view wanted = split.name.empty() ? std::string_view("*") : split.name;
  const fs::path folder = ResolvePath(split.folder);
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = ControlName(it->path().filename());
    if (!Matches(wanted, name)) continue;
    std::error_code st_ec;
    const fs::file_status st = it->status(st_ec);
    if (!fs::exists(st)) continue;  // a dangling link
    if (Listed(AttributesOf(st, name), attributes)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const std::string ua = UpperCase1252(a), ub = UpperCase1252(b);
    return ua != ub ? ua < ub : a < b;
  });
  return names;
}

std::string FirstMatch(std::string_view pattern, int attributes) {
  std::vector<std::string> names = ListDirectory(pattern, attributes);
  return names.empty() ? std::string() : std::move(names.front());
}

bool FileExists(std::string_view path) noexcept {
  try {
    if (HasWildcards(Split(path).name)) return false;
    return fs::is_regular_file(StatusOf(ResolvePath(path)));
  } catch (...) {
    return false;
  }
}

void DeleteFile(std::string_view path, bool force) {
  std::vector<fs::path> victims;
  const SplitPath split = Split(path);
  if (HasWildcards(split.name)) {
    const fs::path folder = ResolvePath(split.folder);
    if (!fs::is_directory(StatusOf(folder))) throw RuntimeFailure(err::kPathNotFound);
    for (const std::string& name : ListDirectory(path, attr::kNormal)) {
      victims.push_back(ResolvePath(std::string(split.folder) + name));
    }
    if (victims.empty()) throw RuntimeFailure(err::kFileNotFound);
  } else {
    const fs::path p = ResolvePath(path);
    if (!fs::is_regular_file(StatusOf(p))) throw RuntimeFailure(MissingNumber(p));
    victims.push_back(p);
  }
  for (const fs::path& p : victims) {
    if (!force && IsReadOnly(StatusOf(p))) throw RuntimeFailure(err::kPermissionDenied);
    std::error_code ec;
    fs::remove(p, ec);
    if (ec) ThrowNativeError(ec, err::kFileNotFound);
  }
}

void CopyFile(std::string_view source, std::string_view destination, bool overwrite) {
  const fs::path from = ResolvePath(source);
  if (!fs::is_regular_file(StatusOf(from))) throw RuntimeFailure(MissingNumber(from));
  const fs::path to = Destination(destination, from);
  const fs::file_status to_status = StatusOf(to);
  if (fs::is_directory(to_status)) throw RuntimeFailure(err::kPermissionDenied);
  if (fs::exists(to_status)) {
    if (!overwrite) throw RuntimeFailure(err::kPathFileAccess);
    std::error_code ec;
    if (IsReadOnly(to_status) || fs::equivalent(from, to, ec)) {
      throw RuntimeFailure(err::kPermissionDenied);
    }
  }
  RequireFolderOf(to);
  CopyAside(from, to);
}

void MoveFile(std::string_view source, std::string_view destination) {
  const fs::path from = ResolvePath(source);
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(from, ec))) throw RuntimeFailure(MissingNumber(from));
  const fs::path to = Destination(destination, from);
  if (fs::exists(fs::symlink_status(to, ec))) throw RuntimeFailure(err::kPathFileAccess);
  RequireFolderOf(to);
  fs::rename(from, to, ec);
  if (ec == std::make_error_condition(std::errc::cross_device_link) &&
      fs::is_regular_file(StatusOf(from))) {
    CopyAside(from, to);
    fs::remove(from, ec);
  }
  if (ec) ThrowNativeError(ec, err::kFileNotFound);
}

void CreateFolder(std::string_view path) {
  const fs::path p = ResolvePath(path);
  std::error_code ec;
  if (fs::exists(fs::symlink_status(p, ec))) throw RuntimeFailure(err::kPathFileAccess);
  RequireFolderOf(p);
  fs::create_directory(p, ec);
  if (ec) ThrowNativeError(ec, err::kPathNotFound);
}

std::string GetFileName(std::string_view path) {
  while (!path.empty() && IsSeparator(path.back())) path.remove_suffix(1);
  return std::string(Split(path).name);
}

std::string GetExtensionName(std::string_view path) {
  const std::string name = GetFileName(path);
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

std::string EnvironmentVariable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : ControlName(fs::path(value));
}

PendingFile::PendingFile(const fs::path& target) : target_(target) {
  std::string name = (target.parent_path() / ".zav-pending-XXXXXX").native();
  const int fd = ::mkstemp(name.data());
  if (fd < 0) ThrowNativeError(std::error_code(errno, std::generic_category()), err::kPathNotFound);
  ::fchmod(fd, 0644);  // the usual permissions of a new file, not the 0600 of a temporary
  ::close(fd);
  path_ = name;
}

PendingFile::~PendingFile() {
  if (committed_) return;
  std::error_code ec;
  fs::remove(path_, ec);
}

void PendingFile::Commit() {
  std::error_code ec;
  fs::rename(path_, target_, ec);
  if (ec) ThrowNativeError(ec, err::kPathNotFound);
  committed_ = true;
}

}  // namespace zav
