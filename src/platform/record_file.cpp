#include "platform/record_file.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "basic/conversions.hpp"
#include "basic/runtime_failure.hpp"
#include "platform/drives.hpp"
#include "platform/file_system.hpp"

namespace zav {

namespace fs = std::filesystem;

namespace {

// About 300 KB: few system calls for a long walk, and still within a core's own cache. In
// the browser every read of a picked file is a round trip to the browser's file service,
// costly whatever its size: about 4.8 MB there.
#ifdef __EMSCRIPTEN__
constexpr std::int64_t kBufferRecords = 16384;
#else
constexpr std::int64_t kBufferRecords = 1024;
#endif
constexpr std::int64_t kBufferSize = kBufferRecords * RecordFile::kRecordLength;
constexpr int kBadRecordNumber = 63;

std::error_code LastError() { return std::error_code(errno, std::generic_category()); }

std::int64_t OffsetOf(std::int32_t record) {
  if (record < 1) throw RuntimeFailure(kBadRecordNumber, "Bad record number");
  return (static_cast<std::int64_t>(record) - 1) * RecordFile::kRecordLength;
}

}  // namespace

void Prefault(char* buffer, std::size_t size) {
#ifdef MADV_POPULATE_WRITE
  constexpr std::uintptr_t kPage = 4096;
  const auto begin = (reinterpret_cast<std::uintptr_t>(buffer) + kPage - 1) & ~(kPage - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(buffer) + size) & ~(kPage - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
  (void)buffer;
  (void)size;
#endif
}

std::int32_t RecordCountOf(std::int64_t length) {
  return ToLong(RoundHalfEven(static_cast<double>(length) / RecordFile::kRecordLength));
}

RecordFile::RecordFile(std::string_view control_path, Mode mode) {
  Open(ResolvePath(control_path), mode);
}

RecordFile RecordFile::OpenNative(const fs::path& native_path, Mode mode) {
  RecordFile file;
  file.Open(native_path, mode);
  return file;
}

RecordFile::~RecordFile() {
  if (fd_ >= 0) ::close(fd_);
}

RecordFile::RecordFile(RecordFile&& other) noexcept { *this = std::move(other); }

RecordFile& RecordFile::operator=(RecordFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    writable_ = other.writable_;
    length_ = other.length_;
    buffer_ = std::move(other.buffer_);
    buffer_offset_ = other.buffer_offset_;
    buffer_length_ = std::exchange(other.buffer_length_, 0);
  }
  return *this;
}

void RecordFile::Open(const fs::path& native_path, Mode mode) {
  std::error_code ec;
  const fs::file_status st = fs::status(native_path, ec);
  const bool read_only =
      fs::exists(st) && (st.permissions() & fs::perms::owner_write) == fs::perms::none;
  int flags = O_CLOEXEC;
  if (mode == Mode::kRead || read_only) {
    flags |= O_RDONLY;
  } else {
    flags |= O_RDWR | (mode == Mode::kCreate ? O_CREAT : 0);
  }
  fd_ = ::open(native_path.c_str(), flags, 0644);
  if (fd_ < 0 && (flags & O_RDWR) != 0 && (errno == EACCES || errno == EROFS)) {
    fd_ = ::open(native_path.c_str(), O_RDONLY | O_CLOEXEC);  // open what can be opened
  }
  if (fd_ < 0) {
    const std::error_code error = LastError();
    const bool folder = fs::is_directory(native_path.parent_path(), ec);
    ThrowNativeError(error, folder ? err::kFileNotFound : err::kPathNotFound);
  }
  struct stat info {};
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw RuntimeFailure(err::kPathFileAccess);
  }
  writable_ = (::fcntl(fd_, F_GETFL) & O_ACCMODE) == O_RDWR;
  length_ = info.st_size;
  buffer_length_ = 0;
}

void RecordFile::Fill(std::int64_t offset) {
  // Made on the first read through it (not zeroed: reads fill it): a handle read only in
  // blocks never needs it.
  if (!buffer_) {
    buffer_.reset(new char[kBufferSize]);
    Prefault(buffer_.get(), kBufferSize);
  }
  buffer_offset_ = offset;
  buffer_length_ = 0;  // empty should the read fail
  buffer_length_ = ReadAt(offset, buffer_.get(), kBufferSize);
}

std::int64_t RecordFile::ReadAt(std::int64_t offset, char* out, std::int64_t size) {
  std::int64_t done = 0;
  while (done < size) {
    const ssize_t got = ::pread(fd_, out + done, static_cast<std::size_t>(size - done),
                                static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowNativeError(LastError(), err::kFileNotFound);
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

void RecordFile::Read(std::int32_t record, char* out) {
  if (fd_ < 0) throw RuntimeFailure(err::kBadFileName);
  const std::int64_t offset = OffsetOf(record);
  std::int64_t have = 0;
  if (offset < length_) {
    const bool buffered =
        offset >= buffer_offset_ && offset + kRecordLength <= buffer_offset_ + buffer_length_;
    if (!buffered) Fill(offset);
    have = std::clamp<std::int64_t>(buffer_offset_ + buffer_length_ - offset, 0, kRecordLength);
    std::memcpy(out, buffer_.get() + (offset - buffer_offset_), static_cast<std::size_t>(have));
  }
  std::memset(out + have, 0, static_cast<std::size_t>(kRecordLength - have));
}

void RecordFile::Read(std::int32_t record, std::string& out) {
  out.resize(kRecordLength);
  Read(record, out.data());
}

void RecordFile::ReadRecords(std::int32_t first, std::int32_t count, char* out) {
  if (fd_ < 0) throw RuntimeFailure(err::kBadFileName);
  const std::int64_t offset = OffsetOf(first);
  const std::int64_t size = static_cast<std::int64_t>(count) * kRecordLength;
  const std::int64_t have = offset < length_ ? ReadAt(offset, out, size) : 0;
  std::memset(out + have, 0, static_cast<std::size_t>(size - have));
}

void RecordFile::Write(std::int32_t record, std::string_view data) {
  if (fd_ < 0) throw RuntimeFailure(err::kBadFileName);
  const std::int64_t offset = OffsetOf(record);
  if (!writable_) throw RuntimeFailure(err::kPathFileAccess);
  char block[kRecordLength] = {};
  std::memcpy(block, data.data(), std::min<std::size_t>(data.size(), kRecordLength));
  std::int64_t done = 0;
  while (done < kRecordLength) {
    const ssize_t put = ::pwrite(fd_, block + done, static_cast<std::size_t>(kRecordLength - done),
                                 static_cast<off_t>(offset + done));
    if (put < 0) {
      if (errno == EINTR) continue;
      ThrowNativeError(LastError(), err::kFileNotFound);
    }
    done += put;
  }
  length_ = std::max(length_, offset + kRecordLength);
  if (offset < buffer_offset_ + buffer_length_ && offset + kRecordLength > buffer_offset_) {
    buffer_length_ = 0;  // the buffered window is stale
  }
}

void RecordFile::Close() {
  if (fd_ < 0) return;
  const int fd = std::exchange(fd_, -1);
  buffer_length_ = 0;
  if (::close(fd) != 0 && writable_) throw RuntimeFailure(err::kDeviceIo);
}

}  // namespace zav
