#include "d88/d88_file.h"

#include <climits>
#include <cstring>

namespace {

// Disk header fields.
constexpr int kNameLength = 16;
constexpr int kMediaTypeOffset = 0x1B;
constexpr int kDiskSizeOffset = 0x1C;
constexpr int kTrackTableOffset = 0x20;

// Sector record header fields.
constexpr int kSectorCountOffset = 4;
constexpr int kDataSizeOffset = 14;

// Largest size code whose sector size, 128 << n, fits a signed 32-bit int.
constexpr int kMaxSizeCode = 23;

// A sector count is 16 bits wide, so no record past this position can be the
// last one its track states; stopping there bounds the walk on any input.
constexpr int kMaxRecordsPerTrack = 65536;

// Little-endian fields, assembled byte by byte whatever the host's order.
int ReadLe16(const uint8_t* p) { return p[0] | (p[1] << 8); }

int32_t ReadLe32(const uint8_t* p) {
  const uint32_t value =
      static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
      static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
  return static_cast<int32_t>(value);
}

}  // namespace

// window_ is left unset: only the bytes a fill has written, window_length_
// of them, are ever read, and clearing 16 KiB would cost more than a walk.
// cppcheck-suppress uninitMemberVar
D88File::D88File()
    : file_(nullptr),
      disk_count_(0),
      first_sector_(1),
      last_sector_(16),
      disk_starts_(),
      disk_size_(0),
      disk_base_(-1),
      track_table_(),  // all tracks absent until a disk is selected
      media_type_(-1),
      name_(),
      window_start_(-1),
      window_length_(0) {}

D88File::~D88File() {
  if (file_ != nullptr) std::fclose(file_);
}

bool D88File::Open(const char* path) {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (path == nullptr) {
    disk_count_ = 0;
    media_type_ = -1;
    return true;
  }
  file_ = std::fopen(path, "rb");
  if (file_ == nullptr) return false;
  // The window does the buffering; the stream's own would copy every byte
  // twice and cost a seek syscall for every record a walk skips.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  window_start_ = -1;
  window_length_ = 0;
  // A stream that cannot seek or read (a directory, a pipe) is no image, as
  // opposed to a file too short to hold a disk.
  const bool seekable = std::fseek(file_, 0, SEEK_SET) == 0;

  // Only headers are read: disk sizes are not checked against the file, and
  // a tail shorter than a header ends the scan.
  int count = 0;
  int64_t offset = 0;
  uint8_t header[kDiskHeaderSize];
  while (count < kMaxDisks) {
    disk_starts_[count] = static_cast<int32_t>(offset);
    // Headers come straight from the file: what the scan costs depends on
    // the number of disks, not on their sizes.
    if (ReadFile(offset, header, kDiskHeaderSize) < kDiskHeaderSize) break;
    offset += ReadLe32(header + kDiskSizeOffset);
    ++count;
    // No disk can start outside the 32-bit offsets of the format.
    if (offset < 0 || offset > INT32_MAX) break;
  }
  if (!seekable || std::ferror(file_)) {
    std::fclose(file_);
    file_ = nullptr;
    return false;
  }
  disk_count_ = count;
  return true;
}

int D88File::GetDiskCount() const { return disk_count_; }

bool D88File::SelectDisk(int index) {
  if (file_ == nullptr) return false;
  ClearSelection();
  if (index < 0 || index >= disk_count_) return false;
  // The scan read this header whole; a file that has shrunk since then has
  // no disk here any more.
  uint8_t header[kDiskHeaderSize];
  if (ReadFile(disk_starts_[index], header, kDiskHeaderSize) <
      kDiskHeaderSize) {
    return false;
  }
  disk_base_ = disk_starts_[index];
  const uint8_t* entry = header + kTrackTableOffset;
  for (int i = 0; i < kMaxTracks; ++i, entry += 4) {
    track_table_[i] = ReadLe32(entry);
  }
  media_type_ = header[kMediaTypeOffset];
  disk_size_ = ReadLe32(header + kDiskSizeOffset);
  int i = 0;
  for (; i < kNameLength && header[i] != 0; ++i) {
    name_[i] = static_cast<char>(header[i]);
  }
  for (; i < kNameLength; ++i) name_[i] = '\0';
  return true;
}

void D88File::SetSectorRange(int first, int last) {
  first_sector_ = first;
  last_sector_ = last;
}

int D88File::ReadSector(int track, int c, int h, int r, int n, uint8_t* buf,
                        int len) {
  if (len < 0) return 0;
  TrackWalk walk;
  if (!BeginWalk(track, &walk)) return 0;
  Record record;
  while (NextRecord(&walk, &record)) {
    // A count of 0 ends the track before the record's ID is looked at.
    if (record.sector_count == 0) return 0;
    const SectorId& id = record.id;
    if (id.c == c && id.h == h && id.r == r && id.n == n) {
      const int size = record.data_size < len ? record.data_size : len;
      return ReadAt(walk.start, record.data_offset, buf, size);
    }
  }
  return 0;
}

int D88File::ReadSectors(int track, int c, int h, int r, int n, uint8_t* buf,
                         int len) {
  if (len <= 0 || n < 0 || n > kMaxSizeCode) return 0;
  const int sector_size = 128 << n;
  int total = 0;
  while (total < len) {
    const int chunk = len - total < sector_size ? len - total : sector_size;
    if (ReadSector(track, c, h, r, n, buf + total, chunk) < chunk) break;
    total += chunk;
    // Every value stepped here belongs to a sector just found, so none of
    // them can overflow.
    if (r == last_sector_) {
      ++track;
      if (h == 0) {
        h = 1;
      } else {
        h = 0;
        ++c;
      }
      r = first_sector_;
    } else {
      ++r;
    }
  }
  return total;
}

const char* D88File::GetDiskName() const { return name_; }

int D88File::GetMediaType() const { return media_type_; }

int D88File::ReadSectorIds(int track, uint8_t* buf, int len) {
  TrackWalk walk;
  if (!BeginWalk(track, &walk)) return 0;
  int written = 0;
  Record record;
  while (len - written >= 4 && NextRecord(&walk, &record)) {
    buf[written] = record.id.c;
    buf[written + 1] = record.id.h;
    buf[written + 2] = record.id.r;
    buf[written + 3] = record.id.n;
    written += 4;
    // Past a count of 0 the bytes are no longer records of this track.
    if (record.sector_count == 0) break;
  }
  return written;
}

bool D88File::BeginWalk(int track, TrackWalk* walk) const {
  if (file_ == nullptr || track < 0 || track >= kMaxTracks) return false;
  const int32_t entry = track_table_[track];
  if (entry == 0 || entry > disk_size_) return false;
  const int64_t start = static_cast<int64_t>(disk_base_) + entry;
  if (start < 0) return false;
  *walk = {start, start, 0, false};
  return true;
}

bool D88File::NextRecord(TrackWalk* walk, Record* record) {
  if (walk->done) return false;
  uint8_t header[kSectorHeaderSize];
  // A header cut short by the end of the file ends the track.
  if (ReadAt(walk->start, walk->next, header, kSectorHeaderSize) <
      kSectorHeaderSize) {
    walk->done = true;
    return false;
  }
  record->id = {header[0], header[1], header[2], header[3]};
  record->sector_count = ReadLe16(header + kSectorCountOffset);
  record->data_size = ReadLe16(header + kDataSizeOffset);
  record->data_offset = walk->next + kSectorHeaderSize;
  walk->next = record->data_offset + record->data_size;
  walk->done = walk->index == record->sector_count - 1 ||
               walk->index + 1 == kMaxRecordsPerTrack;
  ++walk->index;
  return true;
}

int D88File::ReadAt(int64_t track_start, int64_t offset, uint8_t* buf,
                    int len) {
  if (len <= 0 || offset < 0) return 0;
  const int64_t window_end = window_start_ + window_length_;
  const bool at_end_of_file = window_length_ < kWindowSize;
  const bool hit =
      offset >= window_start_ &&
      (offset + len <= window_end || (at_end_of_file && offset <= window_end));
  if (!hit) {
    if (len >= kWindowSize) return ReadFile(offset, buf, len);
    // Filling from the track's start keeps a track that fits the window in
    // one fill, whichever record of it missed first.
    window_start_ =
        offset + len - track_start <= kWindowSize ? track_start : offset;
    window_length_ = ReadFile(window_start_, window_, kWindowSize);
  }
  const int skip = static_cast<int>(offset - window_start_);
  const int got = window_length_ - skip < len ? window_length_ - skip : len;
  if (got > 0) std::memcpy(buf, window_ + skip, static_cast<size_t>(got));
  return got;
}

int D88File::ReadFile(int64_t offset, uint8_t* buf, int len) {
  if (len <= 0 || offset < 0 || offset > LONG_MAX) return 0;
  if (std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0) return 0;
  return static_cast<int>(std::fread(buf, 1, static_cast<size_t>(len), file_));
}

void D88File::ClearSelection() {
  disk_base_ = -1;
  media_type_ = -1;
  disk_size_ = 0;
  name_[0] = '\0';
}
