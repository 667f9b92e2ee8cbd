#include "merge/merge_report.h"

#include "inspect/records.h"
#include "inspect/views.h"

namespace {

void PutCrc(TextOut* out, uint32_t crc) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    out->Hex2(static_cast<int>(crc >> shift & 0xFF));
  }
}

// "dump 1" or "dumps 1, 3": the dumps whose copies pass `test`.
template <typename Test>
void PutDumps(TextOut* out, const SectorFacts& s, int dumps, Test test) {
  int count = 0;
  for (int d = 0; d < dumps; ++d) count += test(s.copies[d]) ? 1 : 0;
  out->Put(count == 1 ? "dump " : "dumps ");
  bool first = true;
  for (int d = 0; d < dumps; ++d) {
    if (!test(s.copies[d])) continue;
    if (!first) out->Put(", ");
    out->Int(d + 1);
    first = false;
  }
}

// "status 0xB0 (data CRC error), 512 bytes (176 in the file), crc32
// 1A2B3C4D", or "absent".
void PutCopy(TextOut* out, const CopyFacts& c) {
  if (!c.present) {
    out->Put("absent");
    return;
  }
  out->Put("status 0x");
  out->Hex2(c.status);
  if (const char* name = StatusName(c.status)) {
    out->Put(" (");
    out->Put(name);
    out->Put(')');
  }
  if (c.deleted != 0) {
    out->Put(", deleted mark 0x");
    out->Hex2(c.deleted);
  }
  out->Put(", ");
  out->Count(c.data_size, " byte", " bytes");
  if (c.data_held < c.data_size) {
    out->Put(" (");
    out->Int(c.data_held);
    out->Put(" in the file)");
  }
  out->Put(", crc32 ");
  PutCrc(out, c.crc);
  if (c.records > 1) {
    out->Put(", first of ");
    out->Int(c.records);
    out->Put(" records");
  }
}

// What the merge does with the sector: "from dump 2 (the only good copy)",
// "added, still bad: from dump 2: status 0xB0 ...".
void PutChoice(TextOut* out, const SectorFacts& s) {
  const bool added = !s.copies[0].present;
  if (added)
    out->Put(s.choice == Choice::kStillBad || s.choice == Choice::kConflict
                 ? "added, "
                 : "added: ");
  if (s.choice == Choice::kStillBad) out->Put("still bad: ");
  if (s.choice == Choice::kConflict) out->Put("conflict: ");
  out->Put("from dump ");
  out->Int(s.from + 1);
  if (s.choice == Choice::kStillBad) {
    out->Put(": ");
    PutCopy(out, s.copies[s.from]);
  } else if (s.good_copies == 1) {
    out->Put(" (the only good copy)");
  } else {
    out->Put(" (");
    out->Int(s.agreeing);
    out->Put(" of ");
    out->Int(s.good_copies);
    out->Put(" good copies agree)");
  }
}

// "only in dumps 1, 3; data differ; bad in dump 1".
void PutDifferences(TextOut* out, const SectorFacts& s, int dumps) {
  const char* separator = "";
  const auto next = [out, &separator]() {
    out->Put(separator);
    separator = "; ";
  };
  if (s.differences & kPartial) {
    next();
    out->Put("only in ");
    PutDumps(out, s, dumps, [](const CopyFacts& c) { return c.present; });
  }
  if (s.differences & kDataDiffer) {
    next();
    out->Put("data differ");
  }
  if (s.differences & kHeaderDiffer) {
    next();
    out->Put("headers differ");
  }
  if (s.differences & kBadCopy) {
    next();
    out->Put("bad in ");
    PutDumps(out, s, dumps,
             [](const CopyFacts& c) { return c.present && !c.good; });
  }
  if (s.differences & kDuplicated) {
    next();
    out->Put("duplicated in ");
    PutDumps(out, s, dumps, [](const CopyFacts& c) { return c.records > 1; });
  }
}

void SectorLines(TextOut* out, const MergeReport& report,
                 const SectorFacts& s) {
  const int dumps = report.findings->dumps;
  out->Put("disk ");
  out->Int(s.disk);
  out->Put(" track ");
  out->Int(s.track);
  out->Put(' ');
  PutSectorId(out, s.id);
  out->Put(": ");
  if (report.merged) {
    PutChoice(out, s);
    out->Put('\n');
    return;
  }
  PutDifferences(out, s, dumps);
  out->Put('\n');
  for (int d = 0; d < dumps; ++d) {
    out->Put("  dump ");
    out->Int(d + 1);
    out->Put(": ");
    PutCopy(out, s.copies[d]);
    out->Put('\n');
  }
  out->Put("  merge: ");
  PutChoice(out, s);
  out->Put('\n');
}

void DiskLine(TextOut* out, const MergeReport& report, int disk) {
  const MergeFindings& f = *report.findings;
  const DiskTally& t = f.disk[disk];
  out->Put("disk ");
  out->Int(disk);
  if (t.holders < f.dumps) {
    out->Put(" (in ");
    out->Int(t.holders);
    out->Put(" of ");
    out->Int(f.dumps);
    out->Put(" dumps)");
  }
  out->Put(": ");
  out->Count(t.sectors, " sector", " sectors");
  if (!report.merged) {
    out->Put(": ");
    out->Int(t.identical);
    out->Put(" identical, ");
    out->Int(t.differing);
    out->Put(" differing, ");
    out->Int(t.bad);
    out->Put(" with a bad copy, ");
    out->Int(t.partial);
    out->Put(" missing from some dump, ");
    out->Int(t.duplicated);
    out->Put(" duplicated\n");
    return;
  }
  const char* separator = ": ";
  for (int d = 0; d < f.dumps; ++d) {
    if (t.taken[d] == 0) continue;
    out->Put(separator);
    out->Int(t.taken[d]);
    out->Put(" from dump ");
    out->Int(d + 1);
    separator = ", ";
  }
  out->Put("; ");
  out->Int(t.added);
  out->Put(" added, ");
  out->Int(t.still_bad);
  out->Put(" still bad, ");
  out->Count(t.conflicts, " conflict\n", " conflicts\n");
}

void DifferentDiskNotes(TextOut* out, const MergeReport& report) {
  const MergeFindings& f = *report.findings;
  char reason[160];
  for (int d = 1; d < f.dumps; ++d) {
    if (!DifferentDisks(f, d, reason, sizeof reason)) continue;
    out->Put("note: ");
    out->Path(f.paths[0], false);
    out->Put(" and ");
    out->Path(f.paths[d], false);
    out->Put(" cannot be the same disk: ");
    out->Put(reason);
    out->Put(report.merged ? "; merged all the same (--force)\n"
                           : "; compared all the same (--force)\n");
  }
}

constexpr const char* kChoiceWords[] = {"agreed", "majority", "conflict",
                                        "still bad"};

void JsonDifferences(JsonWriter* json, unsigned differences) {
  static constexpr struct {
    unsigned bit;
    const char* word;
  } kWords[] = {{kPartial, "missing"},
                {kDataDiffer, "data"},
                {kHeaderDiffer, "header"},
                {kBadCopy, "bad"},
                {kDuplicated, "duplicated"}};
  json->Key("differences");
  json->Begin('[');
  for (const auto& word : kWords) {
    if (differences & word.bit) json->String(word.word);
  }
  json->End(']');
}

void JsonCopy(JsonWriter* json, const CopyFacts& c, int dump) {
  json->Begin('{');
  json->Field("dump", dump + 1);
  json->Field("present", c.present);
  if (c.present) {
    json->Field("good", c.good);
    json->Field("status", static_cast<int>(c.status));
    json->Field("deleted", static_cast<int>(c.deleted));
    json->Field("density", static_cast<int>(c.density));
    json->Field("data_size", c.data_size);
    json->Field("data_held", c.data_held);
    json->Field("records", c.records);
    json->Field("crc32", static_cast<int64_t>(c.crc));
  }
  json->End('}');
}

void JsonSector(JsonWriter* json, const SectorFacts& s, int dumps) {
  json->Begin('{');
  json->Field("track", s.track);
  json->Field("c", static_cast<int>(s.id.c));
  json->Field("h", static_cast<int>(s.id.h));
  json->Field("r", static_cast<int>(s.id.r));
  json->Field("n", static_cast<int>(s.id.n));
  JsonDifferences(json, s.differences);
  json->Key("take");
  json->Begin('{');
  json->Field("dump", s.from + 1);
  json->Field("choice", kChoiceWords[static_cast<int>(s.choice)]);
  json->Field("added", !s.copies[0].present);
  json->Field("agreeing", s.agreeing);
  json->Field("good_copies", s.good_copies);
  json->End('}');
  json->Key("copies");
  json->Begin('[');
  for (int d = 0; d < dumps; ++d) JsonCopy(json, s.copies[d], d);
  json->End(']');
  json->End('}');
}

void JsonDisk(JsonWriter* json, const MergeFindings& f, int disk) {
  const DiskTally& t = f.disk[disk];
  json->Begin('{');
  json->Field("index", disk);
  json->Field("dumps", t.holders);
  json->Field("sectors", t.sectors);
  json->Field("identical", t.identical);
  json->Field("differing", t.differing);
  json->Field("bad", t.bad);
  json->Field("missing", t.partial);
  json->Field("duplicated", t.duplicated);
  json->Key("taken");
  json->Begin('[');
  for (int d = 0; d < f.dumps; ++d) json->Int(t.taken[d]);
  json->End(']');
  json->Field("added", t.added);
  json->Field("still_bad", t.still_bad);
  json->Field("conflicts", t.conflicts);
  json->Key("sectors_listed");
  json->Begin('[');
  for (int i = t.listed_first; i < t.listed_end; ++i) {
    JsonSector(json, f.listed[i], f.dumps);
  }
  json->End(']');
  json->Field("not_listed", t.not_listed);
  json->End('}');
}

void JsonOutput(JsonWriter* json, const MergeReport& report) {
  json->Key("output");
  json->Begin('{');
  json->Field("path", report.output);
  if (report.verdict != nullptr) {
    const ImageFindings& image = *report.verdict;
    json->Field("disks", image.disks);
    char health[160];
    HealthPhrase(image.health, health, sizeof health);
    json->Field("health", health);
    const char* words[2];
    const int count = VolsparWords(image.files, words);
    json->Key("volspar");
    json->Begin('[');
    for (int w = 0; w < count; ++w) json->String(words[w]);
    json->End(']');
  }
  json->End('}');
}

}  // namespace

void WriteMergeText(const MergeReport& report, TextOut* out) {
  const MergeFindings& f = *report.findings;
  for (int d = 0; d < f.dumps; ++d) {
    out->Put("dump ");
    out->Int(d + 1);
    out->Put(": ");
    out->Path(f.paths[d], false);
    out->Put(" (");
    out->Count(f.disk_counts[d], " disk)\n", " disks)\n");
  }
  if (report.forced) DifferentDiskNotes(out, report);
  for (int disk = 0; disk < f.disks; ++disk) {
    const DiskTally& t = f.disk[disk];
    for (int i = t.listed_first; i < t.listed_end; ++i) {
      SectorLines(out, report, f.listed[i]);
    }
    if (t.not_listed > 0) {
      out->Put("disk ");
      out->Int(disk);
      out->Put(": ");
      out->Count(t.not_listed, " more sector", " more sectors");
      out->Put(" not listed\n");
    }
    DiskLine(out, report, disk);
  }
  if (report.merged) {
    if (report.verdict != nullptr) {
      WriteSummaryLine(report.output, *report.verdict, out);
    }
    return;
  }
  out->Put("a merge would leave ");
  out->Count(f.still_bad, " sector still bad and ", " sectors still bad and ");
  out->Count(f.conflicts, " conflict\n", " conflicts\n");
}

void WriteMergeJson(const MergeReport& report, JsonWriter* json) {
  const MergeFindings& f = *report.findings;
  json->Begin('{');
  json->Field("format", "d88merge/1");
  json->Key("dumps");
  json->Begin('[');
  for (int d = 0; d < f.dumps; ++d) {
    json->Begin('{');
    json->Field("path", f.paths[d]);
    json->Field("disks", f.disk_counts[d]);
    json->End('}');
  }
  json->End(']');
  json->Key("different_disks");
  json->Begin('[');
  char reason[160];
  for (int d = 1; d < f.dumps; ++d) {
    if (!DifferentDisks(f, d, reason, sizeof reason)) continue;
    json->Begin('{');
    json->Field("dump", d + 1);
    json->Field("reason", reason);
    json->End('}');
  }
  json->End(']');
  json->Field("forced", report.forced);
  json->Key("disks");
  json->Begin('[');
  for (int disk = 0; disk < f.disks; ++disk) JsonDisk(json, f, disk);
  json->End(']');
  json->Field("still_bad", f.still_bad);
  json->Field("conflicts", f.conflicts);
  if (report.merged) JsonOutput(json, report);
  json->End('}');
}
