// Who may upload for which employer. An uploader is known by a bearer token or, behind
// nginx, by the client certificate nginx verified; either way it comes with the employers it
// may upload for, each a registration (11 letters or digits) or an RFC (12 or 13 letters,
// digits or '&').
//
// The token file: one token a line, `HASH EMPLOYER...`, HASH the token's SHA-256 in
// lower-case hex, '#' starting a comment. It is read again whenever it changes, so tokens
// added while the server runs count at once. The tokens themselves are never stored.
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
  std::string identity;                // "token:<first 12 hex of its hash>", "cert:<CN>"
  std::vector<std::string> employers;  // registrations and RFCs

  // Whether it may upload a file of employer `registration` whose RFC is `rfc`.
  bool MayUpload(std::string_view registration, std::string_view rfc) const;
  // Whether it may upload for `registration` whatever the file's RFC turns out to be; when
  // not, only an RFC it names can still entitle it.
  bool NamesRegistration(std::string_view registration) const;
  bool NamesAnRfc() const;
};

// Whether `text` is a registration or an RFC.
bool IsEmployer(std::string_view text);

// The uploader a client certificate's subject names (as nginx gives it, RFC 2253: CN=...,
// O=...): its CN, when that is a registration or an RFC.
std::optional<Uploader> CertificateUploader(std::string_view subject);

class TokenFile {
 public:
  // No file: no tokens.
  explicit TokenFile(std::optional<std::filesystem::path> file);

  // The uploader holding `token`, if any.
  std::optional<Uploader> Find(std::string_view token);

  // Makes a new token for `employers`, adds its hash to `file` (created 0640 when missing)
  // and returns it. Throws std::runtime_error when an employer is neither a registration
  // nor an RFC, or the file cannot be written.
  static std::string Add(const std::filesystem::path& file,
                         const std::vector<std::string>& employers);

 private:
  void ReloadIfChanged();

  std::optional<std::filesystem::path> file_;
  std::mutex mutex_;
  std::string stamp_;  // what the file looked like when read: inode, size, time
  std::map<std::string, std::vector<std::string>> employers_by_hash_;
};

}  // namespace zavserve
