// Packing a file into a zip archive in chunks, and the joining of deflate streams under it.
#include "platform/chunked_deflate.hpp"

#include <gtest/gtest.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "platform/deflate_join.hpp"
#include "platform/dzip.hpp"
#include "platform/temp_drives.hpp"
#include "platform/zip_library.hpp"

namespace zav {
namespace {

namespace fs = std::filesystem;
using testing::ReadAll;

constexpr std::size_t kChunk = ChunkedDeflate::kChunkSize;

// zlib's inflate of a whole raw deflate stream of at most `room` bytes, else "not one stream".
std::string Inflated(std::string stream, std::size_t room = 1 << 20) {
  z_stream s{};
  EXPECT_EQ(inflateInit2(&s, -MAX_WBITS), Z_OK);
  std::string out(room + 1, '\0');
  s.next_in = reinterpret_cast<Bytef*>(stream.data());
  s.avail_in = static_cast<uInt>(stream.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  const bool whole = inflate(&s, Z_FINISH) == Z_STREAM_END && s.avail_in == 0;
  out.resize(out.size() - s.avail_out);
  inflateEnd(&s);
  return whole ? out : "not one stream";
}

// Payment-file-like bytes: record text with random digits, so matches reach across chunks.
std::string Content(std::size_t size) {
  std::mt19937 random(static_cast<unsigned>(size));
  std::string s;
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
  // zlib inflates the raw stream, read after the local header: libzip gives no raw stream for
  // an empty entry (1.11 reads 0 bytes of its 2), and the empty file's must be whole too.
  const std::string a = ReadAll(archive);
  const auto le16 = [&](std::size_t at) {
    return static_cast<std::size_t>(static_cast<unsigned char>(a[at]) |
                                    static_cast<unsigned char>(a[at + 1]) << 8);
  };
  if (a.size() < 30 || a.substr(0, 4) != "PK\3\4") {
    ADD_FAILURE() << "no local header at the archive's start";
    return {bytes, st.crc};
  }
  const std::size_t data = 30 + le16(26) + le16(28);  // after the name and the extra field
  EXPECT_LE(data + st.comp_size, a.size());
  EXPECT_TRUE(Inflated(a.substr(std::min(data, a.size()), st.comp_size), st.size) == bytes);
  return {bytes, st.crc};
}

// The zip library's own archive of `file`, deflated by it at level 6.
void LibraryArchive(const fs::path& archive, const fs::path& file) {
  int error = 0;
  zip_t* za = zip_open(archive.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(za, nullptr);
  const zip_int64_t index =
      zip_file_add(za, "PAGO.ZAV", zip_source_file(za, file.c_str(), 0, 0), ZIP_FL_ENC_UTF_8);
  ASSERT_EQ(zip_set_file_compression(za, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 6), 0);
  ASSERT_EQ(zip_close(za), 0);
}

// Sizes around every chunk boundary, on one thread and on several: the entry holds the file
// with its CRC-32, in an archive other tools accept; on one thread it is libzip's, byte for byte.
TEST(ChunkedDeflate, ArchiveHoldsTheFileAtEveryChunkBoundary) {
  testing::TempDrives drives;
  const fs::path folder = drives.root('C'), file = folder / "PAGO.ZAV", archive = folder / "P.zip";
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, kChunk - 1, kChunk, kChunk + 1,
                                 3 * kChunk, 3 * kChunk + 1, 5 * kChunk + 4321}) {
    const std::string content = Content(size);
    { std::ofstream(file, std::ios::binary) << content; }
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(size)));
    for (const int threads : {1, 2, 3}) {
      SCOPED_TRACE("size " + std::to_string(size) + ", threads " + std::to_string(threads));
      ASSERT_EQ(WriteZipArchive(archive, file, "PAGO.ZAV", threads), 0);
      const auto [bytes, entry_crc] = Entry(archive);
      EXPECT_TRUE(bytes == content);
      EXPECT_EQ(entry_crc, crc);
      if (threads == 1) {
        LibraryArchive(folder / "library.zip", file);
        EXPECT_TRUE(ReadAll(archive) == ReadAll(folder / "library.zip"));
      }
      if (size > 2 * kChunk) {
        const std::string a = "'" + archive.native() + "'";
        const std::string tools = "unzip -tq " + a +
                                  " >/dev/null && python3 -c 'import sys, zipfile; "
                                  "sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)' " +
                                  a;
        EXPECT_EQ(std::system(tools.c_str()), 0);
      }
    }
  }
}

// Every level holds the file; a higher one never gives a larger archive (one thread: zlib's 9).
TEST(ChunkedDeflate, EveryLevelHoldsTheFileAndHigherIsSmaller) {
  testing::TempDrives drives;
  const fs::path folder = drives.root('C'), file = folder / "PAGO.ZAV";
  const std::string content = Content(3 * kChunk + 1);
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

// libdeflate's stream of `data` at `level`, made to go on when `go_on`.
std::string Deflated(const Libdeflate& lib, const std::string& data, int level, bool go_on) {
  libdeflate_compressor* c = lib.libdeflate_alloc_compressor(level);
  std::string out(lib.libdeflate_deflate_compress_bound(c, data.size()) + kGoOnRoom, '\0');
  const std::size_t size = lib.libdeflate_deflate_compress(c, data.data(), data.size(), out.data(),
                                                           out.size() - kGoOnRoom);
  lib.libdeflate_free_compressor(c);
  out.resize(go_on ? MakeDeflateGoOn(reinterpret_cast<std::uint8_t*>(out.data()), size) : size);
  return out;
}

// Every block kind libdeflate writes (stored for noise, fixed for a few bytes, dynamic for
// text), made to go on and followed by another stream: one stream that inflates to both. What
// is not a whole stream is refused and left as it was.
TEST(DeflateJoin, JoinedStreamsInflateToBothPartsAndNonStreamsAreRefused) {
  const Libdeflate* lib = LoadLibdeflate();
  ASSERT_NE(lib, nullptr);
  std::mt19937 random(7);
  std::string noise(70000, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  std::string text;
  while (text.size() < 200000) text += "02A1234567890 JUAN PEREZ LOPEZ " + std::to_string(random());
  const struct {
    const char* what;
    std::string data;
    int level;
  } cases[] = {{"empty", "", 6},          {"one byte", "x", 6}, {"noise", noise, 6},
               {"text fastest", text, 1}, {"text", text, 6},    {"text smallest", text, 12}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string first = Deflated(*lib, c.data, c.level, true);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(Inflated(first + Deflated(*lib, "and the end", 6, false)), c.data + "and the end");
  }
  const std::string whole = Deflated(*lib, std::string(5000, 'a') + "payment", 6, false);
  for (const std::string& bad :
       {std::string(), std::string("\x07", 1), whole.substr(0, whole.size() - 1),
        std::string("\x01\x05\x00\xfa\xff", 5) + "abc", std::string("\x00\x00\xff\xff", 4)}) {
    std::string stream = bad + std::string(kGoOnRoom, '\x5a');
    EXPECT_EQ(MakeDeflateGoOn(reinterpret_cast<std::uint8_t*>(stream.data()), bad.size()), 0u);
    EXPECT_EQ(stream, bad + std::string(kGoOnRoom, '\x5a'));
  }
}

}  // namespace
}  // namespace zav
