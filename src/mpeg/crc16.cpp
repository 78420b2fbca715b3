#include "mpeg/crc16.h"

#include <cstring>
#include <vector>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define SNIP_CRC_FOLDING 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace snip {

namespace {

constexpr uint32_t kPoly = 0x18005;  // x^16 + x^15 + x^2 + 1

// Tables for eight bytes at a time: table[0] is the CRC of one byte,
// table[k] of that byte followed by k zero bytes.
struct Crc16Tables {
  uint16_t t[8][256];
  constexpr Crc16Tables() : t{} {
    for (int b = 0; b < 256; ++b) {
      uint16_t crc = static_cast<uint16_t>(b);
      for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
      t[0][b] = crc;
    }
    for (int k = 1; k < 8; ++k) {
      for (int b = 0; b < 256; ++b) t[k][b] = static_cast<uint16_t>((t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF]);
    }
  }
};
constexpr Crc16Tables kTables;

uint16_t Crc16Tabled(const uint8_t* data, size_t n, uint16_t crc) {
  const auto& t = kTables.t;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const uint8_t* p = data + i;
    uint32_t lo = static_cast<uint32_t>(p[0] | (p[1] << 8)) ^ crc;
    crc = static_cast<uint16_t>(t[7][lo & 0xFF] ^ t[6][lo >> 8] ^ t[5][p[2]] ^ t[4][p[3]] ^ t[3][p[4]] ^ t[2][p[5]] ^
                                t[1][p[6]] ^ t[0][p[7]]);
  }
  for (; i < n; ++i) crc = static_cast<uint16_t>((crc >> 8) ^ t[0][(crc ^ data[i]) & 0xFF]);
  return crc;
}

#ifdef SNIP_CRC_FOLDING

// Folding. The bytes are the coefficients of one polynomial M, the first
// byte's lowest bit the highest power, and the CRC is M x^16 mod P. Sixteen
// bytes loaded into a vector register hold a polynomial of degree < 128 in
// that reflected order: bit q stands for x^(127 - q). Only M mod P matters,
// so a register R followed by more bytes D can be replaced by
// R x^(128 d) + D reduced far enough to fit a register again: its upper
// powers (the low 64 bits) times x^(128 d + 64) mod P, its lower powers (the
// high 64 bits) times x^(128 d) mod P. A carry-less product of two reflected
// 64-bit halves stands for the product times x, so each constant is taken
// one power lower. What is left in the end are 16 bytes with the same
// remainder as everything before them, whose CRC the tables take.

// x^e mod P, reflected into the top of a 64-bit half (bit 63 - i for x^i).
constexpr uint64_t Power(int e) {
  uint32_t r = 1;
  for (int i = 0; i < e; ++i) {
    r <<= 1;
    if (r & 0x10000) r ^= kPoly;
  }
  uint64_t reflected = 0;
  for (int i = 0; i < 16; ++i) {
    if (r & (1u << i)) reflected |= uint64_t{1} << (63 - i);
  }
  return reflected;
}

// The pair of constants that folds a register over d registers' worth of
// bytes: the low half multiplies the register's low half.
struct Fold {
  uint64_t low, high;
};
constexpr Fold FoldOver(int registers) { return {Power(128 * registers + 63), Power(128 * registers - 1)}; }

constexpr Fold kFold4 = FoldOver(4);
constexpr Fold kFold3 = FoldOver(3);
constexpr Fold kFold2 = FoldOver(2);
constexpr Fold kFold1 = FoldOver(1);

__attribute__((target("sse2,pclmul"))) inline __m128i FoldInto(__m128i r, const Fold& k, __m128i next) {
  const __m128i c = _mm_set_epi64x(static_cast<long long>(k.high), static_cast<long long>(k.low));
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(r, c, 0x00), _mm_clmulepi64_si128(r, c, 0x11)), next);
}

__attribute__((target("sse2,pclmul"))) inline __m128i Load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Folds the whole registers' worth of bytes from i on into r, then leaves
// r's bytes and the last few to the tables.
__attribute__((target("sse2,pclmul"))) uint16_t FoldRest(__m128i r, const uint8_t* data, size_t i, size_t n) {
  for (; i + 16 <= n; i += 16) r = FoldInto(r, kFold1, Load(data + i));
  uint8_t rest[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), r);
  return Crc16Tabled(data + i, n - i, Crc16Tabled(rest, sizeof(rest), 0));
}

// n is at least 64.
__attribute__((target("sse2,pclmul"))) uint16_t Crc16Folded(const uint8_t* data, size_t n, uint16_t crc) {
  // The CRC so far, as a starting value, joins the first two bytes.
  __m128i r0 = _mm_xor_si128(Load(data), _mm_cvtsi32_si128(crc));
  __m128i r1 = Load(data + 16);
  __m128i r2 = Load(data + 32);
  __m128i r3 = Load(data + 48);
  size_t i = 64;
  for (; i + 64 <= n; i += 64) {
    r0 = FoldInto(r0, kFold4, Load(data + i));
    r1 = FoldInto(r1, kFold4, Load(data + i + 16));
    r2 = FoldInto(r2, kFold4, Load(data + i + 32));
    r3 = FoldInto(r3, kFold4, Load(data + i + 48));
  }
  __m128i r = FoldInto(r0, kFold3, FoldInto(r1, kFold2, FoldInto(r2, kFold1, r3)));
  return FoldRest(r, data, i, n);
}

// The same with 32-byte registers where the processor multiplies two
// pairs of halves at once: eight 16-byte lanes side by side, each folded
// over 128 bytes, then folded into one. n is at least 128.
constexpr Fold kFold8 = FoldOver(8);
constexpr Fold kFold5 = FoldOver(5);
constexpr Fold kFold6 = FoldOver(6);
constexpr Fold kFold7 = FoldOver(7);

__attribute__((target("avx2,vpclmulqdq,pclmul"))) inline __m256i FoldWide(__m256i r, __m256i k, __m256i next) {
  return _mm256_xor_si256(_mm256_xor_si256(_mm256_clmulepi64_epi128(r, k, 0x00), _mm256_clmulepi64_epi128(r, k, 0x11)),
                          next);
}

__attribute__((target("avx2,vpclmulqdq,pclmul"))) inline __m256i LoadWide(const uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

__attribute__((target("avx2,vpclmulqdq,pclmul"))) uint16_t Crc16FoldedWide(const uint8_t* data, size_t n,
                                                                          uint16_t crc) {
  const __m256i k = _mm256_set_epi64x(static_cast<long long>(kFold8.high), static_cast<long long>(kFold8.low),
                                      static_cast<long long>(kFold8.high), static_cast<long long>(kFold8.low));
  __m256i r0 = _mm256_xor_si256(LoadWide(data), _mm256_zextsi128_si256(_mm_cvtsi32_si128(crc)));
  __m256i r1 = LoadWide(data + 32);
  __m256i r2 = LoadWide(data + 64);
  __m256i r3 = LoadWide(data + 96);
  size_t i = 128;
  for (; i + 128 <= n; i += 128) {
    r0 = FoldWide(r0, k, LoadWide(data + i));
    r1 = FoldWide(r1, k, LoadWide(data + i + 32));
    r2 = FoldWide(r2, k, LoadWide(data + i + 64));
    r3 = FoldWide(r3, k, LoadWide(data + i + 96));
  }
  // The eight lanes in the order of their bytes, folded into the last.
  const __m128i lanes[8] = {_mm256_castsi256_si128(r0), _mm256_extracti128_si256(r0, 1),
                            _mm256_castsi256_si128(r1), _mm256_extracti128_si256(r1, 1),
                            _mm256_castsi256_si128(r2), _mm256_extracti128_si256(r2, 1),
                            _mm256_castsi256_si128(r3), _mm256_extracti128_si256(r3, 1)};
  const Fold* over[8] = {&kFold7, &kFold6, &kFold5, &kFold4, &kFold3, &kFold2, &kFold1, nullptr};
  __m128i r = lanes[7];
  for (int lane = 6; lane >= 0; --lane) r = FoldInto(lanes[lane], *over[lane], r);
  return FoldRest(r, data, i, n);
}

bool CanFold() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  return (c & bit_PCLMUL) != 0 && (d & bit_SSE2) != 0;
}

// 32-byte registers need the instructions and the system keeping them.
bool CanFoldWide() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!CanFold() || !__get_cpuid(1, &a, &b, &c, &d) || (c & bit_OSXSAVE) == 0) return false;
  unsigned lo = 0, hi = 0;
  __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  if ((lo & 0x6) != 0x6) return false;  // the system saves the SSE and AVX registers
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  return (b & bit_AVX2) != 0 && (c & bit_VPCLMULQDQ) != 0;
}

const bool kCanFold = CanFold();
const bool kCanFoldWide = CanFoldWide();

#endif

}  // namespace

uint16_t Crc16(const uint8_t* data, size_t n, uint16_t crc) {
#ifdef SNIP_CRC_FOLDING
  if (n >= 128 && kCanFoldWide) return Crc16FoldedWide(data, n, crc);
  if (n >= 64 && kCanFold) return Crc16Folded(data, n, crc);
#endif
  return Crc16Tabled(data, n, crc);
}

std::vector<uint16_t> Crc16EveryWay(const uint8_t* data, size_t n, uint16_t crc) {
  std::vector<uint16_t> ways{Crc16Tabled(data, n, crc)};
#ifdef SNIP_CRC_FOLDING
  if (n >= 64 && kCanFold) ways.push_back(Crc16Folded(data, n, crc));
  if (n >= 128 && kCanFoldWide) ways.push_back(Crc16FoldedWide(data, n, crc));
#endif
  return ways;
}

}  // namespace snip
