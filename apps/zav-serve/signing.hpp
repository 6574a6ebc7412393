// The server's receipt key and the signing of receipts (the form signed: receipt/receipt.hpp).
//
// The key file (--receipt-key, default receipt-key.pem in the folder that holds the upload
// folder) is an Ed25519 private key in PEM (PKCS #8, as `openssl genpkey -algorithm ed25519`
// writes it). When it is missing at start it is made: written to a new file of mode 0600
// created with O_EXCL beside it, flushed, then given its name with link(), which never
// replaces a file, so two servers starting at once end up with the one key that was linked
// first. An existing file is never written. A file its group or others may read, or that is
// not a regular file, is refused: the key is what makes receipts true. Replicas that share
// one store share the key: copy the same file to each (mode 0600, the server's user).
#pragma once

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

namespace zavserve {

class ReceiptSigner {
 public:
  // Loads the key of `file`, making it first when missing. Throws std::runtime_error saying
  // why it cannot.
  static ReceiptSigner FromKeyFile(const std::filesystem::path& file);

  ReceiptSigner(ReceiptSigner&&) noexcept;
  ReceiptSigner& operator=(ReceiptSigner&&) noexcept;
  ~ReceiptSigner();

  const std::string& key_id() const { return key_id_; }

  // Adds signed_fields, field_sha256, key_id and signature to `receipt`.
  void Sign(nlohmann::ordered_json& receipt) const;

  // The answer of GET /api/receipt-key: {algorithm, key_id, public_key (base64 of the raw
  // 32 bytes), pem}.
  nlohmann::ordered_json PublicKeyAnswer() const;

 private:
  struct Key;
  explicit ReceiptSigner(std::unique_ptr<Key> key);

  std::unique_ptr<Key> key_;
  std::string raw_public_;
  std::string key_id_;
};

// The default key file of the upload folder `uploads`: receipt-key.pem beside it.
std::filesystem::path DefaultReceiptKey(const std::filesystem::path& uploads);

// A receipt number no other receipt has, of this server or another replica: the UTC time to
// the second and 64 random bits, YYYYMMDDTHHMMSSZ-XXXXXXXXXXXXXXXX (hex digits upper case).
// Throws std::runtime_error when the random source fails.
std::string NewReceiptNumber();

}  // namespace zavserve
