// Little-endian fields, assembled byte by byte whatever the host's order:
// the D88 format's and those of the other formats the tools recognise.

#ifndef D88_LITTLE_ENDIAN_H_
#define D88_LITTLE_ENDIAN_H_

#include <cstdint>

namespace d88 {

constexpr uint32_t LoadLe16(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8;
}

constexpr uint32_t LoadLe32(const uint8_t* p) {
  return LoadLe16(p) | LoadLe16(p + 2) << 16;
}

inline void StoreLe16(uint32_t value, uint8_t* p) {
  p[0] = static_cast<uint8_t>(value & 0xFF);
  p[1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

inline void StoreLe32(uint32_t value, uint8_t* p) {
  StoreLe16(value & 0xFFFF, p);
  StoreLe16(value >> 16, p + 2);
}

}  // namespace d88

#endif  // D88_LITTLE_ENDIAN_H_
