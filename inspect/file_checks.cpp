#include "inspect/file_checks.h"

#include <algorithm>

#include "inspect/records.h"

namespace {

// The size codes of the sectors on the tracks the runs visit, each track
// counted once.
struct VisitedSizes {
  bool counted[d88::D88File::kMaxTracks];
  int sizes[256];
};

void CountSizes(const TrackRecords& t, VisitedSizes* visited) {
  if (t.track < 0 || t.track >= d88::D88File::kMaxTracks ||
      visited->counted[t.track]) {
    return;
  }
  visited->counted[t.track] = true;
  if (t.unformatted) return;
  for (int k = 0; k < t.count; ++k)
    ++visited->sizes[t.facts[k].record.info.id.n];
}

// Looks up step `i` of `run` on its classified track `t`.
void CheckStep(const RowRun& run, int row, int i, const TrackRecords* t,
               FileCheck* check) {
  const d88::RunStep& step = run.steps[i];
  check->flags[i] = 0;
  check->id_counts[i] = 0;
  check->infos[i] = {};
  int from = 0;
  int to = 0;
  if (step.record < 0) {
    // Needed when the sector's place in the run lies within the file.
    const bool needed = SectorSpan(row, i, kSectorSize, &from, &to);
    check->uses[i] = needed ? StepUse::kMissingNeeded : StepUse::kNone;
    return;
  }
  const bool in_file = StepSpan(run, row, i, &from, &to);
  check->uses[i] = in_file ? StepUse::kInFile : StepUse::kRead;
  if (t == nullptr || step.record >= t->count) return;
  check->infos[i] = t->facts[step.record].record.info;
  check->flags[i] = t->facts[step.record].flags;
  check->id_counts[i] = t->facts[step.record].id_count;
  if (IsSuspect(*check, i)) ++check->suspects;
}

// What the track where the run stopped says of the sector it missed.
void CheckStop(const d88::RunStep& last, const TrackRecords& t,
               FileCheck* check) {
  if (last.result != d88::StepResult::kNotFound) return;
  check->file_ended =
      t.end == d88::WalkEnd::kFileEnd || t.end == d88::WalkEnd::kShortHeader;
  for (int k = 0; k < t.count; ++k) {
    const d88::SectorId& id = t.facts[k].record.info.id;
    if (id.c == last.c && id.h == last.h && id.r == last.r) {
      check->other_n = id.n;
      return;
    }
  }
}

// Traces row `row` into `check`; its records are classified on the disk
// `layout` describes.
void CheckFile(d88::D88File* reader, const DiskLayout* layout,
               const RowRun& run, int row, VisitedSizes* visited,
               FileCheck* check) {
  check->suspects = 0;
  check->file_ended = false;
  check->other_n = -1;
  int classified = -1;
  const TrackRecords* track = nullptr;
  for (int i = 0; i < run.step_count; ++i) {
    const int at = run.steps[i].track;
    if (layout != nullptr && at != classified) {
      track = &ClassifyTrack(reader, *layout, at);
      classified = at;
      CountSizes(*track, visited);
    }
    CheckStep(run, row, i, track, check);
  }
  if (track != nullptr && run.step_count > 0) {
    CheckStop(run.steps[run.step_count - 1], *track, check);
  }
  const int needed = kExtractionTable[row].write_length;
  check->state = run.from_image < needed ? FileState::kIncomplete
                 : check->suspects > 0   ? FileState::kSuspect
                                         : FileState::kComplete;
}

}  // namespace

void CheckFiles(d88::D88File* reader, FileChecks* checks) {
  static uint8_t work_buffer[kWorkBufferSize];
  RunAllRows(reader, work_buffer, &checks->model);
  DiskLayout layout;
  const bool selected = SelectLayout(reader, 0, &layout);
  reader->SetSectorRange(kExtractionFirstSector, kExtractionLastSector);
  VisitedSizes visited = {};
  checks->incomplete = 0;
  checks->suspect = 0;
  for (int row = 0; row < kExtractionRows; ++row) {
    FileCheck& check = checks->files[row];
    CheckFile(reader, selected ? &layout : nullptr, checks->model.rows[row],
              row, &visited, &check);
    if (check.state == FileState::kIncomplete) ++checks->incomplete;
    if (check.state == FileState::kSuspect) ++checks->suspect;
  }
  const int* most = std::max_element(visited.sizes, visited.sizes + 256);
  checks->common_n = *most > 0 ? static_cast<int>(most - visited.sizes) : -1;
  checks->not_its_disk = visited.sizes[kExtractionSizeCode] == 0;
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

bool IsSuspect(const FileCheck& check, int step) {
  return check.uses[step] == StepUse::kInFile &&
         (check.flags[step] & kSuspectFlags) != 0;
}
