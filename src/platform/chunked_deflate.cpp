#include "platform/chunked_deflate.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "basic/runtime_failure.hpp"
#include "platform/deflate_join.hpp"
#include "platform/zip_library.hpp"

namespace zav {

namespace {

constexpr int kMemoryLevel = 9;  // the zip library's own
// Chunks in flight at most, whatever the threads: the memory they take stays bounded.
constexpr std::size_t kMaxSlots = 10;

// Reads exactly `length` bytes at `offset`; false when the file ends first or fails.
bool ReadFully(int fd, unsigned char* into, std::size_t length, std::uint64_t offset) {
  while (length > 0) {
    const ssize_t got = pread(fd, into, length, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    into += got;
    length -= static_cast<std::size_t>(got);
    offset += static_cast<std::uint64_t>(got);
  }
  return true;
}

[[noreturn]] void Fail(const char* why) {
  throw RuntimeFailure(err::kDeviceIo, std::string("Device I/O error: ") + why);
}

// One raw deflate stream of the library, ended with it.
class Deflater {
 public:
  Deflater(const Zlib& zlib, int level) : zlib_(zlib) {
    ok_ = zlib.deflateInit2_(&stream_, level, Z_DEFLATED, -MAX_WBITS, kMemoryLevel,
                             Z_DEFAULT_STRATEGY, ZLIB_VERSION,
                             static_cast<int>(sizeof(z_stream))) == Z_OK;
  }
  ~Deflater() {
    if (ok_) zlib_.deflateEnd(&stream_);
  }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  bool ok() const { return ok_; }
  z_stream& stream() { return stream_; }

 private:
  const Zlib& zlib_;
  z_stream stream_{};
  bool ok_ = false;
};

}  // namespace

class ChunkedDeflate::Impl {
 public:
  Impl(const Zlib& zlib, int fd, std::uint64_t size, int level, int threads)
      : zlib_(zlib),
        libdeflate_(threads > 1 ? LoadLibdeflate() : nullptr),
        fd_(fd),
        size_(size),
        level_(level),
        crc_(zlib.crc32(0, nullptr, 0)) {
    if (libdeflate_ != nullptr) StartWorkers(threads);
    if (workers_.empty()) {
      single_ = std::make_unique<Deflater>(zlib, std::min(level, 9));  // zlib's highest
      if (!single_->ok()) Fail("the deflate library would not start");
      input_.resize(kChunkSize);
    }
  }

  ~Impl() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : workers_) t.join();
  }

  std::size_t Read(unsigned char* out, std::size_t capacity) {
    return workers_.empty() ? ReadSingle(out, capacity) : ReadChunks(out, capacity);
  }

  std::uint32_t crc() const { return static_cast<std::uint32_t>(crc_); }
  std::uint64_t compressed_size() const { return compressed_; }

 private:
  // A chunk in flight: its bytes and their deflated form.
  struct Slot {
    std::vector<unsigned char> input;
    std::vector<unsigned char> output;
    std::size_t output_length = 0;
    std::size_t length = 0;  // of the input
    uLong crc = 0;
    std::uint64_t done = UINT64_MAX;  // the chunk whose output is ready here
  };

  std::uint64_t ChunkCount() const {
    return std::max<std::uint64_t>(1, (size_ + kChunkSize - 1) / kChunkSize);
  }

  // ---- one thread: a single stream ----

  std::size_t ReadSingle(unsigned char* out, std::size_t capacity) {
    if (failed_) Fail("the file could not be read");
    z_stream& s = single_->stream();
    s.next_out = out;
    s.avail_out = static_cast<uInt>(std::min<std::size_t>(capacity, UINT32_MAX));
    const uInt asked = s.avail_out;
    while (!finished_ && s.avail_out > 0) {
      if (s.avail_in == 0 && offset_ < size_) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(input_.size(), size_ - offset_));
        if (!ReadFully(fd_, input_.data(), n, offset_)) {
          failed_ = true;
          Fail("the file could not be read");
        }
        crc_ = zlib_.crc32(crc_, input_.data(), static_cast<uInt>(n));
        offset_ += n;
        s.next_in = input_.data();
        s.avail_in = static_cast<uInt>(n);
      }
      const int ret = zlib_.deflate(&s, offset_ == size_ ? Z_FINISH : Z_NO_FLUSH);
      if (ret == Z_STREAM_END) {
        finished_ = true;
      } else if (ret != Z_OK && ret != Z_BUF_ERROR) {
        failed_ = true;
        Fail("the deflate library failed");
      }
    }
    const std::size_t produced = asked - s.avail_out;
    compressed_ += produced;
    return produced;
  }

  // ---- several threads: chunks ----

  void StartWorkers(int threads) {
    const std::uint64_t chunks = ChunkCount();
    const std::size_t wanted = static_cast<std::size_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(threads), chunks));
    if (wanted < 2) return;  // one chunk: nothing to share out
    slots_.resize(std::min(2 * wanted + 2, kMaxSlots));
    for (std::size_t k = 0; k < std::min(wanted, kMaxSlots - 2); ++k) {
      try {
        workers_.emplace_back([this] { Work(); });
      } catch (const std::system_error&) {
        break;  // fewer threads than asked; none: the single stream
      }
    }
  }

  void Work() {
    libdeflate_compressor* compressor = libdeflate_->libdeflate_alloc_compressor(level_);
    std::unique_lock lock(mutex_);
    if (compressor == nullptr) {
      failed_ = true;
      changed_.notify_all();
      return;
    }
    for (;;) {
      changed_.wait(lock, [this] {
        return stop_ || failed_ || next_to_take_ >= ChunkCount() ||
               next_to_take_ < next_to_hand_ + slots_.size();
      });
      if (stop_ || failed_ || next_to_take_ >= ChunkCount()) break;
      const std::uint64_t k = next_to_take_++;
      Slot& slot = slots_[k % slots_.size()];
      lock.unlock();
      const bool ok = Deflate(compressor, k, slot);
      lock.lock();
      if (ok) {
        slot.done = k;
      } else {
        failed_ = true;
      }
      changed_.notify_all();
    }
    lock.unlock();
    libdeflate_->libdeflate_free_compressor(compressor);
  }

  // Deflates chunk `k` into `slot`, outside the lock: a whole deflate stream of its own,
  // made to go on (platform/deflate_join.hpp) unless it is the file's last.
  bool Deflate(libdeflate_compressor* compressor, std::uint64_t k, Slot& slot) {
    const std::uint64_t start = k * kChunkSize;
    const std::size_t length =
        static_cast<std::size_t>(std::min<std::uint64_t>(kChunkSize, size_ - start));
    const bool last = k + 1 == ChunkCount();
    try {
      slot.input.resize(kChunkSize);
      slot.output.resize(libdeflate_->libdeflate_deflate_compress_bound(compressor, kChunkSize) +
                         kGoOnRoom);
    } catch (const std::bad_alloc&) {
      return false;
    }
    if (!ReadFully(fd_, slot.input.data(), length, start)) return false;
    std::size_t written = libdeflate_->libdeflate_deflate_compress(
        compressor, slot.input.data(), length, slot.output.data(), slot.output.size() - kGoOnRoom);
    if (written != 0 && !last) written = MakeDeflateGoOn(slot.output.data(), written);
    if (written == 0) return false;
    slot.output_length = written;
    slot.length = length;
    slot.crc = libdeflate_->libdeflate_crc32(0, slot.input.data(), length);
    return true;
  }

  std::size_t ReadChunks(unsigned char* out, std::size_t capacity) {
    std::unique_lock lock(mutex_);
    if (next_to_hand_ >= ChunkCount()) return 0;
    Slot& slot = slots_[next_to_hand_ % slots_.size()];
    changed_.wait(lock, [&] { return failed_ || slot.done == next_to_hand_; });
    if (failed_) Fail("the file could not be read or deflated");
    const std::size_t n = std::min(capacity, slot.output_length - handed_);
    std::memcpy(out, slot.output.data() + handed_, n);
    handed_ += n;
    compressed_ += n;
    if (handed_ == slot.output_length) {
      crc_ = zlib_.crc32_combine(crc_, slot.crc, static_cast<z_off_t>(slot.length));
      handed_ = 0;
      ++next_to_hand_;
      changed_.notify_all();
    }
    return n;
  }

  const Zlib& zlib_;
  const Libdeflate* const libdeflate_;  // several threads only
  const int fd_;
  const std::uint64_t size_;
  const int level_;
  uLong crc_;
  std::uint64_t compressed_ = 0;
  bool failed_ = false;

  // One thread.
  std::unique_ptr<Deflater> single_;
  std::vector<unsigned char> input_;
  std::uint64_t offset_ = 0;
  bool finished_ = false;

  // Several threads. The mutex guards the counters, the flags and which slot holds what.
  std::vector<Slot> slots_;
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t next_to_take_ = 0;
  std::uint64_t next_to_hand_ = 0;
  std::size_t handed_ = 0;  // of the chunk being handed out
  bool stop_ = false;
};

ChunkedDeflate::ChunkedDeflate(const Zlib& zlib, int fd, std::uint64_t size, int level, int threads)
    : impl_(std::make_unique<Impl>(zlib, fd, size, level, threads)) {}

ChunkedDeflate::~ChunkedDeflate() = default;

std::size_t ChunkedDeflate::Read(unsigned char* out, std::size_t capacity) {
  return impl_->Read(out, capacity);
}

std::uint32_t ChunkedDeflate::crc() const { return impl_->crc(); }
std::uint64_t ChunkedDeflate::compressed_size() const { return impl_->compressed_size(); }

namespace {
std::atomic<int> packing_level{kDefaultPackingLevel};
}  // namespace

int PackingLevel() { return packing_level.load(std::memory_order_relaxed); }

void SetPackingLevel(int level) {
  packing_level.store(std::clamp(level, 1, kMaxPackingLevel), std::memory_order_relaxed);
}

int PackingThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(std::min(cores, 64u));
}

}  // namespace zav
