// Everything d88info finds in an image, worked out in one place: whether it
// is a D88 image, its disks and their layout, each track's records and
// notes, what lies after the disks, volspar's files, and the two-part
// verdict. The report, the problems, the summary line, the JSON, the map
// and the page only render these findings.
//
// An image can hold millions of records, so the findings come as a walk:
// Begin, then NextDisk and NextTrack in turn, then Finish for what needs
// the whole image. Each step's findings stay valid until the next step.

#ifndef INSPECT_FINDINGS_H_
#define INSPECT_FINDINGS_H_

#include <cstdint>

#include "d88/d88_file.h"
#include "inspect/disk_layout.h"
#include "inspect/file_checks.h"
#include "inspect/records.h"

// Is the disk sound: the whole image, every disk.
struct Health {
  bool damaged;  // the file does not hold what its headers say
  // Records whose status says the controller could not read them.
  int read_errors;
  uint64_t error_disks;  // bit d: disk d holds some of them
};

struct TrackFindings {
  int disk;
  int track;
  // The earlier track whose records this one shares, listed there; -1 when
  // it has records of its own.
  int same_disk;
  int same_track;
  // Past the records d88info lists of one image: this track and the later
  // ones are not looked at.
  bool not_listed;
  const TrackRecords* records;  // when listed
  Notes notes;                  // on the track as a whole
  bool stands_out;              // some note, or some flagged record
};

struct DiskFindings {
  int index;
  int same_as;    // an earlier disk that starts at the same place; -1: none
  bool readable;  // false: the disk's header can no longer be read
  DiskLayout layout;
  char name[17];
  char name_text[64];  // the name decoded from Shift_JIS; empty if it is not
  int media_type;
  int write_protect;
  LongNotes notes;
  bool any_track;  // some track holds records
  // With fingerprints: the CRC-32 of the data of its listed tracks' records,
  // in track and stored order; final once its last track is walked.
  uint32_t crc32;
};

struct ImageFindings {
  bool d88;  // false: the file cannot be a D88 image; `reason` says why
  char reason[256];
  bool raw_dump;  // not a D88 image but a raw sector dump, by its size
  int disks;
  Health health;
  LongNotes notes;  // what lies after the last disk
  FileChecks files;
  // The errno of a read of the file that failed: what the walk found after
  // it may be cut short by it, and cannot be trusted. 0 if none failed.
  int read_failure;
};

// Records listed per image, about a hundred times what real images hold
// (a 2HD disk has some 2,500), so that an image whose tracks all start at
// different places in one huge track is still reported in well under a
// second. An image that reaches it counts as damaged: what is not looked at
// cannot be vouched for.
constexpr int64_t kMaxListedRecords = int64_t{1} << 20;

// Records of one track that every view lists one by one (the report's IDs,
// the map's cells, the JSON's records); the others are counted, or in the
// JSON listed only when they stand out. Real tracks hold far fewer, and a
// map of a hostile image stays a few megabytes.
constexpr int kMaxListedPerTrack = 256;

// The walk over one image's findings.
struct Inspection {
  d88::D88File* reader;
  ImageFindings image;
  DiskFindings disk;
  TrackFindings track;
  int next_disk;
  int next_track;
  int listed_count;
  int64_t listed_records;
  bool stopped;   // the record bound was reached on the current disk
  bool one_disk;  // a view of one disk: it is shown as it is
  // CRC-32s of the records' data are wanted, for scripts that compare
  // dumps; false after BeginInspection.
  bool fingerprints;
};

// Starts on `reader`'s open image: image.d88 and image.reason are set.
void BeginInspection(d88::D88File* reader, Inspection* in);
// Moves to the next disk; false after the last one.
bool NextDisk(Inspection* in);
// Moves to disk `disk` alone, for views of one disk; false if there is no
// such disk.
bool SeekDisk(Inspection* in, int disk);
// Moves to the next track of the current disk that holds records; false
// after the last one.
bool NextTrack(Inspection* in);
// After the last disk: what follows the disks, volspar's files and the
// verdict.
void FinishInspection(Inspection* in);
// Runs the whole walk for the verdict alone.
void InspectAll(d88::D88File* reader, Inspection* in);

// The verdict's words. Health: "damaged", "read errors", both, or
// "clean". volspar's files: "not its disk", or "incomplete", "suspect",
// both, or "complete". Return how many.
int HealthWords(const Health& health, const char* words[2]);
int VolsparWords(const FileChecks& files, const char* words[2]);
// The health in a phrase: "damaged, read errors (1 sector on disk 1)",
// "clean", ...; and the read errors alone: "read errors (3 sectors)". At
// most eight disks are named, then "and 56 more": the phrase fits in
// kHealthPhraseSize bytes.
constexpr int kHealthPhraseSize = 112;
void HealthPhrase(const Health& health, char* text, int size);
void ReadErrorPhrase(const Health& health, char* text, int size);
// Why volspar would read nothing of its own from the disk: "not a disk
// volspar reads: its sectors are 256 bytes (N 1), volspar reads 512-byte
// sectors (N 2)".
void NotItsDiskPhrase(const FileChecks& files, char* text, int size);
// Where file `row`'s run stopped and why: "the run stops at 1/0/2/2 on
// track 2 (missing)".
void StopPhrase(const FileChecks& files, int row, char* text, int size);
// How many of file `row`'s bytes come from the image, and what the others
// would be: "300 of the file's 1691 bytes come from the image, the other
// 1391 would be left over from earlier runs (TRV03.BIN)".
void BytesPhrase(const FileChecks& files, int row, char* text, int size);
// Suspect sector `step` of a file: "1/0/3/2 (CRC error)".
void SuspectPhrase(const FileCheck& check, int step, char* text, int size);

// The words of the verdict as it has always been given for scripts:
// "damaged", "incomplete", "suspect" in that order; "clean"; or "not a D88
// image". Returns how many.
int VerdictWords(const ImageFindings& image, const char* words[3]);

// volspar's files would not all be complete and clean: not its disk, or
// some file incomplete or suspect.
bool FilesNeedALook(const FileChecks& files);

// Exit-status bits: 1 when the file could not be read through, 2 when
// volspar's files need a look, 4 when the image is damaged or holds read
// errors.
constexpr int kExitFailed = 1;
constexpr int kExitFiles = 2;
constexpr int kExitHealth = 4;
int ExitBits(const ImageFindings& image);

#endif  // INSPECT_FINDINGS_H_
