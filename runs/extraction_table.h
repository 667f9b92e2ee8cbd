// The fixed sector runs that volspar copies out of an image's first disk.

#ifndef RUNS_EXTRACTION_TABLE_H_
#define RUNS_EXTRACTION_TABLE_H_

struct ExtractionEntry {
  const char* file_name;
  int track;  // 2 * c + h
  int c;
  int h;
  int r;
  int bytes_read;    // length of the run read into the work buffer
  int write_offset;  // the range of the work buffer written to the file
  int write_length;
};

// Every run reads 512-byte sectors (size code 2) numbered 1 to 9.
inline constexpr int kExtractionSizeCode = 2;
inline constexpr int kExtractionFirstSector = 1;
inline constexpr int kExtractionLastSector = 9;

// Every run reads into one buffer of this size from its start.
inline constexpr int kWorkBufferSize = 0x60000;

inline constexpr ExtractionEntry kExtractionTable[] = {
    {"TRV01.BIN", 8, 4, 0, 5, 20096, 0, 20096},
    {"TRV02.BIN", 1, 0, 1, 6, 4096, 80, 48},
    {"TRV03.BIN", 2, 1, 0, 2, 4096, 0, 976},
    {"TRV04.BIN", 30, 15, 0, 4, 4096, 0, 1691},
    {"TRV05.BIN", 27, 13, 1, 7, 4096, 0, 1078},
    {"TRV06.BIN", 29, 14, 1, 6, 4096, 0, 3072},
    {"TRV07.BIN", 26, 13, 0, 6, 4096, 0, 1536},
};
inline constexpr int kExtractionRows =
    static_cast<int>(sizeof kExtractionTable / sizeof kExtractionTable[0]);

// Checks that catch a typo in the table. (Raw loops: the standard
// algorithms are not constexpr before C++20.)
constexpr bool TracksAreTwoCPlusH() {
  for (const ExtractionEntry& row : kExtractionTable) {
    // cppcheck-suppress useStlAlgorithm
    if (row.track != 2 * row.c + row.h) return false;
  }
  return true;
}
constexpr bool RangesFit() {
  for (const ExtractionEntry& row : kExtractionTable) {
    const bool fits = row.write_offset >= 0 && row.write_length >= 0 &&
                      row.write_offset + row.write_length <= row.bytes_read &&
                      row.bytes_read <= kWorkBufferSize;
    // cppcheck-suppress useStlAlgorithm
    if (!fits) return false;
  }
  return true;
}
// A run's sectors, and at most how many a run takes.
inline constexpr int kSectorSize = 128 << kExtractionSizeCode;
inline constexpr int kMaxRunSteps = 64;
constexpr bool StepsCoverEveryRun() {
  for (const ExtractionEntry& row : kExtractionTable) {
    // cppcheck-suppress useStlAlgorithm
    if (row.bytes_read > kMaxRunSteps * kSectorSize) return false;
  }
  return true;
}
static_assert(StepsCoverEveryRun(), "a trace holds every step of every run");
static_assert(TracksAreTwoCPlusH(), "every run starts on track 2C + H");
static_assert(RangesFit(),
              "every file's range lies within the bytes its run reads, and "
              "every run fits the work buffer");

#endif  // RUNS_EXTRACTION_TABLE_H_
