// volpack: puts edited TRV01.BIN ... TRV07.BIN from the current directory
// back into a copy of the D88 image they were extracted from, at exactly
// the bytes volspar took them from.

#include <cstdio>
#include <cstring>

#include "d88/d88_file.h"
#include "d88/version.h"
#include "inspect/records.h"
#include "inspect/report.h"
#include "platform/command_main.h"
#include "platform/output_file.h"
#include "platform/text_out.h"
#include "runs/packing.h"

namespace {

constexpr char kUsage[] = "Usage: volpack d88file newfile\n";
constexpr char kHelp[] =
    "Writes newfile: a copy of d88file in which the bytes that volspar\n"
    "copied into TRV01.BIN ... TRV07.BIN hold those files' bytes, read from\n"
    "the current directory. Nothing is written unless every file is there\n"
    "at its length, every byte has a place in the image, and files that\n"
    "share image bytes agree on them.\n"
    "\n"
    "  -h, --help         show this help\n"
    "  --version          show the version\n";

uint8_t contents[kExtractionRows][kMaxRunSteps * kSectorSize];

bool SameFile(const FileId& a, const FileId& b) {
  return a.volume == b.volume && a.number == b.number;
}

// Reads TRV file `row` into `contents`; false, said on standard error, if
// it is not a regular file of its exact length.
bool LoadFile(int row, const FileId* target) {
  const ExtractionEntry& entry = kExtractionTable[row];
  d88::D88File file;  // opens any regular file without waiting on it
  if (!file.Open(entry.file_name)) {
    PrintOpenFailure(stderr, "volpack", file, entry.file_name);
    return false;
  }
  if (file.GetFileSize() != entry.write_length) {
    std::fprintf(stderr, "volpack: %s is %lld bytes long; it must be %d\n",
                 entry.file_name, static_cast<long long>(file.GetFileSize()),
                 entry.write_length);
    return false;
  }
  if (file.ReadImageBytes(0, contents[row], entry.write_length) !=
      entry.write_length) {
    std::fprintf(stderr, "volpack: cannot read %s\n", entry.file_name);
    return false;
  }
  FileId id;
  if (target != nullptr && IdentifyFile(entry.file_name, &id) &&
      SameFile(id, *target)) {
    std::fprintf(stderr, "volpack: will not write over %s\n", entry.file_name);
    return false;
  }
  return true;
}

// What the new image changes of file `row`, and notes on changed sectors
// whose headers say more than their bytes.
void ReportChanges(d88::D88File* reader, const PackPlan& plan, int row) {
  uint8_t old_bytes[kSectorSize];
  int changed_bytes = 0;
  int changed_sectors = 0;
  int sectors = 0;
  bool changed_step[kMaxRunSteps] = {};
  for (int i = 0; i < plan.segment_count; ++i) {
    const PackSegment& segment = plan.segments[i];
    if (segment.row != row) continue;
    ++sectors;
    reader->ReadImageBytes(segment.image_offset, old_bytes, segment.length);
    const uint8_t* now = contents[row] + segment.file_offset;
    int differ = 0;
    for (int k = 0; k < segment.length; ++k) differ += old_bytes[k] != now[k];
    changed_bytes += differ;
    if (differ > 0) {
      ++changed_sectors;
      changed_step[segment.step] = true;
    }
  }
  const char* name = kExtractionTable[row].file_name;
  if (changed_bytes == 0) {
    std::printf("%s: unchanged\n", name);
    return;
  }
  std::printf("%s: %d byte%s changed in %d of its %d sectors\n", name,
              changed_bytes, changed_bytes == 1 ? "" : "s", changed_sectors,
              sectors);
  DiskLayout layout;
  if (!SelectLayout(reader, 0, &layout)) return;
  for (int step = 0; step < plan.step_count[row]; ++step) {
    if (!changed_step[step]) continue;
    const d88::RunStep& at = plan.steps[row][step];
    const TrackRecords& track = ClassifyTrack(reader, layout, at.track);
    if (at.record < 0 || at.record >= track.count) continue;
    const unsigned flags = track.flags[at.record];
    const d88::SectorInfo& info = track.infos[at.record];
    char id[32];
    std::snprintf(id, sizeof id, "%d/%d/%d/%d", at.c, at.h, at.r, at.n);
    if (flags & kBadStatus) {
      const char* status = StatusName(info.status);
      std::printf(
          "note: %s keeps its %s status (0x%02X); an emulator may still "
          "report the error\n",
          id, status != nullptr ? status : "unknown", info.status);
    }
    if (flags & kDeleted) {
      std::printf(
          "note: %s keeps its deleted-data mark; an emulator may still treat "
          "the sector as deleted\n",
          id);
    }
    if (flags & kDuplicate) {
      std::printf(
          "note: %s is the first of %d records with its ID; the others keep "
          "their bytes\n",
          id, track.id_count[at.record]);
    }
  }
}

}  // namespace

int Run(int argc, char** argv) {
  const char* paths[2] = {nullptr, nullptr};
  int given = 0;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (options && std::strcmp(arg, "--") == 0) {
      options = false;
    } else if (options && (std::strcmp(arg, "-h") == 0 ||
                           std::strcmp(arg, "--help") == 0)) {
      std::fputs(kUsage, stdout);
      std::fputs(kHelp, stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    } else if (options && std::strcmp(arg, "--version") == 0) {
      std::fputs("volpack " D88_VERSION_STRING "\n", stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    } else if (options && arg[0] == '-' && arg[1] != '\0') {
      std::fputs("volpack: unknown option ", stderr);
      PrintPath(stderr, arg, false);
      std::fputc('\n', stderr);
      std::fputs(kUsage, stderr);
      return 1;
    } else if (given < 2) {
      paths[given++] = arg;
    } else {
      ++given;
    }
  }
  if (given != 2) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  const char* image = paths[0];
  const char* new_image = paths[1];
  d88::D88File reader;
  if (!reader.Open(image)) {
    PrintOpenFailure(stderr, "volpack", reader, image);
    return 1;
  }
  static PackPlan plan;
  PlanPacking(&reader, &plan);
  FileId image_id;
  const bool known = IdentifyFile(image, &image_id);
  FileId target;
  const bool exists = IdentifyFile(new_image, &target);
  bool ok = true;
  if (known && exists && SameFile(image_id, target)) {
    std::fputs("volpack: will not write over ", stderr);
    PrintPath(stderr, new_image, false);
    std::fputs(": it is the image\n", stderr);
    ok = false;
  }
  const uint8_t* files[kExtractionRows];
  for (int row = 0; row < kExtractionRows; ++row) {
    files[row] = contents[row];
    ok = LoadFile(row, exists ? &target : nullptr) && ok;
    ok = CheckHomes(plan, row, stderr) && ok;
  }
  if (!ok || !CheckAgreement(plan, files, stderr)) return 1;
  OutputFile out;
  if (!WritePacked(image, reader.GetFileSize(), new_image,
                   known ? &image_id : nullptr, plan, files, &out)) {
    out.Report(stderr, "volpack");
    return 1;
  }
  for (int row = 0; row < kExtractionRows; ++row) {
    ReportChanges(&reader, plan, row);
  }
  TextOut line(stdout);
  line.Path(new_image, false);
  line.Put(" was written.\n");
  if (!line.Flush() || std::fflush(stdout) != 0) {
    std::fputs("volpack: cannot write standard output\n", stderr);
    return 1;
  }
  return 0;
}
