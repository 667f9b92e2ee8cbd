#include "platform/crc32.h"

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

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size) {
  return Crc32Extend(0, data, size);
}

uint32_t Crc32Extend(uint32_t crc, const uint8_t* data, size_t size) {
  const auto& t = kTables.t;
  uint32_t c = ~crc;
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
