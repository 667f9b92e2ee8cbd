// What d88info tells about an image: its disks and tracks, the records that
// stand out, odd layouts, and whether volspar's files can be trusted. Also
// the pieces the disk map draws from.

#ifndef INSPECT_REPORT_H_
#define INSPECT_REPORT_H_

#include <cstdint>
#include <cstdio>

#include "d88/d88_file.h"
#include "platform/escape.h"
#include "runs/extraction_table.h"

// A 16-bit sector count bounds a walk, and so a track's records.
constexpr int kMaxRecords = 65536;

// The records of one track, and how often each one's ID occurs on it.
struct TrackRecords {
  int count;
  d88::SectorInfo infos[kMaxRecords];
  int id_count[kMaxRecords];  // records on the track with this one's ID
  int id_rank[kMaxRecords];   // 1 for the first of them, the one read
  uint64_t scratch[kMaxRecords];
};

// Lists `track` of `reader`'s selected disk into `records`; large, so keep
// it static.
void ListTrack(d88::D88File* reader, int track, TrackRecords* records);

// Everything record `i` of `track` stands out for, in words, such as
// "data CRC error (status 0xB0), duplicate ID (2 of 2)"; empty when nothing
// does. Returns the length written into `text` (`size` bytes).
int DescribeRecord(const TrackRecords& track, int i, char* text, int size);

// The file offset of `track`'s first record on the selected disk, which
// starts at `disk_start`; -1 when the track has no record.
int64_t TrackStart(d88::D88File* reader, int64_t disk_start, int track);

// The deleted mark, or the controller's status for deleted data.
bool IsDeleted(const d88::SectorInfo& info);
// The data-size field differs from 128 << N (N 0..7).
bool HasOddSize(const d88::SectorInfo& info);

// Where each of volspar's runs on disk 0 goes, sector by sector.
constexpr int kMaxRunSteps = 64;
constexpr bool StepsCoverEveryRun() {
  for (const ExtractionEntry& row : kExtractionTable) {
    // cppcheck-suppress useStlAlgorithm
    if (row.bytes_read > kMaxRunSteps * (128 << kExtractionSizeCode)) {
      return false;
    }
  }
  return true;
}
static_assert(StepsCoverEveryRun(), "a trace holds every step of every run");
struct RowTrace {
  d88::RunStep steps[kMaxRunSteps];
  int step_count;
  int bytes;  // bytes the run delivered, as ReadSectors returns them
};
// Runs row `row` of the extraction table on `reader`'s selected disk.
void TraceRow(d88::D88File* reader, int row, RowTrace* trace);
// Step `step` of `trace` gives bytes to the row's file.
bool StepFeedsFile(const RowTrace& trace, int row, int step);

enum class Verdict { kClean, kSuspect, kIncomplete };

struct ImageVerdict {
  int disks;
  int incomplete;  // files
  int suspect;     // complete files with a suspect sector
  Verdict verdict;
};

// Writes the whole report on `reader`'s open image to `out` and returns
// its verdict. Stops early once writing to `out` fails.
ImageVerdict WriteReport(d88::D88File* reader, std::FILE* out);
// The verdict alone.
ImageVerdict CheckImage(d88::D88File* reader);

#endif  // INSPECT_REPORT_H_
