#include "store.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "access_log.hpp"
#include "digest.hpp"

namespace zavserve {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace {

constexpr fs::perms kFolderMode =
    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec;  // 0750
constexpr mode_t kFileMode = 0640;
constexpr const char* kAside = ".upload-";  // hidden: the server's own work

bool WriteAll(int fd, const char* data, std::size_t size) {
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

// Makes `folder` (with `mode`) when missing and locks it for this process alone.
int MakeAndLock(const fs::path& folder, fs::perms mode) {
  std::error_code ec;
  if (fs::create_directories(folder, ec) || !ec) fs::permissions(folder, mode, ec);
  if (!fs::is_directory(folder, ec))
    throw std::runtime_error("cannot make the folder " + folder.string());
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + folder.string());
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    throw std::runtime_error("another zav serve uses " + folder.string());
  }
  return fd;
}

std::uint64_t FreeBytes(const fs::path& folder) {
  struct statvfs st {};
  if (::statvfs(folder.c_str(), &st) != 0) return 0;
  return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
}

UploadStore::UploadStore(fs::path uploads, fs::path work)
    : uploads_(fs::absolute(uploads)), work_(fs::absolute(work)) {
  locks_[0] = MakeAndLock(uploads_, kFolderMode);
  locks_[1] = MakeAndLock(work_, fs::perms::owner_all);
  uploads_ = fs::canonical(uploads_);
  work_ = fs::canonical(work_);
  const auto [end, ignored] =
      std::mismatch(uploads_.begin(), uploads_.end(), work_.begin(), work_.end());
  if (end == uploads_.end()) {
    throw std::runtime_error("the work folder " + work_.string() +
                             " must lie outside the upload folder " + uploads_.string());
  }

  int removed = 0;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(work_, ec)) {
    fs::remove_all(entry.path(), ec);
    ++removed;
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(uploads_, ec)) {
    const std::string name = entry.path().filename().native();
    const bool aside = name.starts_with('.');  // the server's own work, never an upload
    const bool orphan = name.ends_with(".json") &&
                        zav::IsArchiveName(name.substr(0, name.size() - 5)) &&
                        !fs::exists(uploads_ / name.substr(0, name.size() - 5), ec) &&
                        !fs::exists(uploads_ / (name.substr(0, name.size() - 5) + ".removed"), ec);
    // An archive whose receipt never reached the disk (power lost before the folder was
    // flushed): its upload was never answered as stored, and left alone it would hold the
    // name for good, refusing the uploader's next try.
    const bool unreceipted =
        zav::IsArchiveName(name) && !fs::exists(uploads_ / (name + ".json"), ec);
    if (aside || orphan || unreceipted) {
      fs::remove_all(entry.path(), ec);
      ++removed;
    }
    if (unreceipted) LogNote("removed the archive " + name + ", stored without its receipt");
  }
  if (removed > 0) {
    LogNote("removed " + std::to_string(removed) + " leftovers of an earlier server from " +
            work_.string() + " and " + uploads_.string());
  }
}

UploadStore::~UploadStore() {
  for (const int fd : locks_) {
    if (fd >= 0) ::close(fd);
  }
}

std::optional<json> UploadStore::Receipt(std::string_view name) const {
  std::ifstream in(uploads_ / (std::string(name) + ".json"));
  if (!in) return std::nullopt;
  json receipt = json::parse(in, nullptr, false);
  if (!receipt.is_object()) receipt = {{"archive", name}};  // unreadable: the name is taken
  return receipt;
}

zav::UploadAnswer UploadStore::Again(const json& first, std::string_view payment_sha256) {
  if (first.value("payment_sha256", "") == payment_sha256) return {200, first};
  const std::string received = first.value("received", "");
  zav::UploadAnswer answer =
      zav::Refusal(409, "duplicate",
                   "another payment file was stored under this name" +
                       (received.empty() ? std::string() : ", received " + received));
  answer.body["received"] = received.empty() ? json(nullptr) : json(received);
  return answer;
}

zav::UploadAnswer UploadStore::Store(const std::string& name, Aside& archive, const json& receipt) {
  const zav::UploadAnswer failed =
      zav::Refusal(500, "server_error", "the server could not store the archive");
  Aside receipt_file(uploads_);
  if (!archive.good() || !receipt_file.Write(receipt.dump(2) + "\n")) return failed;
  archive.StartFlush();
  receipt_file.StartFlush();
  if (!archive.Flush() || !receipt_file.Flush()) return failed;

  const fs::path receipt_path = uploads_ / (name + ".json");
  if (!receipt_file.Link(receipt_path)) {
    if (errno != EEXIST) return failed;
    const std::optional<json> first = Receipt(name);
    return first ? Again(*first, receipt.value("payment_sha256", "")) : failed;
  }
  if (!archive.Link(uploads_ / name)) {
    const int error = errno;
    ::unlink(receipt_path.c_str());
    if (error == EEXIST) {
      return zav::Refusal(409, "duplicate", "an archive of this name was stored already");
    }
    return failed;
  }
  ::fsync(locks_[0]);  // the upload folder itself: the new names are on disk
  return {201, receipt};
}

Aside::Aside(const fs::path& folder) {
  fd_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, kFileMode);
  if (fd_ < 0) {  // a file system without unnamed files
    std::string temp = (folder / (std::string(kAside) + "XXXXXX")).native();
    fd_ = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd_ >= 0) name_ = temp;
  }
  good_ = fd_ >= 0 && ::fchmod(fd_, kFileMode) == 0;
}

Aside::~Aside() {
  if (fd_ >= 0) ::close(fd_);
  if (!name_.empty()) ::unlink(name_.c_str());
}

Aside::Aside(Aside&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), name_(std::move(other.name_)), good_(other.good_) {
  other.name_.clear();
}

Aside& Aside::operator=(Aside&& other) noexcept {
  std::swap(fd_, other.fd_);
  std::swap(name_, other.name_);
  std::swap(good_, other.good_);
  return *this;
}

bool Aside::Write(std::string_view bytes) {
  return good_ = good_ && WriteAll(fd_, bytes.data(), bytes.size());
}

std::optional<std::string> Aside::Contents() const {
  struct stat st {};
  if (!good_ || ::fstat(fd_, &st) != 0) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n =
        ::pread(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    done += static_cast<std::size_t>(n);
  }
  return bytes;
}

bool Aside::Copy(const fs::path& from) {
  std::ifstream in(from, std::ios::binary);
  char buffer[1 << 16];
  while (good_ && in) {
    in.read(buffer, sizeof buffer);
    Write(std::string_view(buffer, static_cast<std::size_t>(in.gcount())));
  }
  return good_ = good_ && in.eof();
}

void Aside::StartFlush() {
  if (good_) ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool Aside::Flush() { return good_ = good_ && ::fsync(fd_) == 0; }

bool Aside::Link(const fs::path& target) const {
  if (!name_.empty()) return ::link(name_.c_str(), target.c_str()) == 0;
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

}  // namespace zavserve
