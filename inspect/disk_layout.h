// Where a disk of an image lies, and how its tracks are laid out: worked out
// once when d88info selects the disk, for the notes, the classification of
// its tracks and the disk's line.

#ifndef INSPECT_DISK_LAYOUT_H_
#define INSPECT_DISK_LAYOUT_H_

#include <cstdint>

#include "d88/d88_file.h"

// Where the first track of an image written with a 160-entry track table
// starts: entries 160-163 then hold that track's first record header.
constexpr int32_t kShortTableEnd = 0x2A0;
constexpr int kShortTableEntries = 160;

// What the formatted tracks of a disk have in common.
struct DiskShape {
  int tracks;  // formatted tracks: tracks that hold sectors
  int cylinders;
  int sides;
  int sectors;      // on every formatted track; 0 when they differ
  int sector_size;  // of every sector; 0 when they differ
  int track_bytes;  // data bytes of the fullest track
  int media;        // the media byte such a disk has; -1 without tracks
};

enum class TrackKind : uint8_t {
  kAbsent,  // no entry, or one the format does not take
  kEmpty,   // an entry, but the file holds no record there
  // A single record with no sectors and no data: how images mark a track
  // that was never formatted.
  kUnformatted,
  kFormatted,
};

// What a track entry leads to, as the reader takes it.
enum class TrackEntry : uint8_t {
  kNone,        // 0, or an entry past the table's limit
  kBeyondSize,  // above the disk's size field: no track
  kBeforeFile,  // before the start of the file: no track
  // Inside the disk header, as in images written with a 160-entry table: a
  // track read there.
  kInHeader,
  kTrack,
};

struct DiskLayout {
  int64_t start;
  int32_t size;  // the size field
  int64_t file_size;
  // Where the disk ends by its size field; -1 when the field says nothing
  // (0, or 2 GiB and more).
  int64_t end;
  bool truncated;  // the file ends before `end`
  // Bytes of the disk the file holds: from its start to `end`, or to the
  // file's end when that comes first or `end` is not known.
  int64_t bytes_in_file;
  // Images written with a 160-entry track table start their first track
  // at 0x2A0, so that entries 160-163 hold that track's first record
  // header: they are no tracks.
  bool table160;
  int track_limit;  // 164, or 160 for such a table
  int64_t track_start[d88::D88File::kMaxTracks];  // -1: absent
  TrackEntry entry[d88::D88File::kMaxTracks];     // and why
  // Where each track's records must end: the next track's start, else the
  // disk's end, else the file's.
  int64_t boundary[d88::D88File::kMaxTracks];
  TrackKind kind[d88::D88File::kMaxTracks];
  DiskShape shape;
};

// Selects disk `disk` of `reader` and works out its layout; false if it
// cannot be selected.
bool SelectLayout(d88::D88File* reader, int disk, DiskLayout* layout);

// The media byte of a disk shaped like `shape` (its tracks, cylinders,
// sides and track_bytes); -1 without tracks. Images made from raw dumps take
// it too, so that d88info finds their media byte fits.
int MediaOf(const DiskShape& shape);

// The usual name of media byte `media`: "2D", "2DD", ...; null for a byte
// the format does not define.
const char* MediaName(int media);
// The same, "unknown" for a byte the format does not define.
inline const char* MediaWord(int media) {
  const char* name = MediaName(media);
  return name != nullptr ? name : "unknown";
}

#endif  // INSPECT_DISK_LAYOUT_H_
