#include "inspect/records.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "platform/crc32.h"

namespace {

// Sizes up to this size code have a data size to compare with.
constexpr int kMaxCheckedSizeCode = 7;

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

// Counts the records of each ID: equal IDs sort next to each other, in
// stored order.
void CountIds(TrackRecords* t) {
  for (int i = 0; i < t->count; ++i) {
    const d88::SectorId& id = t->facts[i].record.info.id;
    t->scratch[i] = uint64_t{IdKey(id)} << 32 | static_cast<uint64_t>(i);
  }
  std::sort(t->scratch, t->scratch + t->count);
  for (int first = 0; first < t->count;) {
    int end = first + 1;
    while (end < t->count && t->scratch[end] >> 32 == t->scratch[first] >> 32) {
      ++end;
    }
    for (int i = first; i < end; ++i) {
      const int index = static_cast<int>(t->scratch[i] & 0xFFFFFFFF);
      t->facts[index].id_count = end - first;
      t->facts[index].id_rank = i - first + 1;
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
    const int r = t.facts[i].record.info.id.r;
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
  notes->Add("no sector%s %s (%d-%d otherwise present)", missing > 1 ? "s" : "",
             list, low, high);
}

// Flags of record `i` of `t`, on the disk `layout` describes.
unsigned RecordFlags(const TrackRecords& t, int i, const DiskLayout& layout) {
  const d88::TrackRecord& record = t.facts[i].record;
  const d88::SectorInfo& info = record.info;
  unsigned flags = 0;
  if (info.status != 0 && info.status != 0x10) flags |= kBadStatus;
  if (info.deleted != 0 || info.status == 0x10) flags |= kDeleted;
  if (info.deleted != 0 && info.deleted != 0x10) flags |= kOddMark;
  if (t.facts[i].id_count > 1) flags |= kDuplicate;
  if (info.density != 0) flags |= kOddDensity;
  if (info.id.n <= kMaxCheckedSizeCode) {
    const int nominal = 128 << info.id.n;
    if (info.data_size != nominal) flags |= kOddSize;
    if (info.data_size < nominal) flags |= kShort;
  }
  if (record.data_held < info.data_size) flags |= kCutOff;
  if (layout.end >= 0 && record.data_offset + info.data_size > layout.end) {
    flags |= kPastDisk;
  }
  return flags;
}

// Records that lie after the end the counts give and before the next
// track: whole records of the track's own cylinder and side, each of its
// nominal size, as a track that states too few sectors stores them.
int CountHidden(d88::D88File* reader, int64_t boundary, d88::TrackWalk walk,
                const d88::SectorId& first) {
  int hidden = 0;
  d88::TrackRecord record;
  while (d88::D88File::ResumeWalk(&walk) &&
         reader->NextRecord(&walk, &record)) {
    const d88::SectorInfo& info = record.info;
    const bool whole = record.data_offset + info.data_size <= boundary &&
                       record.data_held == info.data_size;
    if (!whole || info.id.c != first.c || info.id.h != first.h ||
        info.id.n > kMaxCheckedSizeCode || info.data_size != 128 << info.id.n) {
      break;
    }
    ++hidden;
  }
  return hidden;
}

// How the track ends, where the counts or the file end it unusually.
void EndNote(const TrackRecords& t, Notes* notes) {
  const int stated = t.facts[t.count - 1].record.info.sector_count;
  switch (t.end) {
    case d88::WalkEnd::kFileEnd:
    case d88::WalkEnd::kShortHeader: {
      const char* where = t.header_bytes > 0 ? ", inside a record header" : "";
      if (stated > t.count) {
        notes->Add("%d of the %d records it states; the file ends here%s",
                   t.count, stated, where);
      } else {
        notes->Add("the file ends after %d records, before the last one%s",
                   t.count, where);
      }
      return;
    }
    case d88::WalkEnd::kZeroCount:
      notes->Add("the track ends at record %d, whose sector count is 0",
                 t.count);
      if (t.hidden > 0) {
        notes->Add("%d more record%s follow%s it", t.hidden,
                   t.hidden == 1 ? "" : "s", t.hidden == 1 ? "s" : "");
      }
      return;
    case d88::WalkEnd::kRecordBound:
      notes->Add("no record ends the track within the %d records a walk reads",
                 TrackRecords::kMax);
      return;
    default:
      if (t.hidden > 0) {
        notes->Add("%d more record%s follow%s the stated last one", t.hidden,
                   t.hidden == 1 ? "" : "s", t.hidden == 1 ? "s" : "");
      }
  }
}

// The CRC-32 of each record's data, as much as the file holds of it, and of
// them all together.
void Fingerprint(d88::D88File* reader, TrackRecords* t, uint32_t* disk_crc) {
  static uint8_t data[1 << 16];  // the most a 16-bit data size says
  for (int i = 0; i < t->count; ++i) {
    const d88::TrackRecord& record = t->facts[i].record;
    const int got =
        reader->ReadImageBytes(record.data_offset, data, record.data_held);
    const size_t size = static_cast<size_t>(got > 0 ? got : 0);
    t->facts[i].crc32 = Crc32(data, size);
    *disk_crc = Crc32Extend(*disk_crc, data, size);
  }
}

}  // namespace

const TrackRecords& ClassifyTrack(d88::D88File* reader,
                                  const DiskLayout& layout, int track,
                                  uint32_t* disk_crc) {
  static TrackRecords records;
  TrackRecords& t = records;
  // Field by field: the arrays hold megabytes, and only the first `count`
  // entries are read.
  t.track = track;
  t.count = 0;
  t.end = d88::WalkEnd::kNone;
  t.header_bytes = 0;
  t.hidden = 0;
  t.unformatted = false;
  t.any_flags = 0;
  d88::TrackWalk walk;
  if (track >= layout.track_limit || !reader->BeginWalk(track, &walk)) {
    return t;
  }
  while (reader->NextRecord(&walk, &t.facts[t.count].record)) ++t.count;
  t.end = walk.end;
  t.header_bytes = walk.header_bytes;
  t.unformatted = layout.kind[track] == TrackKind::kUnformatted;
  if (t.unformatted) t.facts[0] = {t.facts[0].record, 0, 1, 1, 0};
  if (t.count == 0 || t.unformatted) return t;
  CountIds(&t);
  for (int i = 0; i < t.count; ++i) {
    t.facts[i].flags = RecordFlags(t, i, layout);
    t.any_flags |= t.facts[i].flags;
  }
  if (t.end == d88::WalkEnd::kStated || t.end == d88::WalkEnd::kZeroCount) {
    t.hidden = CountHidden(reader, layout.boundary[track], walk,
                           t.facts[0].record.info.id);
  }
  if (disk_crc != nullptr) Fingerprint(reader, &t, disk_crc);
  return t;
}

void RecordNotes(const RecordFacts& facts, Notes* notes) {
  const d88::SectorInfo& info = facts.record.info;
  const unsigned flags = facts.flags;
  notes->count = 0;
  if (const StatusMeaning* name = FindStatus(info.status)) {
    notes->Add("%s (status 0x%02X)", name->note, info.status);
  } else if (info.status != 0) {
    notes->Add("unknown status 0x%02X", info.status);
  }
  if (info.deleted == 0x10) notes->Add("deleted mark (0x10)");
  if (flags & kOddMark) notes->Add("unknown deleted mark 0x%02X", info.deleted);
  if (info.density == 0x40) {
    notes->Add("single density (FM)");
  } else if (info.density == 0x01) {
    notes->Add("high density");
  } else if (flags & kOddDensity) {
    notes->Add("unknown density 0x%02X", info.density);
  }
  if (flags & kOddSize) {
    notes->Add("data size %d, not %d", info.data_size, 128 << info.id.n);
  }
  if (flags & kDuplicate) {
    notes->Add(facts.id_rank == 1 ? "duplicate ID (%d of %d, the one read)"
                                  : "duplicate ID (%d of %d)",
               facts.id_rank, facts.id_count);
  }
  if (flags & kCutOff) {
    notes->Add("cut off by the end of the file (%d of %d bytes)",
               facts.record.data_held, info.data_size);
  }
  if (flags & kPastDisk) notes->Add("runs past the end of its disk");
}

void TrackNotes(const TrackRecords& t, Notes* notes) {
  notes->count = 0;
  if (t.count == 0 || t.unformatted) return;
  const int n = t.facts[0].record.info.id.n;
  if (std::any_of(t.facts, t.facts + t.count, [n](const RecordFacts& f) {
        return f.record.info.id.n != n;
      })) {
    notes->Add("the IDs do not all share one N");
  }
  // Where the file ends, the sectors after the cut are missing, not gaps;
  // where the counts hide records, those may be the sectors that seem
  // missing.
  if (t.end != d88::WalkEnd::kFileEnd && t.end != d88::WalkEnd::kShortHeader &&
      t.hidden == 0) {
    AddGapNote(t, notes);
  }
  EndNote(t, notes);
}

const char* CutNote(const TrackRecords& t, const Notes& notes) {
  const bool cut =
      t.end == d88::WalkEnd::kFileEnd || t.end == d88::WalkEnd::kShortHeader;
  // EndNote's note comes last.
  return cut && notes.count > 0 ? notes.text[notes.count - 1] : nullptr;
}

bool TrackIsDamaged(const TrackRecords& t) {
  return t.end == d88::WalkEnd::kFileEnd ||
         t.end == d88::WalkEnd::kShortHeader ||
         (t.any_flags & kDamageFlags) != 0;
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
