// The packer of a picked payment file, on the page's spare threads (web/pack-worker.js).
//
// The file is deflated in parts of a few MiB, each on its own, by libdeflate. Every part
// but the file's last is then made to go on: the final-block flag of its last block is
// cleared and an empty stored block ends it on a byte boundary. The parts, put one after
// the other, are then one deflate stream, which the zip entry takes as it is, with the
// CRC-32 of the file combined from the parts' own (web/worker.js).
//
// C entry points, for the worker:
//   zav_pack_bound(size)         room the deflated form of `size` bytes can need
//   zav_pack_part(in, size, out, room, level, last)
//                                deflates `size` bytes at `in` into `out`: the length
//                                written, or 0 when it could not be done
//   zav_pack_crc32(crc, in, size)  the CRC-32 `crc` goes on to over the bytes

#include <emscripten/emscripten.h>
#include <libdeflate.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/deflate_join.hpp"

namespace {

// One compressor per level, kept for the worker's life.
libdeflate_compressor* Compressor(int level) {
  static std::array<libdeflate_compressor*, 13> compressors{};
  if (level < 1 || level > 12) return nullptr;
  if (!compressors[level]) compressors[level] = libdeflate_alloc_compressor(level);
  return compressors[level];
}

constexpr size_t kEndingRoom = zav::kGoOnRoom;

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE size_t zav_pack_bound(size_t size) {
  return libdeflate_deflate_compress_bound(nullptr, size) + kEndingRoom;
}

EMSCRIPTEN_KEEPALIVE size_t zav_pack_part(const uint8_t* in, size_t size, uint8_t* out, size_t room,
                                          int level, int last) {
  libdeflate_compressor* compressor = Compressor(level);
  if (!compressor || room < kEndingRoom) return 0;
  const size_t written = libdeflate_deflate_compress(compressor, in, size, out, room - kEndingRoom);
  if (written == 0 || last) return written;
  return zav::MakeDeflateGoOn(out, written);
}

EMSCRIPTEN_KEEPALIVE uint32_t zav_pack_crc32(uint32_t crc, const uint8_t* in, size_t size) {
  return libdeflate_crc32(crc, in, size);
}

}  // extern "C"
