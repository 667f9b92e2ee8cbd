#include "inspect/report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "inspect/records.h"
#include "runs/extraction.h"

namespace {

// Bounds that keep a report readable, and finite on a hostile image.
constexpr int kMaxListedIds = 256;
constexpr int kMaxTrackNotes = 16;
// Records listed per image, about a hundred times what real images hold
// (a 2HD disk has some 2,500), so that an image whose tracks all start at
// different places in one huge track is still reported in well under a
// second. An image that reaches it counts as damaged: what is not looked at
// cannot be vouched for.
constexpr int64_t kMaxListedRecords = int64_t{1} << 20;
constexpr char kEllipsis[] = "\xE2\x80\xA6";

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

// Tracks already listed, so that one shared by several entries or disks is
// shown once.
struct ListedTrack {
  int64_t start;
  int disk;
  int track;
};
ListedTrack listed[d88::D88File::kMaxDisks * d88::D88File::kMaxTracks];

// One image being inspected: where its findings go, and what they add up
// to.
struct Inspection {
  d88::D88File* reader;
  ReportStyle style;
  TextOut* out;
  JsonWriter* json;
  ImageVerdict* verdict;
  int listed_count;
  int64_t listed_records;

  bool text() const {
    return style == ReportStyle::kFull || style == ReportStyle::kProblems;
  }
  bool full() const { return style == ReportStyle::kFull; }
  bool as_json() const { return style == ReportStyle::kJson; }
};

void PutId(TextOut* out, const d88::SectorId& id) {
  out->Int(id.c);
  out->Put('/');
  out->Int(id.h);
  out->Put('/');
  out->Int(id.r);
  out->Put('/');
  out->Int(id.n);
}

// A note on the disk (`indent` 2) or the image (0): a line of text, or a
// string of the open JSON array.
void Note(Inspection* in, int indent, const char* text) {
  if (in->as_json()) in->json->String(text);
  if (!in->text()) return;
  in->out->Put(indent > 0 ? "  note: " : "note: ");
  in->out->Put(text);
  in->out->Put('\n');
}

// The numbers of the tracks whose entries pass `test`, after `text`.
template <typename Test>
void EntryNote(Inspection* in, const char* text, Test test) {
  const auto passes = [in, &test](int track) {
    const int32_t entry = in->reader->GetTrackOffset(track);
    return track < d88::D88File::kMaxTracks && entry != 0 && test(entry);
  };
  char note[1024];
  int length = std::snprintf(note, sizeof note, "%s:", text);
  bool any = false;
  // 164 entries fit, listed one by one; the bound only keeps the buffer
  // safe should the words grow.
  for (int track = 0; track < d88::D88File::kMaxTracks &&
                      length < static_cast<int>(sizeof note) - 16;
       ++track) {
    if (!passes(track)) continue;
    // Runs of three or more tracks as "25-79".
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
  if (any) Note(in, 2, note);
}

void DiskNotes(Inspection* in, const DiskLayout& layout) {
  const int32_t size = layout.size;
  char note[160];
  if (size == 0) {
    Note(in, 2, "the size field is 0, so the next disk is this one again");
  } else if (size < 0) {
    std::snprintf(note, sizeof note,
                  "the size field 0x%08X is 2 GiB or more, read as %d",
                  static_cast<unsigned>(size), size);
    Note(in, 2, note);
  }
  EntryNote(in, "track entries beyond the disk's size, ignored",
            [size](int32_t entry) { return entry > size; });
  EntryNote(in,
            "track entries inside the 688-byte disk header, as in images "
            "written with a 160-entry track table",
            [size](int32_t entry) {
              return entry > 0 && entry <= size &&
                     entry < d88::D88File::kDiskHeaderSize;
            });
  const auto past_end = [&layout](int32_t entry) {
    return entry <= layout.size &&
           layout.start + entry + d88::D88File::kSectorHeaderSize >
               layout.file_size;
  };
  for (int track = 0; track < d88::D88File::kMaxTracks; ++track) {
    const int32_t entry = in->reader->GetTrackOffset(track);
    if (entry != 0 && past_end(entry)) in->verdict->damaged = true;
  }
  EntryNote(in, "track entries past the end of the file", past_end);
}

void JsonRecord(JsonWriter* json, const TrackRecords& t, int i) {
  const d88::SectorInfo& info = t.infos[i];
  json->Begin('{');
  json->Field("c", info.id.c);
  json->Field("h", info.id.h);
  json->Field("r", info.id.r);
  json->Field("n", info.id.n);
  json->Field("sector_count", info.sector_count);
  json->Field("status", info.status);
  json->Field("deleted", info.deleted);
  json->Field("density", info.density);
  json->Field("data_size", info.data_size);
  json->Key("notes");
  json->Begin('[');
  if (t.flags[i] != 0) {
    Notes notes;
    RecordNotes(t, i, &notes);
    for (int k = 0; k < notes.count; ++k) json->String(notes.text[k]);
  }
  json->End(']');
  json->End('}');
}

// Lists one track whose records no earlier track shares.
void ListTrack(Inspection* in, const DiskLayout& layout, int track) {
  const TrackRecords& t = ClassifyTrack(in->reader, layout, track);
  in->listed_records += t.count;
  if (TrackIsDamaged(t)) in->verdict->damaged = true;
  Notes track_notes;
  TrackNotes(t, &track_notes);
  TextOut* out = in->out;
  if (in->as_json()) {
    JsonWriter* json = in->json;
    json->Field("record_count", t.count);
    json->Key("records");
    json->Begin('[');
    for (int i = 0; i < std::min(t.count, kMaxListedIds); ++i) {
      JsonRecord(json, t, i);
    }
    json->End(']');
    json->Key("notes");
    json->Begin('[');
    for (int k = 0; k < track_notes.count; ++k) {
      json->String(track_notes.text[k]);
    }
    json->End(']');
    return;
  }
  if (!in->text()) return;
  if (!in->full() && track_notes.count == 0 && t.any_flags == 0) return;
  out->Put("  track ");
  out->Int(track);
  out->Put(':');
  if (in->full()) {
    for (int i = 0; i < std::min(t.count, kMaxListedIds); ++i) {
      out->Put(' ');
      PutId(out, t.infos[i].id);
    }
    if (t.count > kMaxListedIds) {
      out->Put(' ');
      out->Put(kEllipsis);
      out->Put(" and ");
      out->Int(t.count - kMaxListedIds);
      out->Put(" more records");
    }
  }
  out->Put('\n');
  for (int k = 0; k < track_notes.count; ++k) {
    out->Put("    note: ");
    out->Put(track_notes.text[k]);
    out->Put('\n');
  }
  int noted = 0;
  for (int i = 0; i < t.count; ++i) {
    if (t.flags[i] == 0) continue;
    if (++noted > kMaxTrackNotes) continue;
    Notes notes;
    RecordNotes(t, i, &notes);
    out->Put("    note: ");
    PutId(out, t.infos[i].id);
    for (int k = 0; k < notes.count; ++k) {
      out->Put(k == 0 ? ": " : ", ");
      out->Put(notes.text[k]);
    }
    out->Put('\n');
  }
  if (noted > kMaxTrackNotes) {
    out->Put("    ");
    out->Put(kEllipsis);
    out->Put(" and ");
    out->Int(noted - kMaxTrackNotes);
    out->Put(" more notes\n");
  }
}

void Tracks(Inspection* in, const DiskLayout& layout, int disk) {
  bool any = false;
  for (int track = 0; track < d88::D88File::kMaxTracks && !in->out->Failed();
       ++track) {
    d88::SectorInfo first;
    if (in->reader->ReadSectorInfos(track, &first, 1) == 0) continue;
    any = true;
    if (in->listed_records >= kMaxListedRecords) {
      // What is not looked at cannot be vouched for.
      in->verdict->damaged = true;
      if (in->as_json()) {
        // This track and the later ones.
        in->json->Begin('{');
        in->json->Field("track", track);
        in->json->Field("not_listed", true);
        in->json->End('}');
      } else if (in->text()) {
        char line[160];
        std::snprintf(line, sizeof line,
                      "  track %d and later: not listed, past the %lld "
                      "records d88info lists of one image\n",
                      track, static_cast<long long>(kMaxListedRecords));
        in->out->Put(line);
      }
      break;
    }
    const int64_t start = layout.start + in->reader->GetTrackOffset(track);
    const ListedTrack* same = std::find_if(
        listed, listed + in->listed_count,
        [start](const ListedTrack& l) { return l.start == start; });
    if (in->as_json()) {
      in->json->Begin('{');
      in->json->Field("track", track);
    }
    if (same != listed + in->listed_count) {
      if (in->as_json()) {
        in->json->Key("same_as");
        in->json->Begin('{');
        in->json->Field("disk", same->disk);
        in->json->Field("track", same->track);
        in->json->End('}');
      } else if (in->full()) {
        char line[96];
        std::snprintf(line, sizeof line,
                      "  track %d: same records as disk %d track %d\n", track,
                      same->disk, same->track);
        in->out->Put(line);
      }
    } else {
      listed[in->listed_count++] = {start, disk, track};
      ListTrack(in, layout, track);
    }
    if (in->as_json()) in->json->End('}');
  }
  if (!any && in->full()) in->out->Put("  no tracks\n");
}

void Disk(Inspection* in, int disk) {
  d88::D88File* reader = in->reader;
  TextOut* out = in->out;
  JsonWriter* json = in->json;
  if (in->as_json()) {
    json->Begin('{');
    json->Field("index", disk);
  }
  if (in->text()) {
    out->Put("disk ");
    out->Int(disk);
    out->Put(": ");
  }
  const int64_t start = reader->GetDiskStart(disk);
  for (int earlier = 0; earlier < disk; ++earlier) {
    if (reader->GetDiskStart(earlier) != start) continue;
    if (in->as_json()) {
      json->Field("same_as", earlier);
      json->End('}');
    }
    if (in->text()) {
      out->Put("same as disk ");
      out->Int(earlier);
      out->Put('\n');
    }
    return;
  }
  DiskLayout layout;
  if (!SelectLayout(reader, disk, &layout)) {
    in->verdict->damaged = true;
    if (in->as_json()) {
      json->Field("error", "cannot be read");
      json->End('}');
    }
    if (in->text()) out->Put("cannot be read\n");
    return;
  }
  if (layout.truncated) in->verdict->damaged = true;
  const int media_type = reader->GetMediaType();
  const int protect = reader->GetWriteProtect();
  const int64_t held = layout.file_size - layout.start;
  if (in->as_json()) {
    json->Field("name", reader->GetDiskName());
    json->Field("media", media_type);
    json->Field("media_name", MediaName(media_type));
    json->Field("write_protect", protect);
    json->Field("start", layout.start);
    json->Field("size", layout.size);
    json->Field("truncated", layout.truncated);
    json->Field("bytes_in_file",
                layout.truncated ? held : int64_t{layout.size});
    json->Key("notes");
    json->Begin('[');
  }
  if (in->text()) {
    out->Quoted(reader->GetDiskName());
    out->Put(", media type 0x");
    out->Hex2(media_type);
    out->Put(" (");
    out->Put(MediaName(media_type));
    out->Put("), write-protect ");
    if (protect == 0x00 || protect == 0x10) {
      out->Put(protect == 0 ? "off" : "on");
    } else {
      out->Put("0x");
      out->Hex2(protect);
      out->Put(" (unknown)");
    }
    if (layout.truncated) {
      out->Put(", truncated: the file ends ");
      out->Int(held);
      out->Put(" bytes into the disk's ");
      out->Int(layout.size);
      out->Put(" bytes");
    }
    out->Put('\n');
  }
  DiskNotes(in, layout);
  if (in->as_json()) {
    json->End(']');
    json->Key("tracks");
    json->Begin('[');
  }
  Tracks(in, layout, disk);
  if (in->as_json()) {
    json->End(']');
    json->End('}');
  }
}

// What lies after the disks the scan found.
void Tail(Inspection* in) {
  d88::D88File* reader = in->reader;
  const int64_t end = reader->GetScanEnd();
  // A last disk of size 0 ends the scan on itself: nothing follows it.
  if (end < 0 || end == reader->GetDiskStart(d88::D88File::kMaxDisks - 1)) {
    return;
  }
  uint8_t tail[d88::D88File::kDiskHeaderSize];
  const int length = reader->ReadImageBytes(end, tail, sizeof tail);
  char note[128];
  if (length == d88::D88File::kDiskHeaderSize) {
    std::snprintf(note, sizeof note,
                  "the file holds more than %d disks; only the first %d are "
                  "read",
                  d88::D88File::kMaxDisks, d88::D88File::kMaxDisks);
  } else if (LooksLikeCutHeader(tail, length)) {
    in->verdict->damaged = true;
    std::snprintf(note, sizeof note,
                  "the file ends %d bytes into a further disk's header",
                  length);
  } else if (length > 0) {
    const bool zero =
        std::all_of(tail, tail + length, [](uint8_t b) { return b == 0; });
    std::snprintf(note, sizeof note, "%d bytes after the last disk, %s", length,
                  zero ? "all zero" : "not all zero");
  } else {
    return;
  }
  Note(in, 0, note);
}

const char* StopReason(const FileCheck& check, d88::StepResult result) {
  return check.file_ended ? "missing: the file ends before it"
                          : MissingWords(result);
}

// Why file `row` is incomplete, in two parts: where its run stopped, and
// how many of its bytes the image gives.
void IncompleteReasons(const FileCheck& check, int row, char* stop, char* bytes,
                       size_t size) {
  const ExtractionEntry& entry = kExtractionTable[row];
  const int last = check.step_count - 1;
  const d88::RunStep& step = check.steps[last];
  int length =
      std::snprintf(stop, size, "the run stops at %d/%d/%d/%d on track %d ",
                    step.c, step.h, step.r, step.n, step.track);
  if (step.result == d88::StepResult::kShortData) {
    const int wanted =
        std::min(entry.bytes_read - last * kSectorSize, kSectorSize);
    std::snprintf(stop + length, size - length, "(short data: %d of %d bytes)",
                  step.delivered, wanted);
  } else {
    std::snprintf(stop + length, size - length, "(%s)",
                  StopReason(check, step.result));
  }
  std::snprintf(bytes, size,
                "%d of the file's %d bytes come from "
                "the image, the other %d would be left over from "
                "earlier runs",
                check.from_image, check.needed,
                check.needed - check.from_image);
}

// Sector `step` of a file, and what makes it suspect: "1/0/3/2 (CRC
// error)"; empty if nothing does.
void SuspectText(const FileCheck& check, int step, char* text, size_t size) {
  text[0] = '\0';
  if (check.uses[step] != StepUse::kInFile) return;
  const char* words[3];
  const int count = SuspectWords(check.infos[step], check.flags[step], words);
  if (count == 0) return;
  const d88::SectorId& id = check.infos[step].id;
  int length =
      std::snprintf(text, size, "%d/%d/%d/%d (", id.c, id.h, id.r, id.n);
  for (int i = 0; i < count; ++i) {
    length += std::snprintf(text + length, size - length, "%s%s",
                            i > 0 ? ", " : "", words[i]);
  }
  std::snprintf(text + length, size - length, ")");
}

void FileLine(Inspection* in, const FileCheck& check, int row) {
  TextOut* out = in->out;
  char stop[160];
  char bytes[160];
  char suspect[64];
  const bool incomplete = check.state == FileState::kIncomplete;
  if (incomplete) IncompleteReasons(check, row, stop, bytes, sizeof stop);
  if (in->as_json()) {
    JsonWriter* json = in->json;
    json->Begin('{');
    json->Field("name", kExtractionTable[row].file_name);
    json->Field("state", StateWord(check.state));
    json->Field("bytes_from_image", check.from_image);
    json->Field("bytes_needed", check.needed);
    json->Key("sectors");
    json->Begin('[');
    for (int i = 0; i < check.step_count; ++i) {
      if (check.uses[i] != StepUse::kInFile) continue;
      const d88::RunStep& step = check.steps[i];
      json->Begin('{');
      json->Field("track", step.track);
      json->Field("c", step.c);
      json->Field("h", step.h);
      json->Field("r", step.r);
      json->Field("n", step.n);
      json->End('}');
    }
    json->End(']');
    json->Key("reasons");
    json->Begin('[');
    if (incomplete) {
      json->String(stop);
      json->String(bytes);
    }
    for (int i = 0; i < check.step_count; ++i) {
      SuspectText(check, i, suspect, sizeof suspect);
      if (suspect[0] == '\0') continue;
      char reason[80];
      std::snprintf(reason, sizeof reason, "suspect: %s", suspect);
      json->String(reason);
    }
    json->End(']');
    json->End('}');
    return;
  }
  out->Put("  ");
  out->Put(kExtractionTable[row].file_name);
  out->Put(": ");
  out->Put(StateWord(check.state));
  if (incomplete) {
    out->Put(": ");
    out->Put(stop);
    out->Put("; ");
    out->Put(bytes);
  }
  int shown = 0;
  for (int i = 0; i < check.step_count; ++i) {
    SuspectText(check, i, suspect, sizeof suspect);
    if (suspect[0] == '\0') continue;
    out->Put(shown > 0 ? ", " : incomplete ? "; suspect: " : ": ");
    out->Put(suspect);
    ++shown;
  }
  out->Put('\n');
}

void Files(Inspection* in, const FileChecks& files) {
  if (in->as_json()) {
    in->json->Key("files");
    in->json->Begin('[');
  }
  bool headed = false;
  for (int row = 0; row < kExtractionRows; ++row) {
    const FileCheck& check = files.files[row];
    if (!in->as_json() && !in->full() &&
        (!in->text() || check.state == FileState::kComplete)) {
      continue;
    }
    if (in->text() && !headed) {
      char line[80];
      std::snprintf(line, sizeof line,
                    "volspar's runs on disk 0 (sectors %d-%d, N %d):\n",
                    kExtractionFirstSector, kExtractionLastSector,
                    kExtractionSizeCode);
      in->out->Put(line);
      headed = true;
    }
    FileLine(in, check, row);
  }
  if (in->as_json()) in->json->End(']');
}

void VerdictLine(TextOut* out, const ImageVerdict& verdict) {
  char line[200];
  const int length = std::snprintf(
      line, sizeof line, "%s", verdict.damaged ? "the image is damaged; " : "");
  char* rest = line + length;
  const size_t room = sizeof line - static_cast<size_t>(length);
  if (verdict.incomplete > 0) {
    const int n = std::snprintf(rest, room,
                                "volspar would not extract complete files "
                                "from this image: %d of %d files incomplete",
                                verdict.incomplete, kExtractionRows);
    if (verdict.suspect > 0) {
      std::snprintf(rest + n, room - n, ", %d suspect", verdict.suspect);
    }
  } else if (verdict.suspect > 0) {
    std::snprintf(rest, room,
                  "volspar would extract complete files from this image, but "
                  "%d of %d files are suspect",
                  verdict.suspect, kExtractionRows);
  } else {
    std::snprintf(rest, room,
                  "volspar would extract complete files from this image");
  }
  out->Put(line);
  out->Put('\n');
}

void JsonVerdict(JsonWriter* json, const ImageVerdict& verdict) {
  const char* words[3];
  const int count = VerdictWords(verdict, words);
  json->Key("verdict");
  json->Begin('[');
  for (int i = 0; i < count; ++i) json->String(words[i]);
  json->End(']');
}

}  // namespace

void PrintOpenFailure(std::FILE* err, const char* command,
                      const d88::D88File& reader, const char* path) {
  std::fprintf(err, "%s: ", command);
  const d88::OpenFailure failure = reader.GetOpenFailure();
  if (failure == d88::OpenFailure::kDirectory ||
      failure == d88::OpenFailure::kNotRegularFile) {
    PrintPath(err, path, false);
    std::fputs(failure == d88::OpenFailure::kDirectory
                   ? " is a directory\n"
                   : " is not a regular file\n",
               err);
    return;
  }
  std::fputs(failure == d88::OpenFailure::kUnreadable ? "cannot read "
                                                      : "cannot open ",
             err);
  PrintPath(err, path, false);
  std::fprintf(err, ": %s\n", std::strerror(reader.GetOpenError()));
}

int VerdictWords(const ImageVerdict& verdict, const char* words[3]) {
  if (!verdict.d88) {
    words[0] = "not a D88 image";
    return 1;
  }
  int count = 0;
  if (verdict.damaged) words[count++] = "damaged";
  if (verdict.incomplete > 0) words[count++] = "incomplete";
  if (verdict.suspect > 0) words[count++] = "suspect";
  if (count == 0) words[count++] = "clean";
  return count;
}

bool IsUnclean(const ImageVerdict& verdict) {
  return verdict.d88 &&
         (verdict.damaged || verdict.incomplete > 0 || verdict.suspect > 0);
}

ImageVerdict InspectImage(d88::D88File* reader, const char* path,
                          ReportStyle style, TextOut* out, JsonWriter* json,
                          FileChecks* files) {
  ImageVerdict verdict = {};
  verdict.disks = reader->GetDiskCount();
  verdict.d88 = LooksLikeD88(reader, verdict.reason, sizeof verdict.reason);
  Inspection in = {reader, style, out, json, &verdict, 0, 0};
  if (in.as_json()) {
    json->Begin('{');
    json->Field("path", path);
  }
  if (!verdict.d88) {
    if (in.as_json()) {
      JsonVerdict(json, verdict);
      json->Field("reason", verdict.reason);
      json->End('}');
    }
    return verdict;
  }
  if (in.text()) {
    char line[32];
    std::snprintf(line, sizeof line, "disks: %d\n", verdict.disks);
    out->Put(line);
  }
  if (in.as_json()) {
    json->Key("disks");
    json->Begin('[');
  }
  for (int disk = 0; disk < verdict.disks && !out->Failed(); ++disk) {
    Disk(&in, disk);
  }
  if (in.as_json()) {
    json->End(']');
    json->Key("notes");
    json->Begin('[');
  }
  Tail(&in);
  if (in.as_json()) json->End(']');
  CheckFiles(reader, files);
  verdict.incomplete = files->incomplete;
  verdict.suspect = files->suspect;
  Files(&in, *files);
  if (in.as_json()) {
    JsonVerdict(json, verdict);
    json->End('}');
  }
  if (in.text()) VerdictLine(out, verdict);
  return verdict;
}
