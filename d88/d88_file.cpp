#include "d88/d88_file.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include "d88/little_endian.h"

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace d88 {
namespace {

// Where the header fields lie: those of a disk header from the disk's start
// (the name takes its first bytes), those of a sector record header after
// the record's four ID bytes.
enum HeaderField : int {
  kNameLength = 16,
  kWriteProtectOffset = 0x1A,
  kMediaTypeOffset = 0x1B,
  kDiskSizeOffset = 0x1C,
  kTrackTableOffset = 0x20,
  kSectorCountOffset = 4,
  kDensityOffset = 6,
  kDeletedOffset = 7,
  kStatusOffset = 8,
  kDataSizeOffset = 14,
};

// Largest size code whose sector size, 128 << n, fits a signed 32-bit int.
constexpr int kMaxSizeCode = 23;

// The format's fields: 16-bit ones unsigned, 32-bit ones signed, as the
// reader compares them.
int ReadLe16(const uint8_t* p) { return static_cast<int>(LoadLe16(p)); }
void WriteLe16(int value, uint8_t* p) {
  StoreLe16(static_cast<uint32_t>(value), p);
}
void WriteLe32(int32_t value, uint8_t* p) {
  StoreLe32(static_cast<uint32_t>(value), p);
}
int32_t ReadLe32(const uint8_t* p) { return static_cast<int32_t>(LoadLe32(p)); }

// Opens `path` for binary reading if it names a regular file, and tells its
// length. Anything else (a FIFO, socket or device) is refused without waiting
// on it, and `failure` and `error` say why: a FIFO's open would block until a
// writer came, and a device never ends.
#ifdef _WIN32
std::FILE* OpenRegularFile(const char* path, int64_t* size,
                           OpenFailure* failure, int* error) {
  *failure = OpenFailure::kSystem;
  // Paths are UTF-8; the wide call reaches every name whatever the code page.
  wchar_t wide[32768];
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide,
                          32768) == 0) {
    *error = EINVAL;
    return nullptr;
  }
  std::FILE* file = _wfopen(wide, L"rb");
  if (file == nullptr) {
    *error = errno;
    // Windows refuses to open a directory as a file with "access denied".
    const DWORD attributes = GetFileAttributesW(wide);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      *failure = OpenFailure::kDirectory;
    }
    return nullptr;
  }
  struct _stat64 info;
  if (_fstat64(_fileno(file), &info) != 0) {
    *error = errno;
    std::fclose(file);
    return nullptr;
  }
  if ((info.st_mode & _S_IFREG) == 0) {
    *failure = (info.st_mode & _S_IFDIR) != 0 ? OpenFailure::kDirectory
                                              : OpenFailure::kNotRegularFile;
    std::fclose(file);
    return nullptr;
  }
  *size = info.st_size;
  return file;
}
#else
std::FILE* OpenRegularFile(const char* path, int64_t* size,
                           OpenFailure* failure, int* error) {
  *failure = OpenFailure::kSystem;
  // O_NONBLOCK keeps the open of a FIFO from waiting for a writer; reads of
  // a regular file never wait, so the flag changes nothing for an image.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = errno;
    return nullptr;
  }
  struct stat info;
  if (fstat(fd, &info) != 0) {
    *error = errno;
    close(fd);
    return nullptr;
  }
  if (!S_ISREG(info.st_mode)) {
    *failure = S_ISDIR(info.st_mode) ? OpenFailure::kDirectory
                                     : OpenFailure::kNotRegularFile;
    close(fd);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, "rb");
  if (file == nullptr) {
    *error = errno;
    close(fd);
    return nullptr;
  }
  *size = info.st_size;
  return file;
}
#endif

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
      write_protect_(-1),
      name_(),
      scan_end_(0),
      file_size_(0),
      open_failure_(OpenFailure::kNone),
      open_error_(0),
      window_start_(-1),
      window_length_(0),
      window_ends_file_(false),
      last_read_end_(-1),
      read_error_(0) {}

D88File::~D88File() {
  if (file_ != nullptr) std::fclose(file_);
}

bool D88File::Open(const char* path) {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  file_size_ = 0;
  open_failure_ = OpenFailure::kNone;
  open_error_ = 0;
  read_error_ = 0;
  if (path == nullptr) {
    disk_count_ = 0;
    media_type_ = -1;
    write_protect_ = -1;
    return true;
  }
  file_ = OpenRegularFile(path, &file_size_, &open_failure_, &open_error_);
  if (file_ == nullptr) return false;
  open_failure_ = OpenFailure::kNone;
  // The window does the buffering; the stream's own would copy every byte
  // twice and cost a seek syscall for every record a walk skips.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  window_start_ = -1;
  window_length_ = 0;
  window_ends_file_ = false;
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
  // A file that cannot be read is no image, as opposed to one too short to
  // hold a disk.
  if (read_error_ != 0) {
    open_failure_ = OpenFailure::kUnreadable;
    open_error_ = read_error_;
    std::fclose(file_);
    file_ = nullptr;
    file_size_ = 0;
    return false;
  }
  disk_count_ = count;
  scan_end_ = offset;
  return true;
}

int D88File::GetDiskCount() const { return disk_count_; }

OpenFailure D88File::GetOpenFailure() const { return open_failure_; }

int D88File::GetOpenError() const { return open_error_; }

int64_t D88File::GetFileSize() const { return file_size_; }

int D88File::GetReadError() const { return read_error_; }

bool D88File::IsSameFile(int fd) const {
  if (file_ == nullptr || fd < 0) return false;
#ifdef _WIN32
  // The C runtime's stat has no file index there: the handles tell.
  const HANDLE handles[2] = {
      reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file_))),
      reinterpret_cast<HANDLE>(_get_osfhandle(fd))};
  BY_HANDLE_FILE_INFORMATION info[2];
  for (int i = 0; i < 2; ++i) {
    if (GetFileInformationByHandle(handles[i], &info[i]) == 0) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
         info[0].nFileIndexLow == info[1].nFileIndexLow;
#else
  struct stat own;
  struct stat other;
  return fstat(fileno(file_), &own) == 0 && fstat(fd, &other) == 0 &&
         own.st_dev == other.st_dev && own.st_ino == other.st_ino;
#endif
}

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
  DiskHeader decoded;
  DecodeDiskHeader(header, kDiskHeaderSize, &decoded);
  disk_base_ = disk_starts_[index];
  std::memcpy(track_table_, decoded.track_table, sizeof track_table_);
  media_type_ = decoded.media_type;
  write_protect_ = decoded.write_protect;
  disk_size_ = decoded.size;
  std::memcpy(name_, decoded.name, sizeof name_);
  return true;
}

void D88File::DecodeDiskHeader(const uint8_t* bytes, int length,
                               DiskHeader* header) {
  *header = {};
  int i = 0;
  for (; i < kNameLength && i < length && bytes[i] != 0; ++i) {
    header->name[i] = static_cast<char>(bytes[i]);
  }
  if (length > kWriteProtectOffset) {
    header->write_protect = bytes[kWriteProtectOffset];
  }
  if (length > kMediaTypeOffset) header->media_type = bytes[kMediaTypeOffset];
  if (length >= kDiskSizeOffset + 4) {
    header->size = ReadLe32(bytes + kDiskSizeOffset);
  }
  const int whole = (length - kTrackTableOffset) / 4;
  header->table_entries = whole < 0            ? 0
                          : whole < kMaxTracks ? whole
                                               : kMaxTracks;
  const uint8_t* entry = bytes + kTrackTableOffset;
  for (int track = 0; track < header->table_entries; ++track, entry += 4) {
    header->track_table[track] = ReadLe32(entry);
  }
}

void D88File::EncodeDiskHeader(const DiskHeader& header, uint8_t* bytes) {
  std::memset(bytes, 0, kDiskHeaderSize);
  for (int i = 0; i < kNameLength && header.name[i] != '\0'; ++i) {
    bytes[i] = static_cast<uint8_t>(header.name[i]);
  }
  bytes[kWriteProtectOffset] = static_cast<uint8_t>(header.write_protect);
  bytes[kMediaTypeOffset] = static_cast<uint8_t>(header.media_type);
  WriteLe32(header.size, bytes + kDiskSizeOffset);
  uint8_t* entry = bytes + kTrackTableOffset;
  for (int track = 0; track < kMaxTracks; ++track, entry += 4) {
    WriteLe32(header.track_table[track], entry);
  }
}

void D88File::EncodeRecordHeader(const SectorInfo& info, uint8_t* bytes) {
  std::memset(bytes, 0, kSectorHeaderSize);
  bytes[0] = info.id.c;
  bytes[1] = info.id.h;
  bytes[2] = info.id.r;
  bytes[3] = info.id.n;
  WriteLe16(info.sector_count, bytes + kSectorCountOffset);
  bytes[kDensityOffset] = static_cast<uint8_t>(info.density);
  bytes[kDeletedOffset] = static_cast<uint8_t>(info.deleted);
  bytes[kStatusOffset] = static_cast<uint8_t>(info.status);
  WriteLe16(info.data_size, bytes + kDataSizeOffset);
}

void D88File::SetSectorRange(int first, int last) {
  first_sector_ = first;
  last_sector_ = last;
}

int D88File::ReadSector(int track, int c, int h, int r, int n, uint8_t* buf,
                        int len) {
  if (len < 0) return 0;
  SideRecords side;
  FindSide(track, c, h, n, r, r, &side);
  return ReadFound(side, r, buf, len).delivered;
}

int D88File::ReadSectors(int track, int c, int h, int r, int n, uint8_t* buf,
                         int len, RunTrace* trace) {
  if (trace != nullptr) trace->step_count = 0;
  if (len <= 0 || n < 0 || n > kMaxSizeCode) return 0;
  const int sector_size = 128 << n;
  int total = 0;
  // One walk a track side finds every sector the run can still want there,
  // as the walks of each sector would one by one: the first record of each
  // ID, none past a count of 0.
  SideRecords side;
  // No side walked yet: its empty range sends the first step to a walk.
  side.track = side.c = side.h = side.n = -1;
  side.start = -1;
  side.missing = StepResult::kNoTrack;
  side.first_r = 1;
  side.last_r = 0;
  while (total < len) {
    const int chunk = len - total < sector_size ? len - total : sector_size;
    if (side.track != track || side.c != c || side.h != h || r < side.first_r ||
        r > side.last_r) {
      FindSide(track, c, h, n, r, r <= last_sector_ ? last_sector_ : 255,
               &side);
    }
    const RunStep step = ReadFound(side, r, buf + total, chunk);
    if (trace != nullptr) {
      if (trace->step_count < trace->max_steps) {
        trace->steps[trace->step_count] = step;
      }
      ++trace->step_count;
    }
    if (step.result != StepResult::kRead) break;
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
  TrackRecord record;
  // Past a count of 0 the bytes are no longer records of this track: the
  // walk ends there.
  while (len - written >= 4 && NextRecord(&walk, &record)) {
    buf[written] = record.info.id.c;
    buf[written + 1] = record.info.id.h;
    buf[written + 2] = record.info.id.r;
    buf[written + 3] = record.info.id.n;
    written += 4;
  }
  return written;
}

int D88File::ReadSectorInfos(int track, SectorInfo* infos, int max_infos) {
  TrackWalk walk;
  if (!BeginWalk(track, &walk)) return 0;
  int stored = 0;
  TrackRecord record;
  while (stored < max_infos && NextRecord(&walk, &record)) {
    infos[stored++] = record.info;
  }
  return stored;
}

int D88File::GetWriteProtect() const { return write_protect_; }

int64_t D88File::GetDiskStart(int index) const {
  return index >= 0 && index < disk_count_ ? disk_starts_[index] : -1;
}

int32_t D88File::GetDiskSize() const { return disk_size_; }

int32_t D88File::GetTrackOffset(int track) const {
  return track >= 0 && track < kMaxTracks ? track_table_[track] : 0;
}

int64_t D88File::GetScanEnd() const { return scan_end_; }

int D88File::ReadImageBytes(int64_t offset, uint8_t* buf, int len) {
  // Through the window: callers read the bytes of one record after another.
  return file_ != nullptr ? ReadAt(offset, offset, buf, len) : 0;
}

bool D88File::BeginWalk(int track, TrackWalk* walk) const {
  if (file_ == nullptr || track < 0 || track >= kMaxTracks) return false;
  const int32_t entry = track_table_[track];
  if (entry == 0 || entry > disk_size_) return false;
  const int64_t start = static_cast<int64_t>(disk_base_) + entry;
  if (start < 0) return false;
  *walk = {start, start, 0, WalkEnd::kNone, 0};
  return true;
}

bool D88File::NextRecord(TrackWalk* walk, TrackRecord* record) {
  if (walk->end != WalkEnd::kNone) return false;
  // Decoded where the window holds it: a walk reads a header per record.
  const int got = Window(walk->start, walk->next, kSectorHeaderSize);
  const uint8_t* header = window_ + (walk->next - window_start_);
  // A file that ends at or inside a header ends the track.
  if (got < kSectorHeaderSize) {
    walk->end = got == 0 ? WalkEnd::kFileEnd : WalkEnd::kShortHeader;
    walk->header_bytes = got;
    return false;
  }
  SectorInfo& info = record->info;
  info.id = {header[0], header[1], header[2], header[3]};
  info.sector_count = ReadLe16(header + kSectorCountOffset);
  info.density = header[kDensityOffset];
  info.deleted = header[kDeletedOffset];
  info.status = header[kStatusOffset];
  info.data_size = ReadLe16(header + kDataSizeOffset);
  record->index = walk->index;
  record->header_offset = walk->next;
  record->data_offset = walk->next + kSectorHeaderSize;
  const int64_t held = file_size_ - record->data_offset;
  record->data_held = held <= 0               ? 0
                      : held < info.data_size ? static_cast<int>(held)
                                              : info.data_size;
  walk->next = record->data_offset + info.data_size;
  if (info.sector_count == 0) {
    walk->end = WalkEnd::kZeroCount;
  } else if (walk->index == info.sector_count - 1) {
    walk->end = WalkEnd::kStated;
  } else if (walk->index + 1 == kMaxRecordsPerTrack) {
    walk->end = WalkEnd::kRecordBound;
  }
  ++walk->index;
  return true;
}

bool D88File::ResumeWalk(TrackWalk* walk) {
  if (walk->end != WalkEnd::kNone && walk->end != WalkEnd::kStated &&
      walk->end != WalkEnd::kZeroCount) {
    return false;
  }
  // The bound holds for a resumed walk as for any other.
  walk->end = walk->index < kMaxRecordsPerTrack ? WalkEnd::kNone
                                                : WalkEnd::kRecordBound;
  return walk->end == WalkEnd::kNone;
}

void D88File::FindSide(int track, int c, int h, int n, int first_r, int last_r,
                       SideRecords* side) {
  side->track = track;
  side->c = c;
  side->h = h;
  side->n = n;
  // Sector numbers outside 0..255 match no record: such a range is empty,
  // and its walk goes on to the track's end to say how the track ends.
  const bool empty = first_r < 0 || first_r > 255 || last_r < first_r;
  side->first_r = first_r;
  side->last_r = empty ? first_r - 1 : (last_r > 255 ? 255 : last_r);
  side->missing = StepResult::kNoTrack;
  side->start = -1;
  for (int r = side->first_r; r <= side->last_r; ++r) {
    side->record[r] = -1;
    side->data_size[r] = 0;
    side->data_offset[r] = -1;
  }
  TrackWalk walk;
  if (!BeginWalk(track, &walk)) return;
  side->start = walk.start;
  side->missing = StepResult::kNotFound;
  int wanted = side->last_r - side->first_r + 1;
  TrackRecord record;
  while (NextRecord(&walk, &record)) {
    const SectorInfo& info = record.info;
    // A count of 0 ends the track before the record's ID is looked at.
    if (walk.end == WalkEnd::kZeroCount) {
      side->missing = StepResult::kZeroCount;
      break;
    }
    const int r = info.id.r;
    if (info.id.c != c || info.id.h != h || info.id.n != n ||
        r < side->first_r || r > side->last_r || side->record[r] >= 0) {
      continue;
    }
    side->record[r] = record.index;
    side->data_size[r] = info.data_size;
    side->data_offset[r] = record.data_offset;
    if (--wanted == 0) break;
  }
}

RunStep D88File::ReadFound(const SideRecords& side, int r, uint8_t* buf,
                           int len) {
  RunStep step = {side.track, side.c, side.h,       r, side.n,
                  -1,         0,      side.missing, -1};
  if (r < side.first_r || r > side.last_r || side.record[r] < 0) return step;
  step.record = side.record[r];
  step.offset = side.data_offset[r];
  const int size = side.data_size[r] < len ? side.data_size[r] : len;
  step.delivered = ReadAt(side.start, side.data_offset[r], buf, size);
  step.result =
      step.delivered < len ? StepResult::kShortData : StepResult::kRead;
  return step;
}

int D88File::ReadAt(int64_t track_start, int64_t offset, uint8_t* buf,
                    int len) {
  if (len <= 0 || offset < 0) return 0;
  if (len >= kWindowSize && !InWindow(offset, len)) {
    return ReadFile(offset, buf, len);
  }
  const int got = Window(track_start, offset, len);
  if (got > 0) {
    std::memcpy(buf, window_ + (offset - window_start_),
                static_cast<size_t>(got));
  }
  return got;
}

bool D88File::InWindow(int64_t offset, int len) const {
  const int64_t window_end = window_start_ + window_length_;
  return window_start_ >= 0 && offset >= window_start_ &&
         (offset + len <= window_end ||
          (window_ends_file_ && offset <= window_end));
}

int D88File::Window(int64_t track_start, int64_t offset, int len) {
  if (!InWindow(offset, len)) {
    // Filling from the track's start keeps a track that fits the window in
    // one fill, whichever record of it missed first. Past that, a read just
    // after the last one fills the window from where it is; one that skips
    // far (records spread out, as aliased tracks of a sparse file can place
    // them) reads only what it needs, so that the bytes read stay bounded
    // by the bytes wanted rather than by the records walked.
    int fill = kWindowSize;
    if (offset + len - track_start <= kWindowSize) {
      window_start_ = track_start;
    } else {
      const int64_t skipped = offset - last_read_end_;
      if (skipped < 0 || skipped >= kWindowSize / 4) fill = len;
      window_start_ = offset;
    }
    window_length_ = ReadFile(window_start_, window_, fill);
    window_ends_file_ = window_length_ < fill;
  }
  last_read_end_ = offset + len;
  const int held = window_length_ - static_cast<int>(offset - window_start_);
  return held < len ? (held > 0 ? held : 0) : len;
}

int D88File::ReadFile(int64_t offset, uint8_t* buf, int len) {
  if (len <= 0 || offset < 0) return 0;
#ifdef _WIN32
  // long is 32 bits on Windows: offsets past 2 GiB need the 64-bit call.
  if (_fseeki64(file_, offset, SEEK_SET) != 0) return 0;
  const int got =
      static_cast<int>(std::fread(buf, 1, static_cast<size_t>(len), file_));
  if (std::ferror(file_) && read_error_ == 0) {
    read_error_ = errno != 0 ? errno : EIO;
  }
  return got;
#else
  // One call a read, where a seek and a read would be two: walks of records
  // spread far apart read header by header.
  const int fd = fileno(file_);
  int got = 0;
  while (got < len) {
    const ssize_t n = pread(fd, buf + got, static_cast<size_t>(len - got),
                            static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && read_error_ == 0) read_error_ = errno != 0 ? errno : EIO;
    if (n <= 0) break;
    got += static_cast<int>(n);
  }
  return got;
#endif
}

void D88File::ClearSelection() {
  disk_base_ = -1;
  media_type_ = -1;
  write_protect_ = -1;
  disk_size_ = 0;
  name_[0] = '\0';
}

}  // namespace d88
