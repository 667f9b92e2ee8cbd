#include "platform/crc32.h"

#include <cstring>
#include <vector>

#include "gtest/gtest.h"

namespace d88test {
namespace {

// The definition, a bit at a time, to check the fast routine against.
uint32_t BitwiseCrc32(const uint8_t* data, size_t size) {
  uint32_t crc = 0xFFFFFFFF;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
  }
  return ~crc;
}

const uint8_t* Text(const char* text) {
  return reinterpret_cast<const uint8_t*>(text);
}

// The check values that every CRC-32 implementation gives.
TEST(Crc32Test, GivesTheStandardCheckValues) {
  const struct {
    const char* text;
    uint32_t crc;
  } kCases[] = {
      {"", 0x00000000},
      {"a", 0xE8B7BE43},
      {"123456789", 0xCBF43926},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339},
  };
  for (const auto& [text, crc] : kCases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Crc32(Text(text), std::strlen(text)), crc);
  }
}

// Every length and alignment around the eight-byte steps, and any split
// of the bytes, give what the bitwise definition gives.
TEST(Crc32Test, AgreesWithTheDefinitionAtEveryLengthAndSplit) {
  std::vector<uint8_t> bytes(4096 + 16);
  uint32_t state = 1;
  for (uint8_t& byte : bytes) {
    state = state * 1103515245 + 12345;
    byte = static_cast<uint8_t>(state >> 24);
  }
  for (size_t start = 0; start < 8; ++start) {
    for (size_t size : {0, 1, 7, 8, 9, 15, 16, 17, 63, 512, 4096}) {
      const uint8_t* data = bytes.data() + start;
      const uint32_t expected = BitwiseCrc32(data, size);
      ASSERT_EQ(Crc32(data, size), expected) << start << " " << size;
      for (size_t split : {size_t{0}, size / 3, size}) {
        EXPECT_EQ(Crc32Extend(Crc32(data, split), data + split, size - split),
                  expected);
      }
    }
  }
}

}  // namespace
}  // namespace d88test
