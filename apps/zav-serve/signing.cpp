#include "signing.hpp"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "receipt/receipt.hpp"

namespace zavserve {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

struct ReceiptSigner::Key {
  EVP_PKEY* pkey = nullptr;
  ~Key() { EVP_PKEY_free(pkey); }
};

namespace {

using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;

[[noreturn]] void Fail(const fs::path& file, const std::string& why) {
  throw std::runtime_error("the receipt key " + file.string() + " " + why);
}

bool WriteAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// A new key in its PEM text.
std::string NewKeyPem(const fs::path& file) {
  EVP_PKEY* made = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(made, EVP_PKEY_free);
  Bio bio(BIO_new(BIO_s_mem()), BIO_free);
  if (!key || !bio ||
      PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    Fail(file, "cannot be made: no Ed25519 key from OpenSSL");
  }
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

// Makes `file` with a new key unless it exists: written under a name of its own (0600,
// O_EXCL), flushed, then linked to `file`, which fails when another server linked first.
void MakeKeyFile(const fs::path& file) {
  std::string temp = file.native() + ".new-XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);  // O_EXCL, mode 0600
  if (fd < 0) Fail(file, std::string("cannot be made: ") + std::strerror(errno));
  const bool written = ::fchmod(fd, 0600) == 0 && WriteAll(fd, NewKeyPem(file)) && ::fsync(fd) == 0;
  ::close(fd);
  const bool linked = written && ::link(temp.c_str(), file.c_str()) == 0;
  const int error = errno;
  ::unlink(temp.c_str());
  if (!written) Fail(file, "cannot be written");
  if (!linked && error != EEXIST)
    Fail(file, std::string("cannot be made: ") + std::strerror(error));
  const int folder = ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
}

// The PEM text of `file`, refused when it is not a regular file of this user's alone.
std::string ReadKeyFile(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) Fail(file, std::string("cannot be read: ") + std::strerror(errno));
  struct stat st {};
  std::string text;
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (regular && (st.st_mode & 077) == 0 && st.st_size < 16384) {
    char buffer[16384];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
      text.append(buffer, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);
  if (!regular) Fail(file, "is not a regular file");
  if ((st.st_mode & 077) != 0) {
    Fail(file,
         "may be read or written by its group or others: chmod 600 it (and since others "
         "may have read it, better make a new key)");
  }
  return text;
}

}  // namespace

ReceiptSigner::ReceiptSigner(std::unique_ptr<Key> key) : key_(std::move(key)) {
  raw_public_.assign(32, '\0');
  std::size_t length = raw_public_.size();
  EVP_PKEY_get_raw_public_key(key_->pkey, reinterpret_cast<unsigned char*>(raw_public_.data()),
                              &length);
  key_id_ = zav::receipt::KeyId(raw_public_);
}

ReceiptSigner::ReceiptSigner(ReceiptSigner&&) noexcept = default;
ReceiptSigner& ReceiptSigner::operator=(ReceiptSigner&&) noexcept = default;
ReceiptSigner::~ReceiptSigner() = default;

ReceiptSigner ReceiptSigner::FromKeyFile(const fs::path& file) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(file, ec))) MakeKeyFile(file);
  const std::string pem = ReadKeyFile(file);
  Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
  auto key = std::make_unique<Key>();
  if (bio) key->pkey = PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr);
  if (key->pkey == nullptr || EVP_PKEY_get_base_id(key->pkey) != EVP_PKEY_ED25519) {
    Fail(file, "holds no Ed25519 private key in PEM");
  }
  return ReceiptSigner(std::move(key));
}

void ReceiptSigner::Sign(json& receipt) const {
  zav::receipt::AddDigests(receipt, key_id_);
  const std::string message = zav::receipt::CanonicalText(receipt).value_or("");
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                  EVP_MD_CTX_free);
  unsigned char signature[64];
  std::size_t length = sizeof signature;
  if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_->pkey) != 1 ||
      EVP_DigestSign(context.get(), signature, &length,
                     reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1) {
    throw std::runtime_error("the receipt could not be signed");
  }
  receipt["signature"] =
      zav::receipt::Base64(std::string_view(reinterpret_cast<const char*>(signature), length));
}

json ReceiptSigner::PublicKeyAnswer() const {
  return {
      {"algorithm", zav::receipt::kAlgorithm},
      {"key_id", key_id_},
      {"public_key", zav::receipt::Base64(raw_public_)},
      {"pem", zav::receipt::PublicKeyPem(raw_public_)},
  };
}

fs::path DefaultReceiptKey(const fs::path& uploads) {
  fs::path folder = fs::absolute(uploads).lexically_normal();
  if (!folder.has_filename()) folder = folder.parent_path();  // "uploads/"
  return folder.parent_path() / "receipt-key.pem";
}

std::string NewReceiptNumber() {
  unsigned char random[8];
  if (RAND_bytes(random, sizeof random) != 1) {
    throw std::runtime_error("no random bytes for a receipt number");
  }
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char when[20];
  std::strftime(when, sizeof when, "%Y%m%dT%H%M%SZ", &utc);
  static const char digits[] = "0123456789ABCDEF";
  std::string number = std::string(when) + "-";
  for (const unsigned char b : random) {
    number += digits[b >> 4];
    number += digits[b & 15];
  }
  return number;
}

}  // namespace zavserve
