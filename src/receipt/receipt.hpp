// Signed receipts of the upload server, and their verification offline (zav receipt verify).
//
// A receipt is a JSON object of fields (archive, rfc, total, ...) and four of its own:
//   signed_fields  the names of the signed fields, in the order they are signed
//   field_sha256   for each, the lower-case hex SHA-256 of the compact JSON text of the
//                  pair [NAME, VALUE], as ["total","1234.56"]
//   key_id         the signing key's id: the first 16 hex digits of the SHA-256 of its raw
//                  32-byte public key
//   signature      base64 of the Ed25519 signature of the canonical text below
// The canonical text is the compact JSON (no blanks, UTF-8) of
//   ["zav-receipt-1", KEY_ID, [[NAME, SHA256], ...]]   in the order of signed_fields.
// It holds only ASCII names and hex digests, so every JSON writer writes it alike; the
// values enter through their digests. Values are strings and whole numbers only (amounts are
// decimal strings), whose compact JSON is the same from any writer that keeps UTF-8 as it
// is. Because each field has a signed digest of its own, a checker whose signature holds can
// say which field was changed: the one whose value no longer has its digest.
//
// The signature proves the canonical text; a field present with its digest is proven; a
// signed field that is absent was left out (the server leaves out who uploaded and from
// where when it answers someone else); a field that is not signed is not proven, and the
// receipt is not taken as valid while it holds one.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zav::receipt {

inline constexpr char kFormat[] = "zav-receipt-1";
inline constexpr char kAlgorithm[] = "Ed25519";

// Lower-case hex SHA-256 of `bytes`.
std::string Sha256Hex(std::string_view bytes);

std::string Base64(std::string_view bytes);
// Nothing when `text` is not base64 (standard alphabet, padded).
std::optional<std::string> FromBase64(std::string_view text);

// The key id of a raw 32-byte Ed25519 public key.
std::string KeyId(std::string_view raw_public_key);

// The digest of one field, SHA-256 of the compact JSON of [name, value].
std::string FieldDigest(const std::string& name, const nlohmann::ordered_json& value);

// The canonical text that is signed, from the receipt's signed_fields, field_sha256 and
// key_id; nothing when they are missing or malformed.
std::optional<std::string> CanonicalText(const nlohmann::ordered_json& receipt);

// The fields every receipt of the server signs, in their order.
const std::vector<std::string>& SignedFieldNames();

// Adds signed_fields (those of SignedFieldNames the receipt holds), field_sha256 and key_id
// to `receipt`: what is left to sign is CanonicalText(receipt).
void AddDigests(nlohmann::ordered_json& receipt, const std::string& key_id);

// The four fields of the signature itself.
bool IsSignatureField(std::string_view name);

// A public key to check receipts with.
struct PublicKey {
  std::string raw;  // 32 bytes
  std::string key_id;
};

// The key in `text`: the JSON answer of GET /api/receipt-key (its public_key, or its pem)
// or a PEM public key ("-----BEGIN PUBLIC KEY-----"). Nothing when it holds no Ed25519 key.
std::optional<PublicKey> ParsePublicKey(std::string_view text);

// The PEM text (SubjectPublicKeyInfo) of a raw 32-byte Ed25519 public key.
std::string PublicKeyPem(std::string_view raw_public_key);

// Whether `signature` is an Ed25519 signature of `message` by `raw_public_key`.
bool VerifySignature(std::string_view raw_public_key, std::string_view message,
                     std::string_view signature);

struct Verdict {
  bool valid = false;
  std::string problem;                       // why not, for the receipt as a whole
  std::vector<std::string> changed;          // signed fields whose value no longer matches
  std::vector<std::string> unsigned_fields;  // present but not signed
  std::vector<std::string> left_out;         // signed but absent (does not spoil it)
};

// Checks `receipt` against `key`.
Verdict Verify(const nlohmann::ordered_json& receipt, const PublicKey& key);

}  // namespace zav::receipt
