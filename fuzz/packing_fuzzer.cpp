// Plans volpack's way back on the input as an image: every segment must lie
// within its file and within the image, and files of equal bytes agree.

#include "d88/d88_file.h"
#include "fuzz/fuzz_support.h"
#include "runs/packing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
  static PackPlan plan;
  static uint8_t zeros[kMaxRunSteps * kSectorSize];
  static std::FILE* const sink = EnterOwnDirectory();
  if (!file.Set(data, size)) return 0;

  d88::D88File reader;
  FUZZ_CHECK(reader.Open(file.path()));
  PlanPacking(&reader, &plan);
  int covered[kExtractionRows] = {};
  for (int i = 0; i < plan.segment_count; ++i) {
    const PackSegment& segment = plan.segments[i];
    const ExtractionEntry& entry = kExtractionTable[segment.row];
    FUZZ_CHECK(segment.length > 0 && segment.file_offset >= 0);
    FUZZ_CHECK(segment.file_offset + segment.length <= entry.write_length);
    FUZZ_CHECK(segment.image_offset >= 0 &&
               segment.image_offset + segment.length <=
                   static_cast<int64_t>(size));
    covered[segment.row] += segment.length;
  }
  const uint8_t* files[kExtractionRows];
  for (int row = 0; row < kExtractionRows; ++row) {
    files[row] = zeros;
    // A file has a home for every byte exactly when nothing says otherwise.
    FUZZ_CHECK((plan.homeless[row] < 0) ==
               (covered[row] == kExtractionTable[row].write_length));
    FUZZ_CHECK(CheckHomes(plan, row, sink) == (plan.homeless[row] < 0));
  }
  FUZZ_CHECK(CheckAgreement(plan, files, sink));
  return 0;
}
