#include "digest.hpp"

#include <openssl/evp.h>

#include <fstream>
#include <memory>
#include <stdexcept>

namespace zavserve {

namespace {

using Context = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

Context Start() {
  Context context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("SHA-256 is not available");
  }
  return context;
}

std::string Finish(const Context& context) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) {
    throw std::runtime_error("SHA-256 failed");
  }
  return Hex(digest, length);
}

}  // namespace

std::string Hex(const unsigned char* bytes, std::size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * n);
  for (std::size_t i = 0; i < n; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

std::string Sha256Hex(std::string_view bytes) {
  const Context context = Start();
  EVP_DigestUpdate(context.get(), bytes.data(), bytes.size());
  return Finish(context);
}

std::string FileSha256(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  const Context context = Start();
  char buffer[1 << 16];
  while (in) {
    in.read(buffer, sizeof buffer);
    EVP_DigestUpdate(context.get(), buffer, static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) throw std::runtime_error("cannot read " + file.string());
  return Finish(context);
}

}  // namespace zavserve
