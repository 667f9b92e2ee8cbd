// d88merge's comparison of dumps, and the merge built on it. Dumps are D88
// images of the same disks, read on different days or drives, each with
// its own bad sectors. They are matched disk by disk (disk k with disk k),
// track by track (by track number), and on each track sector by sector, by
// ID: the first record of each ID in stored order, the one the reader
// reads. For each ID one copy is chosen for the new image: a good one (a
// clean status, its full data) that most good copies agree with.
//
// One pass walks the tracks of all dumps side by side, a sector at a time,
// and tallies what it finds; the views render the tallies and decide
// nothing.

#ifndef MERGE_MERGING_H_
#define MERGE_MERGING_H_

#include <cstdint>

#include "d88/d88_file.h"
#include "merge/image_writer.h"

constexpr int kMaxDumps = 8;
// Sectors described one by one, in every report: far more than real dumps
// differ by, few enough that two unrelated images give a readable report.
constexpr int kMaxListed = 4096;
// Records walked per dump, as d88info lists of one image.
constexpr int64_t kMaxDumpRecords = int64_t{1} << 20;

// How the copies of one ID differ, one bit each.
enum Difference : unsigned {
  kPartial = 1u << 0,       // some dump that holds the disk lacks the ID
  kDataDiffer = 1u << 1,    // the copies' data are not all the same
  kHeaderDiffer = 1u << 2,  // nor their status, deleted mark or data size
  kBadCopy = 1u << 3,       // some copy is not good
  kDuplicated = 1u << 4,    // some dump holds the ID more than once
};

// Which copy the new image takes.
enum class Choice : uint8_t {
  kAgreed,    // every good copy holds the same data
  kMajority,  // most good copies hold the data taken
  kConflict,  // good copies disagree, and no data has the most of them
  kStillBad,  // no copy is good
};

// One dump's copy of a sector: its first record with the ID.
struct CopyFacts {
  bool present;
  bool good;  // a clean status and data of the full size, all in the file
  uint8_t status;
  uint8_t deleted;
  uint8_t density;
  int data_size;   // the header's
  int data_held;   // the bytes of it the file holds
  int records;     // records of the track with the ID
  int data_class;  // the first dump whose copy holds the same bytes
  uint32_t crc;    // CRC-32 of the bytes held; set for listed sectors only
};

// A sector, its copies, and the copy the merge takes.
struct SectorFacts {
  int disk;
  int track;
  d88::SectorId id;
  unsigned differences;  // Difference bits
  Choice choice;
  int from;      // the dump whose copy is taken, from 0
  int agreeing;  // good copies that hold the data taken
  int good_copies;
  CopyFacts copies[kMaxDumps];
};

// What one disk's sectors came to. A sector may count under several of
// `identical` ... `duplicated`: an identical one may be bad in every dump.
struct DiskTally {
  int holders;               // dumps that hold the disk
  int64_t sectors;           // distinct IDs, over all its tracks
  int64_t identical;         // in every dump, copies alike in data and header
  int64_t differing;         // copies that differ in data or header
  int64_t bad;               // some copy not good
  int64_t partial;           // missing from some dump
  int64_t duplicated;        // held twice or more by some dump
  int64_t taken[kMaxDumps];  // copies the merge takes from each dump
  int64_t added;             // sectors the first dump lacks
  int64_t still_bad;
  int64_t conflicts;
  int listed_first;  // its sectors in MergeFindings::listed
  int listed_end;
  int64_t not_listed;  // sectors it would list past kMaxListed
};

// Dump d against the first: sectors both hold with a clean status, and
// how many of them hold the same data.
struct PairTally {
  int64_t both_clean;
  int64_t agree;
};

// Why a pass ended before the last track.
enum class MergeStop {
  kNone,
  kRecordBound,  // `stop_dump` holds more than kMaxDumpRecords records
  kSharedBytes,  // `stop_dump`'s tracks read the same bytes again and again
  kTooLarge,     // the new image would not fit the format: more than
                 // 2 GiB, or a track of more than 65535 records
  kWrite,        // the new image could not be written
};

// What sectors a pass lists one by one.
enum class ListMode {
  kDifferences,   // every sector whose copies differ in some way
  kMergeChoices,  // those taken from a dump other than the first, or bad
                  // still, or in conflict
};

struct MergeFindings {
  int dumps;
  const char* paths[kMaxDumps];
  int disk_counts[kMaxDumps];
  int disks;  // disks compared: the most any dump holds
  DiskTally disk[d88::D88File::kMaxDisks];
  PairTally pair[kMaxDumps];
  SectorFacts listed[kMaxListed];
  int listed_count;
  int64_t still_bad;  // over all disks
  int64_t conflicts;
  MergeStop stop;
  int stop_dump;
};

// Starts `findings` for the `count` open dumps `dumps`, named `paths`:
// their names and disk counts, enough for DifferentDisks to compare the
// counts before any sector is read.
void StartFindings(d88::D88File* const dumps[], const char* const paths[],
                   int count, MergeFindings* findings);

// Compares the `count` open dumps `dumps`, named `paths`, into `findings`,
// listing what `mode` asks for. With a `writer`, writes the merged image
// through it, disk by disk; a writer that fails stops the pass. False when
// the pass stopped early, `findings->stop` saying why.
bool CompareDumps(d88::D88File* const dumps[], const char* const paths[],
                  int count, ListMode mode, ImageWriter* writer,
                  MergeFindings* findings);

// Whether dump `dump` cannot be a dump of the first dump's disks: they hold
// different numbers of disks, or fewer than half of the sectors both hold
// with a clean status agree. If so, `reason` (`size` bytes) says which, as
// "they hold 2 and 1 disks" or "3 of the 720 sectors both hold with a
// clean status agree".
bool DifferentDisks(const MergeFindings& findings, int dump, char* reason,
                    int size);

#endif  // MERGE_MERGING_H_
