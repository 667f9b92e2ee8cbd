#include "pack/volpack.h"

#include <cstring>

#include "d88/d88_file.h"
#include "d88/version.h"
#include "inspect/findings.h"
#include "inspect/recognize.h"
#include "inspect/records.h"
#include "platform/input_file.h"
#include "platform/options.h"
#include "platform/output_file.h"
#include "platform/text_out.h"
#include "runs/packing.h"

namespace {

constexpr char kUsage[] = "Usage: volpack d88file newfile\n";
constexpr char kHelp[] =
    "Writes newfile: a copy of d88file in which the bytes that volspar\n"
    "copied into TRV01.BIN ... TRV07.BIN hold those files' bytes, read from\n"
    "the current directory. Nothing is written unless every file is there\n"
    "at its length, every changed byte has a place in the image outside its\n"
    "headers, files that share image bytes agree on them, and volspar gives\n"
    "back exactly these files from the new image. newfile may be - (standard\n"
    "output), a FIFO or a device.\n"
    "\n"
    "  -h, --help         show this help\n"
    "  --version          show the version\n";
constexpr char kNothing[] = "volpack: nothing was written\n";

uint8_t contents[kExtractionRows][kMaxFileLength];

// Reads TRV file `row` into `contents`; false, said on `err`, if it is not
// a regular file of its exact length, or is the file to be written.
bool LoadFile(int row, const FileId* target, std::FILE* err) {
  const ExtractionEntry& entry = kExtractionTable[row];
  InputFile file;
  if (!file.Open(entry.file_name)) {
    PrintInputFailure(err, "volpack", entry.file_name, file.error());
    return false;
  }
  if (file.size() != entry.write_length) {
    std::fprintf(err, "volpack: %s is %lld bytes long; it must be %d\n",
                 entry.file_name, static_cast<long long>(file.size()),
                 entry.write_length);
    return false;
  }
  if (file.Read(0, contents[row], entry.write_length) != entry.write_length) {
    std::fprintf(err, "volpack: cannot read %s\n", entry.file_name);
    return false;
  }
  FileId id;
  if (target != nullptr && IdentifyFile(entry.file_name, &id) &&
      SameFile(id, *target)) {
    std::fprintf(err, "volpack: will not write over %s\n", entry.file_name);
    return false;
  }
  return true;
}

// Notes on the changed sectors of file `row` whose headers say more than
// their bytes, as `check` found them.
void NoteHeaders(const PackPlan& plan, int row, const bool* changed,
                 const FileCheck& check, std::FILE* out) {
  const RowRun& run = plan.model.rows[row];
  for (int step = 0; step < run.step_count; ++step) {
    const d88::RunStep& at = run.steps[step];
    if (!changed[step] || at.record < 0) continue;
    const unsigned flags = check.flags[step];
    const int status = check.infos[step].status;
    char id[32];
    std::snprintf(id, sizeof id, "%d/%d/%d/%d", at.c, at.h, at.r, at.n);
    if (flags & kBadStatus) {
      const char* name = StatusName(status);
      std::fprintf(out,
                   "note: %s keeps its %s status (0x%02X); an emulator may "
                   "still report the error\n",
                   id, name != nullptr ? name : "unknown", status);
    }
    if (flags & kDeleted) {
      std::fprintf(out,
                   "note: %s keeps its deleted-data mark; an emulator may "
                   "still treat the sector as deleted\n",
                   id);
    }
    if (flags & kDuplicate) {
      std::fprintf(out,
                   "note: %s is the first of %d records with its ID; the "
                   "others keep their bytes\n",
                   id, check.id_counts[step]);
    }
  }
}

// What the new image changes of file `row`, then the notes on it.
void ReportChanges(const PackPlan& plan, int row, const FileCheck& check,
                   std::FILE* out) {
  int changed_bytes = 0;
  int changed_sectors = 0;
  int sectors = 0;
  bool changed[kMaxRunSteps] = {};
  for (int i = 0; i < plan.segment_count; ++i) {
    const PackSegment& segment = plan.segments[i];
    if (segment.row != row) continue;
    ++sectors;
    int differ = 0;
    for (int k = segment.file_offset; k < segment.file_offset + segment.length;
         ++k) {
      differ += contents[row][k] != plan.expected[row][k];
    }
    changed_bytes += differ;
    if (differ > 0) {
      ++changed_sectors;
      changed[segment.step] = true;
    }
  }
  const char* name = kExtractionTable[row].file_name;
  if (changed_bytes == 0) {
    std::fprintf(out, "%s: unchanged\n", name);
    return;
  }
  std::fprintf(out, "%s: %d byte%s changed in %d of its %d sectors\n", name,
               changed_bytes, changed_bytes == 1 ? "" : "s", changed_sectors,
               sectors);
  NoteHeaders(plan, row, changed, check, out);
}

// Everything that must hold before a byte is written; says each problem.
bool CheckAll(d88::D88File* reader, const FileId* image_id,
              const char* new_image, const PackPlan& plan, std::FILE* err) {
  FileId target;
  const bool to_file = std::strcmp(new_image, "-") != 0;
  const bool exists = to_file && IdentifyFile(new_image, &target);
  bool ok = true;
  if (exists && image_id != nullptr && SameFile(*image_id, target)) {
    std::fputs("volpack: will not write over ", err);
    PrintPath(err, new_image, false);
    std::fputs(": it is the image\n", err);
    ok = false;
  }
  for (int row = 0; row < kExtractionRows; ++row) {
    ok = LoadFile(row, exists ? &target : nullptr, err) && ok;
  }
  if (!ok) return false;
  const uint8_t* files[kExtractionRows];
  for (int row = 0; row < kExtractionRows; ++row) {
    files[row] = contents[row];
    ok = CheckHomes(plan, row, contents[row], err) && ok;
  }
  ok = CheckAgreement(plan, files, err) && ok;
  return ok && CheckHeaders(reader, plan, files, err);
}

// Makes the new image in `file` (the new file beside the target, or a
// scratch file) and checks it; false, said on `err`, if either fails.
bool MakeChecked(InputFile* source, const PackPlan& plan, OutputFile* file,
                 PackHook written, std::FILE* err) {
  const uint8_t* files[kExtractionRows];
  for (int row = 0; row < kExtractionRows; ++row) files[row] = contents[row];
  if (!WritePacked(source, source->size(), plan, files, file) ||
      !file->Flush()) {
    file->Commit();  // fails, and keeps why
    file->Report(err, "volpack");
    std::fputs(kNothing, err);
    return false;
  }
  if (written != nullptr) written(file->pending_name());
  if (!VerifyPacked(file->pending_name(), files, err)) {
    file->Abandon(0);
    std::fputs(kNothing, err);
    return false;
  }
  return true;
}

// Opens `image` again for the copy; false, said on `err`, unless it is the
// file that `reader` has open, at the length it had: the plan and the
// checks were made on those bytes.
bool OpenSource(const d88::D88File& reader, const char* image,
                InputFile* source, std::FILE* err) {
  if (!source->Open(image)) {
    PrintInputFailure(err, "volpack", image, source->error());
    return false;
  }
  if (reader.IsSameFile(source->fd()) &&
      source->size() == reader.GetFileSize()) {
    return true;
  }
  std::fputs("volpack: ", err);
  PrintPath(err, image, false);
  std::fputs(" changed while volpack was reading it\n", err);
  return false;
}

// Writes `new_image` from `source`, never over the file `image_id`; false,
// said on `err`, if it was not written.
bool WriteNew(InputFile* source, const FileId* image_id, const char* new_image,
              const PackPlan& plan, PackHook written, std::FILE* err) {
  OutputFile out;
  if (!out.Create(new_image, image_id)) {
    out.Report(err, "volpack");
  } else if (!out.writes_through()) {
    if (!MakeChecked(source, plan, &out, written, err)) return false;
    if (out.Commit()) return true;
    out.Report(err, "volpack");
  } else {
    // What goes straight to its target cannot be taken back: the new
    // image is made and checked in a scratch file first, then sent.
    OutputFile scratch;
    if (scratch.CreateScratch("volpack.d88")) {
      if (!MakeChecked(source, plan, &scratch, written, err)) return false;
      if (scratch.Commit()) {
        if (out.CommitCopyOf(scratch)) return true;
        out.Report(err, "volpack");  // some of it may have gone out
        return false;
      }
    }
    scratch.Report(err, "volpack");
  }
  std::fputs(kNothing, err);
  return false;
}

// A read of the image that failed ended what the reader was doing as the
// end of the file would: nothing it found can be trusted. Says so on `err`.
bool ReadFailed(const d88::D88File& reader, const char* image, std::FILE* err) {
  if (reader.GetReadError() == 0) return false;
  std::fputs("volpack: cannot read ", err);
  PrintPath(err, image, false);
  std::fprintf(err, ": %s\n", std::strerror(reader.GetReadError()));
  return true;
}

// The image's own damage stays in the copy: says so.
void NoteDamage(const Inspection& in, const char* image, const char* new_image,
                std::FILE* out) {
  if (!in.image.health.damaged) return;
  std::fputs("note: ", out);
  PrintPath(out, image, false);
  std::fputs(" is damaged (d88info tells how); ", out);
  PrintPath(out, new_image, false);
  std::fputs(" keeps that damage\n", out);
}

}  // namespace

int Volpack(const char* image, const char* new_image, std::FILE* out,
            std::FILE* err, PackHook written) {
  static PackPlan plan;
  d88::D88File reader;
  if (!OpenD88Image(&reader, "volpack", image, err)) {
    std::fputs(kNothing, err);
    return 1;
  }
  PlanPacking(&reader, &plan);
  FileId image_id;
  const FileId* known = IdentifyFile(image, &image_id) ? &image_id : nullptr;
  const bool ok = !ReadFailed(reader, image, err) &&
                  CheckAll(&reader, known, new_image, plan, err);
  // The damage note looks at the whole image, which reads it once more.
  static Inspection in;
  if (ok) InspectAll(&reader, &in);
  InputFile source;
  if (!ok || ReadFailed(reader, image, err) ||
      !OpenSource(reader, image, &source, err)) {
    std::fputs(kNothing, err);
    return 1;
  }
  // Standard output may carry the image itself: the lines go beside it.
  if (IsStandardOutput(new_image)) out = err;
  NoteDamage(in, image, new_image, out);
  if (!WriteNew(&source, known, new_image, plan, written, err)) return 1;
  for (int row = 0; row < kExtractionRows; ++row) {
    ReportChanges(plan, row, in.image.files.files[row], out);
  }
  PrintPath(out, new_image, false);
  std::fputs(" was written.\n", out);
  return std::fflush(out) == 0 ? 0 : 1;
}

int VolpackCommand(int argc, char** argv) {
  enum { kHelpId = 1, kVersion };
  static constexpr Option kOptions[] = {{"help", 'h', false, kHelpId},
                                        {"version", 0, false, kVersion}};
  static constexpr CommandLine kCommand = {
      "volpack", kUsage, kHelp,   D88_VERSION_STRING,
      kOptions,  2,      kHelpId, kVersion};
  const char* paths[2] = {nullptr, nullptr};
  int given = 0;
  const auto take = [&paths, &given](const ParsedOption& item) {
    if (item.kind != ParsedOption::kOperand) return false;  // none take values
    if (given < 2) paths[given] = item.text;
    ++given;
    return true;
  };
  int status = 0;
  if (!ReadCommandLine(kCommand, argc, argv, take, &status)) return status;
  if (given != 2) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  status = Volpack(paths[0], paths[1], stdout, stderr);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("volpack: cannot write standard output\n", stderr);
    return 1;
  }
  return status;
}
