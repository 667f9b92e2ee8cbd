#include "runs/extraction.h"

#include "platform/output_file.h"
#include "runs/run_model.h"

namespace {

bool ExtractRow(d88::D88File* reader, const FileId* image, int index,
                uint8_t* work_buffer, RunModel* model, std::FILE* out,
                std::FILE* err) {
  const ExtractionEntry& row = kExtractionTable[index];
  OutputFile file;
  const bool created = file.Create(row.file_name, image);
  // The run is read even without a file: later rows may rely on what it
  // leaves in the work buffer.
  RunRow(reader, index, work_buffer, model);
  if (!created) {
    file.Report(err, "volspar");
    return false;
  }
  file.Write(work_buffer + row.write_offset,
             static_cast<size_t>(row.write_length));
  if (!file.Commit()) {
    file.Report(err, "volspar");
    return false;
  }
  std::fprintf(out, "%s was created.\n", row.file_name);
  return true;
}

}  // namespace

bool ExtractRuns(d88::D88File* reader, const char* image_path,
                 uint8_t* work_buffer, std::FILE* out, std::FILE* err) {
  static RunModel model;
  FileId image;
  const bool known = image_path != nullptr && IdentifyFile(image_path, &image);
  bool ok = true;
  for (int row = 0; row < kExtractionRows; ++row) {
    ok = ExtractRow(reader, known ? &image : nullptr, row, work_buffer, &model,
                    out, err) &&
         ok;
  }
  return ok;
}

const char* MissingWords(d88::StepResult result) {
  switch (result) {
    case d88::StepResult::kNoTrack:
      return "missing: the track is absent";
    case d88::StepResult::kZeroCount:
      return "missing: the track ends at a record whose sector count is 0";
    default:
      return "missing";
  }
}
