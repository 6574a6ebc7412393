#include "receipt/receipt.hpp"

#include <algorithm>
#include <memory>

#include "receipt/libcrypto.hpp"

namespace zav::receipt {

using json = nlohmann::ordered_json;

namespace {

const Libcrypto& C() { return LoadLibcrypto(); }

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kRawKeyBytes = 32;
constexpr std::size_t kSignatureBytes = 64;

const char* const kSignatureFields[] = {"signed_fields", "field_sha256", "key_id", "signature"};

int Sextet(char c) {
  const char* at = std::find(kAlphabet, kAlphabet + 64, c);
  return at == kAlphabet + 64 ? -1 : static_cast<int>(at - kAlphabet);
}

std::optional<std::string> RawOf(EVP_PKEY* key) {
  if (key == nullptr || C().EVP_PKEY_get_base_id(key) != EVP_PKEY_ED25519) return std::nullopt;
  std::string raw(kRawKeyBytes, '\0');
  std::size_t length = raw.size();
  if (C().EVP_PKEY_get_raw_public_key(key, reinterpret_cast<unsigned char*>(raw.data()), &length) !=
          1 ||
      length != kRawKeyBytes) {
    return std::nullopt;
  }
  return raw;
}

std::optional<PublicKey> FromRaw(std::string raw) {
  if (raw.size() != kRawKeyBytes) return std::nullopt;
  PublicKey key{std::move(raw), ""};
  key.key_id = KeyId(key.raw);
  return key;
}

std::optional<PublicKey> FromPem(std::string_view pem) {
  Bio bio(C().BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), C().BIO_free);
  if (!bio) return std::nullopt;
  Key key(C().PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr), C().EVP_PKEY_free);
  std::optional<std::string> raw = RawOf(key.get());
  return raw ? FromRaw(std::move(*raw)) : std::nullopt;
}

}  // namespace

std::string Sha256Hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (C().EVP_Digest(bytes.data(), bytes.size(), digest, &length, C().EVP_sha256(), nullptr) != 1) {
    return "";
  }
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text += digits[digest[i] >> 4];
    text += digits[digest[i] & 15];
  }
  return text;
}

std::string Base64(std::string_view bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      text += k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 63] : '=';
    }
  }
  return text;
}

std::optional<std::string> FromBase64(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    const int pad = !last || text[i + 3] != '=' ? 0 : text[i + 2] == '=' ? 2 : 1;
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const int v = k >= 4 - static_cast<std::size_t>(pad) ? 0 : Sextet(text[i + k]);
      if (v < 0) return std::nullopt;
      group = (group << 6) | static_cast<std::uint32_t>(v);
    }
    for (int k = 0; k < 3 - pad; ++k) bytes += static_cast<char>((group >> (16 - 8 * k)) & 255);
  }
  return bytes;
}

std::string KeyId(std::string_view raw_public_key) {
  return Sha256Hex(raw_public_key).substr(0, 16);
}

std::string FieldDigest(const std::string& name, const json& value) {
  return Sha256Hex(json::array({name, value}).dump(-1, ' ', false, json::error_handler_t::replace));
}

const std::vector<std::string>& SignedFieldNames() {
  static const std::vector<std::string> names = {
      "receipt_number",
      "archive",
      "registration",
      "rfc",
      "period",
      "folio",
      "workers",
      "amount_imss",
      "amount_rcv",
      "amount_infonavit_contribution",
      "amount_infonavit_amortization",
      "total",
      "capture_line",
      "server_date",
      "received",
      "payment_sha256",
      "archive_sha256",
      "uploader",
      "client",
  };
  return names;
}

bool IsSignatureField(std::string_view name) {
  return std::find(std::begin(kSignatureFields), std::end(kSignatureFields), name) !=
         std::end(kSignatureFields);
}

void AddDigests(json& receipt, const std::string& key_id) {
  json fields = json::array();
  json digests = json::object();
  for (const std::string& name : SignedFieldNames()) {
    if (!receipt.contains(name)) continue;
    fields.push_back(name);
    digests[name] = FieldDigest(name, receipt[name]);
  }
  receipt["signed_fields"] = std::move(fields);
  receipt["field_sha256"] = std::move(digests);
  receipt["key_id"] = key_id;
}

std::optional<std::string> CanonicalText(const json& receipt) {
  if (!receipt.is_object()) return std::nullopt;
  const auto fields = receipt.find("signed_fields");
  const auto digests = receipt.find("field_sha256");
  const auto key_id = receipt.find("key_id");
  if (fields == receipt.end() || !fields->is_array() || digests == receipt.end() ||
      !digests->is_object() || key_id == receipt.end() || !key_id->is_string()) {
    return std::nullopt;
  }
  json pairs = json::array();
  for (const json& name : *fields) {
    if (!name.is_string()) return std::nullopt;
    const auto digest = digests->find(name.get<std::string>());
    if (digest == digests->end() || !digest->is_string()) return std::nullopt;
    pairs.push_back(json::array({name, *digest}));
  }
  if (pairs.size() != digests->size()) return std::nullopt;  // a digest of no signed field
  return json::array({kFormat, *key_id, pairs})
      .dump(-1, ' ', false, json::error_handler_t::replace);
}

std::optional<PublicKey> ParsePublicKey(std::string_view text) {
  const json answer = json::parse(text, nullptr, false);
  if (answer.is_object()) {
    if (answer.value("algorithm", "") != kAlgorithm) return std::nullopt;
    if (answer.contains("public_key") && answer["public_key"].is_string()) {
      std::optional<std::string> raw = FromBase64(answer["public_key"].get<std::string>());
      return raw ? FromRaw(std::move(*raw)) : std::nullopt;
    }
    if (answer.contains("pem") && answer["pem"].is_string()) {
      return FromPem(answer["pem"].get<std::string>());
    }
    return std::nullopt;
  }
  return FromPem(text);
}

std::string PublicKeyPem(std::string_view raw_public_key) {
  Key key(C().EVP_PKEY_new_raw_public_key(
              EVP_PKEY_ED25519, nullptr,
              reinterpret_cast<const unsigned char*>(raw_public_key.data()), raw_public_key.size()),
          C().EVP_PKEY_free);
  Bio bio(C().BIO_new(C().BIO_s_mem()), C().BIO_free);
  if (!key || !bio || C().PEM_write_bio_PUBKEY(bio.get(), key.get()) != 1) return "";
  char* data = nullptr;
  const long length = C().BIO_ctrl(bio.get(), BIO_CTRL_INFO, 0, reinterpret_cast<char*>(&data));
  return std::string(data, static_cast<std::size_t>(length));
}

bool VerifySignature(std::string_view raw_public_key, std::string_view message,
                     std::string_view signature) {
  if (raw_public_key.size() != kRawKeyBytes || signature.size() != kSignatureBytes) return false;
  Key key(C().EVP_PKEY_new_raw_public_key(
              EVP_PKEY_ED25519, nullptr,
              reinterpret_cast<const unsigned char*>(raw_public_key.data()), raw_public_key.size()),
          C().EVP_PKEY_free);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(C().EVP_MD_CTX_new(),
                                                                  C().EVP_MD_CTX_free);
  if (!key || !context ||
      C().EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
    return false;
  }
  return C().EVP_DigestVerify(
             context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
             signature.size(), reinterpret_cast<const unsigned char*>(message.data()),
             message.size()) == 1;
}

Verdict Verify(const json& receipt, const PublicKey& key) {
  Verdict verdict;
  const std::optional<std::string> canonical = CanonicalText(receipt);
  if (!canonical || !receipt.contains("signature") || !receipt["signature"].is_string()) {
    verdict.problem =
        "it is not a signed receipt (signed_fields, field_sha256, key_id or "
        "signature is missing or malformed)";
    return verdict;
  }
  const std::string key_id = receipt["key_id"].get<std::string>();
  if (key_id != key.key_id) {
    verdict.problem =
        "it was signed by another key (key_id " + key_id + ", this key is " + key.key_id + ")";
    return verdict;
  }
  const std::optional<std::string> signature = FromBase64(receipt["signature"].get<std::string>());
  if (!signature || !VerifySignature(key.raw, *canonical, *signature)) {
    verdict.problem =
        "the signature does not match: the signature, signed_fields or "
        "field_sha256 were changed";
    return verdict;
  }
  // The signed digests are proven: each field present is held to its own.
  const json& digests = receipt["field_sha256"];
  for (const json& name : receipt["signed_fields"]) {
    const std::string field = name.get<std::string>();
    if (!receipt.contains(field)) {
      verdict.left_out.push_back(field);
    } else if (FieldDigest(field, receipt[field]) != digests[field].get<std::string>()) {
      verdict.changed.push_back(field);
    }
  }
  for (const auto& [field, value] : receipt.items()) {
    if (!IsSignatureField(field) && !digests.contains(field)) {
      verdict.unsigned_fields.push_back(field);
    }
  }
  verdict.valid = verdict.changed.empty() && verdict.unsigned_fields.empty();
  if (!verdict.changed.empty()) {
    verdict.problem = "a field does not match its signed digest";
  } else if (!verdict.unsigned_fields.empty()) {
    verdict.problem = "it holds a field that is not signed";
  }
  return verdict;
}

}  // namespace zav::receipt
