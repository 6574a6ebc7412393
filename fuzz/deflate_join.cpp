// The deflate_join entry: deflate streams made to go on, against zlib's inflate and
// libdeflate's own streams.
#include "platform/deflate_join.hpp"

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "entries.hpp"
#include "platform/zip_library.hpp"
#include "support.hpp"

namespace zav::fuzz {

namespace {

// zlib's inflate of the raw deflate stream `in`: whether it ended well, and what it gave
// (up to 64 MiB).
std::pair<bool, std::string> Inflate(std::string_view in) {
  z_stream s{};
  if (inflateInit2(&s, -MAX_WBITS) != Z_OK) Broken("zlib's inflate would not start");
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  s.avail_in = static_cast<uInt>(in.size());
  std::string out;
  int ret = Z_OK;
  char buffer[1 << 15];
  while (ret == Z_OK && out.size() < (std::size_t{64} << 20)) {
    s.next_out = reinterpret_cast<Bytef*>(buffer);
    s.avail_out = sizeof buffer;
    ret = inflate(&s, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - s.avail_out);
    if (ret == Z_BUF_ERROR && s.avail_out != 0) break;  // the stream was cut short
    if (ret == Z_BUF_ERROR) ret = Z_OK;
  }
  inflateEnd(&s);
  return {ret == Z_STREAM_END, out};
}

}  // namespace

void DeflateJoinInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  if (in.empty()) return;
  const auto options = static_cast<std::uint8_t>(Take(in, 1)[0]);
  constexpr char kEmptyFinalBlock[] = {0x03, 0x00};
  if ((options & 1) == 0) {
    std::string stream(in);
    stream.resize(in.size() + kGoOnRoom, '\xA5');
    const std::size_t length =
        MakeDeflateGoOn(reinterpret_cast<std::uint8_t*>(stream.data()), in.size());
    if (length == 0) {
      if (std::string_view(stream).substr(0, in.size()) != in) Broken("a refused stream changed");
      return;
    }
    if (length > in.size() + kGoOnRoom) Broken("the stream went on past its room");
    stream.resize(length);
    stream.append(kEmptyFinalBlock, sizeof kEmptyFinalBlock);
    if (Inflate(in) != Inflate(stream)) Broken("the stream inflates otherwise once it goes on");
    return;
  }
  const Libdeflate* libdeflate = LoadLibdeflate();
  if (libdeflate == nullptr) Broken("libdeflate cannot be loaded");
  libdeflate_compressor* compressor =
      libdeflate->libdeflate_alloc_compressor(1 + (options >> 1) % 12);
  if (compressor == nullptr) Broken("libdeflate would not start");
  const std::size_t bound = libdeflate->libdeflate_deflate_compress_bound(compressor, in.size());
  std::string joined(2 * bound + kGoOnRoom, '\0');
  auto* out = reinterpret_cast<std::uint8_t*>(joined.data());
  std::size_t first =
      libdeflate->libdeflate_deflate_compress(compressor, in.data(), in.size(), out, bound);
  first = first != 0 ? MakeDeflateGoOn(out, first) : 0;
  if (first == 0) Broken("a stream of libdeflate was refused");
  const std::size_t second = libdeflate->libdeflate_deflate_compress(
      compressor, in.data(), in.size(), out + first, joined.size() - first);
  libdeflate->libdeflate_free_compressor(compressor);
  if (second == 0) Broken("libdeflate failed");
  joined.resize(first + second);
  const auto [ended, bytes] = Inflate(joined);
  if (!ended || bytes != std::string(in) + std::string(in)) Broken("joined streams lost bytes");
}

}  // namespace zav::fuzz
