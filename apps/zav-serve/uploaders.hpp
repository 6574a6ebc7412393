// Who may upload for which employer: one employer, one namespace. An uploader is known by a
// bearer token or, behind nginx, by the client certificate nginx verified; either way it
// comes with the registrations (11 letters or digits) it may upload for, and nothing else
// entitles it: not the RFC written inside the file, which whoever makes the file chooses.
// An RFC (12 or 13 letters, digits or '&') entitles only the registrations the operator tied
// to it.
//
// The token file (--tokens): one token a line, `HASH ENTITLEMENT...`, HASH the token's
// SHA-256 in lower-case hex, each ENTITLEMENT a registration or a tie RFC=REGISTRATION, '#'
// starting a comment. The certificate map (--cert-map): `RFC REGISTRATION...` a line, the
// registrations a certificate whose CN is that RFC may upload for. Both are read again
// whenever they change, so what is added while the server runs counts at once; neither is
// used when it is not a regular file or its group or others may write it (a line anyone
// appends would mint a token or widen one). The tokens themselves are never stored.
#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zavserve {

struct Uploader {
  std::string identity;                    // "token:<first 12 hex of its hash>", "cert:<CN>"
  std::vector<std::string> registrations;  // those it may upload for

  bool MayUpload(std::string_view registration) const;
};

// Whether `text` is a registration or an RFC.
bool IsEmployer(std::string_view text);
bool IsRegistration(std::string_view text);
bool IsRfc(std::string_view text);

// Why `file` may not be trusted ("" when it may): not a regular file, or writable by its
// group or others. A missing file is no reason.
std::string UntrustedFile(const std::filesystem::path& file);

// A file of lines of words, read again when it changes and given up (nothing in it counts)
// while it may not be trusted.
class WatchedFile {
 public:
  explicit WatchedFile(std::optional<std::filesystem::path> file) : file_(std::move(file)) {}
  virtual ~WatchedFile() = default;

 protected:
  // Reads the file again when it changed; the caller holds mutex_.
  void ReloadIfChanged();
  // Forget what was read; then each line with words (comments gone), numbered from 1.
  virtual void Clear() = 0;
  virtual void Line(int number, const std::vector<std::string>& words) = 0;

  std::optional<std::filesystem::path> file_;
  std::mutex mutex_;

 private:
  std::string stamp_;  // what the file looked like when read: inode, mode, size, time
};

// The registrations tied to certificates whose CN is an RFC.
class CertificateMap : public WatchedFile {
 public:
  using WatchedFile::WatchedFile;

  // The uploader a client certificate's subject names (as nginx gives it, RFC 2253:
  // CN=...,O=...): its only CN, when that is a registration (entitled to it) or an RFC
  // (entitled to the registrations tied to it). Several CNs name no one.
  std::optional<Uploader> Find(std::string_view subject);

 private:
  void Clear() override { tied_.clear(); }
  void Line(int number, const std::vector<std::string>& words) override;

  std::map<std::string, std::vector<std::string>> tied_;  // RFC: registrations
};

// What a word of a token line entitles: a registration, or the registration of an
// RFC=REGISTRATION tie; nothing otherwise.
std::optional<std::string> Entitlement(std::string_view word);

class TokenFile : public WatchedFile {
 public:
  // No file: no tokens.
  using WatchedFile::WatchedFile;

  // The uploader holding `token`, if any.
  std::optional<Uploader> Find(std::string_view token);

  // Makes a new token for `entitlements` (registrations, RFC=REGISTRATION ties), adds its
  // hash to `file` (created 0640 when missing) and returns it. Throws std::runtime_error
  // when an entitlement is neither, or the file cannot be written or trusted.
  static std::string Add(const std::filesystem::path& file,
                         const std::vector<std::string>& entitlements);

 private:
  void Clear() override { registrations_by_hash_.clear(); }
  void Line(int number, const std::vector<std::string>& words) override;

  std::map<std::string, std::vector<std::string>> registrations_by_hash_;
};

}  // namespace zavserve
