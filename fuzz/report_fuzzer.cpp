// Runs d88info's views on the input as an image: the report, the problems,
// the JSON and the summary's walk, and the disk map. Each must end, and
// every view must come to the same findings.

#include <initializer_list>

#include "d88/d88_file.h"
#include "fuzz/fuzz_support.h"
#include "inspect/views.h"

namespace {

bool SameFindings(const ImageFindings& a, const ImageFindings& b) {
  return a.d88 == b.d88 && a.disks == b.disks &&
         a.health.damaged == b.health.damaged &&
         a.health.read_errors == b.health.read_errors &&
         a.health.error_disks == b.health.error_disks &&
         a.files.incomplete == b.files.incomplete &&
         a.files.suspect == b.files.suspect &&
         a.files.not_its_disk == b.files.not_its_disk;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
  static std::FILE* const sink = EnterOwnDirectory();
  static Inspection checked;
  static Inspection shown;
  if (!file.Set(data, size)) return 0;

  d88::D88File reader;
  FUZZ_CHECK(reader.Open(file.path()));
  InspectAll(&reader, &checked);
  TextOut out(sink);
  JsonWriter json(&out);
  for (const bool problems : {false, true}) {
    WriteTextReport(&reader, problems, &out, &shown);
    FUZZ_CHECK(SameFindings(shown.image, checked.image));
  }
  WriteJsonReport(&reader, file.path(), &json, &shown);
  FUZZ_CHECK(SameFindings(shown.image, checked.image));
  const ImageFindings& image = checked.image;
  FUZZ_CHECK(image.disks >= 0 && image.disks <= d88::D88File::kMaxDisks);
  FUZZ_CHECK(!image.d88 || image.disks > 0);
  const int disk = size > 0 ? data[0] % 3 : 0;
  if (image.d88) {
    FUZZ_CHECK(WriteMap(&reader, file.path(), disk, "map.svg", image, sink) ==
               (disk < reader.GetDiskCount()));
  }
  return 0;
}
