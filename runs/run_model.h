// What volspar's rows do on a disk, worked out in one place for volspar
// itself, d88info's checks and map, and volpack: each row's steps, the file
// bytes each step delivers, and where the rest of each file comes from.

#ifndef RUNS_RUN_MODEL_H_
#define RUNS_RUN_MODEL_H_

#include <cstdint>

#include "d88/d88_file.h"
#include "runs/extraction_table.h"

// A stretch of a file, in file offsets, whose bytes come from one place.
struct FileSpan {
  int from;
  int to;
  int row;  // the earlier row whose run left the bytes; -1: zeros
};

struct RowRun {
  d88::RunStep steps[kMaxRunSteps];
  int step_count;  // the steps taken; the last one ended the run
  // Bytes of the work buffer, from its start, that the run wrote: its whole
  // chunks and the bytes of a short sector that ended it.
  int reached;
  int from_image;  // bytes of the file that come from the image
  // The file's other bytes, in file order: what earlier rows left in the
  // work buffer, or its zeros.
  FileSpan rest[kExtractionRows];
  int rest_count;
};

struct RunModel {
  RowRun rows[kExtractionRows];
};

// Reads row `row`'s run from `reader`'s selected disk into `work_buffer`
// (kWorkBufferSize bytes, never cleared), as volspar does, and records it in
// `model`. The rows before it must have been run, in order, into the same
// buffer: they decide what it held.
void RunRow(d88::D88File* reader, int row, uint8_t* work_buffer,
            RunModel* model);

// Selects disk 0 and volspar's sector range, and runs every row in order
// into `work_buffer`. After each row, `after_row(row)` may look at the
// buffer as the row left it, and stops the rows by returning false. The
// model does not depend on what the buffer held: callers that read its
// bytes clear it first.
template <typename AfterRow>
void RunAllRows(d88::D88File* reader, uint8_t* work_buffer, RunModel* model,
                AfterRow after_row) {
  reader->SelectDisk(0);
  reader->SetSectorRange(kExtractionFirstSector, kExtractionLastSector);
  for (int row = 0; row < kExtractionRows; ++row) {
    RunRow(reader, row, work_buffer, model);
    if (!after_row(row)) return;
  }
}
inline void RunAllRows(d88::D88File* reader, uint8_t* work_buffer,
                       RunModel* model) {
  RunAllRows(reader, work_buffer, model, [](int) { return true; });
}

// The bytes of row `row`'s file that its step `index` delivered, as file
// offsets [*from, *to); false when it delivered none of them.
bool StepSpan(const RowRun& run, int row, int index, int* from, int* to);
// The same for a step that delivers `delivered` bytes, whatever it found.
bool SectorSpan(int row, int index, int delivered, int* from, int* to);

#endif  // RUNS_RUN_MODEL_H_
