// Plans volpack's way back on the input as an image: every segment lies
// within its file and within the image; unedited files always go back, and
// the new image gives them back; an edited byte has a home exactly where a
// segment covers it.

#include <cstring>

#include "d88/d88_file.h"
#include "fuzz/fuzz_support.h"
#include "runs/packing.h"

namespace {

PackPlan plan;
uint8_t edited[kExtractionRows][kMaxFileLength];

// The new image from `files`, written and read back; false if the check
// refuses it.
bool RoundTrip(const char* path, const uint8_t* const files[],
               std::FILE* sink) {
  InputFile image;
  OutputFile out;
  FUZZ_CHECK(image.Open(path) && out.Create("packed.d88"));
  FUZZ_CHECK(WritePacked(&image, image.size(), plan, files, &out));
  FUZZ_CHECK(out.Flush());
  return VerifyPacked(out.pending_name(), files, sink);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
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
  const uint8_t* unchanged[kExtractionRows];
  const uint8_t* changed[kExtractionRows];
  for (int row = 0; row < kExtractionRows; ++row) {
    unchanged[row] = plan.expected[row];
    changed[row] = edited[row];
    const int length = kExtractionTable[row].write_length;
    for (int k = 0; k < length; ++k) edited[row][k] = plan.expected[row][k] ^ 1;
    FUZZ_CHECK(CheckHomes(plan, row, unchanged[row], sink));
    // The steps of one run cover different bytes of its file.
    FUZZ_CHECK(CheckHomes(plan, row, changed[row], sink) ==
               (covered[row] == length));
  }
  FUZZ_CHECK(CheckAgreement(plan, unchanged, sink));
  FUZZ_CHECK(CheckHeaders(&reader, plan, unchanged, sink));
  FUZZ_CHECK(RoundTrip(file.path(), unchanged, sink));
  return 0;
}
