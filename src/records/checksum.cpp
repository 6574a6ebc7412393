// The folding rule of the file check value and the capture-line check strings, and the
// two control methods that expose it (CheckString, AcarreaCheckString).
#include "records/checksum.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif

#include "basic/runtime_failure.hpp"
#include "control/zav.hpp"

namespace zav {

namespace {

constexpr bool Counted(unsigned c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'); }

char AddDigit(char digit, unsigned amount) {
  return static_cast<char>('0' + (static_cast<unsigned>(digit - '0') + amount) % 10);
}

// Folds text[0, end) into the digits (held as the characters "0".."9") and the counters.
// The counters are in range on entry and stay so. The plain form of the rule, used for
// the short check strings.
template <std::size_t M>
void FoldDigits(std::array<char, M>& d, unsigned& i, unsigned& j, unsigned& r,
                std::string_view text, std::size_t end) {
  for (std::size_t k = 0; k < end; ++k) {
    const unsigned c = static_cast<unsigned char>(text[k]);
    if (!Counted(c)) continue;
    const unsigned p = (i + c) % M;
    d[p] = AddDigit(d[p], c);
    r = (r + c) % 9;
    i = (i + 1) % M;
    if (i == 0) {
      d[j] = AddDigit(d[j], r);
      j = (j + 1) % M;
    }
  }
}

constexpr auto kCountedTable = [] {
  std::array<unsigned char, 256> t{};
  for (unsigned c = 0; c < 256; ++c) t[c] = Counted(c) ? 1 : 0;
  return t;
}();

// Packs the counted bytes of in[0, len) at the start of `out` (which has room for len + 64
// bytes) and answers how many there are.
std::size_t PackCounted(const unsigned char* in, std::size_t len, unsigned char* out) {
  std::size_t n = 0;
  for (std::size_t k = 0; k < len; ++k) {
    out[n] = in[k];
    n += kCountedTable[in[k]];
  }
  return n;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ZAV_PACK_SSSE3 1
#elif defined(__wasm_simd128__)
#define ZAV_PACK_WASM_SIMD 1
#endif

#if defined(ZAV_PACK_SSSE3) || defined(ZAV_PACK_WASM_SIMD)
// For each 8-bit mask: the indices of its set bits in order, then "no byte" (0x80).
constexpr auto kPackShuffles = [] {
  std::array<std::array<unsigned char, 8>, 256> t{};
  for (unsigned m = 0; m < 256; ++m) {
    unsigned n = 0;
    for (unsigned b = 0; b < 8; ++b) {
      if ((m >> b) & 1) t[m][n++] = static_cast<unsigned char>(b);
    }
    for (; n < 8; ++n) t[m][n] = 0x80;
  }
  return t;
}();

constexpr auto kBitCounts = [] {
  std::array<unsigned char, 256> t{};
  for (unsigned m = 0; m < 256; ++m) {
    for (unsigned b = 0; b < 8; ++b) t[m] = static_cast<unsigned char>(t[m] + ((m >> b) & 1));
  }
  return t;
}();

#endif

#if defined(ZAV_PACK_SSSE3)
// The same packing sixteen bytes at a time: a byte is counted when it lies in "0".."9" or
// "A".."Z" (bytes from 128 on compare as negative and never do).
__attribute__((target("ssse3"))) std::size_t PackCountedSsse3(const unsigned char* in,
                                                              std::size_t len, unsigned char* out) {
  const __m128i below_0 = _mm_set1_epi8('0' - 1), above_9 = _mm_set1_epi8('9' + 1);
  const __m128i below_a = _mm_set1_epi8('A' - 1), above_z = _mm_set1_epi8('Z' + 1);
  std::size_t n = 0, k = 0;
  for (; k + 16 <= len; k += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + k));
    const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(x, below_0), _mm_cmpgt_epi8(above_9, x));
    const __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(x, below_a), _mm_cmpgt_epi8(above_z, x));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(digit, upper)));
    const unsigned low = mask & 0xFF, high = mask >> 8;
    const __m128i pick_low =
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPackShuffles[low].data()));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + n), _mm_shuffle_epi8(x, pick_low));
    n += kBitCounts[low];
    const __m128i pick_high =
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPackShuffles[high].data()));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + n),
                     _mm_shuffle_epi8(_mm_srli_si128(x, 8), pick_high));
    n += kBitCounts[high];
  }
  return n + PackCounted(in + k, len - k, out + n);
}

// The same packing 64 bytes at a time where the processor compresses bytes in one
// instruction. Writes up to 64 bytes from out + n on.
__attribute__((target("avx512f,avx512bw,avx512vbmi2"))) std::size_t PackCountedVbmi2(
    const unsigned char* in, std::size_t len, unsigned char* out) {
  const __m512i zero = _mm512_set1_epi8('0'), ten = _mm512_set1_epi8(10);
  const __m512i a = _mm512_set1_epi8('A'), twenty_six = _mm512_set1_epi8(26);
  std::size_t n = 0;
  for (std::size_t k = 0; k < len; k += 64) {
    // The last bytes are read under a mask: nothing past the text is touched.
    const __mmask64 inside = len - k >= 64 ? ~__mmask64{0} : (__mmask64{1} << (len - k)) - 1;
    const __m512i x = _mm512_maskz_loadu_epi8(inside, in + k);
    const __mmask64 counted = inside & (_mm512_cmplt_epu8_mask(_mm512_sub_epi8(x, zero), ten) |
                                        _mm512_cmplt_epu8_mask(_mm512_sub_epi8(x, a), twenty_six));
    _mm512_storeu_si512(out + n, _mm512_maskz_compress_epi8(counted, x));
    n += static_cast<std::size_t>(__builtin_popcountll(counted));
  }
  return n;
}

bool HasSsse3() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
  }();
  return has;
}

// The byte instructions of AVX-512 the widest pack and the wide fold use: compressing
// bytes (VBMI2) and permuting them by index (VBMI); processors have both or neither.
bool HasVbmi2() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512vbmi2") != 0 &&
           __builtin_cpu_supports("avx512vbmi") != 0 && __builtin_cpu_supports("avx512bw") != 0;
  }();
  return has;
}
#elif defined(ZAV_PACK_WASM_SIMD)
// The same packing sixteen bytes at a time with WebAssembly's vector instructions (a
// swizzle index from 16 on gives a zero byte, as "no byte" needs).
std::size_t PackCountedSimd(const unsigned char* in, std::size_t len, unsigned char* out) {
  const v128_t below_0 = wasm_i8x16_splat('0' - 1), above_9 = wasm_i8x16_splat('9' + 1);
  const v128_t below_a = wasm_i8x16_splat('A' - 1), above_z = wasm_i8x16_splat('Z' + 1);
  const v128_t upper_half = wasm_i8x16_splat(8);
  std::size_t n = 0, k = 0;
  for (; k + 16 <= len; k += 16) {
    const v128_t x = wasm_v128_load(in + k);
    const v128_t digit = wasm_v128_and(wasm_i8x16_gt(x, below_0), wasm_i8x16_gt(above_9, x));
    const v128_t upper = wasm_v128_and(wasm_i8x16_gt(x, below_a), wasm_i8x16_gt(above_z, x));
    const unsigned mask = wasm_i8x16_bitmask(wasm_v128_or(digit, upper));
    const unsigned low = mask & 0xFF, high = mask >> 8;
    const v128_t pick_low = wasm_v128_load64_zero(kPackShuffles[low].data());
    wasm_v128_store64_lane(out + n, wasm_i8x16_swizzle(x, pick_low), 0);
    n += kBitCounts[low];
    const v128_t pick_high =
        wasm_i8x16_add(wasm_v128_load64_zero(kPackShuffles[high].data()), upper_half);
    wasm_v128_store64_lane(out + n, wasm_i8x16_swizzle(x, pick_high), 0);
    n += kBitCounts[high];
  }
  return n + PackCounted(in + k, len - k, out + n);
}
#endif

std::atomic<PackWidth> pack_limit{PackWidth::kWidest};

std::size_t Pack(const unsigned char* in, std::size_t len, unsigned char* out) {
  [[maybe_unused]] const PackWidth limit = pack_limit.load(std::memory_order_relaxed);
#if defined(ZAV_PACK_SSSE3)
  if (limit == PackWidth::kWidest && HasVbmi2()) return PackCountedVbmi2(in, len, out);
  if (limit != PackWidth::kNone && HasSsse3()) return PackCountedSsse3(in, len, out);
#elif defined(ZAV_PACK_WASM_SIMD)
  if (limit != PackWidth::kNone) return PackCountedSimd(in, len, out);
#endif
  return PackCounted(in, len, out);
}

#if defined(ZAV_PACK_SSSE3)
// For the wide fold, by counted byte less '0': the byte modulo 10 (what it adds) and
// modulo 19 (how far from its position it adds it).
constexpr auto ByteTable(unsigned modulo) {
  std::array<std::uint8_t, 64> t{};
  for (unsigned c = 0; c < 64; ++c) t[c] = static_cast<std::uint8_t>((c + '0') % modulo);
  return t;
}
alignas(64) constexpr auto kTenths = ByteTable(10);
alignas(64) constexpr auto kNineteenths = ByteTable(19);
// The position of each of 64 bytes from an offset s (modulo 19) into a run of blocks.
alignas(64) constexpr auto kLanePositions = [] {
  std::array<std::array<std::uint8_t, 64>, 19> t{};
  for (unsigned s = 0; s < 19; ++s) {
    for (unsigned lane = 0; lane < 64; ++lane)
      t[s][lane] = static_cast<std::uint8_t>((s + lane) % 19);
  }
  return t;
}();

// What the counted bytes b[0, length) owe, the first at position 0, added into owed[0..18]
// by the position they owe it to (c mod 10 each, the same modulo 10 as c): 64 bytes at a
// time, each position's share gathered in byte lanes by comparing every byte's position
// with it, the lanes emptied into wider sums before they could overflow.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void OweWide(const unsigned char* b,
                                                                    std::size_t length,
                                                                    std::uint32_t* owed) {
  constexpr unsigned kRoundsPerLane = 28;  // 28 x 9 < 256
  const __m512i zero = _mm512_setzero_si512();
  const __m512i tenths = _mm512_load_si512(kTenths.data());
  const __m512i nineteenths = _mm512_load_si512(kNineteenths.data());
  const __m512i base = _mm512_set1_epi8('0'), nineteen = _mm512_set1_epi8(19);
  __m512i lanes[19];
  alignas(64) std::uint64_t wide[19][8] = {};
  for (__m512i& l : lanes) l = zero;
  unsigned rounds = 0;
  for (std::size_t k = 0; k < length; k += 64) {
    const __mmask64 inside = length - k >= 64 ? ~__mmask64{0} : (__mmask64{1} << (length - k)) - 1;
    const __m512i index = _mm512_sub_epi8(_mm512_maskz_loadu_epi8(inside, b + k), base);
    const __m512i amount = _mm512_maskz_permutexvar_epi8(inside, index, tenths);
    __m512i to = _mm512_add_epi8(_mm512_maskz_permutexvar_epi8(~__mmask64{0}, index, nineteenths),
                                 _mm512_load_si512(kLanePositions[k % 19].data()));
    to = _mm512_min_epu8(to, _mm512_sub_epi8(to, nineteen));
#pragma GCC unroll 19
    for (int p = 0; p < 19; ++p) {
      lanes[p] = _mm512_mask_add_epi8(
          lanes[p], _mm512_cmpeq_epi8_mask(to, _mm512_set1_epi8(static_cast<char>(p))), lanes[p],
          amount);
    }
    if (++rounds == kRoundsPerLane || k + 64 >= length) {
#pragma GCC unroll 19
      for (int p = 0; p < 19; ++p) {
        _mm512_store_si512(
            wide[p], _mm512_add_epi64(_mm512_load_si512(wide[p]), _mm512_sad_epu8(lanes[p], zero)));
        lanes[p] = zero;
      }
      rounds = 0;
    }
  }
  for (int p = 0; p < 19; ++p) {
    std::uint64_t sum = 0;
    for (const std::uint64_t w : wide[p]) sum += w;
    owed[p] += static_cast<std::uint32_t>(sum);
  }
}
#endif

// The sums and the running remainder are reduced before they could overflow: each counted
// byte adds at most 90 to one sum and to the remainder, and a text is packed 4 096 bytes
// at a time between two looks (40 004 096 x 90 + 8 < 2^32).
constexpr std::uint32_t kSettleEvery = 40'000'000;

}  // namespace

void LimitPackWidth(PackWidth width) noexcept {
  pack_limit.store(width, std::memory_order_relaxed);
}

RunningCheck::RunningCheck() noexcept { digits_.fill('0'); }

RunningCheck RunningCheck::Load(std::string_view digits, std::int16_t i, std::int16_t j,
                                std::int16_t r) {
  const auto in = [](std::int16_t v, std::size_t limit) {
    return v >= 0 && static_cast<std::size_t>(v) < limit;
  };
  if (!in(i, kDigits) || !in(j, kDigits) || !in(r, 9)) {
    throw RuntimeFailure(err::kSubscriptOutOfRange);
  }
  RunningCheck check;
  for (std::size_t n = 0; n < kDigits && n < digits.size(); ++n) {
    if (digits[n] >= '0' && digits[n] <= '9') check.digits_[n] = digits[n];
  }
  check.pos_ = static_cast<std::uint8_t>(i);
  check.carry_ = static_cast<std::uint8_t>(j);
  check.running_ = static_cast<std::uint32_t>(r);
  return check;
}

// The folding counters, held in registers while a text is folded; the sums stay in the
// check's own array, reached through the array itself so that a checked build checks every
// index.
struct RunningCheck::Folder {
  Sums& owed;
  unsigned pos;           // i
  unsigned carry;         // j
  std::uint32_t running;  // r plus the bytes since, reduced modulo 9 only when read

  void Carry() {
    owed[carry] += running % 9;
    if (++carry == RunningCheck::kDigits) carry = 0;
  }

  void Step(unsigned c) {
    owed[pos + c] += c;
    running += c;
    if (++pos == RunningCheck::kDigits) {
      pos = 0;
      Carry();
    }
  }

  // Nineteen counted bytes from position 0: position q takes b[q]. Their sum is taken
  // apart from the sums by position, so that no long chain of additions holds up the
  // next block: sixteen bytes two at a time in 16-bit lanes, then the last three.
  template <std::size_t... Q>
  void Block(const unsigned char* b, std::index_sequence<Q...>) {
    (Owe(b[Q], Q), ...);
    Tally(b);
  }

  // A block's sum into the running remainder, and its carry.
  void Tally(const unsigned char* b) {
#if defined(__SSE2__)
    // The sum of absolute differences from zero: two sums of eight bytes.
    const __m128i sums =
        _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b)), _mm_setzero_si128());
    const auto sixteen = static_cast<std::uint32_t>(_mm_cvtsi128_si32(sums)) +
                         static_cast<std::uint32_t>(_mm_extract_epi16(sums, 4));
#else
    std::uint64_t low, high;
    std::memcpy(&low, b, 8);
    std::memcpy(&high, b + 8, 8);
    constexpr std::uint64_t kEven = 0x00FF00FF00FF00FFu;
    const std::uint64_t lanes =
        (low & kEven) + ((low >> 8) & kEven) + (high & kEven) + ((high >> 8) & kEven);
    const auto sixteen = static_cast<std::uint32_t>((lanes * 0x0001000100010001u) >> 48);
#endif
    running += sixteen + b[16] + b[17] + b[18];
    Carry();
  }

  // Each byte is read once into a value: a store to the sums may not be assumed apart
  // from the bytes.
  void Owe(unsigned c, std::size_t q) { owed[q + c] += c; }
};

void RunningCheck::Fold(std::string_view record) {
  // The record type is the value of the second character; a validation record's own
  // check value and everything after it do not count.
  std::size_t end = record.size();
  if (record.size() >= 2 && record[1] == '6' && end >= kExcludedFrom) end = kExcludedFrom - 1;

  constexpr std::size_t kChunk = 4096;
  unsigned char packed[kDigits + kChunk + 64];
  // The waiting bytes are moved as a whole array, whatever their count: a copy of fixed
  // length is a few moves, where one of any length costs more than the bytes it moves.
  std::size_t n = waiting_count_;
  std::memcpy(packed, waiting_.data(), waiting_.size());
  Folder f{owed_, pos_, carry_, running_};
  const auto* bytes = reinterpret_cast<const unsigned char*>(record.data());
  for (std::size_t from = 0; from < end; from += kChunk) {
    const std::size_t added = Pack(bytes + from, std::min(end - from, kChunk), packed + n);
    unsettled_ += static_cast<std::uint32_t>(added);
    n += added;
    std::size_t k = 0;
    while (k < n && f.pos != 0) f.Step(packed[k++]);
#if defined(ZAV_PACK_SSSE3)
    if (const std::size_t blocks = (n - k) / kDigits;
        blocks > 0 && pack_limit.load(std::memory_order_relaxed) == PackWidth::kWidest &&
        HasVbmi2()) {
      OweWide(packed + k, blocks * kDigits, owed_.data());
      for (std::size_t b = 0; b < blocks; ++b, k += kDigits) f.Tally(packed + k);
    }
#endif
    for (; k + kDigits <= n; k += kDigits) f.Block(packed + k, std::make_index_sequence<kDigits>());
    std::memmove(packed, packed + k, waiting_.size());
    n -= k;
    if (unsettled_ > kSettleEvery) {  // a long text: reduce on the way
      f.running %= 9;
      Reduce();
    }
  }
  pos_ = static_cast<std::uint8_t>(f.pos);
  carry_ = static_cast<std::uint8_t>(f.carry);
  running_ = f.running % 9;
  waiting_count_ = static_cast<std::uint8_t>(n);
  std::memcpy(waiting_.data(), packed, waiting_.size());
}

void RunningCheck::Settle() const noexcept {
  Folder f{owed_, pos_, carry_, running_};
  for (std::size_t k = 0; k < waiting_count_; ++k) f.Step(waiting_[k]);
  waiting_count_ = 0;
  pos_ = static_cast<std::uint8_t>(f.pos);
  carry_ = static_cast<std::uint8_t>(f.carry);
  running_ = f.running % 9;
  Reduce();
}

void RunningCheck::Reduce() const noexcept {
  std::array<unsigned, kDigits> add{};
  for (std::size_t b = 0; b < kBins; ++b) {
    add[b % kDigits] += owed_[b] % 10;
    owed_[b] = 0;
  }
  for (std::size_t p = 0; p < kDigits; ++p) digits_[p] = AddDigit(digits_[p], add[p] % 10);
  unsettled_ = 0;
}

std::string_view RunningCheck::value() const noexcept {
  Settle();
  return {digits_.data(), digits_.size()};
}

std::int16_t RunningCheck::i() const noexcept {
  Settle();
  return pos_;
}

std::int16_t RunningCheck::j() const noexcept {
  Settle();
  return carry_;
}

std::int16_t RunningCheck::r() const noexcept {
  Settle();
  return static_cast<std::int16_t>(running_);
}

std::string ShortCheck(std::string_view text) {
  std::array<char, 3> d{'0', '0', '0'};
  unsigned i = 0, j = 0, r = 0;
  FoldDigits(d, i, j, r, text, text.size());
  return std::string(d.data(), d.size());
}

void ZAV::CheckString(std::string& sDigVer, std::string& sCheckSum) {
  sCheckSum = ShortCheck(sDigVer);
}

void ZAV::AcarreaCheckString(std::string& sDigVer, std::string& sCheckSum, std::int16_t& iVar,
                             std::int16_t& jVar, std::int16_t& rVar) {
  RunningCheck check = RunningCheck::Load(sCheckSum, iVar, jVar, rVar);
  check.Fold(sDigVer);
  // Every output is written only once the fold has succeeded.
  sCheckSum.assign(check.value());
  iVar = check.i();
  jVar = check.j();
  rVar = check.r();
}

}  // namespace zav
