// Reader for D88 floppy-disk images.
//
// A D88 file holds one or more disks back to back. Each disk starts with a
// 688-byte header (name, media type, size, and a table of 164 track offsets);
// each track is a run of sector records, a 16-byte ID header followed by the
// sector's data. All multi-byte fields are little-endian.
//
// D88File reads sectors of one selected disk by track number and sector ID.
// It never writes an image, never prints, and reports every failure as a
// false result or a short byte count.

#ifndef D88_D88_FILE_H_
#define D88_D88_FILE_H_

#include <cstdint>
#include <cstdio>

namespace d88 {

// The four ID bytes of a sector; the nominal data size is 128 << n bytes.
struct SectorId {
  uint8_t c;  // cylinder
  uint8_t h;  // head
  uint8_t r;  // sector number
  uint8_t n;  // size code
};

// Everything a sector record's header says about the sector.
struct SectorInfo {
  SectorId id;
  int sector_count;  // bytes 4-5
  int density;       // byte 6: 0x00 double, 0x40 single (FM), 0x01 high
  int deleted;       // byte 7: 0x10 deleted-data mark
  int status;        // byte 8: what the controller reported; 0x00 normal
  int data_size;     // bytes 14-15
};

// What a run found at one sector it looked for.
enum class StepResult {
  kRead,       // the whole chunk the run wanted
  kShortData,  // fewer bytes than the run wanted: the run ends here
  kNoTrack,    // the track is absent
  kNotFound,   // the track ends without the ID
  kZeroCount,  // the walk met a record whose sector count is 0 first
};

// One sector of a run. The ID is held in ints: a run may step past 255.
struct RunStep {
  int track;
  int c;
  int h;
  int r;
  int n;
  int record;     // stored position of the record read; -1 when none
  int delivered;  // bytes the record gave the run
  StepResult result;
  int64_t offset;  // file offset of the bytes delivered; -1 when none
};

// Where ReadSectors stores the steps of a run, for callers that explain one.
struct RunTrace {
  RunStep* steps;  // the first max_steps steps are stored
  int max_steps;
  int step_count;  // set by the run: the steps taken, the last one ending it
};

// A disk header's fields, as the reader decodes them.
struct DiskHeader {
  char name[17];      // up to the first NUL, at most 16 bytes
  int write_protect;  // byte 0x1A: 0x10 on, 0x00 off
  int media_type;     // byte 0x1B
  int32_t size;       // the disk's size, header included
  int32_t track_table[164];
  int table_entries;  // entries that the decoded bytes hold whole
};

// Why a walk over a track's records ended.
enum class WalkEnd {
  kNone,         // still walking
  kStated,       // after the record that its sector count names as the last
  kZeroCount,    // at a record whose sector count is 0
  kFileEnd,      // the file ends where the next record header would start
  kShortHeader,  // the file ends inside the next record header
  kRecordBound,  // after D88File::kMaxRecordsPerTrack records
};

// One record of a track, as a walk finds it.
struct TrackRecord {
  SectorInfo info;
  int index;              // stored position in the track, from 0
  int64_t header_offset;  // file offset of its header
  int64_t data_offset;    // file offset of its data
  int data_held;          // bytes of its data that the file holds
};

// A walk over the records of one track, from its first record on.
struct TrackWalk {
  int64_t start;     // file offset of the track's first record
  int64_t next;      // file offset of the next record header
  int index;         // records found so far
  WalkEnd end;       // why the walk ended; kNone while it goes on
  int header_bytes;  // kShortHeader: bytes of the cut header the file holds
};

// Why the last Open with a path failed.
enum class OpenFailure {
  kNone,
  kSystem,          // the system refused the open: GetOpenError() says why
  kDirectory,       // the path names a directory
  kNotRegularFile,  // a FIFO, socket or device
  kUnreadable,      // opened, but a read failed: GetOpenError() says why
};

class D88File {
 public:
  static constexpr int kMaxDisks = 64;
  static constexpr int kMaxTracks = 164;
  static constexpr int kDiskHeaderSize = 688;
  static constexpr int kSectorHeaderSize = 16;
  // A sector count is 16 bits wide, so no record past this position can be
  // the last one its track states: a walk ends there on any input.
  static constexpr int kMaxRecordsPerTrack = 65536;

  D88File();
  ~D88File();  // closes the stream
  D88File(const D88File&) = delete;
  D88File& operator=(const D88File&) = delete;

  // Opens `path` for reading and finds its disks; false if it cannot be
  // opened or read. A null path closes the file. Neither form changes the
  // selected disk.
  bool Open(const char* path);
  int GetDiskCount() const;
  // Why the last Open with a path failed (kNone after a success), and the
  // errno value behind kSystem and kUnreadable.
  OpenFailure GetOpenFailure() const;
  int GetOpenError() const;
  // The open file's length in bytes when it was opened; 0 when none.
  int64_t GetFileSize() const;
  // The errno value of the first read since Open that failed, as opposed to
  // meeting the file's end; 0 when none has. The read that failed ended its
  // walk or run as the end of the file would: what they found is not all
  // the file holds.
  int GetReadError() const;
  // Whether the C runtime's descriptor `fd` reads the very file this reader
  // has open, not merely one by the same name; false when either is closed
  // or the system does not tell. For callers that open the image again.
  bool IsSameFile(int fd) const;

  // Selects disk `index` (0-based). On an open file a failure clears the
  // selection, so that later reads find nothing.
  bool SelectDisk(int index);

  // Sector numbers between which ReadSectors steps on each track side.
  void SetSectorRange(int first, int last);

  // Copies up to `len` bytes of sector (c, h, r, n) on `track` into `buf`.
  // Returns the bytes the file delivered; 0 when the sector is not found.
  int ReadSector(int track, int c, int h, int r, int n, uint8_t* buf, int len);

  // Reads `len` bytes from consecutive sectors of size code `n`, starting at
  // (c, h, r) on `track` and stepping through the sector range, then to the
  // other side, then to the next cylinder. Returns the bytes of the whole
  // chunks read before the first sector that is missing or short. A trace,
  // if given, receives every sector the run looked for and what it found.
  int ReadSectors(int track, int c, int h, int r, int n, uint8_t* buf, int len,
                  RunTrace* trace = nullptr);

  // Name of the selected disk: at most 16 characters, always NUL-terminated.
  const char* GetDiskName() const;
  // Media-type byte of the selected disk, or -1 when none is selected.
  int GetMediaType() const;
  // Stores the SectorId of each record of `track`, in stored order, as
  // 4 bytes C, H, R, N; lists only whole IDs that fit in `len` bytes.
  // Returns the bytes written.
  int ReadSectorIds(int track, uint8_t* buf, int len);
  // Stores the header fields of each record of `track`, in stored order, into
  // `infos`, at most `max_infos` of them: exactly the records ReadSectorIds
  // lists, stopping where it stops. Returns the number stored.
  int ReadSectorInfos(int track, SectorInfo* infos, int max_infos);
  // Byte 0x1A of the selected disk's header; -1 while no disk is selected.
  int GetWriteProtect() const;

  // The layout as the reader found it, for callers that explain odd images.
  // File offset of disk `index`'s header; -1 outside 0..GetDiskCount()-1.
  int64_t GetDiskStart(int index) const;
  // The selected disk's size field, as a signed value; 0 when none.
  int32_t GetDiskSize() const;
  // The selected disk's raw track-table entry; 0 when absent or out of range.
  int32_t GetTrackOffset(int track) const;
  // File offset where the scan stopped looking for disks: just past the last
  // disk found. What lies there is shorter than a header, or the disk limit
  // was reached.
  int64_t GetScanEnd() const;
  // Copies up to `len` bytes of the image file at `offset` into `buf`;
  // returns the bytes the file delivered.
  int ReadImageBytes(int64_t offset, uint8_t* buf, int len);

  // Decodes the first `length` bytes of a disk header, which may be cut
  // short; the fields they do not reach are 0.
  static void DecodeDiskHeader(const uint8_t* bytes, int length,
                               DiskHeader* header);
  // The other way, for tools that write images: the kDiskHeaderSize bytes
  // of `header` (its name up to 16 bytes; table_entries is not used), and
  // the kSectorHeaderSize bytes of a record header for `info`. Bytes the
  // format reserves are 0.
  static void EncodeDiskHeader(const DiskHeader& header, uint8_t* bytes);
  static void EncodeRecordHeader(const SectorInfo& info, uint8_t* bytes);

  // The one walk over a track's records that every read and every check
  // of a track goes through. BeginWalk starts at the first record of
  // `track` of the selected disk; false when the track is absent.
  // NextRecord yields the records in stored order; false once the walk has
  // ended, `walk->end` saying why. A walk ends after the record its sector
  // count names as the last, at a count of 0, where the file ends, or at
  // the record bound.
  bool BeginWalk(int track, TrackWalk* walk) const;
  bool NextRecord(TrackWalk* walk, TrackRecord* record);
  // Goes on past a walk's end at a sector count (kStated, kZeroCount), for
  // callers that look for records the counts hide; false when the walk
  // ended for another reason. A walk still going on is left as it is.
  static bool ResumeWalk(TrackWalk* walk);

 private:
  // The first record of each sector number first_r..last_r with (c, h, n)
  // on one track, as one walk finds them.
  struct SideRecords {
    int track;
    int c;
    int h;
    int n;
    int first_r;
    int last_r;
    int64_t start;       // the track's first record
    StepResult missing;  // what a sector that was not found gets
    int record[256];     // stored position; -1 when not found
    int data_size[256];
    int64_t data_offset[256];
  };
  // Walks `track` once for the sectors (c, h, first_r..last_r, n), stopping
  // as soon as it has found them all.
  void FindSide(int track, int c, int h, int n, int first_r, int last_r,
                SideRecords* side);
  // Reads up to `len` bytes of sector `r` of `side` into `buf`, and tells
  // what was found.
  RunStep ReadFound(const SideRecords& side, int r, uint8_t* buf, int len);
  // Reads up to `len` bytes at file `offset` of the track that starts at
  // `track_start`, through the window; returns the bytes delivered.
  int ReadAt(int64_t track_start, int64_t offset, uint8_t* buf, int len);
  // The window holds the `len` bytes at `offset`, or all the file has.
  bool InWindow(int64_t offset, int len) const;
  // Makes the window hold the bytes at `offset` (`len` < kWindowSize) and
  // returns how many of them it holds: fewer where the file ends.
  int Window(int64_t track_start, int64_t offset, int len);
  // The same, straight from the file.
  int ReadFile(int64_t offset, uint8_t* buf, int len);
  void ClearSelection();

  // Large enough for a whole track of the common formats (26 x 256 or
  // 9 x 1024 bytes), so that the walks of a run over one track cost a single
  // read of the file.
  static constexpr int kWindowSize = 16384;

  std::FILE* file_;
  int32_t disk_count_;
  int32_t first_sector_;
  int32_t last_sector_;
  int32_t disk_starts_[kMaxDisks];
  int32_t disk_size_;
  int32_t disk_base_;
  int32_t track_table_[kMaxTracks];
  int32_t media_type_;
  int32_t write_protect_;
  char name_[17];
  int64_t scan_end_;
  int64_t file_size_;
  OpenFailure open_failure_;
  int open_error_;
  // The bytes of the file at window_start_ (-1: none) that the last fill
  // delivered, and whether it met the end of the file.
  int64_t window_start_;
  int window_length_;
  bool window_ends_file_;
  int64_t last_read_end_;  // where the last read through the window ended
  int read_error_;         // see GetReadError()
  uint8_t window_[kWindowSize];
};

}  // namespace d88

#endif  // D88_D88_FILE_H_
