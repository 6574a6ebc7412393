// OpenSSL's cryptography library, loaded when a receipt is first checked. Only `zav receipt`
// checks receipts; linked directly, the library's start-up (a few milliseconds) would be
// paid by every run of every command.
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

namespace zav::receipt {

#define ZAV_LIBCRYPTO_FUNCTIONS(X) \
  X(BIO_ctrl)                      \
  X(BIO_free)                      \
  X(BIO_new)                       \
  X(BIO_new_mem_buf)               \
  X(BIO_s_mem)                     \
  X(EVP_Digest)                    \
  X(EVP_DigestVerify)              \
  X(EVP_DigestVerifyInit)          \
  X(EVP_MD_CTX_free)               \
  X(EVP_MD_CTX_new)                \
  X(EVP_PKEY_free)                 \
  X(EVP_PKEY_get_base_id)          \
  X(EVP_PKEY_get_raw_public_key)   \
  X(EVP_PKEY_new_raw_public_key)   \
  X(EVP_sha256)                    \
  X(PEM_read_bio_PUBKEY)           \
  X(PEM_write_bio_PUBKEY)

// The library's functions, under their own names: `crypto.EVP_Digest(...)`.
struct Libcrypto {
#define ZAV_LIBCRYPTO_MEMBER(name) decltype(&::name) name = nullptr;
  ZAV_LIBCRYPTO_FUNCTIONS(ZAV_LIBCRYPTO_MEMBER)
#undef ZAV_LIBCRYPTO_MEMBER
};

// The loaded library, once per process (safe from several threads); throws
// std::runtime_error saying why when it cannot be loaded.
const Libcrypto& LoadLibcrypto();

}  // namespace zav::receipt
