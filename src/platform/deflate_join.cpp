#include "platform/deflate_join.hpp"

#include <array>
#include <bit>
#include <cstring>
#include <vector>

namespace zav {

namespace {

// A deflate stream read as deflate writes it: bits from the least significant of each byte,
// through a 64-bit window refilled eight bytes at a time. Past the end the stream reads as
// zeros, and the reader is then spent.
class BitReader {
 public:
  BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  // The next `count` bits (at most 32), the first in the lowest place.
  uint32_t Peek(int count) {
    if (count_ < count) Fill();
    return static_cast<uint32_t>(window_ & ((uint64_t{1} << count) - 1));
  }
  void Skip(int count) {
    if (count_ < count) Fill();
    window_ >>= count;
    count_ -= count;
  }
  uint32_t Take(int count) {
    const uint32_t value = Peek(count);
    Skip(count);
    return value;
  }
  void ToByte() { Skip(count_ % 8); }
  // At least 48 bits in the window: a literal or a length and its distance, with their
  // extra bits, can then be read without looking again.
  void Refill() {
    if (count_ < 48) Fill();
  }
  uint32_t PeekFilled(int count) const {
    return static_cast<uint32_t>(window_ & ((uint64_t{1} << count) - 1));
  }
  void SkipFilled(int count) {
    window_ >>= count;
    count_ -= count;
  }
  // Moves on `bytes` whole bytes from a byte boundary.
  void SkipBytes(size_t bytes) {
    next_ = position() / 8 + bytes;
    window_ = 0;
    count_ = 0;
  }
  size_t position() const { return next_ * 8 - count_; }
  bool spent() const { return position() > size_ * 8; }

 private:
  // Tops the window up to at least 56 bits. The bits above those counted are the next
  // byte's own, so loading them again later changes nothing.
  void Fill() {
    if (next_ + 8 <= size_) {
      uint64_t word;
      std::memcpy(&word, data_ + next_, sizeof word);
      if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
      window_ |= word << count_;
      const int bytes = (63 - count_) / 8;
      next_ += bytes;
      count_ += bytes * 8;
      return;
    }
    for (; count_ <= 56; count_ += 8, ++next_) {
      window_ |= uint64_t{next_ < size_ ? data_[next_] : uint8_t{0}} << count_;
    }
  }

  const uint8_t* data_;
  size_t size_;
  size_t next_ = 0;  // the next byte to load
  uint64_t window_ = 0;
  int count_ = 0;  // bits in the window
};

constexpr int kMaxCodeLength = 15;

// A canonical Huffman code. Codes of up to kFastBits bits are read through a table indexed
// by the next bits; longer ones, which are rare, a bit at a time.
class Code {
 public:
  // False for lengths that are not a code (over-subscribed, or none at all unless
  // `may_be_empty`: a block without a single match may give its distances no code, and
  // then no distance decodes).
  bool Build(const uint8_t* lengths, int count, bool may_be_empty = false) {
    per_length_.fill(0);
    longest_ = 0;
    for (int s = 0; s < count; ++s) {
      ++per_length_[lengths[s]];
      if (lengths[s] > longest_) longest_ = lengths[s];
    }
    if (longest_ == 0) {
      table_bits_ = 0;
      table_.assign(1, 0);
      return may_be_empty;
    }
    per_length_[0] = 0;
    // Symbols in code order, and the first code of each length.
    std::array<uint16_t, kMaxCodeLength + 1> offsets{};
    for (int length = 1; length < kMaxCodeLength; ++length) {
      offsets[length + 1] = static_cast<uint16_t>(offsets[length] + per_length_[length]);
    }
    symbols_.resize(static_cast<size_t>(count));
    for (int s = 0; s < count; ++s) {
      if (lengths[s] != 0) symbols_[offsets[lengths[s]]++] = static_cast<uint16_t>(s);
    }
    int left = 1;
    for (int length = 1; length <= kMaxCodeLength; ++length) {
      left = left * 2 - per_length_[length];
      if (left < 0) return false;
    }
    table_bits_ = longest_ < kFastBits ? longest_ : kFastBits;
    table_.assign(size_t{1} << table_bits_, 0);
    uint32_t code = 0;
    int index = 0;
    for (int length = 1; length <= table_bits_; ++length) {
      for (int i = 0; i < per_length_[length]; ++i, ++code, ++index) {
        uint32_t reversed = 0;
        for (int b = 0; b < length; ++b) reversed |= ((code >> b) & 1) << (length - 1 - b);
        for (uint32_t fill = reversed; fill < table_.size(); fill += 1u << length) {
          table_[fill] = static_cast<uint16_t>(symbols_[static_cast<size_t>(index)] << 4 | length);
        }
      }
      code <<= 1;
    }
    return true;
  }

  // The next symbol, or -1 where no code matches.
  int Decode(BitReader& in) const {
    in.Refill();
    return DecodeFilled(in);
  }
  // The same, with the window refilled already.
  int DecodeFilled(BitReader& in) const {
    const uint32_t bits = in.PeekFilled(longest_);
    const uint16_t entry = table_[bits & ((1u << table_bits_) - 1)];
    if ((entry & 15) != 0) {
      in.SkipFilled(entry & 15);
      return entry >> 4;
    }
    // Code by code length, the first bit read the code's highest.
    int code = 0;
    int first = 0;
    int index = 0;
    for (int length = 1; length <= longest_; ++length) {
      code |= static_cast<int>((bits >> (length - 1)) & 1);
      const int count = per_length_[length];
      if (code - first < count) {
        in.SkipFilled(length);
        return symbols_[static_cast<size_t>(index + code - first)];
      }
      index += count;
      first = (first + count) << 1;
      code <<= 1;
    }
    return -1;
  }

 private:
  static constexpr int kFastBits = 10;
  int longest_ = 0;
  int table_bits_ = 0;
  std::array<int, kMaxCodeLength + 1> per_length_{};
  std::vector<uint16_t> symbols_;
  std::vector<uint16_t> table_;
};

constexpr std::array<uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<uint8_t, 30> kDistanceExtra = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                    4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                    9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::array<uint8_t, 19> kLengthCodeOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                      11, 4,  12, 3, 13, 2, 14, 1, 15};

// Reads a dynamic block's code definitions.
bool ReadCodes(BitReader& in, Code& literals, Code& distances) {
  const int literal_count = static_cast<int>(in.Take(5)) + 257;
  const int distance_count = static_cast<int>(in.Take(5)) + 1;
  const int length_count = static_cast<int>(in.Take(4)) + 4;
  std::array<uint8_t, 19> length_lengths{};
  for (int i = 0; i < length_count; ++i) length_lengths[kLengthCodeOrder[i]] = in.Take(3);
  Code lengths_code;
  if (!lengths_code.Build(length_lengths.data(), 19)) return false;
  std::array<uint8_t, 288 + 32> lengths{};
  for (int i = 0; i < literal_count + distance_count;) {
    const int symbol = lengths_code.Decode(in);
    if (symbol < 0 || in.spent()) return false;
    if (symbol < 16) {
      lengths[i++] = static_cast<uint8_t>(symbol);
      continue;
    }
    uint8_t repeated = 0;
    int times = 0;
    if (symbol == 16) {
      if (i == 0) return false;
      repeated = lengths[i - 1];
      times = 3 + static_cast<int>(in.Take(2));
    } else {
      times = symbol == 17 ? 3 + static_cast<int>(in.Take(3)) : 11 + static_cast<int>(in.Take(7));
    }
    if (i + times > literal_count + distance_count) return false;
    while (times-- > 0) lengths[i++] = repeated;
  }
  return literals.Build(lengths.data(), literal_count) &&
         distances.Build(lengths.data() + literal_count, distance_count, true);
}

}  // namespace

bool FindLastDeflateBlock(const uint8_t* data, size_t size, size_t& header, size_t& end) {
  static const auto fixed = [] {
    std::array<uint8_t, 288 + 30> lengths{};
    for (int s = 0; s < 288; ++s) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    for (int s = 0; s < 30; ++s) lengths[288 + s] = 5;
    std::array<Code, 2> codes;
    codes[0].Build(lengths.data(), 288);
    codes[1].Build(lengths.data() + 288, 30);
    return codes;
  }();
  BitReader in(data, size);
  Code literals;
  Code distances;
  for (;;) {
    const size_t block = in.position();
    const bool final = in.Take(1) != 0;
    const uint32_t type = in.Take(2);
    if (type == 0) {
      in.ToByte();
      const uint32_t length = in.Take(16);
      if ((in.Take(16) ^ 0xFFFF) != length) return false;
      in.SkipBytes(length);
    } else {
      if (type == 3 || (type == 2 && !ReadCodes(in, literals, distances))) return false;
      const Code& l = type == 1 ? fixed[0] : literals;
      const Code& d = type == 1 ? fixed[1] : distances;
      for (;;) {
        in.Refill();
        const int symbol = l.DecodeFilled(in);
        if (symbol < 0 || symbol > 285 || in.spent()) return false;
        if (symbol < 256) continue;
        if (symbol == 256) break;
        in.SkipFilled(kLengthExtra[symbol - 257]);
        const int distance = d.DecodeFilled(in);
        if (distance < 0 || distance > 29) return false;
        in.SkipFilled(kDistanceExtra[distance]);
      }
    }
    if (in.spent()) return false;
    if (final) {
      header = block;
      end = in.position();
      return true;
    }
  }
}

std::size_t MakeDeflateGoOn(std::uint8_t* data, std::size_t size) {
  size_t header = 0;
  size_t end = 0;
  if (!FindLastDeflateBlock(data, size, header, end)) return 0;
  data[header / 8] &= static_cast<uint8_t>(~(1u << (header % 8)));
  // The empty stored block: three zero bits (not final, stored), zeros to the byte
  // boundary, then its length and the length's complement.
  static constexpr uint8_t kEmptyStoredBlock[] = {0x00, 0x00, 0xFF, 0xFF};
  data[end / 8] &= static_cast<uint8_t>((1u << (end % 8)) - 1);
  const size_t stored = (end + 3 + 7) / 8;
  for (size_t i = end / 8 + 1; i < stored; ++i) data[i] = 0;
  std::memcpy(data + stored, kEmptyStoredBlock, sizeof kEmptyStoredBlock);
  return stored + sizeof kEmptyStoredBlock;
}

}  // namespace zav
