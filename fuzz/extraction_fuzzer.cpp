// Runs volspar's row loop on the input as an image, in a directory of its
// own: every file must be written, and no run may write past the bytes it
// reads into the work buffer.

#include <algorithm>
#include <cstring>

#include "d88/d88_file.h"
#include "fuzz/fuzz_support.h"
#include "runs/extraction.h"

namespace {

uint8_t work_buffer[kWorkBufferSize];

int LongestRun() {
  int longest = 0;
  for (const ExtractionEntry& row : kExtractionTable) {
    longest = std::max(longest, row.bytes_read);
  }
  return longest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
  static std::FILE* const sink = EnterOwnDirectory();
  static const int longest = LongestRun();
  if (!file.Set(data, size)) return 0;

  std::memset(work_buffer, 0, sizeof work_buffer);
  d88::D88File reader;
  FUZZ_CHECK(reader.Open(file.path()));
  reader.SelectDisk(0);
  reader.SetSectorRange(kExtractionFirstSector, kExtractionLastSector);
  FUZZ_CHECK(ExtractRuns(&reader, file.path(), work_buffer, sink, sink));
  for (int i = longest; i < kWorkBufferSize; ++i) {
    FUZZ_CHECK(work_buffer[i] == 0);
  }
  return 0;
}
