// Runs volspar's row loop on the input as an image, in a directory of its
// own: every file must be written, and no run may write past the bytes it
// reads into the work buffer.

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "d88/d88_file.h"
#include "fuzz/fuzz_support.h"
#include "tool/extraction.h"

namespace {

uint8_t work_buffer[kWorkBufferSize];

int LongestRun() {
  int longest = 0;
  for (const ExtractionEntry& row : kExtractionTable) {
    longest = std::max(longest, row.bytes_read);
  }
  return longest;
}

char work_dir[] = "/tmp/d88-extraction-fuzz-XXXXXX";

void RemoveWorkDir() {
  for (const ExtractionEntry& row : kExtractionTable) {
    std::remove(row.file_name);
  }
  rmdir(work_dir);
}

std::FILE* OpenSinkInOwnDirectory() {
  FUZZ_CHECK(mkdtemp(work_dir) != nullptr);
  FUZZ_CHECK(chdir(work_dir) == 0);
  std::atexit(RemoveWorkDir);
  std::FILE* sink = std::fopen("/dev/null", "w");
  FUZZ_CHECK(sink != nullptr);
  return sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
  static std::FILE* const sink = OpenSinkInOwnDirectory();
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
