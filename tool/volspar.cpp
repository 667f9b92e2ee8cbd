// volspar: copies the fixed sector runs of a D88 image's first disk into
// TRV01.BIN ... TRV07.BIN in the current directory.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "d88/d88_file.h"
#include "tool/extraction_table.h"

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

// Creates the row's file, reads its run and writes the row's range of the
// work buffer. Announces the file once its bytes are flushed; reports it on
// standard error and returns false when it cannot be written.
bool ExtractRow(D88File* reader, const ExtractionEntry& row) {
  std::FILE* out = std::fopen(row.file_name, "wb");
  int error = errno;
  // The run is read even without a file: later rows may rely on what it
  // leaves in the work buffer.
  reader->ReadSectors(row.track, row.c, row.h, row.r, kExtractionSizeCode,
                      work_buffer, row.bytes_read);
  if (out == nullptr) {
    std::fprintf(stderr, "volspar: cannot create %s: %s\n", row.file_name,
                 std::strerror(error));
    return false;
  }
  const size_t length = static_cast<size_t>(row.write_length);
  bool ok =
      std::fwrite(work_buffer + row.write_offset, 1, length, out) == length &&
      std::fflush(out) == 0;
  error = errno;
  if (ok) std::printf("%s was created.\n", row.file_name);
  if (std::fclose(out) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    std::fprintf(stderr, "volspar: cannot write %s: %s\n", row.file_name,
                 std::strerror(error));
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  D88File reader;
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
  bool ok = true;
  for (const ExtractionEntry& row : kExtractionTable) {
    ok = ExtractRow(&reader, row) && ok;
  }
  if (std::fflush(stdout) != 0) {
    std::fputs("volspar: cannot write standard output\n", stderr);
    ok = false;
  }
  return ok ? 0 : 1;
}
