#include "runs/extraction.h"

#include <cstring>

#include "platform/output_file.h"

namespace {

void Report(std::FILE* err, const char* what, const char* name, int error) {
  std::fprintf(err, "volspar: %s %s: %s\n", what, name, std::strerror(error));
}

bool ExtractRow(d88::D88File* reader, const FileId* image,
                const ExtractionEntry& row, uint8_t* work_buffer,
                std::FILE* out, std::FILE* err) {
  OutputFile file;
  const bool created = file.Create(row.file_name, image);
  // The run is read even without a file: later rows may rely on what it
  // leaves in the work buffer.
  reader->ReadSectors(row.track, row.c, row.h, row.r, kExtractionSizeCode,
                      work_buffer, row.bytes_read);
  if (!created && file.failure() == OutputFile::Failure::kKept) {
    std::fprintf(err, "volspar: will not replace %s: it is the image\n",
                 row.file_name);
    return false;
  }
  if (!created) {
    Report(err, "cannot create", row.file_name, file.error());
    return false;
  }
  file.Write(work_buffer + row.write_offset,
             static_cast<size_t>(row.write_length));
  if (!file.Commit()) {
    Report(err,
           file.failure() == OutputFile::Failure::kWrite ? "cannot write"
                                                         : "cannot create",
           row.file_name, file.error());
    return false;
  }
  std::fprintf(out, "%s was created.\n", row.file_name);
  return true;
}

}  // namespace

bool ExtractRuns(d88::D88File* reader, const char* image_path,
                 uint8_t* work_buffer, std::FILE* out, std::FILE* err) {
  FileId image;
  const bool known = image_path != nullptr && IdentifyFile(image_path, &image);
  bool ok = true;
  for (const ExtractionEntry& row : kExtractionTable) {
    ok = ExtractRow(reader, known ? &image : nullptr, row, work_buffer, out,
                    err) &&
         ok;
  }
  return ok;
}
