#include "inspect/findings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "inspect/recognize.h"
#include "platform/sjis.h"
#include "runs/extraction.h"

namespace {

using d88::D88File;

// Tracks already listed, so that one shared by several entries or disks is
// shown once. One inspection runs at a time.
struct ListedTrack {
  int64_t start;
  int disk;
  int track;
};
ListedTrack listed[D88File::kMaxDisks * D88File::kMaxTracks];

// Disks a phrase of read errors names; it counts the others, so that every
// view has room for the same words.
constexpr int kNamedErrorDisks = 8;

// The tracks below the disk's limit whose entries pass `test`, after
// `text`, runs of three or more as "25-79"; nothing when none does.
template <typename Test>
void EntryNote(const DiskLayout& layout, LongNotes* notes, const char* text,
               Test test) {
  const auto passes = [&layout, &test](int track) {
    return track < layout.track_limit && test(track);
  };
  char note[LongNotes::kLength];
  int length = std::snprintf(note, sizeof note, "%s:", text);
  bool any = false;
  // 164 entries fit, listed one by one; the bound only keeps the buffer
  // safe should the words grow.
  for (int track = 0; track < layout.track_limit &&
                      length < static_cast<int>(sizeof note) - 16;
       ++track) {
    if (!passes(track)) continue;
    int last = track;
    while (passes(last + 1)) ++last;
    if (last < track + 2) last = track;
    length += std::snprintf(note + length, sizeof note - length, "%s %d",
                            any ? "," : "", track);
    if (last > track) {
      length += std::snprintf(note + length, sizeof note - length, "-%d", last);
    }
    track = last;
    any = true;
  }
  if (any) notes->Add("%s", note);
}

void SizeNotes(const DiskLayout& layout, LongNotes* notes) {
  if (layout.size == 0) {
    notes->Add("the size field is 0, so the next disk is this one again");
  } else if (layout.size < 0) {
    notes->Add("the size field 0x%08X is 2 GiB or more, read as %d",
               static_cast<unsigned>(layout.size), layout.size);
  }
  if (layout.table160) {
    notes->Add(
        "a 160-entry track table (the first track starts at "
        "0x2A0)");
  }
}

// Notes on the disk's track table and layout; true when they find damage.
bool DiskNotes(D88File* reader, const DiskLayout& layout, LongNotes* notes) {
  SizeNotes(layout, notes);
  const auto entry_is = [&layout](TrackEntry kind) {
    return [&layout, kind](int t) { return layout.entry[t] == kind; };
  };
  EntryNote(layout, notes, "track entries beyond the disk's size, ignored",
            entry_is(TrackEntry::kBeyondSize));
  EntryNote(layout, notes,
            "track entries before the start of the file, ignored",
            entry_is(TrackEntry::kBeforeFile));
  EntryNote(layout, notes,
            "track entries inside the 688-byte disk header, as in images "
            "written with a 160-entry track table",
            entry_is(TrackEntry::kInHeader));
  const auto past_end = [&layout](int t) {
    return layout.track_start[t] >= 0 &&
           layout.track_start[t] + D88File::kSectorHeaderSize >
               layout.file_size;
  };
  EntryNote(layout, notes, "track entries past the end of the file", past_end);
  EntryNote(
      layout, notes, "unformatted tracks (a single empty record)",
      [&layout](int t) { return layout.kind[t] == TrackKind::kUnformatted; });
  const DiskShape& shape = layout.shape;
  const int media = reader->GetMediaType();
  if (shape.media >= 0 && shape.media != media) {
    notes->Add(
        "the media type 0x%02X (%s) does not fit the layout, which is "
        "that of a %s disk",
        media, MediaWord(media), MediaWord(shape.media));
  }
  for (int t = 0; t < layout.track_limit; ++t) {
    if (past_end(t)) return true;
  }
  return false;
}

// What lies after the disks the scan found.
void TailNotes(D88File* reader, ImageFindings* image) {
  const int64_t end = reader->GetScanEnd();
  // A last disk of size 0 ends the scan on itself: nothing follows it.
  if (end < 0 || end == reader->GetDiskStart(D88File::kMaxDisks - 1)) return;
  uint8_t tail[D88File::kDiskHeaderSize];
  const int length = reader->ReadImageBytes(end, tail, sizeof tail);
  if (length == D88File::kDiskHeaderSize) {
    image->notes.Add(
        "the file holds more than %d disks; only the first %d are read",
        D88File::kMaxDisks, D88File::kMaxDisks);
  } else if (LooksLikeCutHeader(tail, length)) {
    image->health.damaged = true;
    image->notes.Add("the file ends %d bytes into a further disk's header",
                     length);
  } else if (length > 0) {
    const bool zero =
        std::all_of(tail, tail + length, [](uint8_t b) { return b == 0; });
    image->notes.Add("%d bytes after the last disk, %s", length,
                     zero ? "all zero" : "not all zero");
  }
}

void SelectDiskFindings(Inspection* in) {
  DiskFindings& disk = in->disk;
  D88File* reader = in->reader;
  disk.readable = SelectLayout(reader, disk.index, &disk.layout);
  if (!disk.readable) {
    in->image.health.damaged = true;
    return;
  }
  if (disk.layout.truncated) in->image.health.damaged = true;
  std::memcpy(disk.name, reader->GetDiskName(), sizeof disk.name);
  if (!DecodeShiftJis(disk.name, disk.name_text, sizeof disk.name_text)) {
    disk.name_text[0] = '\0';
  }
  disk.media_type = reader->GetMediaType();
  disk.write_protect = reader->GetWriteProtect();
  if (DiskNotes(reader, disk.layout, &disk.notes)) {
    in->image.health.damaged = true;
  }
  disk.any_track = std::any_of(std::begin(disk.layout.kind),
                               std::end(disk.layout.kind), [](TrackKind kind) {
                                 return kind == TrackKind::kFormatted ||
                                        kind == TrackKind::kUnformatted;
                               });
}

// Lists the track in `in->track`, whose records start at `start` and no
// earlier track shares.
void ListTrack(Inspection* in, int64_t start) {
  TrackFindings& found = in->track;
  listed[in->listed_count++] = {start, in->disk.index, found.track};
  const TrackRecords& t =
      ClassifyTrack(in->reader, in->disk.layout, found.track,
                    in->fingerprints ? &in->disk.crc32 : nullptr);
  found.records = &t;
  in->listed_records += t.count;
  TrackNotes(t, &found.notes);
  found.stands_out = found.notes.count > 0 || t.any_flags != 0;
  Health& health = in->image.health;
  if (TrackIsDamaged(t)) health.damaged = true;
  if ((t.any_flags & kBadStatus) == 0) return;
  for (int i = 0; i < t.count; ++i) {
    if ((t.facts[i].flags & kBadStatus) != 0) ++health.read_errors;
  }
  health.error_disks |= uint64_t{1} << in->disk.index;
}

}  // namespace

void BeginInspection(D88File* reader, Inspection* in) {
  in->reader = reader;
  in->image.d88 = LooksLikeD88(reader, in->image.reason,
                               sizeof in->image.reason, &in->image.raw_dump);
  in->image.disks = reader->GetDiskCount();
  in->image.health = {};
  in->image.notes.count = 0;
  in->image.read_failure = 0;
  in->next_disk = 0;
  in->listed_count = 0;
  in->listed_records = 0;
  in->one_disk = false;
  in->fingerprints = false;
}

bool NextDisk(Inspection* in) {
  if (!in->image.d88 || in->next_disk >= in->image.disks) return false;
  DiskFindings& disk = in->disk;
  disk.index = in->next_disk++;
  disk.same_as = -1;
  disk.notes.count = 0;
  disk.any_track = false;
  disk.crc32 = 0;
  in->next_track = 0;
  in->stopped = false;
  const int64_t start = in->reader->GetDiskStart(disk.index);
  for (int earlier = 0; earlier < disk.index && !in->one_disk; ++earlier) {
    if (in->reader->GetDiskStart(earlier) == start) {
      disk.same_as = earlier;
      in->next_track = D88File::kMaxTracks;
      return true;
    }
  }
  SelectDiskFindings(in);
  if (!disk.readable) in->next_track = D88File::kMaxTracks;
  return true;
}

bool SeekDisk(Inspection* in, int disk) {
  if (disk < 0 || disk >= in->image.disks) return false;
  in->next_disk = disk;
  in->one_disk = true;
  return NextDisk(in);
}

bool NextTrack(Inspection* in) {
  const DiskLayout& layout = in->disk.layout;
  TrackFindings& found = in->track;
  while (!in->stopped && in->next_track < layout.track_limit) {
    const int track = in->next_track++;
    const int64_t start = layout.track_start[track];
    const TrackKind kind = layout.kind[track];
    // Unformatted tracks and those past the file's end are noted with the
    // disk.
    if (kind != TrackKind::kFormatted) continue;
    found = {in->disk.index, track, -1, -1, false, nullptr, {}, false};
    if (in->listed_records >= kMaxListedRecords) {
      in->image.health.damaged = true;
      in->stopped = true;
      found.not_listed = true;
      return true;
    }
    const ListedTrack* end = listed + in->listed_count;
    const ListedTrack* same = std::find_if(
        static_cast<const ListedTrack*>(listed), end,
        [start](const ListedTrack& l) { return l.start == start; });
    if (same != end) {
      found.same_disk = same->disk;
      found.same_track = same->track;
    } else {
      ListTrack(in, start);
    }
    return true;
  }
  return false;
}

void FinishInspection(Inspection* in) {
  if (in->image.d88) {
    TailNotes(in->reader, &in->image);
    CheckFiles(in->reader, &in->image.files);
  }
  in->image.read_failure = in->reader->GetReadError();
}

void InspectAll(D88File* reader, Inspection* in) {
  BeginInspection(reader, in);
  while (NextDisk(in)) {
    while (NextTrack(in)) {
    }
  }
  FinishInspection(in);
}

int HealthWords(const Health& health, const char* words[2]) {
  int count = 0;
  if (health.damaged) words[count++] = "damaged";
  if (health.read_errors > 0) words[count++] = "read errors";
  if (count == 0) words[count++] = "clean";
  return count;
}

int VolsparWords(const FileChecks& files, const char* words[2]) {
  if (files.not_its_disk) {
    words[0] = "not its disk";
    return 1;
  }
  int count = 0;
  if (files.incomplete > 0) words[count++] = "incomplete";
  if (files.suspect > 0) words[count++] = "suspect";
  if (count == 0) words[count++] = "complete";
  return count;
}

void HealthPhrase(const Health& health, char* text, int size) {
  if (health.read_errors == 0) {
    std::snprintf(text, static_cast<size_t>(size), "%s",
                  health.damaged ? "damaged" : "clean");
    return;
  }
  const int length = health.damaged ? 9 : 0;
  if (health.damaged)
    std::snprintf(text, static_cast<size_t>(size), "damaged, ");
  ReadErrorPhrase(health, text + length, size - length);
}

void ReadErrorPhrase(const Health& health, char* text, int size) {
  const size_t room = static_cast<size_t>(size);
  const int errors = health.read_errors;
  int length = std::snprintf(text, room, "read errors (%d sector%s", errors,
                             errors == 1 ? "" : "s");
  int disks = 0;
  for (int d = 0; d < d88::D88File::kMaxDisks; ++d) {
    disks += static_cast<int>(health.error_disks >> d & 1);
  }
  // Disk 0 goes without saying, as volspar's own.
  if (health.error_disks != 1) {
    length += std::snprintf(text + length, room - length, " on disk%s",
                            disks == 1 ? "" : "s");
    const int named = std::min(disks, kNamedErrorDisks);
    int listed = 0;
    for (int d = 0; d < d88::D88File::kMaxDisks && listed < named; ++d) {
      if ((health.error_disks >> d & 1) == 0) continue;
      ++listed;
      const char* joint = listed == 1 ? " " : listed == disks ? " and " : ", ";
      length += std::snprintf(text + length, room - length, "%s%d", joint, d);
    }
    if (disks > named) {
      length += std::snprintf(text + length, room - length, " and %d more",
                              disks - named);
    }
  }
  std::snprintf(text + length, room - length, ")");
}

void NotItsDiskPhrase(const FileChecks& files, char* text, int size) {
  const size_t room = static_cast<size_t>(size);
  const int n = files.common_n;
  const int wanted = 128 << kExtractionSizeCode;
  if (n < 0) {
    std::snprintf(text, room,
                  "not a disk volspar reads: the tracks it reads hold no "
                  "sectors");
  } else if (n <= 23) {
    std::snprintf(text, room,
                  "not a disk volspar reads: its sectors are %d bytes (N %d), "
                  "volspar reads %d-byte sectors (N %d)",
                  128 << n, n, wanted, kExtractionSizeCode);
  } else {
    std::snprintf(text, room,
                  "not a disk volspar reads: its sectors have size code %d, "
                  "volspar reads %d-byte sectors (N %d)",
                  n, wanted, kExtractionSizeCode);
  }
}

int VerdictWords(const ImageFindings& image, const char* words[3]) {
  if (!image.d88) {
    words[0] = "not a D88 image";
    return 1;
  }
  int count = 0;
  if (image.health.damaged) words[count++] = "damaged";
  if (image.files.incomplete > 0) words[count++] = "incomplete";
  if (image.files.suspect > 0) words[count++] = "suspect";
  if (count == 0) words[count++] = "clean";
  return count;
}

bool FilesNeedALook(const FileChecks& files) {
  return files.not_its_disk || files.incomplete > 0 || files.suspect > 0;
}

int ExitBits(const ImageFindings& image) {
  int bits = image.read_failure != 0 ? kExitFailed : 0;
  if (!image.d88) return bits;
  if (FilesNeedALook(image.files)) bits |= kExitFiles;
  if (image.health.damaged || image.health.read_errors > 0) {
    bits |= kExitHealth;
  }
  return bits;
}

void StopPhrase(const FileChecks& files, int row, char* text, int size) {
  const size_t room = static_cast<size_t>(size);
  const RowRun& run = files.model.rows[row];
  const FileCheck& check = files.files[row];
  const int last = run.step_count - 1;
  const d88::RunStep& step = run.steps[last];
  const int length =
      std::snprintf(text, room, "the run stops at %d/%d/%d/%d on track %d ",
                    step.c, step.h, step.r, step.n, step.track);
  char* rest = text + length;
  const size_t left = room - static_cast<size_t>(length);
  if (step.result == d88::StepResult::kShortData) {
    const int wanted = std::min(
        kExtractionTable[row].bytes_read - last * kSectorSize, kSectorSize);
    std::snprintf(rest, left, "(short data: %d of %d bytes)", step.delivered,
                  wanted);
  } else if (check.other_n >= 0) {
    std::snprintf(rest, left, "(%d/%d/%d/%d is there: %d-byte sector)", step.c,
                  step.h, step.r, check.other_n,
                  check.other_n <= 23 ? 128 << check.other_n : 0);
  } else {
    std::snprintf(rest, left, "(%s)",
                  check.file_ended ? "missing: the file ends before it"
                                   : MissingWords(step.result));
  }
}

void BytesPhrase(const FileChecks& files, int row, char* text, int size) {
  const size_t room = static_cast<size_t>(size);
  const RowRun& run = files.model.rows[row];
  const int needed = kExtractionTable[row].write_length;
  const int left = needed - run.from_image;
  int zeros = 0;
  bool from_row[kExtractionRows] = {};
  for (int k = 0; k < run.rest_count; ++k) {
    const FileSpan& span = run.rest[k];
    if (span.row < 0) zeros += span.to - span.from;
    if (span.row >= 0) from_row[span.row] = true;
  }
  int length = std::snprintf(text, room,
                             "%d of the file's %d bytes come from the image, "
                             "the other %d would be ",
                             run.from_image, needed, left);
  if (zeros == left) {
    std::snprintf(text + length, room - length, "zeros");
    return;
  }
  if (zeros > 0) {
    length +=
        std::snprintf(text + length, room - length, "%d bytes ", left - zeros);
  }
  length += std::snprintf(text + length, room - length,
                          "left over from earlier runs (");
  const char* separator = "";
  for (int k = 0; k < kExtractionRows; ++k) {
    if (!from_row[k]) continue;
    length += std::snprintf(text + length, room - length, "%s%s", separator,
                            kExtractionTable[k].file_name);
    separator = ", ";
  }
  std::snprintf(text + length, room - length,
                zeros > 0 ? ") and %d zeros" : ")", zeros);
}

void SuspectPhrase(const FileCheck& check, int step, char* text, int size) {
  const size_t room = static_cast<size_t>(size);
  const d88::SectorId& id = check.infos[step].id;
  const char* words[3];
  const int count = SuspectWords(check.infos[step], check.flags[step], words);
  int length =
      std::snprintf(text, room, "%d/%d/%d/%d (", id.c, id.h, id.r, id.n);
  for (int i = 0; i < count; ++i) {
    length += std::snprintf(text + length, room - length, "%s%s",
                            i > 0 ? ", " : "", words[i]);
  }
  std::snprintf(text + length, room - length, ")");
}
