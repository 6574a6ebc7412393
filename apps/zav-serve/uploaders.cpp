#include "uploaders.hpp"

#include <fcntl.h>
#include <openssl/rand.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "access_log.hpp"
#include "digest.hpp"
#include "host/upload.hpp"

namespace zavserve {

namespace fs = std::filesystem;

namespace {

bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLower(char c) { return c >= 'a' && c <= 'z'; }

bool IsHash(std::string_view text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
           return IsDigit(c) || (c >= 'a' && c <= 'f');
         });
}

}  // namespace

bool IsEmployer(std::string_view text) {
  if (text.size() == 11) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return IsUpper(c) || IsLower(c) || IsDigit(c); });
  }
  return (text.size() == 12 || text.size() == 13) &&
         std::all_of(text.begin(), text.end(),
                     [](char c) { return IsUpper(c) || IsDigit(c) || c == '&'; });
}

bool Uploader::MayUpload(std::string_view registration, std::string_view rfc) const {
  return std::any_of(employers.begin(), employers.end(), [&](const std::string& e) {
    return e == registration || (!rfc.empty() && e == rfc);
  });
}

bool Uploader::NamesRegistration(std::string_view registration) const {
  return std::find(employers.begin(), employers.end(), registration) != employers.end();
}

bool Uploader::NamesAnRfc() const {
  return std::any_of(employers.begin(), employers.end(),
                     [](const std::string& e) { return e.size() != 11; });
}

std::optional<Uploader> CertificateUploader(std::string_view subject) {
  // Attributes are separated by ',' or '+'; a '\' escapes the character after it.
  std::size_t start = 0;
  for (std::size_t i = 0; i <= subject.size(); ++i) {
    if (i < subject.size() && subject[i] == '\\') {
      ++i;
      continue;
    }
    if (i < subject.size() && subject[i] != ',' && subject[i] != '+') continue;
    const std::string_view attribute = subject.substr(start, i - start);
    start = i + 1;
    if (attribute.starts_with("CN=") && IsEmployer(attribute.substr(3))) {
      const std::string employer(attribute.substr(3));
      return Uploader{"cert:" + employer, {employer}};
    }
  }
  return std::nullopt;
}

TokenFile::TokenFile(std::optional<fs::path> file) : file_(std::move(file)) {}

void TokenFile::ReloadIfChanged() {
  struct stat st {};
  std::string stamp = "missing";
  if (::stat(file_->c_str(), &st) == 0) {
    std::ostringstream text;
    text << st.st_ino << ' ' << st.st_size << ' ' << st.st_mtim.tv_sec << '.' << st.st_mtim.tv_nsec;
    stamp = text.str();
  }
  if (stamp == stamp_) return;
  stamp_ = stamp;
  employers_by_hash_.clear();
  std::ifstream in(*file_);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::string hash, employer;
    if (!(words >> hash)) continue;
    std::vector<std::string> employers;
    bool good = IsHash(hash);
    while (good && words >> employer) {
      good = IsEmployer(employer);
      employers.push_back(employer);
    }
    if (!good || employers.empty()) {
      LogNote("line " + std::to_string(number) + " of " + file_->string() +
              " is not HASH EMPLOYER...: ignored");
      continue;
    }
    employers_by_hash_[hash] = std::move(employers);
  }
}

std::optional<Uploader> TokenFile::Find(std::string_view token) {
  if (!file_ || token.empty()) return std::nullopt;
  const std::string hash = Sha256Hex(token);
  const std::lock_guard<std::mutex> lock(mutex_);
  ReloadIfChanged();
  const auto found = employers_by_hash_.find(hash);
  if (found == employers_by_hash_.end()) return std::nullopt;
  return Uploader{"token:" + hash.substr(0, 12), found->second};
}

std::string TokenFile::Add(const fs::path& file, const std::vector<std::string>& employers) {
  std::string line;
  for (const std::string& employer : employers) {
    if (!IsEmployer(employer)) {
      throw std::runtime_error(employer +
                               " is neither a registration (11 letters or digits) nor an RFC "
                               "(12 or 13 upper-case letters, digits or &)");
    }
    line += " " + employer;
  }
  unsigned char secret[32];
  if (RAND_bytes(secret, sizeof secret) != 1) throw std::runtime_error("no random bytes");
  const std::string token = Hex(secret, sizeof secret);
  line = Sha256Hex(token) + line + "  # added " + zav::LocalDate("%Y-%m-%d") + "\n";

  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
  if (fd < 0)
    throw std::runtime_error("cannot write " + file.string() + ": " + std::strerror(errno));
  ::flock(fd, LOCK_EX);
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size > 0) {
    char last = '\n';
    const int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (in >= 0) {
      if (::pread(in, &last, 1, st.st_size - 1) != 1) last = '\n';
      ::close(in);
    }
    if (last != '\n') line = "\n" + line;
  }
  // One write of the whole line; a server that read the file halfway through it reads it
  // again, its size and time having changed.
  const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
                       ::fsync(fd) == 0;
  ::close(fd);
  if (!written) throw std::runtime_error("cannot write " + file.string());
  return token;
}

}  // namespace zavserve
