#include "platform/crc32.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define D88_CRC32_FOLD 1
#endif

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320;
constexpr int kSlices = 8;

// kTables.t[0] is the classic byte-at-a-time table; t[k][b] is the CRC of
// byte b followed by k zero bytes, so that eight bytes fold in with eight
// independent look-ups.
struct Tables {
  uint32_t t[kSlices][256];
  constexpr Tables() : t() {
    for (uint32_t b = 0; b < 256; ++b) {
      uint32_t crc = b;
      for (int bit = 0; bit < 8; ++bit) {
        crc = (crc >> 1) ^ (kPolynomial & (0 - (crc & 1)));
      }
      t[0][b] = crc;
    }
    for (int k = 1; k < kSlices; ++k) {
      for (int b = 0; b < 256; ++b) {
        const uint32_t previous = t[k - 1][b];
        t[k][b] = (previous >> 8) ^ t[0][previous & 0xFF];
      }
    }
  }
};
constexpr Tables kTables;

// Four bytes as a little-endian value, whatever the host's order.
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

#ifdef D88_CRC32_FOLD
// Carry-less multiplication folds 16-byte blocks at a time: on an x86-64
// with PCLMULQDQ a whole image's sectors take a tenth of the tables' work.
// The constants are x^k mod P for the fold distances, and the Barrett
// constants of P, for the reflected polynomial above.
alignas(16) constexpr uint64_t kFold64[2] = {0x0154442bd4, 0x01c6e41596};
alignas(16) constexpr uint64_t kFold16[2] = {0x01751997d0, 0x00ccaa009e};
alignas(16) constexpr uint64_t kFold8[2] = {0x0163cd6124, 0x0000000000};
alignas(16) constexpr uint64_t kBarrett[2] = {0x01db710641, 0x01f7011641};

// Folds `block` into `x` at the distance `k` holds.
__attribute__((target("pclmul,sse4.1"), always_inline)) inline __m128i Fold(
    __m128i x, __m128i k, __m128i block) {
  const __m128i low = _mm_clmulepi64_si128(x, k, 0x00);
  const __m128i high = _mm_clmulepi64_si128(x, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(high, low), block);
}

// The 128 bits left reduced to the 32 of the CRC.
__attribute__((target("pclmul,sse4.1"))) uint32_t Reduce(__m128i x) {
  const __m128i mask = _mm_setr_epi32(~0, 0, ~0, 0);
  __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold16));
  x = _mm_xor_si128(_mm_srli_si128(x, 8), _mm_clmulepi64_si128(x, k, 0x10));
  k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kFold8));
  x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, mask), k, 0x00),
                    _mm_srli_si128(x, 4));
  k = _mm_load_si128(reinterpret_cast<const __m128i*>(kBarrett));
  __m128i q = _mm_clmulepi64_si128(_mm_and_si128(x, mask), k, 0x10);
  q = _mm_clmulepi64_si128(_mm_and_si128(q, mask), k, 0x00);
  return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, q), 1));
}

// The running value `c` (bits inverted) after `size` bytes, a multiple of
// 16 and at least 64.
__attribute__((target("pclmul,sse4.1"))) uint32_t FoldBlocks(
    uint32_t c, const uint8_t* data, size_t size) {
  const __m128i* p = reinterpret_cast<const __m128i*>(data);
  __m128i x0 =
      _mm_xor_si128(_mm_loadu_si128(p), _mm_cvtsi32_si128(static_cast<int>(c)));
  __m128i x1 = _mm_loadu_si128(p + 1);
  __m128i x2 = _mm_loadu_si128(p + 2);
  __m128i x3 = _mm_loadu_si128(p + 3);
  __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold64));
  // Four lanes at once, 64 bytes a step.
  for (p += 4, size -= 64; size >= 64; p += 4, size -= 64) {
    x0 = Fold(x0, k, _mm_loadu_si128(p));
    x1 = Fold(x1, k, _mm_loadu_si128(p + 1));
    x2 = Fold(x2, k, _mm_loadu_si128(p + 2));
    x3 = Fold(x3, k, _mm_loadu_si128(p + 3));
  }
  k = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold16));
  __m128i folded = Fold(Fold(Fold(x0, k, x1), k, x2), k, x3);
  for (; size >= 16; ++p, size -= 16) {
    folded = Fold(folded, k, _mm_loadu_si128(p));
  }
  return Reduce(folded);
}

// Asked each time, and cheaply: a cached answer would need a guard from
// the C++ runtime, which the commands do without.
bool CanFold() {
  return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}
#endif

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size) {
  return Crc32Extend(0, data, size);
}

uint32_t Crc32Extend(uint32_t crc, const uint8_t* data, size_t size) {
  const auto& t = kTables.t;
  uint32_t c = ~crc;
#ifdef D88_CRC32_FOLD
  if (size >= 64 && CanFold()) {
    const size_t blocks = size & ~size_t{15};
    c = FoldBlocks(c, data, blocks);
    data += blocks;
    size -= blocks;
  }
#endif
  for (; size >= kSlices; size -= kSlices, data += kSlices) {
    const uint32_t low = c ^ Le32(data);
    const uint32_t high = Le32(data + 4);
    c = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^
        t[4][low >> 24] ^ t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^
        t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
  }
  for (; size > 0; --size, ++data) c = (c >> 8) ^ t[0][(c ^ *data) & 0xFF];
  return ~c;
}
