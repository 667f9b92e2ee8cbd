#include "inspect/records.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace {

constexpr int kHeaderSize = d88::D88File::kDiskHeaderSize;
constexpr int kWriteProtectOffset = 0x1A;
constexpr int kMediaTypeOffset = 0x1B;
constexpr int kDiskSizeOffset = 0x1C;
constexpr int kTrackTableOffset = 0x20;
// Images written with a 160-entry table start their first track at 0x2A0
// and hold that track's first record header where entries 160-163 would
// be; so only the first 160 entries are judged, and none may point below
// 0x2A0.
constexpr int kJudgedEntries = 160;
constexpr int kShortestTableEnd = kTrackTableOffset + 4 * kJudgedEntries;
constexpr int kMediaTypes[] = {0x00, 0x10, 0x20, 0x30, 0x40};
// Sizes up to this size code have a data size to compare with.
constexpr int kMaxCheckedSizeCode = 7;

int32_t ReadLe32(const uint8_t* p) {
  const uint32_t value =
      static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
      static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
  return static_cast<int32_t>(value);
}

// The controller's status values that have a meaning: in the words of a
// note, and of a suspect file's line (none for deleted data, which the
// line calls deleted whatever says so).
struct StatusMeaning {
  int status;
  const char* note;
  const char* word;
};
constexpr StatusMeaning kStatusNames[] = {
    {0x10, "deleted data", nullptr},
    {0xA0, "ID CRC error", "CRC error"},
    {0xB0, "data CRC error", "CRC error"},
    {0xE0, "no address mark", "no address mark"},
    {0xF0, "no data mark", "no data mark"},
};

const StatusMeaning* FindStatus(int status) {
  const StatusMeaning* end = std::end(kStatusNames);
  const StatusMeaning* found = std::find_if(
      std::begin(kStatusNames), end,
      [status](const StatusMeaning& name) { return name.status == status; });
  return found != end ? found : nullptr;
}

template <typename First, typename... Rest>
void Add(Notes* notes, const char* format, First first, Rest... rest) {
  if (notes->count == Notes::kMax) return;
  std::snprintf(notes->text[notes->count++], Notes::kLength, format, first,
                rest...);
}

void Add(Notes* notes, const char* text) { Add(notes, "%s", text); }

// Counts the records of each ID: equal IDs sort next to each other, in
// stored order.
void CountIds(TrackRecords* t) {
  for (int i = 0; i < t->count; ++i) {
    const d88::SectorId& id = t->infos[i].id;
    const uint64_t key = static_cast<uint64_t>(id.c) << 24 |
                         static_cast<uint64_t>(id.h) << 16 |
                         static_cast<uint64_t>(id.r) << 8 | id.n;
    t->scratch[i] = key << 32 | static_cast<uint64_t>(i);
  }
  std::sort(t->scratch, t->scratch + t->count);
  for (int first = 0; first < t->count;) {
    int end = first + 1;
    while (end < t->count && t->scratch[end] >> 32 == t->scratch[first] >> 32) {
      ++end;
    }
    for (int i = first; i < end; ++i) {
      const int index = static_cast<int>(t->scratch[i] & 0xFFFFFFFF);
      t->id_count[index] = end - first;
      t->id_rank[index] = i - first + 1;
    }
    first = end;
  }
}

// Sector numbers that a track of otherwise consecutive ones lacks, as
// "no sector 6 (1-9 otherwise present)". A track more empty than full is
// no run with gaps, and gets nothing.
void AddGapNote(const TrackRecords& t, Notes* notes) {
  bool present[256] = {};
  int low = 255;
  int high = 0;
  int distinct = 0;
  for (int i = 0; i < t.count; ++i) {
    const int r = t.infos[i].id.r;
    if (present[r]) continue;
    present[r] = true;
    ++distinct;
    low = std::min(low, r);
    high = std::max(high, r);
  }
  const int missing = high - low + 1 - distinct;
  if (distinct < 2 || missing == 0 || missing >= distinct) return;
  constexpr int kListed = 6;
  char list[kListed * 5 + 32] = {};
  int length = 0;
  int listed = 0;
  for (int r = low; r <= high && listed < kListed; ++r) {
    if (present[r]) continue;
    length += std::snprintf(list + length, sizeof list - length, "%s%d",
                            listed > 0 ? ", " : "", r);
    ++listed;
  }
  if (missing > kListed) {
    std::snprintf(list + length, sizeof list - length, " and %d more",
                  missing - kListed);
  }
  Add(notes, "no sector%s %s (%d-%d otherwise present)", missing > 1 ? "s" : "",
      list, low, high);
}

// Judges the first `length` bytes of a disk header; if they cannot start a
// D88 disk, says why in `reason` (`room` bytes, may be 0).
bool JudgeHeader(const uint8_t* header, int length, char* reason, size_t room) {
  const int protect = header[kWriteProtectOffset];
  if (protect != 0x00 && protect != 0x10) {
    std::snprintf(reason, room,
                  "the write-protect byte is 0x%02X, not 0x00 or 0x10",
                  protect);
    return false;
  }
  const int media = header[kMediaTypeOffset];
  if (std::find(std::begin(kMediaTypes), std::end(kMediaTypes), media) ==
      std::end(kMediaTypes)) {
    std::snprintf(reason, room,
                  "the media type is 0x%02X, not one of 0x00, 0x10, 0x20, "
                  "0x30 and 0x40",
                  media);
    return false;
  }
  const int32_t disk_size = ReadLe32(header + kDiskSizeOffset);
  if (disk_size < 0) {
    std::snprintf(reason, room, "the disk size field 0x%08X is 2 GiB or more",
                  static_cast<unsigned>(disk_size));
    return false;
  }
  if (disk_size < kHeaderSize) {
    std::snprintf(reason, room,
                  "the disk size field is %d, smaller than a disk header",
                  disk_size);
    return false;
  }
  for (int track = 0; track < kJudgedEntries; ++track) {
    const int at = kTrackTableOffset + 4 * track;
    if (at + 4 > length) break;
    const int32_t entry = ReadLe32(header + at);
    if (entry == 0) continue;
    if (entry > 0 && entry < kShortestTableEnd) {
      std::snprintf(reason, room,
                    "track %d's offset %d points inside the disk header", track,
                    entry);
      return false;
    }
    if (entry < 0 || entry > disk_size) {
      std::snprintf(reason, room,
                    "track %d's offset 0x%08X points past the disk's size "
                    "(%d bytes)",
                    track, static_cast<unsigned>(entry), disk_size);
      return false;
    }
  }
  return true;
}

}  // namespace

bool LooksLikeD88(d88::D88File* reader, char* reason, int size) {
  const size_t room = static_cast<size_t>(size);
  const int64_t file_size = reader->GetFileSize();
  uint8_t header[kHeaderSize];
  if (file_size == 0) {
    std::snprintf(reason, room, "the file is empty");
    return false;
  }
  if (file_size < kHeaderSize ||
      reader->ReadImageBytes(0, header, kHeaderSize) < kHeaderSize) {
    std::snprintf(reason, room,
                  "%lld bytes, shorter than a disk header (%d bytes)",
                  static_cast<long long>(file_size), kHeaderSize);
    return false;
  }
  return JudgeHeader(header, kHeaderSize, reason, room);
}

bool LooksLikeCutHeader(const uint8_t* bytes, int length) {
  return length >= kTrackTableOffset && JudgeHeader(bytes, length, nullptr, 0);
}

bool SelectLayout(d88::D88File* reader, int disk, DiskLayout* layout) {
  if (!reader->SelectDisk(disk)) return false;
  layout->start = reader->GetDiskStart(disk);
  layout->size = reader->GetDiskSize();
  layout->file_size = reader->GetFileSize();
  layout->end = layout->size > 0 ? layout->start + layout->size : -1;
  layout->truncated = layout->end > layout->file_size;
  return true;
}

const TrackRecords& ClassifyTrack(d88::D88File* reader,
                                  const DiskLayout& layout, int track) {
  static TrackRecords records;
  TrackRecords& t = records;
  t.count = reader->ReadSectorInfos(track, t.infos, kMaxRecords);
  t.start = layout.start + reader->GetTrackOffset(track);
  t.end = TrackEnd::kStated;
  t.header_bytes = 0;
  t.any_flags = 0;
  if (t.count == 0) return t;
  CountIds(&t);
  // Records follow one another without gaps, so each one's place in the
  // file is the sum of those before it.
  int64_t offset = t.start;
  for (int i = 0; i < t.count; ++i) {
    const d88::SectorInfo& info = t.infos[i];
    const int64_t data = offset + d88::D88File::kSectorHeaderSize;
    offset = data + info.data_size;
    t.available[i] = static_cast<int>(
        std::clamp<int64_t>(layout.file_size - data, 0, info.data_size));
    unsigned flags = 0;
    if (info.status != 0 && info.status != 0x10) flags |= kBadStatus;
    if (info.deleted != 0 || info.status == 0x10) flags |= kDeleted;
    if (info.deleted != 0 && info.deleted != 0x10) flags |= kOddMark;
    if (t.id_count[i] > 1) flags |= kDuplicate;
    if (info.density != 0) flags |= kOddDensity;
    if (info.id.n <= kMaxCheckedSizeCode) {
      const int nominal = 128 << info.id.n;
      if (info.data_size != nominal) flags |= kOddSize;
      if (info.data_size < nominal) flags |= kShort;
    }
    if (t.available[i] < info.data_size) flags |= kCutOff;
    if (layout.end >= 0 && offset > layout.end) flags |= kPastDisk;
    t.flags[i] = flags;
    t.any_flags |= flags;
  }
  const int stated = t.infos[t.count - 1].sector_count;
  if (stated == 0) {
    t.end = TrackEnd::kZeroCount;
  } else if (stated == t.count) {
    t.end = TrackEnd::kStated;
  } else if (t.count == kMaxRecords) {
    t.end = TrackEnd::kWalkLimit;
  } else {
    // The walk ends early only where a record header is cut short.
    t.end = TrackEnd::kFileEnd;
    t.header_bytes = static_cast<int>(std::clamp<int64_t>(
        layout.file_size - offset, 0, d88::D88File::kSectorHeaderSize));
  }
  return t;
}

void RecordNotes(const TrackRecords& t, int i, Notes* notes) {
  const d88::SectorInfo& info = t.infos[i];
  const unsigned flags = t.flags[i];
  notes->count = 0;
  if (const StatusMeaning* name = FindStatus(info.status)) {
    Add(notes, "%s (status 0x%02X)", name->note, info.status);
  } else if (info.status != 0) {
    Add(notes, "unknown status 0x%02X", info.status);
  }
  if (info.deleted == 0x10) Add(notes, "deleted mark (0x10)");
  if (flags & kOddMark) Add(notes, "unknown deleted mark 0x%02X", info.deleted);
  if (info.density == 0x40) {
    Add(notes, "single density (FM)");
  } else if (info.density == 0x01) {
    Add(notes, "high density");
  } else if (flags & kOddDensity) {
    Add(notes, "unknown density 0x%02X", info.density);
  }
  if (flags & kOddSize) {
    Add(notes, "data size %d, not %d", info.data_size, 128 << info.id.n);
  }
  if (flags & kDuplicate) {
    Add(notes,
        t.id_rank[i] == 1 ? "duplicate ID (%d of %d, the one read)"
                          : "duplicate ID (%d of %d)",
        t.id_rank[i], t.id_count[i]);
  }
  if (flags & kCutOff) {
    Add(notes, "cut off by the end of the file (%d of %d bytes)",
        t.available[i], info.data_size);
  }
  if (flags & kPastDisk) Add(notes, "runs past the end of its disk");
}

void TrackNotes(const TrackRecords& t, Notes* notes) {
  notes->count = 0;
  if (t.count == 0) return;
  const int n = t.infos[0].id.n;
  if (std::any_of(t.infos, t.infos + t.count, [n](const d88::SectorInfo& info) {
        return info.id.n != n;
      })) {
    Add(notes, "the IDs do not all share one N");
  }
  // Where the file ends, the sectors after the cut are missing, not gaps.
  if (t.end != TrackEnd::kFileEnd) {
    AddGapNote(t, notes);
    return;
  }
  const int stated = t.infos[t.count - 1].sector_count;
  const char* where = t.header_bytes > 0 ? ", inside a record header" : "";
  if (stated > t.count) {
    Add(notes, "%d of the %d records it states; the file ends here%s", t.count,
        stated, where);
  } else {
    Add(notes, "the file ends after %d records, before the last one%s", t.count,
        where);
  }
}

bool TrackIsDamaged(const TrackRecords& t) {
  return t.end == TrackEnd::kFileEnd || (t.any_flags & kDamageFlags) != 0;
}

const char* StatusName(int status) {
  const StatusMeaning* meaning = FindStatus(status);
  return meaning != nullptr ? meaning->note : nullptr;
}

int SuspectWords(const d88::SectorInfo& info, unsigned flags,
                 const char* words[3]) {
  int count = 0;
  if (flags & kBadStatus) {
    const StatusMeaning* name = FindStatus(info.status);
    words[count++] = name != nullptr ? name->word : "unknown status";
  }
  if (flags & kDeleted) words[count++] = "deleted";
  if (flags & kDuplicate) words[count++] = "duplicate";
  return count;
}
