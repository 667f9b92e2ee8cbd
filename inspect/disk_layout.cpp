#include "inspect/disk_layout.h"

#include <algorithm>
#include <iterator>

namespace {

using d88::D88File;

// Records of a track looked at for the disk's shape: real tracks hold far
// fewer, and a track of more counts as one that differs.
constexpr int kShapeRecords = 64;
// Sizes of real sectors: 128 to 16,384 bytes.
constexpr int kMaxShapeSizeCode = 7;
// The largest track of a double-density disk; more is a high-density one.
constexpr int kDoubleDensityTrackBytes = 6144;
// Cylinders of a 40-track disk, with the spare ones drives allow.
constexpr int kMaxNarrowCylinders = 42;

// What one track adds to the disk's shape.
struct TrackShape {
  bool formatted;
  bool unformatted;
  int records;      // 0: more than kShapeRecords
  int sector_size;  // 0: the sizes differ
  int bytes;
  int c;
  int h;
};

TrackShape ShapeOf(D88File* reader, int track) {
  TrackShape shape = {};
  d88::TrackWalk walk;
  d88::TrackRecord record;
  if (!reader->BeginWalk(track, &walk)) return shape;
  while (walk.index < kShapeRecords && reader->NextRecord(&walk, &record)) {
    const d88::SectorInfo& info = record.info;
    // The size the ID gives: a short sector is noted on its own.
    const int size = info.id.n <= kMaxShapeSizeCode ? 128 << info.id.n : 0;
    if (walk.index == 1) {
      shape.unformatted =
          walk.end == d88::WalkEnd::kZeroCount && info.data_size == 0;
      shape.c = info.id.c;
      shape.h = info.id.h;
      shape.sector_size = size;
    } else if (size != shape.sector_size) {
      shape.sector_size = 0;
    }
    shape.bytes += info.data_size;
  }
  shape.formatted = walk.index > 0 && !shape.unformatted;
  shape.records = walk.end != d88::WalkEnd::kNone ? walk.index : 0;
  return shape;
}

void AddShape(const TrackShape& track, bool first, DiskShape* shape) {
  ++shape->tracks;
  shape->cylinders = std::max(shape->cylinders, track.c + 1);
  if (track.h == 1) shape->sides = 2;
  shape->track_bytes = std::max(shape->track_bytes, track.bytes);
  if (first) {
    shape->sectors = track.records;
    shape->sector_size = track.sector_size;
    return;
  }
  if (track.records != shape->sectors) shape->sectors = 0;
  if (track.sector_size != shape->sector_size) shape->sector_size = 0;
}

void FindTracks(D88File* reader, DiskLayout* layout) {
  int32_t first = 0;
  for (int track = 0; track < D88File::kMaxTracks; ++track) {
    d88::TrackWalk walk;
    layout->track_start[track] =
        reader->BeginWalk(track, &walk) ? walk.start : -1;
    const int32_t entry = reader->GetTrackOffset(track);
    if (track < kShortTableEntries && layout->track_start[track] >= 0 &&
        entry > 0 && (first == 0 || entry < first)) {
      first = entry;
    }
  }
  layout->table160 = first == kShortTableEnd;
  layout->track_limit =
      layout->table160 ? kShortTableEntries : D88File::kMaxTracks;
  for (int track = layout->track_limit; track < D88File::kMaxTracks; ++track) {
    layout->track_start[track] = -1;
  }
  const int32_t header_end =
      layout->table160 ? kShortTableEnd : D88File::kDiskHeaderSize;
  for (int track = 0; track < D88File::kMaxTracks; ++track) {
    const int32_t entry = reader->GetTrackOffset(track);
    TrackEntry& kind = layout->entry[track];
    if (layout->track_start[track] >= 0) {
      kind = entry > 0 && entry < header_end ? TrackEntry::kInHeader
                                             : TrackEntry::kTrack;
    } else if (entry == 0 || track >= layout->track_limit) {
      kind = TrackEntry::kNone;
    } else {
      // The reader takes no track there: say why.
      kind = entry > layout->size ? TrackEntry::kBeyondSize
                                  : TrackEntry::kBeforeFile;
    }
  }
  const int64_t end = layout->start + layout->bytes_in_file;
  int64_t sorted[D88File::kMaxTracks];
  std::copy(std::begin(layout->track_start), std::end(layout->track_start),
            sorted);
  std::sort(std::begin(sorted), std::end(sorted));
  for (int track = 0; track < D88File::kMaxTracks; ++track) {
    const int64_t* next = std::upper_bound(std::begin(sorted), std::end(sorted),
                                           layout->track_start[track]);
    layout->boundary[track] =
        next != std::end(sorted) && *next < end ? *next : end;
  }
}

}  // namespace

int MediaOf(const DiskShape& shape) {
  if (shape.tracks == 0) return -1;
  if (shape.track_bytes > kDoubleDensityTrackBytes) return 0x20;
  const bool wide = shape.cylinders > kMaxNarrowCylinders;
  if (shape.sides == 1) return wide ? 0x40 : 0x30;
  return wide ? 0x10 : 0x00;
}

bool SelectLayout(D88File* reader, int disk, DiskLayout* layout) {
  if (!reader->SelectDisk(disk)) return false;
  layout->start = reader->GetDiskStart(disk);
  layout->size = reader->GetDiskSize();
  layout->file_size = reader->GetFileSize();
  layout->end = layout->size > 0 ? layout->start + layout->size : -1;
  layout->truncated = layout->end > layout->file_size;
  const int64_t end =
      layout->end >= 0 && !layout->truncated ? layout->end : layout->file_size;
  layout->bytes_in_file = std::max<int64_t>(end - layout->start, 0);
  FindTracks(reader, layout);
  DiskShape& shape = layout->shape;
  shape = {0, 0, 1, 0, 0, 0, -1};
  for (int track = 0; track < D88File::kMaxTracks; ++track) {
    layout->kind[track] = TrackKind::kAbsent;
    if (layout->track_start[track] < 0) continue;
    const TrackShape track_shape = ShapeOf(reader, track);
    layout->kind[track] = track_shape.unformatted ? TrackKind::kUnformatted
                          : track_shape.formatted ? TrackKind::kFormatted
                                                  : TrackKind::kEmpty;
    if (track_shape.formatted) AddShape(track_shape, shape.tracks == 0, &shape);
  }
  shape.media = MediaOf(shape);
  return true;
}

namespace {

// The media bytes the format defines, and their usual names.
struct KnownMedia {
  int media;
  const char* name;
};
constexpr KnownMedia kMedia[] = {
    {0x00, "2D"}, {0x10, "2DD"}, {0x20, "2HD"}, {0x30, "1D"}, {0x40, "1DD"}};

}  // namespace

const char* MediaName(int media) {
  const KnownMedia* known = std::find_if(
      std::begin(kMedia), std::end(kMedia),
      [media](const KnownMedia& entry) { return entry.media == media; });
  return known != std::end(kMedia) ? known->name : nullptr;
}
