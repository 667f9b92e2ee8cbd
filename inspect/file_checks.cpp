#include "inspect/file_checks.h"

#include <algorithm>

#include "inspect/records.h"

namespace {

// Traces row `row` into `check`; its records are classified on the disk
// `layout` describes.
void CheckFile(d88::D88File* reader, const DiskLayout* layout, int row,
               FileCheck* check) {
  static uint8_t run_buffer[kWorkBufferSize];
  const ExtractionEntry& entry = kExtractionTable[row];
  d88::RunTrace trace = {check->steps, kMaxRunSteps, 0};
  const int bytes = reader->ReadSectors(entry.track, entry.c, entry.h, entry.r,
                                        kExtractionSizeCode, run_buffer,
                                        entry.bytes_read, &trace);
  check->step_count = std::min(trace.step_count, kMaxRunSteps);
  // A short sector's bytes land at its place even though the run ends
  // there.
  int reached = bytes;
  if (check->step_count > 0) {
    const d88::RunStep& last = check->steps[check->step_count - 1];
    if (last.result == d88::StepResult::kShortData) reached += last.delivered;
  }
  const int file_end = entry.write_offset + entry.write_length;
  check->needed = entry.write_length;
  check->from_image =
      std::clamp(reached - entry.write_offset, 0, entry.write_length);
  check->suspects = 0;
  int classified = -1;
  const TrackRecords* track = nullptr;
  for (int i = 0; i < check->step_count; ++i) {
    const d88::RunStep& step = check->steps[i];
    check->flags[i] = 0;
    check->infos[i] = {};
    check->uses[i] = StepUse::kNone;
    if (step.record < 0) continue;
    const int begin = i * kSectorSize;
    const bool in_file =
        begin < file_end && begin + step.delivered > entry.write_offset;
    check->uses[i] = in_file ? StepUse::kInFile : StepUse::kRead;
    if (layout == nullptr) continue;
    if (step.track != classified) {
      track = &ClassifyTrack(reader, *layout, step.track);
      classified = step.track;
    }
    if (step.record >= track->count) continue;
    check->infos[i] = track->infos[step.record];
    check->flags[i] = track->flags[step.record];
    if (in_file && (check->flags[i] & kSuspectFlags) != 0) ++check->suspects;
  }
  check->file_ended = false;
  if (layout != nullptr && check->step_count > 0) {
    const d88::RunStep& last = check->steps[check->step_count - 1];
    if (last.result == d88::StepResult::kNotFound) {
      const TrackRecords& t = ClassifyTrack(reader, *layout, last.track);
      check->file_ended = t.count == 0 || t.end == TrackEnd::kFileEnd;
    }
  }
  check->state = check->from_image < check->needed ? FileState::kIncomplete
                 : check->suspects > 0             ? FileState::kSuspect
                                                   : FileState::kComplete;
}

}  // namespace

void CheckFiles(d88::D88File* reader, FileChecks* checks) {
  DiskLayout layout;
  const bool selected = SelectLayout(reader, 0, &layout);
  reader->SetSectorRange(kExtractionFirstSector, kExtractionLastSector);
  checks->incomplete = 0;
  checks->suspect = 0;
  for (int row = 0; row < kExtractionRows; ++row) {
    FileCheck& check = checks->files[row];
    CheckFile(reader, selected ? &layout : nullptr, row, &check);
    if (check.state == FileState::kIncomplete) ++checks->incomplete;
    if (check.suspects > 0) ++checks->suspect;
  }
}

const char* StateWord(FileState state) {
  switch (state) {
    case FileState::kComplete:
      return "complete";
    case FileState::kSuspect:
      return "suspect";
    case FileState::kIncomplete:
      return "incomplete";
  }
  return "";
}
