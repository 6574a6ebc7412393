// SHA-256 (OpenSSL's), as the server uses it: for token hashes and for the receipts.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zavserve {

// Lower-case hex of the SHA-256 of `bytes`.
std::string Sha256Hex(std::string_view bytes);

// The same of a file's bytes; throws std::runtime_error when it cannot be read.
std::string FileSha256(const std::filesystem::path& file);

// Lower-case hex of `n` bytes.
std::string Hex(const unsigned char* bytes, std::size_t n);

}  // namespace zavserve
