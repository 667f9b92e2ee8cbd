// What a track's records say, worked out once for every way d88info shows
// them (report, summary, JSON, map): what stands out about each record, how
// the track ends, and the words for it.

#ifndef INSPECT_RECORDS_H_
#define INSPECT_RECORDS_H_

#include <cstdint>
#include <cstdio>

#include "d88/d88_file.h"
#include "inspect/disk_layout.h"

// What stands out about a record, one bit each.
enum RecordFlag : unsigned {
  kBadStatus = 1u << 0,  // the controller reported an error
  kDeleted = 1u << 1,    // a deleted mark, or the status of deleted data
  kDuplicate = 1u << 2,  // another record of the track has the same ID
  kOddSize = 1u << 3,    // a data size other than 128 << N (N up to 7)
  kShort = 1u << 4,      // a data size below 128 << N
  kOddDensity = 1u << 5,
  kOddMark = 1u << 6,   // a deleted-mark byte other than 0 and 0x10
  kCutOff = 1u << 7,    // the file ends inside the record
  kPastDisk = 1u << 8,  // the record runs past its disk's end
};
// The flags that make a file fed by the record suspect, and those that
// make the image damaged.
constexpr unsigned kSuspectFlags = kBadStatus | kDeleted | kDuplicate;
constexpr unsigned kDamageFlags = kCutOff | kPastDisk;

// One record and everything it stands out for.
struct RecordFacts {
  d88::TrackRecord record;
  unsigned flags;  // RecordFlag bits
  int id_count;    // records on the track with this one's ID
  int id_rank;     // 1 for the first of them, the one read
  uint32_t crc32;  // of the data the file holds; only when fingerprinted
};

// The records of one track and everything they stand out for.
struct TrackRecords {
  static constexpr int kMax = d88::D88File::kMaxRecordsPerTrack;
  int track;
  int count;
  d88::WalkEnd end;  // why the walk ended
  int header_bytes;  // bytes of a header the file cuts short
  // Records stored after the end that the sector counts give, before the
  // next track.
  int hidden;
  bool unformatted;    // a single empty record: a track never formatted
  unsigned any_flags;  // the flags of all records together
  RecordFacts facts[kMax];
  uint64_t scratch[kMax];
};

// Walks and classifies `track` of the disk `layout` describes, which
// `reader` has selected, into one buffer that the next call overwrites;
// its count is 0 when the track has no record. With `disk_crc`, also
// fingerprints each record's data, and extends *disk_crc with them, in
// stored order.
const TrackRecords& ClassifyTrack(d88::D88File* reader,
                                  const DiskLayout& layout, int track,
                                  uint32_t* disk_crc = nullptr);

// Findings in words: at most kMax lines, each cut to Length bytes.
template <int Length>
struct NoteList {
  static constexpr int kMax = 8;
  static constexpr int kLength = Length;
  int count;
  char text[kMax][Length];

  // Adds a line, formatted as printf formats; nothing once the list is
  // full.
  template <typename First, typename... Rest>
  void Add(const char* format, First first, Rest... rest) {
    if (count < kMax) {
      std::snprintf(text[count++], Length, format, first, rest...);
    }
  }
  void Add(const char* line) { Add("%s", line); }
};
// Notes on a record or a track, and the longer ones on a disk or an image.
using Notes = NoteList<112>;
using LongNotes = NoteList<1024>;
// Everything a record stands out for, such as "data CRC error (status
// 0xB0)" and "duplicate ID (2 of 2)".
void RecordNotes(const RecordFacts& facts, Notes* notes);
// What the track as a whole stands out for: sizes, gaps, how it ends.
void TrackNotes(const TrackRecords& track, Notes* notes);
// Of the notes TrackNotes gave a track the end of the file cuts short, the
// one that says where; null for a track that is not cut.
const char* CutNote(const TrackRecords& track, const Notes& notes);
// The track stands out for something that makes the image damaged.
bool TrackIsDamaged(const TrackRecords& track);

// What the controller's `status` means, such as "data CRC error"; null for
// 0 and for values without a meaning.
const char* StatusName(int status);

// A suspect file's words for record `info` with `flags`: "CRC error",
// "deleted", "duplicate", ...; `words` gets at most three, returns how many.
int SuspectWords(const d88::SectorInfo& info, unsigned flags,
                 const char* words[3]);

// The four ID bytes as one number, C the most significant: equal IDs have
// equal keys, and keys sort by C, H, R, then N.
inline uint32_t IdKey(const d88::SectorId& id) {
  return static_cast<uint32_t>(id.c) << 24 | static_cast<uint32_t>(id.h) << 16 |
         static_cast<uint32_t>(id.r) << 8 | id.n;
}

#endif  // INSPECT_RECORDS_H_
