#include "web/zip_writer.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/crc32.h"

namespace {

constexpr int kMaxFiles = 16;
constexpr int kMaxFileSize = 1 << 16;
// 1980-01-01 00:00, the earliest time the format holds: the archive's bytes
// depend on the files alone.
constexpr uint16_t kDosDate = (0 << 9) | (1 << 5) | 1;

// Little-endian fields, byte by byte.
class Fields {
 public:
  void Le16(uint32_t value) {
    Byte(value);
    Byte(value >> 8);
  }
  void Le32(uint32_t value) {
    Le16(value & 0xFFFF);
    Le16(value >> 16);
  }
  void Bytes(const void* data, int size) {
    std::memcpy(bytes_ + length_, data, static_cast<size_t>(size));
    length_ += size;
  }
  bool WriteTo(std::FILE* out) {
    const bool ok = std::fwrite(bytes_, 1, static_cast<size_t>(length_), out) ==
                    static_cast<size_t>(length_);
    length_ = 0;
    return ok;
  }

 private:
  void Byte(uint32_t value) { bytes_[length_++] = static_cast<uint8_t>(value); }

  uint8_t bytes_[512];
  int length_ = 0;
};

// A header's fields from "version needed" to the name's length.
void Common(Fields* f, uint32_t crc, int size, int name_length) {
  f->Le16(10);  // version needed: 1.0, stored
  f->Le16(0);   // flags
  f->Le16(0);   // method: stored
  f->Le16(0);   // time
  f->Le16(kDosDate);
  f->Le32(crc);
  f->Le32(static_cast<uint32_t>(size));  // compressed
  f->Le32(static_cast<uint32_t>(size));
  f->Le16(static_cast<uint32_t>(name_length));
  f->Le16(0);  // extra field
}

}  // namespace

bool WriteZip(const char* zip_name, const char* const names[], int count) {
  static uint8_t data[kMaxFileSize];
  if (count > kMaxFiles) return false;
  uint32_t crcs[kMaxFiles];
  int sizes[kMaxFiles];
  uint32_t offsets[kMaxFiles];
  std::FILE* out = std::fopen(zip_name, "wb");
  if (out == nullptr) return false;
  bool ok = true;
  uint32_t offset = 0;
  Fields f;
  for (int i = 0; i < count && ok; ++i) {
    std::FILE* in = std::fopen(names[i], "rb");
    if (in == nullptr) {
      ok = false;
      break;
    }
    sizes[i] = static_cast<int>(std::fread(data, 1, sizeof data, in));
    ok = !std::ferror(in) && std::feof(in);
    std::fclose(in);
    const int name_length = static_cast<int>(std::strlen(names[i]));
    crcs[i] = Crc32(data, static_cast<size_t>(sizes[i]));
    offsets[i] = offset;
    f.Le32(0x04034B50);
    Common(&f, crcs[i], sizes[i], name_length);
    f.Bytes(names[i], name_length);
    ok = ok && f.WriteTo(out) &&
         std::fwrite(data, 1, static_cast<size_t>(sizes[i]), out) ==
             static_cast<size_t>(sizes[i]);
    offset += 30 + static_cast<uint32_t>(name_length + sizes[i]);
  }
  const uint32_t directory = offset;
  for (int i = 0; i < count && ok; ++i) {
    const int name_length = static_cast<int>(std::strlen(names[i]));
    f.Le32(0x02014B50);
    f.Le16(20);  // made by: MS-DOS, 2.0
    Common(&f, crcs[i], sizes[i], name_length);
    f.Le16(0);  // comment
    f.Le16(0);  // disk
    f.Le16(0);  // internal attributes
    f.Le32(0);  // external attributes
    f.Le32(offsets[i]);
    f.Bytes(names[i], name_length);
    offset += 46 + static_cast<uint32_t>(name_length);
    ok = f.WriteTo(out);
  }
  f.Le32(0x06054B50);
  f.Le16(0);
  f.Le16(0);
  f.Le16(static_cast<uint32_t>(count));
  f.Le16(static_cast<uint32_t>(count));
  f.Le32(offset - directory);
  f.Le32(directory);
  f.Le16(0);
  ok = ok && f.WriteTo(out);
  return std::fclose(out) == 0 && ok;
}
