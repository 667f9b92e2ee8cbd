#include <algorithm>
#include <cstdio>
#include <cstring>

#include "inspect/views.h"

namespace {

template <size_t N, typename Lines>
void NoteArray(JsonWriter* json, const char (&key)[N], const Lines& notes) {
  json->Key(key);
  json->Begin('[');
  for (int k = 0; k < notes.count; ++k) json->String(notes.text[k]);
  json->End(']');
}

void Record(JsonWriter* json, const TrackRecords& t, int i) {
  const d88::SectorInfo& info = t.facts[i].record.info;
  json->Begin('{');
  json->Field("index", i);
  json->MoreInt(",\"c\":", info.id.c);
  json->MoreInt(",\"h\":", info.id.h);
  json->MoreInt(",\"r\":", info.id.r);
  json->MoreInt(",\"n\":", info.id.n);
  json->MoreInt(",\"sector_count\":", info.sector_count);
  json->MoreInt(",\"status\":", info.status);
  json->MoreInt(",\"deleted\":", info.deleted);
  json->MoreInt(",\"density\":", info.density);
  json->MoreInt(",\"data_size\":", info.data_size);
  json->MoreInt(",\"crc32\":", t.facts[i].crc32);
  Notes notes;
  notes.count = 0;
  if (t.facts[i].flags != 0) RecordNotes(t.facts[i], &notes);
  NoteArray(json, "notes", notes);
  json->End('}');
}

void Track(JsonWriter* json, const TrackFindings& found) {
  json->Begin('{');
  json->Field("track", found.track);
  if (found.not_listed) {
    json->Field("not_listed", true);
  } else if (found.same_disk >= 0) {
    json->Key("same_as");
    json->Begin('{');
    json->Field("disk", found.same_disk);
    json->Field("track", found.same_track);
    json->End('}');
  } else {
    const TrackRecords& t = *found.records;
    json->Field("record_count", t.count);
    json->Key("records");
    json->Begin('[');
    for (int i = 0; i < std::min(t.count, kMaxListedPerTrack); ++i) {
      Record(json, t, i);
    }
    json->End(']');
    // Every record that stands out, wherever it lies.
    json->Key("flagged_records");
    json->Begin('[');
    for (int i = kMaxListedPerTrack; i < t.count; ++i) {
      if (t.facts[i].flags != 0) Record(json, t, i);
    }
    json->End(']');
    NoteArray(json, "notes", found.notes);
  }
  json->End('}');
}

void Shape(JsonWriter* json, const DiskShape& shape) {
  json->Key("layout");
  json->Begin('{');
  json->Field("tracks", shape.tracks);
  json->Field("cylinders", shape.cylinders);
  json->Field("sides", shape.sides);
  json->Field("sectors", shape.sectors);
  json->Field("sector_size", shape.sector_size);
  json->End('}');
}

void DiskFields(JsonWriter* json, const DiskFindings& disk) {
  const DiskLayout& layout = disk.layout;
  json->Field("name", disk.name);
  if (disk.name_text[0] != '\0') json->Field("name_text", disk.name_text);
  json->Field("media", disk.media_type);
  json->Field("media_name", MediaWord(disk.media_type));
  json->Field("write_protect", disk.write_protect);
  json->Field("start", layout.start);
  json->Field("size", layout.size);
  json->Field("truncated", layout.truncated);
  json->Field("bytes_in_file", layout.bytes_in_file);
  Shape(json, layout.shape);
  NoteArray(json, "notes", disk.notes);
}

void Disk(JsonWriter* json, Inspection* in) {
  const DiskFindings& disk = in->disk;
  json->Begin('{');
  json->Field("index", disk.index);
  if (disk.same_as >= 0) {
    json->Field("same_as", disk.same_as);
  } else if (!disk.readable) {
    json->Field("error", "cannot be read");
  } else {
    DiskFields(json, disk);
    json->Key("tracks");
    json->Begin('[');
    while (NextTrack(in)) Track(json, in->track);
    json->End(']');
    json->Field("crc32", static_cast<int64_t>(disk.crc32));
  }
  json->End('}');
}

void Sectors(JsonWriter* json, const RowRun& run, const FileCheck& check) {
  json->Key("sectors");
  json->Begin('[');
  for (int i = 0; i < run.step_count; ++i) {
    if (check.uses[i] != StepUse::kInFile) continue;
    const d88::RunStep& step = run.steps[i];
    json->Begin('{');
    json->Field("track", step.track);
    json->Field("c", step.c);
    json->Field("h", step.h);
    json->Field("r", step.r);
    json->Field("n", step.n);
    json->End('}');
  }
  json->End(']');
}

void Rest(JsonWriter* json, const RowRun& run) {
  json->Key("rest");
  json->Begin('[');
  for (int k = 0; k < run.rest_count; ++k) {
    const FileSpan& span = run.rest[k];
    json->Begin('{');
    json->Field("from", span.from);
    json->Field("to", span.to);
    json->Field("source",
                span.row < 0 ? "zeros" : kExtractionTable[span.row].file_name);
    json->End('}');
  }
  json->End(']');
}

void Reasons(JsonWriter* json, const FileChecks& files, int row) {
  const FileCheck& check = files.files[row];
  const RowRun& run = files.model.rows[row];
  char text[256];
  json->Key("reasons");
  json->Begin('[');
  if (check.state == FileState::kIncomplete) {
    StopPhrase(files, row, text, sizeof text);
    json->String(text);
    BytesPhrase(files, row, text, sizeof text);
    json->String(text);
  }
  for (int i = 0; i < run.step_count; ++i) {
    if (!IsSuspect(check, i)) continue;
    char reason[sizeof text + 16];
    SuspectPhrase(check, i, text, sizeof text);
    std::snprintf(reason, sizeof reason, "suspect: %s", text);
    json->String(reason);
  }
  json->End(']');
}

void Files(JsonWriter* json, const FileChecks& files) {
  json->Key("files");
  json->Begin('[');
  for (int row = 0; row < kExtractionRows; ++row) {
    const FileCheck& check = files.files[row];
    const RowRun& run = files.model.rows[row];
    json->Begin('{');
    json->Field("name", kExtractionTable[row].file_name);
    json->Field("state", StateWord(check.state));
    json->Field("bytes_from_image", run.from_image);
    json->Field("bytes_needed", kExtractionTable[row].write_length);
    Sectors(json, run, check);
    Rest(json, run);
    Reasons(json, files, row);
    json->End('}');
  }
  json->End(']');
}

// The words as one string: "damaged, read errors".
void Words(JsonWriter* json, const char* const* words, int count) {
  char text[64] = {};
  int length = 0;
  for (int i = 0; i < count; ++i) {
    length += std::snprintf(text + length, sizeof text - length, "%s%s",
                            i > 0 ? ", " : "", words[i]);
  }
  json->Field("state", text);
}

void Verdict(JsonWriter* json, const ImageFindings& image) {
  const char* words[3];
  int count = VerdictWords(image, words);
  json->Key("verdict");
  json->Begin('[');
  for (int i = 0; i < count; ++i) json->String(words[i]);
  json->End(']');
  if (image.read_failure != 0) {
    char error[160];
    std::snprintf(error, sizeof error, "cannot read: %s",
                  std::strerror(image.read_failure));
    json->Field("error", error);
  }
  if (!image.d88) return;
  const Health& health = image.health;
  json->Key("health");
  json->Begin('{');
  count = HealthWords(health, words);
  Words(json, words, count);
  json->Field("damaged", health.damaged);
  json->Field("read_errors", health.read_errors);
  json->Key("disks");
  json->Begin('[');
  for (int d = 0; d < d88::D88File::kMaxDisks; ++d) {
    if ((health.error_disks >> d & 1) != 0) json->Int(d);
  }
  json->End(']');
  json->End('}');
  const FileChecks& files = image.files;
  json->Key("volspar");
  json->Begin('{');
  count = VolsparWords(files, words);
  Words(json, words, count);
  json->Field("disk", 0);
  json->Field("complete", kExtractionRows - files.incomplete - files.suspect);
  json->Field("suspect", files.suspect);
  json->Field("incomplete", files.incomplete);
  if (files.not_its_disk) {
    char reason[160];
    NotItsDiskPhrase(files, reason, sizeof reason);
    json->Field("reason", reason);
  }
  json->End('}');
}

}  // namespace

void WriteJsonReport(d88::D88File* reader, const char* path, JsonWriter* json,
                     Inspection* in) {
  BeginInspection(reader, in);
  in->fingerprints = true;
  const ImageFindings& image = in->image;
  json->Begin('{');
  json->Field("path", path);
  if (!image.d88) {
    FinishInspection(in);
    Verdict(json, image);
    json->Field("reason", image.reason);
    if (image.raw_dump) json->Field("raw_dump", true);
    json->End('}');
    return;
  }
  json->Key("disks");
  json->Begin('[');
  while (NextDisk(in)) Disk(json, in);
  json->End(']');
  FinishInspection(in);
  NoteArray(json, "notes", image.notes);
  Files(json, image.files);
  Verdict(json, image);
  json->End('}');
}
