// Runs d88info's report, verdict and disk map on the input as an image: each
// must end, and the report and the verdict alone must agree.

#include "d88/d88_file.h"
#include "fuzz/fuzz_support.h"
#include "inspect/disk_map.h"
#include "inspect/report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
  static std::FILE* const sink = EnterOwnDirectory();
  if (!file.Set(data, size)) return 0;

  d88::D88File reader;
  FUZZ_CHECK(reader.Open(file.path()));
  const ImageVerdict reported = WriteReport(&reader, sink);
  const ImageVerdict checked = CheckImage(&reader);
  FUZZ_CHECK(reported.verdict == checked.verdict);
  FUZZ_CHECK(reported.incomplete == checked.incomplete);
  FUZZ_CHECK(reported.suspect == checked.suspect);
  FUZZ_CHECK(reported.disks >= 0 && reported.disks <= d88::D88File::kMaxDisks);
  const int disk = size > 0 ? data[0] % 3 : 0;
  FUZZ_CHECK(WriteMap(&reader, file.path(), disk, "map.svg", sink) ==
             (disk < reader.GetDiskCount()));
  return 0;
}
