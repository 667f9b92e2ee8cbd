#include "merge/merging.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "inspect/disk_layout.h"
#include "inspect/records.h"
#include "platform/crc32.h"

namespace {

using d88::D88File;

constexpr int kMaxEntries = kMaxDumps * D88File::kMaxRecordsPerTrack;
// A sector's data, and a whole track of the common formats, fit: a track is
// read in one call when it does, a sector at a time when it does not.
constexpr int kBufferSize = 1 << 16;
// Bytes of records a dump may hand the pass beyond twice its size before
// the pass stops: more can only come from tracks or disks that share their
// records, which the reader would read again for each of them.
constexpr int64_t kRecordSlack = int64_t{1} << 20;
// Sizes of good sectors: 128 to 32,768 bytes, as a data size is 16 bits.
constexpr int kMaxGoodSizeCode = 8;
// The most records a track can say it holds: its sector count is 16 bits.
constexpr int kMaxTrackRecords = 0xFFFF;
constexpr int kDeletedMark = 0x10;
constexpr int kDeletedStatus = 0x10;

// A record of a track as the pass keeps it: 24 bytes, so that the largest
// track of every dump fits at once.
struct Entry {
  uint64_t order;  // ID << 24 | dump << 16 | stored position
  int64_t data_offset;
  uint16_t data_size;
  uint16_t data_held;
  uint8_t density;
  uint8_t deleted;
  uint8_t status;
};

uint32_t EntryKey(const Entry& e) {
  return static_cast<uint32_t>(e.order >> 24);
}
int EntryDump(const Entry& e) { return static_cast<int>(e.order >> 16 & 0xFF); }
int EntryIndex(const Entry& e) { return static_cast<int>(e.order & 0xFFFF); }

// One dump's side of the track in hand.
struct DumpTrack {
  // The bytes of the file from `held_start` on in the dump's `data`:
  // consecutive tracks are read 64 KiB at a time.
  int64_t held_start;
  int held_length;
  bool spanned;  // the track's records lie there; else read one by one
  bool marker;   // an unformatted track's single empty record
  d88::SectorInfo marker_info;
};

// Everything a pass works with: one pass runs at a time.
struct Pass {
  D88File* const* dumps;
  int count;
  ListMode mode;
  ImageWriter* writer;
  MergeFindings* f;
  bool holds[kMaxDumps];  // the dump holds the disk in hand
  DiskLayout layouts[kMaxDumps];
  int64_t records[kMaxDumps];  // walked so far
  int64_t record_bytes[kMaxDumps];
  int64_t record_budget[kMaxDumps];
  DumpTrack tracks[kMaxDumps];
  int entry_count;
  Entry entries[kMaxEntries];
  // Each ID's place in the new track: first dump << 52 | its stored
  // position << 32 | the ID's first entry.
  uint64_t order[kMaxEntries];
  uint8_t data[kMaxDumps][kBufferSize];
};
Pass pass;

bool Stop(Pass* p, MergeStop stop, int dump) {
  if (p->f->stop == MergeStop::kNone) {
    p->f->stop = stop;
    p->f->stop_dump = dump;
  }
  return false;
}

// The writer failed: the image would be too large, or a write failed.
bool WriterStop(Pass* p) {
  return Stop(
      p, p->writer->too_large() ? MergeStop::kTooLarge : MergeStop::kWrite, -1);
}

bool CountBytes(Pass* p, int dump, int64_t bytes) {
  p->record_bytes[dump] += bytes;
  return p->record_bytes[dump] <= p->record_budget[dump] ||
         Stop(p, MergeStop::kSharedBytes, dump);
}

// Makes sure the bytes of the records just walked are in the dump's
// buffer, when they fit, reading from the first of them on.
bool ReadSpan(Pass* p, int dump, int first) {
  DumpTrack& t = p->tracks[dump];
  t.spanned = false;
  if (first == p->entry_count) return true;
  const Entry& last = p->entries[p->entry_count - 1];
  const int64_t start = p->entries[first].data_offset;
  const int64_t length = last.data_offset + last.data_size - start;
  if (!CountBytes(p, dump, length)) return false;
  if (length > kBufferSize) {
    t.held_length = 0;  // the records are read one by one into it
    return true;
  }
  if (start < t.held_start || start + length > t.held_start + t.held_length) {
    t.held_start = start;
    t.held_length =
        p->dumps[dump]->ReadImageBytes(start, p->data[dump], kBufferSize);
  }
  t.spanned = true;
  return true;
}

// Walks `track` of `dump` into the entries; false if the dump passes the
// record bound.
bool WalkTrack(Pass* p, int dump, int track) {
  DumpTrack& t = p->tracks[dump];
  t.marker = false;
  t.spanned = false;
  d88::TrackWalk walk;
  const DiskLayout& layout = p->layouts[dump];
  if (layout.track_start[track] < 0 ||
      !p->dumps[dump]->BeginWalk(track, &walk)) {
    return true;
  }
  const int first = p->entry_count;
  d88::TrackRecord record;
  while (p->dumps[dump]->NextRecord(&walk, &record)) {
    if (++p->records[dump] > kMaxDumpRecords) {
      return Stop(p, MergeStop::kRecordBound, dump);
    }
    const d88::SectorInfo& info = record.info;
    // The reader stops at a count of 0 before it looks at the record's ID.
    if (walk.end == d88::WalkEnd::kZeroCount) {
      t.marker = layout.kind[track] == TrackKind::kUnformatted;
      t.marker_info = info;
      break;
    }
    Entry& e = p->entries[p->entry_count++];
    e.order = static_cast<uint64_t>(IdKey(info.id)) << 24 |
              static_cast<uint64_t>(dump) << 16 |
              static_cast<uint64_t>(record.index);
    e.data_offset = record.data_offset;
    e.data_size = static_cast<uint16_t>(info.data_size);
    e.data_held = static_cast<uint16_t>(record.data_held);
    e.density = static_cast<uint8_t>(info.density);
    e.deleted = static_cast<uint8_t>(info.deleted);
    e.status = static_cast<uint8_t>(info.status);
  }
  return ReadSpan(p, dump, first);
}

// Sorts the entries by ID, and the IDs into the new track's order: the
// first dump's stored order, then what the others add, in theirs. Returns
// the number of IDs.
int OrderIds(Pass* p) {
  std::sort(p->entries, p->entries + p->entry_count,
            [](const Entry& a, const Entry& b) { return a.order < b.order; });
  int ids = 0;
  for (int i = 0; i < p->entry_count; ++i) {
    const Entry& e = p->entries[i];
    if (i > 0 && EntryKey(p->entries[i - 1]) == EntryKey(e)) continue;
    p->order[ids++] = static_cast<uint64_t>(EntryDump(e)) << 52 |
                      static_cast<uint64_t>(EntryIndex(e)) << 32 |
                      static_cast<uint64_t>(i);
  }
  std::sort(p->order, p->order + ids);
  return ids;
}

// The controller read the copy without an error: a status of 0, or that of
// deleted data where the record bears the deleted mark.
bool CleanStatus(const CopyFacts& c) {
  return c.status == 0 ||
         (c.status == kDeletedStatus && c.deleted == kDeletedMark);
}

// The copies of the ID whose entries start at `first`: `copy` gets each
// dump's first entry, or -1.
void GatherCopies(const Pass& p, int first, SectorFacts* s, int* copy) {
  const uint32_t key = EntryKey(p.entries[first]);
  s->id = {static_cast<uint8_t>(key >> 24), static_cast<uint8_t>(key >> 16),
           static_cast<uint8_t>(key >> 8), static_cast<uint8_t>(key)};
  for (int d = 0; d < p.count; ++d) {
    copy[d] = -1;
    s->copies[d] = {};
  }
  for (int i = first; i < p.entry_count && EntryKey(p.entries[i]) == key; ++i) {
    const Entry& e = p.entries[i];
    CopyFacts& c = s->copies[EntryDump(e)];
    if (c.records++ > 0) continue;
    copy[EntryDump(e)] = i;
    c.present = true;
    c.status = e.status;
    c.deleted = e.deleted;
    c.density = e.density;
    c.data_size = e.data_size;
    c.data_held = e.data_held;
    c.good = CleanStatus(c) && s->id.n <= kMaxGoodSizeCode &&
             e.data_size == (128 << s->id.n) && e.data_held == e.data_size;
  }
}

// The bytes of entry `i`, from the track's bytes or read alone; sets the
// copy's held bytes to what the file delivered.
const uint8_t* CopyBytes(Pass* p, int i, CopyFacts* c) {
  const Entry& e = p->entries[i];
  const int dump = EntryDump(e);
  const DumpTrack& t = p->tracks[dump];
  const uint8_t* bytes = p->data[dump];
  int held = 0;
  if (t.spanned) {
    const int64_t at = e.data_offset - t.held_start;
    bytes += at;
    held = static_cast<int>(std::min<int64_t>(e.data_held, t.held_length - at));
  } else {
    held = p->dumps[dump]->ReadImageBytes(e.data_offset, p->data[dump],
                                          e.data_held);
  }
  if (held < c->data_held) {
    c->data_held = held < 0 ? 0 : held;
    c->good = false;
  }
  return bytes;
}

// Sorts the copies into classes of equal bytes, and says how they differ.
void CompareCopies(const Pass& p, const uint8_t* const* bytes, SectorFacts* s) {
  s->differences = 0;
  const CopyFacts* first = nullptr;
  for (int d = 0; d < p.count; ++d) {
    CopyFacts& c = s->copies[d];
    if (!c.present) {
      if (p.holds[d]) s->differences |= kPartial;
      continue;
    }
    c.data_class = d;
    for (int e = 0; e < d; ++e) {
      const CopyFacts& o = s->copies[e];
      if (o.present && o.data_class == e && o.data_held == c.data_held &&
          std::memcmp(bytes[e], bytes[d], static_cast<size_t>(c.data_held)) ==
              0) {
        c.data_class = e;
        break;
      }
    }
    if (!c.good) s->differences |= kBadCopy;
    if (c.records > 1) s->differences |= kDuplicated;
    if (first == nullptr) first = &c;
    if (c.data_class != first->data_class) s->differences |= kDataDiffer;
    if (c.status != first->status || c.deleted != first->deleted ||
        c.data_size != first->data_size) {
      s->differences |= kHeaderDiffer;
    }
  }
}

// Chooses the copy to take: among good copies, the first of the data that
// most of them hold; with none, the first copy there is.
void Choose(const Pass& p, SectorFacts* s) {
  int votes[kMaxDumps] = {};
  s->good_copies = 0;
  for (int d = 0; d < p.count; ++d) {
    if (!s->copies[d].good) continue;
    ++votes[s->copies[d].data_class];
    ++s->good_copies;
  }
  const int best = *std::max_element(votes, votes + p.count);
  s->agreeing = best;
  s->from = -1;
  int leaders = 0;
  for (int d = 0; d < p.count; ++d) {
    if (votes[d] == best && best > 0) ++leaders;
    const CopyFacts& c = s->copies[d];
    if (s->from < 0 && c.present &&
        (best == 0 || (c.good && votes[c.data_class] == best))) {
      s->from = d;
    }
  }
  s->choice = best == 0               ? Choice::kStillBad
              : leaders > 1           ? Choice::kConflict
              : best < s->good_copies ? Choice::kMajority
                                      : Choice::kAgreed;
}

// Adds the sector to its disk's tally and to the pair tallies.
void Tally(Pass* p, const SectorFacts& s) {
  DiskTally& t = p->f->disk[s.disk];
  const unsigned diff = s.differences;
  ++t.sectors;
  if ((diff & (kPartial | kDataDiffer | kHeaderDiffer)) == 0) ++t.identical;
  if (diff & (kDataDiffer | kHeaderDiffer)) ++t.differing;
  if (diff & kBadCopy) ++t.bad;
  if (diff & kPartial) ++t.partial;
  if (diff & kDuplicated) ++t.duplicated;
  ++t.taken[s.from];
  if (!s.copies[0].present) ++t.added;
  if (s.choice == Choice::kStillBad) ++t.still_bad;
  if (s.choice == Choice::kConflict) ++t.conflicts;
  const CopyFacts& one = s.copies[0];
  for (int d = 1; d < p->count; ++d) {
    if (!one.present || !s.copies[d].present || !CleanStatus(one) ||
        !CleanStatus(s.copies[d])) {
      continue;
    }
    ++p->f->pair[d].both_clean;
    if (s.copies[d].data_class == one.data_class) ++p->f->pair[d].agree;
  }
}

// Keeps the sector for the reports, if the mode lists it and there is room.
void List(Pass* p, SectorFacts* s, const uint8_t* const* bytes) {
  const bool listed = p->mode == ListMode::kDifferences
                          ? s->differences != 0
                          : s->from != 0 || s->choice == Choice::kStillBad ||
                                s->choice == Choice::kConflict;
  if (!listed) return;
  MergeFindings* f = p->f;
  if (f->listed_count == kMaxListed) {
    ++f->disk[s->disk].not_listed;
    return;
  }
  for (int d = 0; d < p->count; ++d) {
    CopyFacts& c = s->copies[d];
    if (c.present) {
      c.crc = Crc32(bytes[d], static_cast<size_t>(c.data_held));
    }
  }
  f->listed[f->listed_count++] = *s;
}

// Compares, chooses and (with a writer) writes the sector whose entries
// start at `first`, as one of the `ids` records of its new track.
bool DoSector(Pass* p, int disk, int track, int first, int ids) {
  static SectorFacts s;
  int copy[kMaxDumps];
  const uint8_t* bytes[kMaxDumps] = {};
  s.disk = disk;
  s.track = track;
  GatherCopies(*p, first, &s, copy);
  for (int d = 0; d < p->count; ++d) {
    if (copy[d] < 0) continue;
    bytes[d] = CopyBytes(p, copy[d], &s.copies[d]);
  }
  CompareCopies(*p, bytes, &s);
  Choose(*p, &s);
  Tally(p, s);
  List(p, &s, bytes);
  if (p->writer == nullptr) return true;
  const CopyFacts& c = s.copies[s.from];
  d88::SectorInfo info = {s.id, ids, c.density, c.deleted, c.status, 0};
  return p->writer->PutRecord(info, bytes[s.from], c.data_held) ||
         WriterStop(p);
}

// Walks track `track` of every dump that holds disk `disk`, and compares,
// chooses and writes its sectors.
bool DoTrack(Pass* p, int disk, int track) {
  p->entry_count = 0;
  const d88::SectorInfo* marker = nullptr;
  for (int d = 0; d < p->count; ++d) {
    p->tracks[d].marker = false;
    if (p->holds[d] && !WalkTrack(p, d, track)) return false;
    if (marker == nullptr && p->tracks[d].marker) {
      marker = &p->tracks[d].marker_info;
    }
  }
  const int ids = OrderIds(p);
  if (p->writer != nullptr && ids > kMaxTrackRecords) {
    return Stop(p, MergeStop::kTooLarge, -1);
  }
  if (p->writer != nullptr && (ids > 0 || marker != nullptr)) {
    p->writer->BeginTrack(track);
  }
  for (int i = 0; i < ids; ++i) {
    const int first = static_cast<int>(p->order[i] & 0xFFFFFFFF);
    if (!DoSector(p, disk, track, first, ids)) return false;
  }
  // A track that no dump formatted stays unformatted: its empty record,
  // count 0 and all, as the first dump that has one holds it.
  if (p->writer != nullptr && ids == 0 && marker != nullptr &&
      !p->writer->PutRecord(*marker, nullptr, 0)) {
    return WriterStop(p);
  }
  return true;
}

// Compares (and writes) disk `disk` of every dump that holds it.
bool DoDisk(Pass* p, int disk) {
  DiskTally& tally = p->f->disk[disk];
  tally = {};
  tally.listed_first = p->f->listed_count;
  int source = -1;  // the dump whose header the new disk takes
  for (int d = 0; d < p->count; ++d) {
    p->holds[d] = disk < p->f->disk_counts[d] &&
                  SelectLayout(p->dumps[d], disk, &p->layouts[d]);
    if (!p->holds[d]) continue;
    ++tally.holders;
    if (source < 0) source = d;
  }
  if (p->writer != nullptr && !p->writer->BeginDisk()) return WriterStop(p);
  for (int track = 0; track < D88File::kMaxTracks; ++track) {
    if (!DoTrack(p, disk, track)) return false;
  }
  tally.listed_end = p->f->listed_count;
  p->f->still_bad += tally.still_bad;
  p->f->conflicts += tally.conflicts;
  if (p->writer == nullptr) return true;
  D88File* header = p->dumps[source < 0 ? 0 : source];
  const bool ended = source < 0 ? p->writer->EndDisk("", 0, 0)
                                : p->writer->EndDisk(header->GetDiskName(),
                                                     header->GetMediaType(),
                                                     header->GetWriteProtect());
  return ended || WriterStop(p);
}

}  // namespace

void StartFindings(D88File* const dumps[], const char* const paths[], int count,
                   MergeFindings* findings) {
  MergeFindings* f = findings;
  f->dumps = count;
  f->disks = 0;
  f->listed_count = 0;
  f->still_bad = 0;
  f->conflicts = 0;
  f->stop = MergeStop::kNone;
  f->stop_dump = -1;
  for (int d = 0; d < count; ++d) {
    f->paths[d] = paths[d];
    f->disk_counts[d] = dumps[d]->GetDiskCount();
    f->disks = std::max(f->disks, f->disk_counts[d]);
    f->pair[d] = {};
  }
}

bool CompareDumps(D88File* const dumps[], const char* const paths[], int count,
                  ListMode mode, ImageWriter* writer, MergeFindings* findings) {
  StartFindings(dumps, paths, count, findings);
  Pass* p = &pass;
  p->dumps = dumps;
  p->count = count;
  p->mode = mode;
  p->writer = writer;
  p->f = findings;
  for (int d = 0; d < count; ++d) {
    p->records[d] = 0;
    p->record_bytes[d] = 0;
    p->record_budget[d] = 2 * dumps[d]->GetFileSize() + kRecordSlack;
    p->tracks[d].held_start = -1;
    p->tracks[d].held_length = 0;
  }
  for (int disk = 0; disk < findings->disks; ++disk) {
    if (!DoDisk(p, disk)) return false;
  }
  // The header of a disk that was patched in place must reach the file too.
  return writer == nullptr || writer->Finish() || WriterStop(p);
}

bool DifferentDisks(const MergeFindings& findings, int dump, char* reason,
                    int size) {
  const size_t room = static_cast<size_t>(size);
  const int mine = findings.disk_counts[dump];
  const int first = findings.disk_counts[0];
  if (mine != first) {
    std::snprintf(reason, room, "they hold %d and %d disk%s", first, mine,
                  mine == 1 ? "" : "s");
    return true;
  }
  const PairTally& pair = findings.pair[dump];
  if (2 * pair.agree >= pair.both_clean) return false;
  std::snprintf(reason, room,
                "%lld of the %lld sectors both hold with a clean status agree",
                static_cast<long long>(pair.agree),
                static_cast<long long>(pair.both_clean));
  return true;
}
