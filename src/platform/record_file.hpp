// A file of fixed 295-byte records, opened for random access, read and written by 1-based
// record number (record k is bytes 295(k-1) to 295k-1).
//
// - The record count is the length divided by 295, rounded to the nearest integer, an
//   exact half to the even neighbour: a last record short by up to 147 bytes still counts.
// - Reading past the end is not an error: the bytes beyond the end read as NUL (code 0),
//   so a short last record comes back padded with NULs to 295 bytes.
// - A record number below 1 is "bad record number" (63).
// - Reads go through one buffer of many records, made at the first read, so a sequential
//   walk over a large file costs one system call per buffer and allocates nothing per
//   record. ReadRecords reads many records at once into the caller's memory instead.
// - Opening: kRead and kReadWrite need an existing file (53; 76 when its folder is
//   missing) and never create one; kCreate creates an empty file when it is missing. A
//   read-only file opened for writing opens for reading only, and a write then fails (75).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace zav {

// The record count of a file of `length` bytes, rounded as above (an overflow, 6, past the
// 32-bit range).
std::int32_t RecordCountOf(std::int64_t length);

// Maps the pages of a fresh buffer in one go: taking their faults one by one as reads
// fill it costs more, on virtual machines most of all. Does nothing where the system
// cannot.
void Prefault(char* buffer, std::size_t size);

class RecordFile {
 public:
  static constexpr std::int32_t kRecordLength = 295;
  enum class Mode { kRead, kReadWrite, kCreate };

  // Opens a control path (resolved by platform/drives.hpp).
  RecordFile(std::string_view control_path, Mode mode);
  // Opens a native path.
  static RecordFile OpenNative(const std::filesystem::path& native_path, Mode mode);
  ~RecordFile();
  RecordFile(RecordFile&& other) noexcept;
  RecordFile& operator=(RecordFile&& other) noexcept;
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  bool is_open() const { return fd_ >= 0; }
  // False for a file opened for reading only (asked so, or read-only).
  bool writable() const { return writable_; }
  std::int64_t Length() const { return length_; }
  std::int32_t RecordCount() const { return RecordCountOf(length_); }

  // Record `record` into out[0..294].
  void Read(std::int32_t record, char* out);
  // Record `record` as a 295-character text; reuses out's storage.
  void Read(std::int32_t record, std::string& out);
  // Records first..first+count-1 into out[0..295*count-1], read straight into `out` (the
  // buffer is left as it was), past the end as NULs.
  void ReadRecords(std::int32_t first, std::int32_t count, char* out);

  // Writes `data` as record `record`: cut to 295 bytes, padded with NULs when shorter.
  void Write(std::int32_t record, std::string_view data);

  // Closes the file; a failure to close a written file is reported (57). Closing a closed
  // file does nothing.
  void Close();

 private:
  RecordFile() = default;
  void Open(const std::filesystem::path& native_path, Mode mode);
  void Fill(std::int64_t offset);
  // Reads up to `size` bytes from `offset` into out; answers how many there were.
  std::int64_t ReadAt(std::int64_t offset, char* out, std::int64_t size);

  int fd_ = -1;
  bool writable_ = false;
  std::int64_t length_ = 0;
  std::unique_ptr<char[]> buffer_;
  std::int64_t buffer_offset_ = 0;  // file offset of buffer_[0]
  std::int64_t buffer_length_ = 0;  // valid bytes in buffer_
};

}  // namespace zav
