#include "platform/chunked_deflate.hpp"

#include <gtest/gtest.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "platform/dzip.hpp"
#include "platform/temp_drives.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;
using testing::ReadAll;

constexpr std::size_t kChunk = ChunkedDeflate::kChunkSize;

// Payment-file-like bytes: repeated record text with random digits, so that matches reach
// back across chunk boundaries.
std::string Content(std::size_t size) {
  std::mt19937 random(static_cast<unsigned>(size));
  std::string s;
  s.reserve(size);
  while (s.size() < size) {
    s += "03A1234567890XAXX010101ABC";
    for (int k = 0; k < 40; ++k) s += static_cast<char>('0' + random() % 10);
    s += "JUAN PEREZ LOPEZ                              \r\n";
  }
  s.resize(size);
  return s;
}

// The archive's one entry: its bytes and the CRC-32 its directory gives.
std::pair<std::string, std::uint32_t> Entry(const fs::path& archive) {
  int error = 0;
  zip_t* za = zip_open(archive.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
  if (za == nullptr) return {"cannot open: " + std::to_string(error), 0};
  EXPECT_EQ(zip_get_num_entries(za, 0), 1);
  zip_stat_t st;
  zip_stat_index(za, 0, 0, &st);
  EXPECT_EQ(st.comp_method, ZIP_CM_DEFLATE);
  std::string bytes(st.size, '\0');
  zip_file_t* f = zip_fopen_index(za, 0, 0);
  EXPECT_EQ(zip_fread(f, bytes.data(), bytes.size()), static_cast<zip_int64_t>(bytes.size()));
  char extra;
  EXPECT_EQ(zip_fread(f, &extra, 1), 0);  // the whole stream checked, its CRC included
  zip_fclose(f);
  zip_discard(za);
  // zlib's own inflate of the entry's deflate stream gives the same bytes and ends with it.
  // The stream is taken from the archive's bytes, after the entry's local header at its
  // start: the zip library gives no raw stream for an empty entry (libzip 1.11 reads 0 bytes
  // of its 2), and the empty file's stream must be whole too.
  const std::string archive_bytes = ReadAll(archive);
  const auto le16 = [&](std::size_t at) {
    return static_cast<std::size_t>(static_cast<unsigned char>(archive_bytes[at]) |
                                    static_cast<unsigned char>(archive_bytes[at + 1]) << 8);
  };
  if (archive_bytes.size() < 30 || archive_bytes.substr(0, 4) != "PK\3\4") {
    ADD_FAILURE() << "no local header at the archive's start";
    return {bytes, st.crc};
  }
  const std::size_t data = 30 + le16(26) + le16(28);  // after the name and the extra field
  EXPECT_LE(data + st.comp_size, archive_bytes.size());
  std::string packed = archive_bytes.substr(std::min(data, archive_bytes.size()), st.comp_size);
  EXPECT_EQ(packed.size(), st.comp_size);
  z_stream s{};
  EXPECT_EQ(inflateInit2(&s, -MAX_WBITS), Z_OK);
  std::string inflated(st.size + 1, '\0');
  s.next_in = reinterpret_cast<Bytef*>(packed.data());
  s.avail_in = static_cast<uInt>(packed.size());
  s.next_out = reinterpret_cast<Bytef*>(inflated.data());
  s.avail_out = static_cast<uInt>(inflated.size());
  EXPECT_EQ(inflate(&s, Z_FINISH), Z_STREAM_END);
  EXPECT_EQ(s.avail_in, 0u);
  inflated.resize(inflated.size() - s.avail_out);
  inflateEnd(&s);
  EXPECT_TRUE(inflated == bytes);
  return {bytes, st.crc};
}

// The zip library's own archive of `file`, deflated by it at level 6.
void LibraryArchive(const fs::path& archive, const fs::path& file, const std::string& name) {
  int error = 0;
  zip_t* za = zip_open(archive.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(za, nullptr);
  const zip_int64_t index =
      zip_file_add(za, name.c_str(), zip_source_file(za, file.c_str(), 0, 0), ZIP_FL_ENC_UTF_8);
  ASSERT_EQ(zip_set_file_compression(za, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 6), 0);
  ASSERT_EQ(zip_close(za), 0);
}

// Sizes around every chunk boundary, on one thread and on several: the entry holds the
// file's bytes with the file's CRC-32, in an archive other tools accept; on one thread the
// archive is the zip library's own, byte for byte.
TEST(ChunkedDeflate, ArchiveHoldsTheFileAtEveryChunkBoundary) {
  testing::TempDrives drives;
  const fs::path folder = drives.root('C');
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, kChunk - 1, kChunk, kChunk + 1,
                                 3 * kChunk, 3 * kChunk + 1, 5 * kChunk + 4321}) {
    const std::string content = Content(size);
    const fs::path file = folder / "PAGO.ZAV";
    { std::ofstream(file, std::ios::binary) << content; }
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(size)));
    for (const int threads : {1, 2, 3}) {
      SCOPED_TRACE("size " + std::to_string(size) + ", threads " + std::to_string(threads));
      const fs::path archive = folder / "PAGO.zip";
      ASSERT_EQ(WriteZipArchive(archive, file, "PAGO.ZAV", threads), 0);
      const auto [bytes, entry_crc] = Entry(archive);
      EXPECT_TRUE(bytes == content);
      EXPECT_EQ(entry_crc, crc);
      if (threads == 1) {
        LibraryArchive(folder / "library.zip", file, "PAGO.ZAV");
        EXPECT_TRUE(ReadAll(archive) == ReadAll(folder / "library.zip"));
      }
      if (size > 2 * kChunk) {
        const std::string tools =
            "unzip -tq '" + archive.native() +
            "' >/dev/null && python3 -c 'import sys, zipfile; "
            "sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)' '" +
            archive.native() + "'";
        EXPECT_EQ(std::system(tools.c_str()), 0);
      }
    }
  }
}

// Every level gives an archive holding the file; on several threads and on one (where zlib
// takes at most its 9), a higher level never gives a larger archive here.
TEST(ChunkedDeflate, EveryLevelHoldsTheFileAndHigherIsSmaller) {
  testing::TempDrives drives;
  const fs::path folder = drives.root('C');
  const std::string content = Content(3 * kChunk + 1);
  const fs::path file = folder / "PAGO.ZAV";
  { std::ofstream(file, std::ios::binary) << content; }
  for (const int threads : {1, 2}) {
    std::uintmax_t previous = ~std::uintmax_t{0};
    for (const int level : {1, 6, 9, kMaxPackingLevel}) {
      SCOPED_TRACE("threads " + std::to_string(threads) + ", level " + std::to_string(level));
      SetPackingLevel(level);
      const fs::path archive = folder / ("PAGO" + std::to_string(level) + ".zip");
      ASSERT_EQ(WriteZipArchive(archive, file, "PAGO.ZAV", threads), 0);
      EXPECT_TRUE(Entry(archive).first == content);
      EXPECT_LE(fs::file_size(archive), previous);
      previous = fs::file_size(archive);
    }
  }
  SetPackingLevel(kDefaultPackingLevel);
  EXPECT_EQ(PackingLevel(), kDefaultPackingLevel);
}

}  // namespace
}  // namespace zav
