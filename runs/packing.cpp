#include "runs/packing.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "runs/extraction.h"

namespace {

// Work buffers of volspar's size, for the plan and for the check.
uint8_t work_buffer[kWorkBufferSize];

void PutId(std::FILE* out, const d88::RunStep& step) {
  std::fprintf(out, "%d/%d/%d/%d", step.c, step.h, step.r, step.n);
}

// The step of row `row` whose bytes hold file byte `at`; -1 when none.
int HomeOf(const PackPlan& plan, int row, int at) {
  for (int i = 0; i < plan.segment_count; ++i) {
    const PackSegment& s = plan.segments[i];
    if (s.row == row && at >= s.file_offset && at < s.file_offset + s.length) {
      return i;
    }
  }
  return -1;
}

// The image offset of each changed byte lies in [from, to) of a header:
// says so for the first such byte.
bool ChangesHeader(const PackPlan& plan, const uint8_t* const files[],
                   int64_t from, int64_t to, const char* what, std::FILE* err) {
  for (int i = 0; i < plan.segment_count; ++i) {
    const PackSegment& s = plan.segments[i];
    const int64_t low = std::max(from, s.image_offset);
    const int64_t high = std::min(to, s.image_offset + s.length);
    for (int64_t at = low; at < high; ++at) {
      const int byte = static_cast<int>(at - s.image_offset) + s.file_offset;
      if (files[s.row][byte] == plan.expected[s.row][byte]) continue;
      std::fprintf(err,
                   "volpack: %s cannot go back: its byte %d would change %s\n",
                   kExtractionTable[s.row].file_name, byte, what);
      return true;
    }
  }
  return false;
}

}  // namespace

void PlanPacking(d88::D88File* reader, PackPlan* plan) {
  std::memset(work_buffer, 0, sizeof work_buffer);
  plan->segment_count = 0;
  RunAllRows(reader, work_buffer, &plan->model, [plan](int row) {
    const ExtractionEntry& entry = kExtractionTable[row];
    std::memcpy(plan->expected[row], work_buffer + entry.write_offset,
                static_cast<size_t>(entry.write_length));
    const RowRun& run = plan->model.rows[row];
    for (int i = 0; i < run.step_count; ++i) {
      int from = 0;
      int to = 0;
      if (run.steps[i].offset < 0 || !StepSpan(run, row, i, &from, &to)) {
        continue;
      }
      const int skipped = from + entry.write_offset - i * kSectorSize;
      plan->segments[plan->segment_count++] = {row, i, from, to - from,
                                               run.steps[i].offset + skipped};
    }
    return true;
  });
}

bool CheckHomes(const PackPlan& plan, int row, const uint8_t* file,
                std::FILE* err) {
  const ExtractionEntry& entry = kExtractionTable[row];
  int at = 0;
  while (at < entry.write_length &&
         (file[at] == plan.expected[row][at] || HomeOf(plan, row, at) >= 0)) {
    ++at;
  }
  if (at == entry.write_length) return true;
  // Bytes past what the run reached are the only ones without a home: the
  // run's last step says why.
  const RowRun& run = plan.model.rows[row];
  const int last = run.step_count - 1;
  const d88::RunStep& step = run.steps[last];
  std::fprintf(err, "volpack: %s cannot go back: ", entry.file_name);
  PutId(err, step);
  std::fprintf(err, " on track %d is ", step.track);
  if (step.result == d88::StepResult::kShortData) {
    const int wanted =
        std::min(entry.bytes_read - last * kSectorSize, kSectorSize);
    std::fprintf(err, "short (%d of %d bytes)\n", step.delivered, wanted);
  } else {
    std::fprintf(err, "%s\n", MissingWords(step.result));
  }
  return false;
}

namespace {

// The image bytes that some changed file byte lands on lie in [*from, *to);
// false when no byte changed.
bool ChangedRange(const PackPlan& plan, const uint8_t* const files[],
                  int64_t* from, int64_t* to) {
  *from = INT64_MAX;
  *to = -1;
  for (int i = 0; i < plan.segment_count; ++i) {
    const PackSegment& s = plan.segments[i];
    for (int k = 0; k < s.length; ++k) {
      const int byte = s.file_offset + k;
      if (files[s.row][byte] == plan.expected[s.row][byte]) continue;
      *from = std::min(*from, s.image_offset + k);
      *to = std::max(*to, s.image_offset + k + 1);
    }
  }
  return *to >= 0;
}

}  // namespace

namespace {

// No changed byte in [low, high) lands in a record header of the selected
// disk `disk`.
bool CheckRecordHeaders(d88::D88File* reader, const PackPlan& plan,
                        const uint8_t* const files[], int disk, int64_t low,
                        int64_t high, std::FILE* err) {
  char what[96];
  int64_t walked[d88::D88File::kMaxTracks];
  for (int track = 0; track < d88::D88File::kMaxTracks; ++track) {
    d88::TrackWalk walk;
    walked[track] = reader->BeginWalk(track, &walk) ? walk.start : -1;
    // Tracks that share their records are walked once.
    if (walked[track] < 0 ||
        std::find(walked, walked + track, walked[track]) != walked + track) {
      continue;
    }
    d88::TrackRecord record;
    // Headers lie in ascending order: none past `high` can change.
    while (walk.next < high && reader->NextRecord(&walk, &record)) {
      const int64_t at = record.header_offset;
      if (at + d88::D88File::kSectorHeaderSize <= low) continue;
      const d88::SectorId& id = record.info.id;
      const int length = std::snprintf(
          what, sizeof what, "the header of record %d/%d/%d/%d on track %d",
          id.c, id.h, id.r, id.n, track);
      if (disk > 0) {
        std::snprintf(what + length, sizeof what - length, " of disk %d", disk);
      }
      if (ChangesHeader(plan, files, at, at + d88::D88File::kSectorHeaderSize,
                        what, err)) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

bool CheckHeaders(d88::D88File* reader, const PackPlan& plan,
                  const uint8_t* const files[], std::FILE* err) {
  int64_t low = 0;
  int64_t high = 0;
  if (!ChangedRange(plan, files, &low, &high)) return true;
  char what[96];
  for (int disk = 0; disk < reader->GetDiskCount(); ++disk) {
    const int64_t start = reader->GetDiskStart(disk);
    std::snprintf(what, sizeof what, "the header of disk %d", disk);
    if (start < high && start + d88::D88File::kDiskHeaderSize > low &&
        ChangesHeader(plan, files, start, start + d88::D88File::kDiskHeaderSize,
                      what, err)) {
      return false;
    }
  }
  // Any disk's track entries may lead into disk 0's sectors: a negative one
  // as well as one past the disk's own bytes.
  bool clean = true;
  for (int disk = 0; clean && disk < reader->GetDiskCount(); ++disk) {
    clean = !reader->SelectDisk(disk) ||
            CheckRecordHeaders(reader, plan, files, disk, low, high, err);
  }
  reader->SelectDisk(0);
  return clean;
}

bool CheckAgreement(const PackPlan& plan, const uint8_t* const files[],
                    std::FILE* err) {
  bool agree = true;
  for (int a = 0; a < plan.segment_count; ++a) {
    const PackSegment& first = plan.segments[a];
    for (int b = a + 1; b < plan.segment_count; ++b) {
      const PackSegment& second = plan.segments[b];
      const int64_t from = std::max(first.image_offset, second.image_offset);
      const int64_t to = std::min(first.image_offset + first.length,
                                  second.image_offset + second.length);
      if (from >= to) continue;
      const uint8_t* x =
          files[first.row] + first.file_offset + (from - first.image_offset);
      const uint8_t* y =
          files[second.row] + second.file_offset + (from - second.image_offset);
      if (std::memcmp(x, y, static_cast<size_t>(to - from)) == 0) continue;
      std::fprintf(err, "volpack: %s and %s disagree on ",
                   kExtractionTable[first.row].file_name,
                   kExtractionTable[second.row].file_name);
      PutId(err, plan.model.rows[first.row].steps[first.step]);
      std::fputc('\n', err);
      agree = false;
    }
  }
  return agree;
}

bool WritePacked(InputFile* image, int64_t size, const PackPlan& plan,
                 const uint8_t* const files[], OutputFile* out) {
  // The segments in image order: a forward pass needs no seek, so that the
  // new image can go to a pipe or a device.
  int order[kExtractionRows * kMaxRunSteps] = {};
  for (int i = 0; i < plan.segment_count; ++i) order[i] = i;
  std::sort(order, order + plan.segment_count, [&plan](int a, int b) {
    return plan.segments[a].image_offset < plan.segments[b].image_offset;
  });
  int64_t at = 0;
  for (int k = 0; k < plan.segment_count; ++k) {
    const PackSegment& s = plan.segments[order[k]];
    const int64_t end = s.image_offset + s.length;
    // Overlapping segments agree on their bytes: the first one writes them.
    if (end <= at) continue;
    const int64_t from = std::max(at, s.image_offset);
    if (!out->WriteFrom(image, at, from - at)) return false;
    const uint8_t* bytes =
        files[s.row] + s.file_offset + (from - s.image_offset);
    if (!out->Write(bytes, static_cast<size_t>(end - from))) return false;
    at = end;
  }
  // An image shorter than the segments reach is not the one planned on.
  if (at > size) return out->Abandon(EIO);
  return out->WriteFrom(image, at, size - at);
}

namespace {

// The bytes of file `row` that its run has just left in the work buffer are
// `file`'s; says the first that differs on `err` otherwise.
bool GivesBack(int row, const uint8_t* file, std::FILE* err) {
  const ExtractionEntry& entry = kExtractionTable[row];
  const uint8_t* got = work_buffer + entry.write_offset;
  const uint8_t* end = got + entry.write_length;
  const uint8_t* differ = std::mismatch(got, end, file).first;
  if (differ == end) return true;
  std::fprintf(err,
               "volpack: the new image would not give back %s: its byte %d "
               "differs\n",
               entry.file_name, static_cast<int>(differ - got));
  return false;
}

}  // namespace

bool VerifyPacked(const char* path, const uint8_t* const files[],
                  std::FILE* err) {
  static RunModel model;
  d88::D88File reader;
  const bool opened = reader.Open(path);
  bool same = opened;
  if (opened) {
    std::memset(work_buffer, 0, sizeof work_buffer);
    RunAllRows(
        &reader, work_buffer, &model, [&reader, &same, files, err](int row) {
          same = reader.GetReadError() == 0 && GivesBack(row, files[row], err);
          return same;
        });
  }
  if (!opened || reader.GetReadError() != 0) {
    std::fputs("volpack: the new image cannot be read back\n", err);
  }
  return same;
}
