// The way back from volspar's files into an image: which image bytes each
// byte of each file came from, as the runs read them, and a new image that
// holds the files' bytes there.

#ifndef RUNS_PACKING_H_
#define RUNS_PACKING_H_

#include <cstdint>
#include <cstdio>

#include "d88/d88_file.h"
#include "platform/output_file.h"
#include "runs/extraction_table.h"

// A stretch of one file that came from one stretch of the image.
struct PackSegment {
  int row;
  int step;  // the run's step, its sector
  int file_offset;
  int length;
  int64_t image_offset;
};

struct PackPlan {
  d88::RunStep steps[kExtractionRows][kMaxRunSteps];
  int step_count[kExtractionRows];
  // The step at which a file's bytes stop having a home in the image, or
  // -1 when every byte has one.
  int homeless[kExtractionRows];
  PackSegment segments[kExtractionRows * kMaxRunSteps];
  int segment_count;
};

// Runs volspar's rows on disk 0 of `reader`, as volspar does, and maps
// every byte of each file's range onto the image byte it came from.
void PlanPacking(d88::D88File* reader, PackPlan* plan);

// Says on `err` where file `row` has bytes without a home, as
// "volpack: TRV04.BIN cannot go back: 15/0/4/2 on track 30 is short (300 of
// 512 bytes)"; false if it has any.
bool CheckHomes(const PackPlan& plan, int row, std::FILE* err);

// Says on `err` every pair of files (or a file with itself) that puts
// different bytes on the same image bytes; `files` holds each file's bytes.
// False if any do.
bool CheckAgreement(const PackPlan& plan, const uint8_t* const files[],
                    std::FILE* err);

// Writes `new_path` as a copy of the image `image_path` (`image_size`
// bytes) with every segment's image bytes replaced by the file's; through
// `out`, replaced whole or not at all and never over `keep`.
bool WritePacked(const char* image_path, int64_t image_size,
                 const char* new_path, const FileId* keep, const PackPlan& plan,
                 const uint8_t* const files[], OutputFile* out);

#endif  // RUNS_PACKING_H_
