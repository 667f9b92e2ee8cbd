#include "inspect/report.h"

#include <algorithm>
#include <iterator>

namespace {

// Bounds that keep a report readable, and finite on a hostile image.
constexpr int kMaxListedIds = 256;
constexpr int kMaxTrackNotes = 16;
// Records listed per image, over a thousand times what real images hold,
// so that an image whose tracks all start at different places in one huge
// track is still reported in about a second.
constexpr int64_t kMaxListedRecords = int64_t{1} << 24;

// One track at a time, large enough for any track.
TrackRecords track_records;

// Tracks already listed, so that one shared by several entries or disks is
// shown once.
struct ListedTrack {
  int64_t start;
  int disk;
  int track;
};
ListedTrack listed[d88::D88File::kMaxDisks * d88::D88File::kMaxTracks];
int listed_count;
int64_t listed_records;

const char* MediaName(int media_type) {
  switch (media_type) {
    case 0x00:
      return "2D";
    case 0x10:
      return "2DD";
    case 0x20:
      return "2HD";
    case 0x30:
      return "1D";
    case 0x40:
      return "1DD";
    default:
      return "unknown";
  }
}

void PrintId(std::FILE* out, const d88::SectorId& id) {
  std::fprintf(out, "%d/%d/%d/%d", id.c, id.h, id.r, id.n);
}

bool StandsOut(const TrackRecords& track, int i) {
  const d88::SectorInfo& info = track.infos[i];
  return info.status != 0 || info.deleted != 0 || info.density != 0 ||
         HasOddSize(info) || track.id_count[i] > 1;
}

const ListedTrack* FindListed(int64_t start) {
  for (int i = 0; i < listed_count; ++i) {
    if (listed[i].start == start) return &listed[i];
  }
  return nullptr;
}

void PrintTrack(d88::D88File* reader, std::FILE* out, int disk, int track,
                int64_t start) {
  std::fprintf(out, "  track %d:", track);
  if (const ListedTrack* same = FindListed(start)) {
    std::fprintf(out, " same records as disk %d track %d\n", same->disk,
                 same->track);
    return;
  }
  listed[listed_count++] = {start, disk, track};
  ListTrack(reader, track, &track_records);
  listed_records += track_records.count;
  bool one_n = true;
  for (int i = 0; i < track_records.count; ++i) {
    one_n = one_n && track_records.infos[i].id.n == track_records.infos[0].id.n;
    if (i >= kMaxListedIds) continue;
    std::fputc(' ', out);
    PrintId(out, track_records.infos[i].id);
  }
  if (track_records.count > kMaxListedIds) {
    std::fprintf(out, " \xE2\x80\xA6 and %d more records",
                 track_records.count - kMaxListedIds);
  }
  std::fputc('\n', out);
  if (!one_n) std::fputs("    note: the IDs do not all share one N\n", out);
  int notes = 0;
  for (int i = 0; i < track_records.count; ++i) {
    if (!StandsOut(track_records, i)) continue;
    if (++notes > kMaxTrackNotes) continue;
    char text[256];
    DescribeRecord(track_records, i, text, sizeof text);
    std::fputs("    note: ", out);
    PrintId(out, track_records.infos[i].id);
    std::fprintf(out, ": %s\n", text);
  }
  if (notes > kMaxTrackNotes) {
    std::fprintf(out, "    \xE2\x80\xA6 and %d more notes\n",
                 notes - kMaxTrackNotes);
  }
}

// Lists the track numbers whose entries pass `test`, after `text`.
template <typename Test>
void PrintEntryNote(d88::D88File* reader, std::FILE* out, const char* text,
                    Test test) {
  bool any = false;
  for (int track = 0; track < d88::D88File::kMaxTracks; ++track) {
    const int32_t entry = reader->GetTrackOffset(track);
    if (entry == 0 || !test(entry)) continue;
    if (!any) std::fprintf(out, "  note: %s:", text);
    std::fprintf(out, "%s %d", any ? "," : "", track);
    any = true;
  }
  if (any) std::fputc('\n', out);
}

void PrintDisk(d88::D88File* reader, std::FILE* out, int disk) {
  const int64_t start = reader->GetDiskStart(disk);
  for (int earlier = 0; earlier < disk; ++earlier) {
    if (reader->GetDiskStart(earlier) == start) {
      std::fprintf(out, "disk %d: same as disk %d\n", disk, earlier);
      return;
    }
  }
  std::fprintf(out, "disk %d: ", disk);
  if (!reader->SelectDisk(disk)) {
    std::fputs("cannot be read\n", out);
    return;
  }
  PrintQuoted(out, reader->GetDiskName());
  const int media_type = reader->GetMediaType();
  std::fprintf(out, ", media type 0x%02X (%s), ", media_type,
               MediaName(media_type));
  const int protect = reader->GetWriteProtect();
  if (protect == 0x00 || protect == 0x10) {
    std::fprintf(out, "write-protect %s\n", protect == 0 ? "off" : "on");
  } else {
    std::fprintf(out, "write-protect 0x%02X (unknown)\n", protect);
  }

  const int32_t size = reader->GetDiskSize();
  if (size == 0) {
    std::fputs(
        "  note: the size field is 0, so the next disk is this one "
        "again\n",
        out);
  } else if (size < 0) {
    std::fprintf(out,
                 "  note: the size field 0x%08X is 2 GiB or more, read as "
                 "%d\n",
                 static_cast<unsigned>(size), size);
  }
  PrintEntryNote(reader, out, "track entries beyond the disk's size, ignored",
                 [size](int32_t entry) { return entry > size; });
  PrintEntryNote(
      reader, out,
      "track entries inside the 688-byte disk header, as in images written "
      "with a 160-entry track table",
      [size](int32_t entry) {
        return entry > 0 && entry <= size &&
               entry < d88::D88File::kDiskHeaderSize;
      });

  bool any = false;
  for (int track = 0; track < d88::D88File::kMaxTracks && !std::ferror(out);
       ++track) {
    const int64_t track_start = TrackStart(reader, start, track);
    if (track_start < 0) continue;
    any = true;
    if (listed_records >= kMaxListedRecords) {
      std::fprintf(out,
                   "  track %d and later: not listed, past the %lld records "
                   "d88info lists of one image\n",
                   track, static_cast<long long>(kMaxListedRecords));
      break;
    }
    PrintTrack(reader, out, disk, track, track_start);
  }
  if (!any) std::fputs("  no tracks\n", out);
}

// What lies after the disks the scan found.
void PrintTail(d88::D88File* reader, std::FILE* out) {
  const int64_t end = reader->GetScanEnd();
  // A last disk of size 0 ends the scan on itself: nothing follows it.
  if (end < 0 || end == reader->GetDiskStart(d88::D88File::kMaxDisks - 1))
    return;
  uint8_t tail[d88::D88File::kDiskHeaderSize];
  const int length = reader->ReadImageBytes(end, tail, sizeof tail);
  if (length == d88::D88File::kDiskHeaderSize) {
    std::fprintf(out,
                 "note: the file holds more than %d disks; only the first %d "
                 "are read\n",
                 d88::D88File::kMaxDisks, d88::D88File::kMaxDisks);
  } else if (length > 0) {
    const bool zero =
        std::all_of(tail, tail + length, [](uint8_t b) { return b == 0; });
    std::fprintf(out, "note: %d bytes after the last disk, %s\n", length,
                 zero ? "all zero" : "not all zero");
  }
}

// The controller's status values that have a meaning: in the words of a
// track note, and of a suspect file's line (none for deleted data, which
// the line calls deleted whatever says so).
struct StatusName {
  int status;
  const char* note;
  const char* word;
};
constexpr StatusName kStatusNames[] = {
    {0x10, "deleted data", nullptr},
    {0xA0, "ID CRC error", "CRC error"},
    {0xB0, "data CRC error", "CRC error"},
    {0xE0, "no address mark", "no address mark"},
    {0xF0, "no data mark", "no data mark"},
};

const StatusName* FindStatus(int status) {
  const StatusName* end = std::end(kStatusNames);
  const StatusName* found = std::find_if(
      std::begin(kStatusNames), end,
      [status](const StatusName& name) { return name.status == status; });
  return found != end ? found : nullptr;
}

// A suspect file's word for the status; null when it says nothing more
// than deleted.
const char* StatusWord(const d88::SectorInfo& info) {
  if (info.status == 0) return nullptr;
  const StatusName* name = FindStatus(info.status);
  return name != nullptr ? name->word : "unknown status";
}

// Findings joined by ", " in a fixed buffer, cut short if it fills.
class Findings {
 public:
  Findings(char* text, int size) : text_(text), size_(size), length_(0) {
    text_[0] = '\0';
  }
  void Add(const char* text) { Add("%s", text); }
  template <typename First, typename... Rest>
  void Add(const char* format, First first, Rest... rest) {
    Append("%s", length_ > 0 ? ", " : "");
    Append(format, first, rest...);
  }
  int length() const { return length_; }

 private:
  template <typename First, typename... Rest>
  void Append(const char* format, First first, Rest... rest) {
    if (length_ >= size_ - 1) return;
    const int n =
        std::snprintf(text_ + length_, static_cast<size_t>(size_ - length_),
                      format, first, rest...);
    if (n > 0) length_ = std::min(length_ + n, size_ - 1);
  }

  char* text_;
  int size_;
  int length_;
};

const char* StopReason(d88::StepResult result) {
  switch (result) {
    case d88::StepResult::kNoTrack:
      return "missing: the track is absent";
    case d88::StepResult::kZeroCount:
      return "missing: the track ends at a record whose sector count is 0";
    default:
      return "missing";
  }
}

struct RowCheck {
  bool complete;
  int suspects;
};

// Checks row `row` on the selected disk 0; prints its line if `out`.
RowCheck CheckRow(d88::D88File* reader, int row, std::FILE* out) {
  static RowTrace trace;
  const ExtractionEntry& entry = kExtractionTable[row];
  TraceRow(reader, row, &trace);
  const int needed = entry.write_offset + entry.write_length;
  RowCheck check = {trace.bytes >= needed, 0};
  if (out != nullptr) std::fprintf(out, "  %s: ", entry.file_name);
  if (!check.complete && out != nullptr) {
    const int last = std::min(trace.step_count, kMaxRunSteps) - 1;
    const d88::RunStep& stop = trace.steps[last];
    std::fprintf(out, "incomplete: the run stops at %d/%d/%d/%d on track %d ",
                 stop.c, stop.h, stop.r, stop.n, stop.track);
    if (stop.result == d88::StepResult::kShortData) {
      const int chunk =
          std::min(entry.bytes_read - trace.bytes, 128 << kExtractionSizeCode);
      std::fprintf(out, "(short data: %d of %d bytes)", stop.delivered, chunk);
    } else {
      std::fprintf(out, "(%s)", StopReason(stop.result));
    }
    std::fprintf(out, ", after %d of the %d bytes the file needs", trace.bytes,
                 needed);
  }
  int listed_track = -1;
  for (int i = 0; i < std::min(trace.step_count, kMaxRunSteps); ++i) {
    const d88::RunStep& step = trace.steps[i];
    if (step.record < 0 || !StepFeedsFile(trace, row, i)) continue;
    if (step.track != listed_track) {
      ListTrack(reader, step.track, &track_records);
      listed_track = step.track;
    }
    if (step.record >= track_records.count) continue;
    const d88::SectorInfo& info = track_records.infos[step.record];
    const char* status = StatusWord(info);
    const bool deleted = IsDeleted(info);
    const bool duplicate = track_records.id_count[step.record] > 1;
    if (status == nullptr && !deleted && !duplicate) continue;
    if (out != nullptr) {
      std::fputs(check.suspects > 0 ? ", "
                 : check.complete   ? "suspect: "
                                    : "; suspect: ",
                 out);
      PrintId(out, info.id);
      const char* separator = " (";
      for (const char* word : {status, deleted ? "deleted" : nullptr,
                               duplicate ? "duplicate" : nullptr}) {
        if (word == nullptr) continue;
        std::fprintf(out, "%s%s", separator, word);
        separator = ", ";
      }
      std::fputc(')', out);
    }
    ++check.suspects;
  }
  if (out != nullptr) {
    if (check.complete && check.suspects == 0) std::fputs("complete", out);
    std::fputc('\n', out);
  }
  return check;
}

ImageVerdict CheckRuns(d88::D88File* reader, std::FILE* out) {
  ImageVerdict verdict = {reader->GetDiskCount(), 0, 0, Verdict::kClean};
  reader->SelectDisk(0);
  reader->SetSectorRange(kExtractionFirstSector, kExtractionLastSector);
  if (out != nullptr) {
    std::fprintf(out, "volspar's runs on disk 0 (sectors %d-%d, N %d):\n",
                 kExtractionFirstSector, kExtractionLastSector,
                 kExtractionSizeCode);
  }
  int suspect_files = 0;
  for (int row = 0; row < kExtractionRows; ++row) {
    const RowCheck check = CheckRow(reader, row, out);
    if (!check.complete) ++verdict.incomplete;
    if (check.suspects > 0) ++suspect_files;
  }
  verdict.suspect = suspect_files;
  verdict.verdict = verdict.incomplete > 0 ? Verdict::kIncomplete
                    : suspect_files > 0    ? Verdict::kSuspect
                                           : Verdict::kClean;
  if (out == nullptr) return verdict;
  switch (verdict.verdict) {
    case Verdict::kClean:
      std::fputs("volspar would extract complete files from this image\n", out);
      break;
    case Verdict::kSuspect:
      std::fprintf(out,
                   "volspar would extract complete files from this image, "
                   "but %d of %d files are suspect\n",
                   suspect_files, kExtractionRows);
      break;
    case Verdict::kIncomplete:
      std::fprintf(out,
                   "volspar would not extract complete files from this "
                   "image: %d of %d files incomplete",
                   verdict.incomplete, kExtractionRows);
      if (suspect_files > 0) std::fprintf(out, ", %d suspect", suspect_files);
      std::fputc('\n', out);
      break;
  }
  return verdict;
}

}  // namespace

void ListTrack(d88::D88File* reader, int track, TrackRecords* records) {
  TrackRecords& t = *records;
  t.count = reader->ReadSectorInfos(track, t.infos, kMaxRecords);
  // Equal IDs sort next to each other, in stored order.
  for (int i = 0; i < t.count; ++i) {
    const d88::SectorId& id = t.infos[i].id;
    const uint64_t key = static_cast<uint64_t>(id.c) << 24 |
                         static_cast<uint64_t>(id.h) << 16 |
                         static_cast<uint64_t>(id.r) << 8 | id.n;
    t.scratch[i] = key << 32 | static_cast<uint64_t>(i);
  }
  std::sort(t.scratch, t.scratch + t.count);
  for (int first = 0; first < t.count;) {
    int end = first + 1;
    while (end < t.count && t.scratch[end] >> 32 == t.scratch[first] >> 32) {
      ++end;
    }
    for (int i = first; i < end; ++i) {
      const int index = static_cast<int>(t.scratch[i] & 0xFFFFFFFF);
      t.id_count[index] = end - first;
      t.id_rank[index] = i - first + 1;
    }
    first = end;
  }
}

int64_t TrackStart(d88::D88File* reader, int64_t disk_start, int track) {
  d88::SectorInfo first;
  if (reader->ReadSectorInfos(track, &first, 1) == 0) return -1;
  return disk_start + reader->GetTrackOffset(track);
}

bool IsDeleted(const d88::SectorInfo& info) {
  return info.deleted != 0 || info.status == 0x10;
}

bool HasOddSize(const d88::SectorInfo& info) {
  return info.id.n <= 7 && info.data_size != 128 << info.id.n;
}

int DescribeRecord(const TrackRecords& track, int i, char* text, int size) {
  const d88::SectorInfo& info = track.infos[i];
  Findings findings(text, size);
  if (const StatusName* name = FindStatus(info.status)) {
    findings.Add("%s (status 0x%02X)", name->note, info.status);
  } else if (info.status != 0) {
    findings.Add("unknown status 0x%02X", info.status);
  }
  if (info.deleted == 0x10) {
    findings.Add("deleted mark (0x10)");
  } else if (info.deleted != 0) {
    findings.Add("unknown deleted mark 0x%02X", info.deleted);
  }
  if (info.density == 0x40) {
    findings.Add("single density (FM)");
  } else if (info.density == 0x01) {
    findings.Add("high density");
  } else if (info.density != 0) {
    findings.Add("unknown density 0x%02X", info.density);
  }
  if (HasOddSize(info)) {
    findings.Add("data size %d, not %d", info.data_size, 128 << info.id.n);
  }
  if (track.id_count[i] > 1) {
    findings.Add(track.id_rank[i] == 1 ? "duplicate ID (%d of %d, the one read)"
                                       : "duplicate ID (%d of %d)",
                 track.id_rank[i], track.id_count[i]);
  }
  return findings.length();
}

void TraceRow(d88::D88File* reader, int row, RowTrace* trace) {
  static uint8_t run_buffer[kWorkBufferSize];
  const ExtractionEntry& entry = kExtractionTable[row];
  d88::RunTrace run = {trace->steps, kMaxRunSteps, 0};
  trace->bytes = reader->ReadSectors(entry.track, entry.c, entry.h, entry.r,
                                     kExtractionSizeCode, run_buffer,
                                     entry.bytes_read, &run);
  trace->step_count = run.step_count;
}

bool StepFeedsFile(const RowTrace& trace, int row, int step) {
  const ExtractionEntry& entry = kExtractionTable[row];
  const int begin = step * (128 << kExtractionSizeCode);
  const int end = begin + trace.steps[step].delivered;
  return begin < entry.write_offset + entry.write_length &&
         end > entry.write_offset;
}

ImageVerdict WriteReport(d88::D88File* reader, std::FILE* out) {
  const int disks = reader->GetDiskCount();
  std::fprintf(out, "disks: %d\n", disks);
  listed_count = 0;
  listed_records = 0;
  for (int disk = 0; disk < disks && !std::ferror(out); ++disk) {
    PrintDisk(reader, out, disk);
  }
  PrintTail(reader, out);
  return CheckRuns(reader, out);
}

ImageVerdict CheckImage(d88::D88File* reader) {
  return CheckRuns(reader, nullptr);
}
