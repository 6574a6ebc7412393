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
#include "api/upload.hpp"
#include "digest.hpp"

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

bool IsRegistration(std::string_view text) {
  return text.size() == 11 && std::all_of(text.begin(), text.end(), [](char c) {
           return IsUpper(c) || IsLower(c) || IsDigit(c);
         });
}

bool IsRfc(std::string_view text) {
  return (text.size() == 12 || text.size() == 13) &&
         std::all_of(text.begin(), text.end(),
                     [](char c) { return IsUpper(c) || IsDigit(c) || c == '&'; });
}

bool IsEmployer(std::string_view text) { return IsRegistration(text) || IsRfc(text); }

bool Uploader::MayUpload(std::string_view registration) const {
  return std::find(registrations.begin(), registrations.end(), registration) != registrations.end();
}

std::string UntrustedFile(const fs::path& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return "";
  if (!S_ISREG(st.st_mode)) return file.string() + " is not a regular file";
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return file.string() + " may be written by its group or others: chmod go-w " + file.string();
  }
  return "";
}

void WatchedFile::ReloadIfChanged() {
  struct stat st {};
  std::string stamp = "missing";
  if (::stat(file_->c_str(), &st) == 0) {
    std::ostringstream text;
    text << st.st_ino << ' ' << st.st_mode << ' ' << st.st_uid << ' ' << st.st_size << ' '
         << st.st_mtim.tv_sec << '.' << st.st_mtim.tv_nsec;
    stamp = text.str();
  }
  if (stamp == stamp_) return;
  stamp_ = stamp;
  Clear();
  if (const std::string untrusted = UntrustedFile(*file_); !untrusted.empty()) {
    LogNote(untrusted + ": nothing in it counts");
    return;
  }
  std::ifstream in(*file_);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    line = line.substr(0, line.find('#'));
    std::istringstream text(line);
    std::vector<std::string> words;
    for (std::string word; text >> word;) words.push_back(word);
    if (!words.empty()) Line(number, words);
  }
}

void CertificateMap::Line(int number, const std::vector<std::string>& words) {
  const bool good = words.size() > 1 && IsRfc(words[0]) &&
                    std::all_of(words.begin() + 1, words.end(), IsRegistration);
  if (!good) {
    LogNote("line " + std::to_string(number) + " of " + file_->string() +
            " is not RFC REGISTRATION...: ignored");
    return;
  }
  std::vector<std::string>& tied = tied_[words[0]];
  tied.insert(tied.end(), words.begin() + 1, words.end());
}

std::optional<Uploader> CertificateMap::Find(std::string_view subject) {
  // Attributes are separated by ',' or '+'; a '\' escapes the character after it.
  std::optional<std::string> cn;
  int cns = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= subject.size(); ++i) {
    if (i < subject.size() && subject[i] == '\\') {
      ++i;
      continue;
    }
    if (i < subject.size() && subject[i] != ',' && subject[i] != '+') continue;
    const std::string_view attribute = subject.substr(start, i - start);
    start = i + 1;
    if (attribute.starts_with("CN=")) {
      ++cns;
      cn = attribute.substr(3);
    }
  }
  if (cns != 1 || !IsEmployer(*cn)) return std::nullopt;
  Uploader uploader{"cert:" + *cn, {}};
  if (IsRegistration(*cn)) {
    uploader.registrations.push_back(*cn);
  } else if (file_) {
    const std::lock_guard<std::mutex> lock(mutex_);
    ReloadIfChanged();
    if (const auto found = tied_.find(*cn); found != tied_.end()) {
      uploader.registrations = found->second;
    }
  }
  return uploader;
}

std::optional<std::string> Entitlement(std::string_view word) {
  if (IsRegistration(word)) return std::string(word);
  const std::size_t tie = word.find('=');
  if (tie != std::string_view::npos && IsRfc(word.substr(0, tie)) &&
      IsRegistration(word.substr(tie + 1))) {
    return std::string(word.substr(tie + 1));
  }
  return std::nullopt;
}

void TokenFile::Line(int number, const std::vector<std::string>& words) {
  const std::string where = "line " + std::to_string(number) + " of " + file_->string();
  std::vector<std::string> registrations;
  bool good = words.size() > 1 && IsHash(words[0]);
  for (std::size_t k = 1; good && k < words.size(); ++k) {
    if (auto registration = Entitlement(words[k])) {
      registrations.push_back(std::move(*registration));
    } else if (IsRfc(words[k])) {
      LogNote(where + ": the RFC " + words[k] +
              " is tied to no registration and entitles nothing (write RFC=REGISTRATION)");
    } else {
      good = false;
    }
  }
  if (!good) {
    LogNote(where + " is not HASH REGISTRATION|RFC=REGISTRATION...: ignored");
    return;
  }
  registrations_by_hash_[words[0]] = std::move(registrations);
}

std::optional<Uploader> TokenFile::Find(std::string_view token) {
  if (!file_ || token.empty()) return std::nullopt;
  const std::string hash = Sha256Hex(token);
  const std::lock_guard<std::mutex> lock(mutex_);
  ReloadIfChanged();
  const auto found = registrations_by_hash_.find(hash);
  if (found == registrations_by_hash_.end()) return std::nullopt;
  return Uploader{"token:" + hash.substr(0, 12), found->second};
}

std::string TokenFile::Add(const fs::path& file, const std::vector<std::string>& entitlements) {
  std::string line;
  for (const std::string& entitlement : entitlements) {
    if (IsRfc(entitlement)) {
      throw std::runtime_error(
          "an RFC alone entitles no registration: tie it to the "
          "employer's, " +
          entitlement + "=REGISTRATION");
    }
    if (!Entitlement(entitlement)) {
      throw std::runtime_error(entitlement +
                               " is neither a registration (11 letters or digits) nor a tie "
                               "RFC=REGISTRATION (an RFC of 12 or 13 upper-case letters, "
                               "digits or &)");
    }
    line += " " + entitlement;
  }
  if (const std::string untrusted = UntrustedFile(file); !untrusted.empty()) {
    throw std::runtime_error(untrusted);
  }
  unsigned char secret[32];
  if (RAND_bytes(secret, sizeof secret) != 1) throw std::runtime_error("no random bytes");
  const std::string token = Hex(secret, sizeof secret);
  line = Sha256Hex(token) + line + "  # added " + zav::LocalDate("%Y-%m-%d") + "\n";

  int fd = -1;
  for (;;) {
    fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
    if (fd < 0)
      throw std::runtime_error("cannot write " + file.string() + ": " + std::strerror(errno));
    ::flock(fd, LOCK_EX);
    // A revoke replaces the file whole while it holds the lock: append to the new one.
    struct stat opened {
    }, named{};
    if (::fstat(fd, &opened) == 0 && ::stat(file.c_str(), &named) == 0 &&
        opened.st_ino == named.st_ino && opened.st_dev == named.st_dev) {
      break;
    }
    ::close(fd);
  }
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
