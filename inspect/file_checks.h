// volspar's seven files on an image: what each run delivers, sector by
// sector, whether the file's bytes can be trusted, and whether the disk is
// one volspar reads at all. Worked out once per image from the run model;
// the report, the JSON, the map and the page all read the same checks.

#ifndef INSPECT_FILE_CHECKS_H_
#define INSPECT_FILE_CHECKS_H_

#include "d88/d88_file.h"
#include "runs/extraction_table.h"
#include "runs/run_model.h"

enum class FileState { kComplete, kSuspect, kIncomplete };

// What a step of a run gives the row's file.
enum class StepUse {
  kNone,           // no record found, and the file needs none of its bytes
  kMissingNeeded,  // no record found where the file needs its bytes
  kRead,           // a record read, but none of its bytes in the file
  kInFile,         // bytes of the record in the file
};

struct FileCheck {
  d88::SectorInfo infos[kMaxRunSteps];  // the record each step read
  unsigned flags[kMaxRunSteps];         // its RecordFlag bits
  int id_counts[kMaxRunSteps];          // records of its track with its ID
  StepUse uses[kMaxRunSteps];
  bool file_ended;  // the last step found no sector where the file ended
  // The size code of a record with the ID of the sector the run missed,
  // but another N; -1 when there is none.
  int other_n;
  int suspects;  // sectors in the file whose headers say they may be wrong
  FileState state;
};

struct FileChecks {
  RunModel model;
  FileCheck files[kExtractionRows];
  int incomplete;
  int suspect;  // complete files with a suspect sector
  // None of the tracks the runs visit holds a sector of volspar's size: a
  // disk of another kind, whose files would say nothing.
  bool not_its_disk;
  int common_n;  // the commonest size code on those tracks; -1: no sectors
};

// Runs volspar's rows on disk 0 of `reader` as volspar does, and checks
// each file.
void CheckFiles(d88::D88File* reader, FileChecks* checks);

const char* StateWord(FileState state);

// Step `step` gives the file bytes of a record whose header says they may
// be wrong.
bool IsSuspect(const FileCheck& check, int step);

#endif  // INSPECT_FILE_CHECKS_H_
