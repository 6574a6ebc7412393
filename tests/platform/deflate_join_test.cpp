#include "platform/deflate_join.hpp"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>

#include "platform/zip_library.hpp"

namespace zav {
namespace {

// zlib's inflate of a whole raw deflate stream, or "not one stream" when it is not one.
std::string Inflated(const std::string& stream) {
  z_stream s{};
  EXPECT_EQ(inflateInit2(&s, -MAX_WBITS), Z_OK);
  std::string out(1 << 20, '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
  s.avail_in = static_cast<uInt>(stream.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  const int ret = inflate(&s, Z_FINISH);
  out.resize(out.size() - s.avail_out);
  const bool whole = ret == Z_STREAM_END && s.avail_in == 0;
  inflateEnd(&s);
  return whole ? out : "not one stream";
}

// libdeflate's stream of `data` at `level`, with room to go on.
std::string Deflated(const Libdeflate& lib, const std::string& data, int level) {
  libdeflate_compressor* c = lib.libdeflate_alloc_compressor(level);
  std::string out(lib.libdeflate_deflate_compress_bound(c, data.size()) + kGoOnRoom, '\0');
  out.resize(lib.libdeflate_deflate_compress(c, data.data(), data.size(), out.data(),
                                             out.size() - kGoOnRoom));
  lib.libdeflate_free_compressor(c);
  return out;
}

std::string GoneOn(std::string stream) {
  const std::size_t size = stream.size();
  stream.resize(size + kGoOnRoom);
  stream.resize(MakeDeflateGoOn(reinterpret_cast<std::uint8_t*>(stream.data()), size));
  return stream;
}

// Streams of every block kind libdeflate writes (stored for the incompressible bytes, fixed
// for a few, dynamic for text), made to go on and followed by another: one stream that
// inflates to both parts.
TEST(DeflateJoin, JoinedStreamsInflateToBothParts) {
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
    const std::string first = GoneOn(Deflated(*lib, c.data, c.level));
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(Inflated(first + Deflated(*lib, "and the end", 6)), c.data + "and the end");
  }
}

// What is not a whole stream is refused and left as it was.
TEST(DeflateJoin, RefusesWhatIsNotAWholeStream) {
  const Libdeflate* lib = LoadLibdeflate();
  ASSERT_NE(lib, nullptr);
  const std::string whole = Deflated(*lib, std::string(5000, 'a') + "payment", 6);
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
