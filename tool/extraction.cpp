#include "tool/extraction.h"

#include <cerrno>
#include <cstring>

namespace {

bool ExtractRow(D88File* reader, const ExtractionEntry& row,
                uint8_t* work_buffer, std::FILE* out, std::FILE* err) {
  std::FILE* file = std::fopen(row.file_name, "wb");
  int error = errno;
  // The run is read even without a file: later rows may rely on what it
  // leaves in the work buffer.
  reader->ReadSectors(row.track, row.c, row.h, row.r, kExtractionSizeCode,
                      work_buffer, row.bytes_read);
  if (file == nullptr) {
    std::fprintf(err, "volspar: cannot create %s: %s\n", row.file_name,
                 std::strerror(error));
    return false;
  }
  // Each file is one write of the work buffer; a stream buffer would only
  // copy it and split the write in two.
  std::setvbuf(file, nullptr, _IONBF, 0);
  const size_t length = static_cast<size_t>(row.write_length);
  bool ok =
      std::fwrite(work_buffer + row.write_offset, 1, length, file) == length &&
      std::fflush(file) == 0;
  error = errno;
  if (ok) std::fprintf(out, "%s was created.\n", row.file_name);
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    std::fprintf(err, "volspar: cannot write %s: %s\n", row.file_name,
                 std::strerror(error));
  }
  return ok;
}

}  // namespace

bool ExtractRuns(D88File* reader, uint8_t* work_buffer, std::FILE* out,
                 std::FILE* err) {
  bool ok = true;
  for (const ExtractionEntry& row : kExtractionTable) {
    ok = ExtractRow(reader, row, work_buffer, out, err) && ok;
  }
  return ok;
}
