// volspar: copies the fixed sector runs of a D88 image's first disk into
// TRV01.BIN ... TRV07.BIN in the current directory.

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "d88/d88_file.h"
#include "platform/command_main.h"
#include "platform/text_out.h"
#include "runs/extraction.h"

namespace {

constexpr char kUsage[] = "Usage: volspar [d88file]\n";
// "The file cannot be opened." in Shift_JIS, written as these bytes whatever
// the host's character set.
constexpr char kOpenFailed[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93"
    "\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1.\n";

// Zero at start and never cleared: bytes that a short run does not reach
// keep what earlier rows left, and the files carry them.
uint8_t work_buffer[kWorkBufferSize];

}  // namespace

int Run(int argc, char** argv) {
  d88::D88File reader;
  if (argc != 2) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  if (!reader.Open(argv[1])) {
    std::fputs(kOpenFailed, stderr);
    return 1;
  }
  // A disk or sector that is missing is not reported: its file still gets
  // its full length from the work buffer.
  reader.SelectDisk(0);
  reader.SetSectorRange(kExtractionFirstSector, kExtractionLastSector);
  bool ok = ExtractRuns(&reader, argv[1], work_buffer, stdout, stderr);
  if (reader.GetReadError() != 0) {
    // The failed read ended its run as the image's end would: the files
    // stand as written, but may lack bytes that the image holds.
    std::fputs("volspar: cannot read ", stderr);
    PrintPath(stderr, argv[1], false);
    std::fprintf(stderr, ": %s\n", std::strerror(reader.GetReadError()));
    ok = false;
  }
  if (std::fflush(stdout) != 0) {
    std::fputs("volspar: cannot write standard output\n", stderr);
    ok = false;
  }
  return ok ? 0 : 1;
}
