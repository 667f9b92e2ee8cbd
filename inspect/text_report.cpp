#include <algorithm>
#include <cstdio>

#include "inspect/views.h"
#include "runs/extraction.h"

namespace {

// Bounds that keep a report readable, and finite on a hostile image.
constexpr int kMaxTrackNotes = 16;
constexpr char kEllipsis[] = "\xE2\x80\xA6";
constexpr char kTimes[] = " \xC3\x97 ";

// "80 tracks (40 cylinders × 2 sides), 16 sectors of 256 bytes".
void PutShape(TextOut* out, const DiskShape& shape) {
  out->Put(", ");
  out->Count(shape.tracks, " track (", " tracks (");
  out->Count(shape.cylinders, " cylinder", " cylinders");
  out->Put(kTimes);
  out->Count(shape.sides, " side), ", " sides), ");
  if (shape.sectors == 0) {
    out->Put("mixed");
    return;
  }
  out->Count(shape.sectors, " sector of ", " sectors of ");
  if (shape.sector_size == 0) {
    out->Put("mixed sizes");
  } else {
    out->Int(shape.sector_size);
    out->Put(" bytes");
  }
}

void DiskLine(TextOut* out, const DiskFindings& disk) {
  out->Quoted(disk.name_text[0] != '\0' ? disk.name_text : disk.name);
  out->Put(", media type 0x");
  out->Hex2(disk.media_type);
  out->Put(" (");
  out->Put(MediaWord(disk.media_type));
  out->Put("), write-protect ");
  if (disk.write_protect == 0x00 || disk.write_protect == 0x10) {
    out->Put(disk.write_protect == 0 ? "off" : "on");
  } else {
    out->Put("0x");
    out->Hex2(disk.write_protect);
    out->Put(" (unknown)");
  }
  const DiskLayout& layout = disk.layout;
  if (layout.shape.tracks > 0) PutShape(out, layout.shape);
  if (layout.truncated) {
    out->Put(", truncated: the file ends ");
    out->Int(layout.bytes_in_file);
    out->Put(" bytes into the disk's ");
    out->Int(layout.size);
    out->Put(" bytes");
  }
  out->Put('\n');
}

template <typename Lines>
void NoteLines(TextOut* out, const char* indent, const Lines& notes) {
  for (int k = 0; k < notes.count; ++k) {
    out->Put(indent);
    out->Put("note: ");
    out->Put(notes.text[k]);
    out->Put('\n');
  }
}

void More(TextOut* out, int count, const char* what) {
  out->Put(kEllipsis);
  out->Put(" and ");
  out->Int(count);
  out->Put(what);
}

void RecordLines(TextOut* out, const TrackRecords& t) {
  int noted = 0;
  for (int i = 0; i < t.count; ++i) {
    if (t.facts[i].flags == 0) continue;
    if (++noted > kMaxTrackNotes) continue;
    Notes notes;
    RecordNotes(t.facts[i], &notes);
    out->Put("    note: ");
    PutSectorId(out, t.facts[i].record.info.id);
    for (int k = 0; k < notes.count; ++k) {
      out->Put(k == 0 ? ": " : ", ");
      out->Put(notes.text[k]);
    }
    out->Put('\n');
  }
  if (noted > kMaxTrackNotes) {
    out->Put("    ");
    More(out, noted - kMaxTrackNotes, " more notes\n");
  }
}

void TrackLines(TextOut* out, bool problems, const TrackFindings& found) {
  if (found.not_listed) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "  track %d and later: not listed, past the %lld records "
                  "d88info lists of one image\n",
                  found.track, static_cast<long long>(kMaxListedRecords));
    out->Put(line);
    return;
  }
  if (found.same_disk >= 0) {
    if (problems) return;
    char line[96];
    std::snprintf(line, sizeof line,
                  "  track %d: same records as disk %d track %d\n", found.track,
                  found.same_disk, found.same_track);
    out->Put(line);
    return;
  }
  if (problems && !found.stands_out) return;
  const TrackRecords& t = *found.records;
  out->Put("  track ");
  out->Int(found.track);
  out->Put(':');
  for (int i = 0; !problems && i < std::min(t.count, kMaxListedPerTrack); ++i) {
    out->Put(' ');
    PutSectorId(out, t.facts[i].record.info.id);
  }
  if (!problems && t.count > kMaxListedPerTrack) {
    out->Put(' ');
    More(out, t.count - kMaxListedPerTrack, " more records");
  }
  out->Put('\n');
  NoteLines(out, "    ", found.notes);
  RecordLines(out, t);
}

void Disk(TextOut* out, bool problems, Inspection* in) {
  const DiskFindings& disk = in->disk;
  out->Put("disk ");
  out->Int(disk.index);
  out->Put(": ");
  if (disk.same_as >= 0) {
    out->Put("same as disk ");
    out->Int(disk.same_as);
    out->Put('\n');
    return;
  }
  if (!disk.readable) {
    out->Put("cannot be read\n");
    return;
  }
  DiskLine(out, disk);
  NoteLines(out, "  ", disk.notes);
  while (NextTrack(in) && !out->Failed()) {
    TrackLines(out, problems, in->track);
  }
  if (!disk.any_track && !problems) out->Put("  no tracks\n");
}

void FileLine(const ImageFindings& image, int row, TextOut* out) {
  const FileCheck& check = image.files.files[row];
  const bool incomplete = check.state == FileState::kIncomplete;
  out->Put("  ");
  out->Put(kExtractionTable[row].file_name);
  out->Put(": ");
  out->Put(StateWord(check.state));
  char text[256];
  if (incomplete) {
    StopPhrase(image.files, row, text, sizeof text);
    out->Put(": ");
    out->Put(text);
    BytesPhrase(image.files, row, text, sizeof text);
    out->Put("; ");
    out->Put(text);
  }
  int shown = 0;
  const RowRun& run = image.files.model.rows[row];
  for (int i = 0; i < run.step_count; ++i) {
    if (!IsSuspect(check, i)) continue;
    SuspectPhrase(check, i, text, sizeof text);
    out->Put(shown > 0 ? ", " : incomplete ? "; suspect: " : ": ");
    out->Put(text);
    ++shown;
  }
  out->Put('\n');
}

void Files(const ImageFindings& image, bool problems, TextOut* out) {
  const FileChecks& files = image.files;
  if (problems && !FilesNeedALook(files)) return;
  char line[160];
  std::snprintf(
      line, sizeof line, "volspar's runs on disk 0 (sectors %d-%d, N %d):\n",
      kExtractionFirstSector, kExtractionLastSector, kExtractionSizeCode);
  out->Put(line);
  if (files.not_its_disk) {
    NotItsDiskPhrase(files, line, sizeof line);
    out->Put("  ");
    out->Put(line);
    out->Put('\n');
    return;
  }
  for (int row = 0; row < kExtractionRows; ++row) {
    if (problems && files.files[row].state == FileState::kComplete) continue;
    FileLine(image, row, out);
  }
}

// Both answers in one sentence: is the disk sound, and would volspar's
// files be right.
void VerdictLine(const ImageFindings& image, TextOut* out) {
  const Health& health = image.health;
  char text[200];
  static_assert(sizeof text >= kHealthPhraseSize, "the health must fit");
  if (health.read_errors > 0) {
    ReadErrorPhrase(health, text, sizeof text);
    out->Put(health.damaged ? "the image is damaged and holds "
                            : "the image holds ");
    out->Put(text);
  } else {
    out->Put(health.damaged ? "the image is damaged" : "the image is clean");
  }
  out->Put("; ");
  const FileChecks& files = image.files;
  if (files.not_its_disk) {
    out->Put(
        "volspar would not extract complete files from this image: it "
        "is not a disk volspar reads\n");
    return;
  }
  if (files.incomplete > 0) {
    std::snprintf(text, sizeof text,
                  "volspar would not extract complete files from this image: "
                  "%d of %d files incomplete",
                  files.incomplete, kExtractionRows);
    out->Put(text);
    if (files.suspect > 0) {
      out->Put(", ");
      out->Int(files.suspect);
      out->Put(" suspect");
    }
  } else if (files.suspect > 0) {
    std::snprintf(text, sizeof text,
                  "volspar would extract complete files from this image, but "
                  "%d of %d files are suspect",
                  files.suspect, kExtractionRows);
    out->Put(text);
  } else {
    out->Put("volspar would extract complete files from this image");
  }
  out->Put('\n');
}

}  // namespace

void PutSectorId(TextOut* out, const d88::SectorId& id) {
  out->Int(id.c);
  out->Put('/');
  out->Int(id.h);
  out->Put('/');
  out->Int(id.r);
  out->Put('/');
  out->Int(id.n);
}

void WriteTextReport(d88::D88File* reader, bool problems, TextOut* out,
                     Inspection* in) {
  BeginInspection(reader, in);
  const ImageFindings& image = in->image;
  if (!image.d88) {
    FinishInspection(in);
    return;
  }
  out->Put("disks: ");
  out->Int(image.disks);
  out->Put('\n');
  while (NextDisk(in) && !out->Failed()) Disk(out, problems, in);
  FinishInspection(in);
  NoteLines(out, "", image.notes);
  Files(image, problems, out);
  VerdictLine(image, out);
}
