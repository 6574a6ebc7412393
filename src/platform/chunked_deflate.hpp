// A file's raw deflate stream (no zlib or gzip wrapper), made on several threads at once
// and handed out in order, piece by piece, with the file's CRC-32 at the end.
//
// With more than one thread the file is cut into chunks of kChunkSize bytes, each deflated
// on its own by libdeflate, and every chunk but the last is made to go on
// (platform/deflate_join.hpp): the chunks laid end to end are one valid deflate stream,
// and the CRC-32s of the chunks combine into the file's. A chunk is read, deflated and
// handed out while the next ones are already being deflated, and only a few chunks are in
// flight at once (at most ten, whatever the threads), so memory stays bounded whatever the
// file's size.
//
// With one thread, a file of one chunk or without libdeflate, the file goes through a
// single zlib stream, read and deflated as the output is asked for, with no other thread:
// the same bytes as the zip library's own deflate at the same level (memory level 9, as it
// uses).
//
// A read that fails or comes up short (the file shrank), or a failure of the deflate
// library, throws RuntimeFailure(err::kDeviceIO) from Read; Read may be called again
// after that and throws again. The destructor stops and joins every thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zav {

struct Zlib;

class ChunkedDeflate {
 public:
  static constexpr std::size_t kChunkSize = 512 * 1024;

  // Deflates the first `size` bytes of the open file `fd` (read with pread; the caller
  // keeps it open until this object is gone) at `level` on `threads` threads (at least 1).
  ChunkedDeflate(const Zlib& zlib, int fd, std::uint64_t size, int level, int threads);
  ~ChunkedDeflate();
  ChunkedDeflate(const ChunkedDeflate&) = delete;
  ChunkedDeflate& operator=(const ChunkedDeflate&) = delete;

  // Copies up to `capacity` further bytes of the stream into `out`; 0 once it has all been
  // handed out.
  std::size_t Read(unsigned char* out, std::size_t capacity);

  // Once Read has answered 0: the CRC-32 of the file's bytes and the stream's length.
  std::uint32_t crc() const;
  std::uint64_t compressed_size() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// The threads worth using for packing on this machine: one per core.
int PackingThreads();

// The deflate level archives are packed at, for this process: 1 (fastest) to 12
// (smallest); one thread (zlib) packs at most at 9. Set once, before packing.
inline constexpr int kDefaultPackingLevel = 6;
inline constexpr int kMaxPackingLevel = 12;
int PackingLevel();
void SetPackingLevel(int level);

}  // namespace zav
