// The way back from volspar's files into an image: which image bytes each
// byte of each file came from, as the runs read them; which edited bytes
// have no place to go; and a new image that holds the files' bytes there,
// checked by extracting the files from it again.

#ifndef RUNS_PACKING_H_
#define RUNS_PACKING_H_

#include <cstdint>
#include <cstdio>

#include "d88/d88_file.h"
#include "platform/input_file.h"
#include "platform/output_file.h"
#include "runs/extraction_table.h"
#include "runs/run_model.h"

// The longest of volspar's files.
inline constexpr int kMaxFileLength = kMaxRunSteps * kSectorSize;

// A stretch of one file that came from one stretch of the image.
struct PackSegment {
  int row;
  int step;  // the run's step, its sector
  int file_offset;
  int length;
  int64_t image_offset;
};

struct PackPlan {
  RunModel model;
  // What volspar writes into each file from the image as it is.
  uint8_t expected[kExtractionRows][kMaxFileLength];
  PackSegment segments[kExtractionRows * kMaxRunSteps];
  int segment_count;
};

// Runs volspar's rows on disk 0 of `reader`, as volspar does, and maps
// every byte of each file's range onto the image byte it came from.
void PlanPacking(d88::D88File* reader, PackPlan* plan);

// Each check says on `err` what it finds, as "volpack: ...", and returns
// false if it finds anything.
// Every byte of file `row` (`file`) that differs from what volspar writes
// has a place in the image.
bool CheckHomes(const PackPlan& plan, int row, const uint8_t* file,
                std::FILE* err);
// No changed byte lands in a disk header or in a record header of any
// disk's tracks, as `reader` follows them; disk 0 is selected again after.
bool CheckHeaders(d88::D88File* reader, const PackPlan& plan,
                  const uint8_t* const files[], std::FILE* err);
// No two files (or one file with itself) put different bytes on the same
// image bytes.
bool CheckAgreement(const PackPlan& plan, const uint8_t* const files[],
                    std::FILE* err);

// Writes `image` (`size` bytes) to `out` in one forward pass, with every
// segment's image bytes replaced by the file's. Fails, and abandons `out`,
// where `image` holds fewer bytes than that.
bool WritePacked(InputFile* image, int64_t size, const PackPlan& plan,
                 const uint8_t* const files[], OutputFile* out);

// Extracts volspar's files from the image at `path` as volspar would, and
// compares them with `files`; says the first difference on `err`.
bool VerifyPacked(const char* path, const uint8_t* const files[],
                  std::FILE* err);

#endif  // RUNS_PACKING_H_
