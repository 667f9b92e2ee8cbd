// Compares and merges two images that the input holds side by side, split
// where its first two bytes say: the pass ends, and what it lists lies
// within its dumps. An image merged with itself gives back its records:
// on every track, the first of each ID in stored order, with its header
// fields and the data the file holds of it.

#include <set>
#include <vector>

#include "d88/d88_file.h"
#include "fuzz/fuzz_support.h"
#include "inspect/disk_layout.h"
#include "merge/merging.h"

namespace {

MergeFindings findings;
ImageWriter writer;

struct Record {
  d88::SectorInfo info;
  std::vector<uint8_t> data;
};

// The records that `reader` reads on `track` of its selected disk: the
// first of each ID, up to a count of 0.
std::vector<Record> ReadRecords(d88::D88File* reader, int track) {
  std::vector<Record> records;
  std::set<uint32_t> seen;
  d88::TrackWalk walk;
  d88::TrackRecord record;
  if (!reader->BeginWalk(track, &walk)) return records;
  while (reader->NextRecord(&walk, &record) &&
         walk.end != d88::WalkEnd::kZeroCount) {
    const d88::SectorId& id = record.info.id;
    if (!seen.insert(id.c << 24 | id.h << 16 | id.r << 8 | id.n).second) {
      continue;
    }
    Record kept = {record.info, std::vector<uint8_t>(record.data_held)};
    reader->ReadImageBytes(record.data_offset, kept.data.data(),
                           record.data_held);
    records.push_back(kept);
  }
  return records;
}

// The checks on what a comparison lists.
void CheckListed(const MergeFindings& f) {
  FUZZ_CHECK(f.listed_count <= kMaxListed);
  for (int i = 0; i < f.listed_count; ++i) {
    const SectorFacts& s = f.listed[i];
    FUZZ_CHECK(s.disk >= 0 && s.disk < f.disks);
    FUZZ_CHECK(s.from >= 0 && s.from < f.dumps && s.copies[s.from].present);
    FUZZ_CHECK(s.agreeing <= s.good_copies && s.good_copies <= f.dumps);
    for (int d = 0; d < f.dumps; ++d) {
      FUZZ_CHECK(s.copies[d].data_held <= s.copies[d].data_size);
    }
  }
}

// The image `merged` holds the records of `original`, disk by disk.
void CheckSameRecords(d88::D88File* original, d88::D88File* merged) {
  FUZZ_CHECK(merged->GetDiskCount() == original->GetDiskCount());
  for (int disk = 0; disk < original->GetDiskCount(); ++disk) {
    DiskLayout layout;
    if (!SelectLayout(original, disk, &layout)) continue;
    FUZZ_CHECK(merged->SelectDisk(disk));
    for (int track = 0; track < d88::D88File::kMaxTracks; ++track) {
      const std::vector<Record> want = layout.track_start[track] >= 0
                                           ? ReadRecords(original, track)
                                           : std::vector<Record>();
      const std::vector<Record> got = ReadRecords(merged, track);
      FUZZ_CHECK(got.size() == want.size());
      for (size_t i = 0; i < want.size(); ++i) {
        const d88::SectorInfo& a = want[i].info;
        const d88::SectorInfo& b = got[i].info;
        FUZZ_CHECK(a.id.c == b.id.c && a.id.h == b.id.h && a.id.r == b.id.r &&
                   a.id.n == b.id.n && a.density == b.density &&
                   a.deleted == b.deleted && a.status == b.status);
        FUZZ_CHECK(b.sector_count == static_cast<int>(want.size()));
        FUZZ_CHECK(got[i].data == want[i].data);
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile first;
  static MemoryFile second;
  static std::FILE* const sink = EnterOwnDirectory();
  static_cast<void>(sink);
  if (size < 2) return 0;
  const size_t body = size - 2;
  const size_t split = static_cast<size_t>(data[0] | data[1] << 8) % (body + 1);
  if (!first.Set(data + 2, split) ||
      !second.Set(data + 2 + split, body - split)) {
    return 0;
  }
  d88::D88File a;
  d88::D88File b;
  d88::D88File again;
  FUZZ_CHECK(a.Open(first.path()) && b.Open(second.path()) &&
             again.Open(first.path()));
  const char* const paths[] = {first.path(), second.path()};
  d88::D88File* const pair[] = {&a, &b};
  if (CompareDumps(pair, paths, 2, ListMode::kDifferences, nullptr,
                   &findings)) {
    CheckListed(findings);
  }
  OutputFile out;
  FUZZ_CHECK(out.Create("merged.d88"));
  writer.Start(&out);
  d88::D88File* const self[] = {&a, &again};
  if (!CompareDumps(self, paths, 2, ListMode::kMergeChoices, &writer,
                    &findings)) {
    // Only a hostile image stops a pass: too many records, records that
    // many tracks share, a track of more records than a count can say.
    FUZZ_CHECK(findings.stop != MergeStop::kNone &&
               findings.stop != MergeStop::kWrite);
    return 0;
  }
  FUZZ_CHECK(out.Flush());
  CheckListed(findings);
  // Copies of one image agree: each comes from the first.
  FUZZ_CHECK(findings.conflicts == 0);
  for (int i = 0; i < findings.listed_count; ++i) {
    FUZZ_CHECK(findings.listed[i].from == 0);
  }
  d88::D88File merged;
  FUZZ_CHECK(merged.Open(out.pending_name()));
  CheckSameRecords(&a, &merged);
  return 0;
}
