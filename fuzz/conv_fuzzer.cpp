// Runs d88conv's conversions on the input: as an image, dumped (padded
// or not), its first disk taken out, joined to itself; and as a raw dump of
// a layout that its first bytes give. Each must end; a dump that succeeds
// must come back the same through an image made of it, and an image made
// of a dump must give that dump back.

#include <cstdio>
#include <vector>

#include "conv/conv.h"
#include "d88/d88_file.h"
#include "fuzz/fuzz_support.h"

namespace {

// The largest dump the raw half writes: larger layouts are still parsed,
// and refused for their size.
constexpr size_t kMaxDump = 1 << 20;

std::vector<uint8_t> ReadAll(const char* path) {
  std::vector<uint8_t> bytes;
  if (std::FILE* file = std::fopen(path, "rb")) {
    for (int c; (c = std::fgetc(file)) != EOF;) {
      bytes.push_back(static_cast<uint8_t>(c));
    }
    std::fclose(file);
  }
  return bytes;
}

bool WriteAll(const char* path, const std::vector<uint8_t>& bytes) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  const bool written =
      std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

// The image half: the dump of disk 0 (padded when the first byte is odd)
// made into an image and dumped again gives the same bytes.
void ImageWays(const char* image, const uint8_t* data, size_t size,
               std::FILE* sink) {
  const int fill = size > 0 && (data[0] & 1) != 0 ? data[0] : conv::kNoFill;
  d88::RawLayout layout;
  if (conv::ToRaw(image, 0, fill, "first.raw", sink, sink, &layout) == 0) {
    char text[64];
    std::snprintf(text, sizeof text, "%dx%dx%dx%d", layout.cylinders,
                  layout.sides, layout.sectors, layout.sector_size);
    // A track may hold all 256 sector numbers, one more than a layout.
    const int made =
        conv::FromRaw(text, "", "first.raw", "made.d88", sink, sink);
    FUZZ_CHECK(made == 0 || layout.sectors == 256);
    d88::RawLayout again;
    if (made == 0) {
      FUZZ_CHECK(conv::ToRaw("made.d88", 0, conv::kNoFill, "again.raw", sink,
                             sink, &again) == 0);
      FUZZ_CHECK(ReadAll("again.raw") == ReadAll("first.raw"));
      FUZZ_CHECK(again.ByteSize() == layout.ByteSize());
    }
  }
  if (conv::TakeDisk(image, 0, "one.d88", sink, sink) == 0) {
    d88::D88File one;
    FUZZ_CHECK(one.Open("one.d88") && one.GetDiskCount() >= 1);
  }
  const char* const twice[] = {image, image};
  conv::JoinImages(twice, 2, "two.d88", sink, sink);
}

// The raw half: a layout from the first four bytes, and the input repeated
// to its size as the dump.
void RawWays(const uint8_t* data, size_t size, std::FILE* sink) {
  if (size < 4) return;
  const int bytes = (data[3] & 0x80) != 0 ? data[3] * 5 : 128 << (data[3] % 8);
  char text[64];
  std::snprintf(text, sizeof text, "%dx%dx%dx%d", data[0] % 84, data[1] % 3,
                data[2], bytes);
  const size_t want = static_cast<size_t>(data[0] % 84) * (data[1] % 3) *
                      data[2] * static_cast<size_t>(bytes);
  std::vector<uint8_t> raw(data, data + size);
  if (want > 0 && want <= kMaxDump) {
    raw.resize(want);
    for (size_t i = size; i < want; ++i) raw[i] = raw[i % size];
  }
  FUZZ_CHECK(WriteAll("in.raw", raw));
  if (conv::FromRaw(text, "FUZZ", "in.raw", "raw.d88", sink, sink) != 0) return;
  FUZZ_CHECK(raw.size() == want);
  FUZZ_CHECK(conv::ToRaw("raw.d88", 0, conv::kNoFill, "back.raw", sink, sink) ==
             0);
  FUZZ_CHECK(ReadAll("back.raw") == raw);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
  static std::FILE* const sink = EnterOwnDirectory();
  if (!file.Set(data, size)) return 0;
  ImageWays(file.path(), data, size, sink);
  RawWays(data, size, sink);
  return 0;
}
