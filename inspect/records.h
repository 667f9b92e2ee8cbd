// What an image's layout and records say, worked out once for every way
// d88info shows them (report, summary, JSON, map): whether the file can be
// a D88 image at all, where each disk ends against the file, and what
// stands out about each record.

#ifndef INSPECT_RECORDS_H_
#define INSPECT_RECORDS_H_

#include <cstdint>

#include "d88/d88_file.h"

// Whether the open file can be a D88 image, judged by its first disk's
// header (the format has no magic number); if not, `reason` (`size` bytes)
// says why.
bool LooksLikeD88(d88::D88File* reader, char* reason, int size);

// The `length` bytes after the last disk look like the start of a further
// disk's header that the end of the file cuts off.
bool LooksLikeCutHeader(const uint8_t* bytes, int length);

// Where a disk lies in the file. Made by SelectLayout, which selects it.
struct DiskLayout {
  int64_t start;
  int32_t size;  // the size field
  int64_t file_size;
  // Where the disk ends by its size field; -1 when the field says nothing
  // (0, or 2 GiB and more).
  int64_t end;
  bool truncated;  // the file ends before `end`
};
// Selects disk `disk` of `reader` and tells where it lies; false if it
// cannot be selected.
bool SelectLayout(d88::D88File* reader, int disk, DiskLayout* layout);

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

// A 16-bit sector count bounds a walk, and so a track's records.
constexpr int kMaxRecords = 65536;

enum class TrackEnd {
  kStated,     // at the record that its sector count says is the last
  kZeroCount,  // at a record whose sector count is 0
  kFileEnd,    // the file ends before the records it states
  kWalkLimit,  // after kMaxRecords records
};

// The records of one track and everything they stand out for.
struct TrackRecords {
  int64_t start;  // file offset of the first record
  int count;
  TrackEnd end;
  int header_bytes;    // kFileEnd: bytes of the next header the file holds
  unsigned any_flags;  // the flags of all records together
  d88::SectorInfo infos[kMaxRecords];
  unsigned flags[kMaxRecords];
  int available[kMaxRecords];  // data bytes the file holds
  int id_count[kMaxRecords];   // records on the track with this one's ID
  int id_rank[kMaxRecords];    // 1 for the first of them, the one read
  uint64_t scratch[kMaxRecords];
};

// Walks and classifies `track` of the disk `layout` describes, which
// `reader` has selected, into one buffer that the next call overwrites;
// its count is 0 when the track has no record.
const TrackRecords& ClassifyTrack(d88::D88File* reader,
                                  const DiskLayout& layout, int track);

// Findings in words, each a short line.
struct Notes {
  static constexpr int kMax = 8;
  static constexpr int kLength = 112;
  int count;
  char text[kMax][kLength];
};
// Everything record `i` stands out for, such as "data CRC error (status
// 0xB0)" and "duplicate ID (2 of 2)".
void RecordNotes(const TrackRecords& track, int i, Notes* notes);
// What the track as a whole stands out for: sizes, gaps, an early end.
void TrackNotes(const TrackRecords& track, Notes* notes);
// The track stands out for something that makes the image damaged.
bool TrackIsDamaged(const TrackRecords& track);

// What the controller's `status` means, such as "data CRC error"; null for
// 0 and for values without a meaning.
const char* StatusName(int status);

// A suspect file's words for record `info` with `flags`: "CRC error",
// "deleted", "duplicate", ...; `words` gets at most three, returns how many.
int SuspectWords(const d88::SectorInfo& info, unsigned flags,
                 const char* words[3]);

#endif  // INSPECT_RECORDS_H_
