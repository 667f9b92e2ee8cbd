#include "runs/run_model.h"

#include <algorithm>

namespace {

// The latest of the rows before `row` whose run wrote buffer byte `at`;
// -1 when none did and the byte is still zero.
int LastWriter(const RunModel& model, int row, int at) {
  for (int k = row - 1; k >= 0; --k) {
    if (model.rows[k].reached > at) return k;
  }
  return -1;
}

// Where the bytes of the file past what the run reached come from: a later
// row overwrites an earlier one's bytes, so the latest writer of each byte
// holds it.
void TraceRest(const RunModel& model, int row, RowRun* run) {
  const ExtractionEntry& entry = kExtractionTable[row];
  const int end = entry.write_offset + entry.write_length;
  int at = std::max(run->reached, entry.write_offset);
  run->rest_count = 0;
  while (at < end) {
    const int writer = LastWriter(model, row, at);
    const int to = writer < 0 ? end : std::min(end, model.rows[writer].reached);
    run->rest[run->rest_count++] = {at - entry.write_offset,
                                    to - entry.write_offset, writer};
    at = to;
  }
}

}  // namespace

void RunRow(d88::D88File* reader, int row, uint8_t* work_buffer,
            RunModel* model) {
  const ExtractionEntry& entry = kExtractionTable[row];
  RowRun* run = &model->rows[row];
  d88::RunTrace trace = {run->steps, kMaxRunSteps, 0};
  const int bytes = reader->ReadSectors(entry.track, entry.c, entry.h, entry.r,
                                        kExtractionSizeCode, work_buffer,
                                        entry.bytes_read, &trace);
  run->step_count = std::min(trace.step_count, kMaxRunSteps);
  run->reached = bytes;
  if (run->step_count > 0) {
    const d88::RunStep& last = run->steps[run->step_count - 1];
    // A short sector's bytes land at its place even though the run ends
    // there.
    if (last.result == d88::StepResult::kShortData) {
      run->reached += last.delivered;
    }
  }
  run->from_image =
      std::clamp(run->reached - entry.write_offset, 0, entry.write_length);
  TraceRest(*model, row, run);
}

bool StepSpan(const RowRun& run, int row, int index, int* from, int* to) {
  return SectorSpan(row, index, run.steps[index].delivered, from, to);
}

bool SectorSpan(int row, int index, int delivered, int* from, int* to) {
  const ExtractionEntry& entry = kExtractionTable[row];
  const int begin = index * kSectorSize;
  *from = std::max(begin, entry.write_offset) - entry.write_offset;
  *to = std::min(begin + delivered, entry.write_offset + entry.write_length) -
        entry.write_offset;
  return *from < *to;
}
