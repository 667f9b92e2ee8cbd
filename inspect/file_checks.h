// volspar's seven files on an image: where each run goes, sector by
// sector, which bytes of each file the image delivers, and which sectors
// they come from. Traced once per image; the report, the JSON and the map
// all read the same trace.

#ifndef INSPECT_FILE_CHECKS_H_
#define INSPECT_FILE_CHECKS_H_

#include "d88/d88_file.h"
#include "runs/extraction_table.h"

enum class FileState { kComplete, kSuspect, kIncomplete };

// What a step of a run gives the row's file.
enum class StepUse {
  kNone,    // no record found
  kRead,    // a record read, but none of its bytes in the file
  kInFile,  // bytes of the record in the file
};

struct FileCheck {
  d88::RunStep steps[kMaxRunSteps];
  d88::SectorInfo infos[kMaxRunSteps];  // the record each step read
  unsigned flags[kMaxRunSteps];         // its RecordFlag bits
  StepUse uses[kMaxRunSteps];
  int step_count;   // steps stored; the last one ended the run
  bool file_ended;  // the last step found no sector where the file ended
  // Bytes of the file's range that came from the image, counting the
  // bytes a short sector does deliver; the rest would be left over from
  // earlier runs.
  int from_image;
  int needed;    // the file's length
  int suspects;  // sectors in the file whose headers say they may be wrong
  FileState state;
};

struct FileChecks {
  FileCheck files[kExtractionRows];
  int incomplete;
  int suspect;  // complete files with a suspect sector
};

// Runs volspar's rows on disk 0 of `reader` as volspar does, and checks
// each file.
void CheckFiles(d88::D88File* reader, FileChecks* checks);

const char* StateWord(FileState state);

#endif  // INSPECT_FILE_CHECKS_H_
