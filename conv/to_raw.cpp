// D88 to raw dump. One walk over the disk's record headers finds where
// each sector's data lies; the layout is that of the commonest track (its
// sector numbers and size code), over the cylinders and sides the
// formatted tracks reach. Every sector is checked against it before a byte
// is written, and then the data is copied sector by sector.

#include <cstdint>
#include <cstring>

#include "conv/conv.h"
#include "conv/layout.h"
#include "conv/support.h"
#include "d88/d88_file.h"
#include "inspect/disk_layout.h"
#include "inspect/recognize.h"
#include "inspect/records.h"
#include "platform/text_out.h"

namespace conv {
namespace {

using d88::D88File;

constexpr int kMaxTracks = D88File::kMaxTracks;
constexpr int kIds = 256;  // sector numbers R

// The records of one sector number on one track.
struct Seen {
  // cppcheck-suppress unusedStructMember ; read where the data is copied
  int64_t data_offset;  // the first record's
  uint16_t data_size;
  uint16_t held;  // bytes of its data that the file holds
  uint8_t n;
  uint8_t status;
  uint8_t deleted;
  uint8_t count;  // records with this number, at most 255
};

// What the walk found, and the layout it gives.
struct Survey {
  Seen at[kMaxTracks][kIds];
  bool formatted[kMaxTracks];
  uint64_t ids[kMaxTracks][kIds / 64];  // bit r: the track holds sector r
  int first_n[kMaxTracks];  // the size code of each track's first record
  d88::RawLayout layout;
  int n;
  bool in_layout[kIds];  // the sector numbers of the layout
};

// What keeps a sector from going into the dump as it is.
enum class Flaw {
  kNone,
  kMissing,
  kShort,
  kExtra,
  kRepeated,
  kOtherSize,
  kLong
};

bool Fillable(Flaw flaw) {
  return flaw == Flaw::kMissing || flaw == Flaw::kShort;
}

void WalkTrack(D88File* reader, int track, Survey* survey) {
  Seen* at = survey->at[track];
  d88::TrackWalk walk;
  d88::TrackRecord record;
  if (!reader->BeginWalk(track, &walk)) return;
  while (reader->NextRecord(&walk, &record)) {
    const d88::SectorInfo& info = record.info;
    if (walk.index == 1) survey->first_n[track] = info.id.n;
    Seen& seen = at[info.id.r];
    survey->ids[track][info.id.r / 64] |= uint64_t{1} << (info.id.r % 64);
    if (seen.count == 0) {
      seen = {record.data_offset,
              static_cast<uint16_t>(info.data_size),
              static_cast<uint16_t>(record.data_held),
              info.id.n,
              static_cast<uint8_t>(info.status),
              static_cast<uint8_t>(info.deleted),
              1};
    } else if (seen.count < 255) {
      ++seen.count;
    }
  }
}

bool SamePattern(const Survey& survey, int a, int b) {
  return survey.first_n[a] == survey.first_n[b] &&
         std::memcmp(survey.ids[a], survey.ids[b], sizeof survey.ids[a]) == 0;
}

// The first of the tracks whose sector numbers and size code most tracks
// share; -1 when no track is formatted.
int CommonestTrack(const Survey& survey) {
  int best = -1;
  int best_count = 0;
  for (int a = 0; a < kMaxTracks; ++a) {
    if (!survey.formatted[a]) continue;
    int count = 0;
    for (int b = 0; b < kMaxTracks; ++b) {
      count += survey.formatted[b] && SamePattern(survey, a, b);
    }
    if (count > best_count) {
      best = a;
      best_count = count;
    }
  }
  return best;
}

// Walks every formatted track of disk `disk` and works out the layout;
// false when no track holds sectors.
bool Walk(D88File* reader, int disk, Survey* survey) {
  static DiskLayout layout;
  std::memset(survey, 0, sizeof *survey);
  if (!SelectLayout(reader, disk, &layout)) return false;
  int last = -1;
  int sides = 1;
  for (int track = 0; track < layout.track_limit; ++track) {
    if (layout.kind[track] != TrackKind::kFormatted) continue;
    survey->formatted[track] = true;
    WalkTrack(reader, track, survey);
    last = track;
    if (track % 2 == 1) sides = 2;
  }
  const int reference = CommonestTrack(*survey);
  if (reference < 0) return false;
  survey->n = survey->first_n[reference];
  int sectors = 0;
  for (int r = 0; r < kIds; ++r) {
    survey->in_layout[r] = survey->at[reference][r].count > 0;
    sectors += survey->in_layout[r];
  }
  const int size =
      survey->n <= kMaxSizeCode ? 128 << survey->n : 0;  // 0: none of ours
  survey->layout = {nullptr, last / 2 + 1, sides, sectors, size};
  return true;
}

Flaw FlawOf(const Survey& survey, int track, int r) {
  const Seen& seen = survey.at[track][r];
  const int size = survey.layout.sector_size;
  if (seen.count == 0)
    return survey.in_layout[r] ? Flaw::kMissing : Flaw::kNone;
  if (!survey.in_layout[r]) return Flaw::kExtra;
  if (seen.count > 1) return Flaw::kRepeated;
  if (seen.n != survey.n) return Flaw::kOtherSize;
  if (seen.data_size > size) return Flaw::kLong;
  if (seen.held < size) return Flaw::kShort;
  return Flaw::kNone;
}

void PrintSector(std::FILE* stream, int track, int r) {
  std::fprintf(stream, "track %d (cylinder %d, side %d), sector %d", track,
               track / 2, track % 2, r);
}

// What `flaw` of sector `r` of `track` is, after the sector's words.
void PrintFlaw(std::FILE* stream, const Survey& survey, int track, int r,
               Flaw flaw) {
  const Seen& seen = survey.at[track][r];
  const int size = survey.layout.sector_size;
  switch (flaw) {
    case Flaw::kMissing:
      std::fputs(" is missing", stream);
      break;
    case Flaw::kShort:
      std::fprintf(stream, " holds %d of its %d bytes", seen.held, size);
      break;
    case Flaw::kExtra:
      std::fprintf(stream, " is none of the %d of the other tracks",
                   survey.layout.sectors);
      break;
    case Flaw::kRepeated:
      std::fprintf(stream, " is there %d times", seen.count);
      break;
    case Flaw::kOtherSize:
      std::fprintf(stream, " has size code N %d, the other sectors N %d",
                   seen.n, survey.n);
      break;
    default:
      std::fprintf(stream, " holds %d bytes, more than its %d", seen.data_size,
                   size);
  }
}

// The dump's tracks in order: cylinder by cylinder, side by side.
int DumpTrack(const d88::RawLayout& layout, int index) {
  return TrackOf(index / layout.sides, index % layout.sides);
}

int DumpTracks(const d88::RawLayout& layout) {
  return layout.cylinders * layout.sides;
}

// Checks every sector of the dump in order; false, said on `err`, at the
// first that refuses the disk: any flaw without padding, and with it those
// that padding cannot mend.
bool Check(const Survey& survey, const D88File& reader, const char* path,
           int disk, bool padding, std::FILE* err) {
  for (int i = 0; i < DumpTracks(survey.layout); ++i) {
    const int track = DumpTrack(survey.layout, i);
    for (int r = 0; r < kIds; ++r) {
      const Flaw flaw = FlawOf(survey, track, r);
      if (flaw == Flaw::kNone || (padding && Fillable(flaw))) continue;
      std::fputs("d88conv: ", err);
      PrintDisk(err, disk, reader.GetDiskCount(), path);
      std::fputs(" has no single layout: ", err);
      PrintSector(err, track, r);
      PrintFlaw(err, survey, track, r, flaw);
      std::fputs(Fillable(flaw) ? " (--fill pads it)\n" : "\n", err);
      return false;
    }
  }
  return true;
}

// The bytes of sector `r` of `track` that the dump takes from the image.
int Wanted(const Survey& survey, int track, int r) {
  const Seen& seen = survey.at[track][r];
  const int size = survey.layout.sector_size;
  return seen.count == 0 ? 0 : seen.held < size ? seen.held : size;
}

// Tracks are read whole, in one read, when the data the dump takes of them
// lies within this many bytes; sector by sector otherwise.
constexpr int kSpanSize = 1 << 20;
uint8_t span[kSpanSize];

// Reads the data the dump takes of `track` into `span` in one read, if it
// lies close enough together. Returns the file offset of span[0]; -1 when
// it does not (nothing is read), -2 when the read failed.
int64_t ReadSpan(D88File* reader, const Survey& survey, int track) {
  int64_t first = INT64_MAX;
  int64_t end = 0;
  for (int r = 0; r < kIds; ++r) {
    const int want = survey.in_layout[r] ? Wanted(survey, track, r) : 0;
    if (want == 0) continue;
    const int64_t at = survey.at[track][r].data_offset;
    first = at < first ? at : first;
    end = at + want > end ? at + want : end;
  }
  if (end == 0 || end - first > kSpanSize) return -1;
  const int length = static_cast<int>(end - first);
  return reader->ReadImageBytes(first, span, length) == length ? first : -2;
}

// Copies the dump's sectors into `file`, padded with `fill`. False, said on
// `err`, if the image could not be read; a failed write only stops it, and
// the file remembers why.
bool WriteDump(D88File* reader, const char* path, const Survey& survey,
               int fill, OutputFile* file, std::FILE* err) {
  BlockOut block(file);
  const int size = survey.layout.sector_size;
  for (int i = 0; i < DumpTracks(survey.layout); ++i) {
    const int track = DumpTrack(survey.layout, i);
    const int64_t base = ReadSpan(reader, survey, track);
    bool read = base != -2;
    for (int r = 0; r < kIds && read; ++r) {
      if (!survey.in_layout[r]) continue;
      uint8_t* bytes = block.Take(size);
      if (bytes == nullptr) return true;
      const int64_t at = survey.at[track][r].data_offset;
      const int want = Wanted(survey, track, r);
      // A missing sector has nothing to read, wherever it would be.
      if (want > 0 && base >= 0) {
        std::memcpy(bytes, span + (at - base), static_cast<size_t>(want));
      } else if (want > 0) {
        read = reader->ReadImageBytes(at, bytes, want) == want;
      }
      std::memset(bytes + want, fill, static_cast<size_t>(size - want));
    }
    if (!read) {
      // 0: the file got shorter since it was surveyed.
      PrintReadFailure(err, path, reader->GetReadError());
      file->Abandon(reader->GetReadError());
      return false;
    }
  }
  block.Flush();
  return true;
}

// Says what the dump cannot keep of sector `r` of `track`: its status and
// deleted mark, in d88info's words.
void NoteHeader(const Survey& survey, int track, int r, std::FILE* lines) {
  const Seen& seen = survey.at[track][r];
  if (seen.count == 0 || (seen.status == 0 && seen.deleted == 0)) return;
  RecordFacts facts = {};
  facts.record.info.status = seen.status;
  facts.record.info.deleted = seen.deleted;
  if (seen.deleted != 0 && seen.deleted != 0x10) facts.flags = kOddMark;
  Notes notes;
  RecordNotes(facts, &notes);
  std::fputs("note: ", lines);
  PrintSector(lines, track, r);
  for (int i = 0; i < notes.count; ++i) {
    std::fprintf(lines, "%s%s", i == 0 ? ": " : ", ", notes.text[i]);
  }
  std::fputs("; the raw dump keeps only its bytes\n", lines);
}

// Lists each padded sector, and each whose header says what the dump
// cannot keep.
void ListSectors(const Survey& survey, int fill, std::FILE* lines) {
  for (int i = 0; i < DumpTracks(survey.layout); ++i) {
    const int track = DumpTrack(survey.layout, i);
    for (int r = 0; r < kIds; ++r) {
      if (!survey.in_layout[r]) continue;
      const Flaw flaw = FlawOf(survey, track, r);
      if (Fillable(flaw)) {
        std::fprintf(lines, "padded with 0x%02X: ", fill);
        PrintSector(lines, track, r);
        PrintFlaw(lines, survey, track, r, flaw);
        std::fputc('\n', lines);
      }
      NoteHeader(survey, track, r, lines);
    }
  }
}

// Works out the layout of disk `disk`; false, said on `err`, when it has
// none that a dump holds or cannot be read.
bool FindLayout(D88File* reader, const char* path, int disk, Survey* survey,
                std::FILE* err) {
  const bool found = Walk(reader, disk, survey);
  // A failed read ends a walk as the file's end would: the survey is not
  // of the whole disk.
  if (reader->GetReadError() != 0) {
    PrintReadFailure(err, path, reader->GetReadError());
    return false;
  }
  if (found && survey->layout.sector_size > 0) return true;
  std::fputs("d88conv: ", err);
  PrintDisk(err, disk, reader->GetDiskCount(), path);
  if (survey->layout.sectors == 0) {
    std::fputs(" holds no sectors\n", err);
  } else {
    std::fprintf(err,
                 " has sectors of size code N %d; a raw dump takes N 0 to %d "
                 "(128 to %d bytes)\n",
                 survey->n, kMaxSizeCode, kMaxSectorSize);
  }
  return false;
}

}  // namespace

int ToRaw(const char* image, int disk, int fill, const char* raw,
          std::FILE* out, std::FILE* err, d88::RawLayout* layout) {
  static Survey survey;
  D88File reader;
  if (!OpenD88Image(&reader, "d88conv", image, err) ||
      !CheckDisk(reader, image, disk, err) ||
      !FindLayout(&reader, image, disk, &survey, err) ||
      !Check(survey, reader, image, disk, fill != kNoFill, err)) {
    return 1;
  }
  OutputFile file;
  if (!StartOutput(&file, raw, &image, 1, err) ||
      !WriteDump(&reader, image, survey, fill, &file, err) ||
      !FinishOutput(&file, err)) {
    return 1;
  }
  std::FILE* lines = LinesStream(raw, out, err);
  ListSectors(survey, fill, lines);
  char text[kLayoutTextSize];
  char count[32];
  LayoutText(survey.layout, text, sizeof text);
  PrintPath(lines, raw, false);
  std::fprintf(lines, " was written: layout %s, %s bytes.\n", text,
               Grouped(survey.layout.ByteSize(), count));
  if (layout != nullptr) *layout = survey.layout;
  return 0;
}

}  // namespace conv
