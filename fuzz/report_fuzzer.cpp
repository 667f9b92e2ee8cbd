// Runs d88info's report in every style, its verdict alone and its disk map
// on the input as an image: each must end, and every style must come to
// the same verdict.

#include <initializer_list>

#include "d88/d88_file.h"
#include "fuzz/fuzz_support.h"
#include "inspect/disk_map.h"
#include "inspect/report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
  static std::FILE* const sink = EnterOwnDirectory();
  static FileChecks files;
  if (!file.Set(data, size)) return 0;

  d88::D88File reader;
  FUZZ_CHECK(reader.Open(file.path()));
  TextOut out(sink);
  JsonWriter json(&out);
  const ImageVerdict checked = InspectImage(
      &reader, file.path(), ReportStyle::kNone, &out, &json, &files);
  for (const ReportStyle style :
       {ReportStyle::kFull, ReportStyle::kProblems, ReportStyle::kJson}) {
    const ImageVerdict reported =
        InspectImage(&reader, file.path(), style, &out, &json, &files);
    FUZZ_CHECK(reported.d88 == checked.d88);
    FUZZ_CHECK(reported.damaged == checked.damaged);
    FUZZ_CHECK(reported.incomplete == checked.incomplete);
    FUZZ_CHECK(reported.suspect == checked.suspect);
  }
  FUZZ_CHECK(checked.disks >= 0 && checked.disks <= d88::D88File::kMaxDisks);
  FUZZ_CHECK(!checked.d88 || checked.disks > 0);
  const int disk = size > 0 ? data[0] % 3 : 0;
  if (checked.d88) {
    FUZZ_CHECK(WriteMap(&reader, file.path(), disk, "map.svg", files, sink) ==
               (disk < reader.GetDiskCount()));
  }
  return 0;
}
