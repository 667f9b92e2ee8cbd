#include "merge/merge_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "d88/d88_file.h"
#include "d88/version.h"
#include "inspect/findings.h"
#include "inspect/recognize.h"
#include "merge/merge_report.h"
#include "merge/merging.h"
#include "platform/input_file.h"
#include "platform/options.h"
#include "platform/output_file.h"
#include "platform/text_out.h"

namespace {

constexpr char kUsage[] =
    "Usage: d88merge [--json] [--force] [-o NEWIMAGE] DUMP DUMP...\n";
constexpr char kHelp[] =
    "Compares dumps of the same disks (D88 images read on different days or\n"
    "drives) sector by sector, and says where they differ. With -o, merges\n"
    "them into NEWIMAGE: for each sector a good copy (a clean status and its\n"
    "full data) that most good copies agree with, else the first dump's.\n"
    "NEWIMAGE may be - (standard output), a FIFO or a device; it is never one\n"
    "of the dumps. At most 8 dumps.\n"
    "\n"
    "  -o, --output NEWIMAGE  write the merged image\n"
    "  --json                 the report as one JSON document\n"
    "  --force                go on with dumps that cannot be the same disk\n"
    "  -h, --help             show this help\n"
    "  --version              show the version\n"
    "\n"
    "Exit status: 0 every sector has a good copy that no other good copy\n"
    "outweighs; 2 some sector is still bad, or its good copies disagree with\n"
    "no majority; 1 wrong usage, a dump that cannot be read or is not a D88\n"
    "image, dumps that cannot be the same disk, a new image not written or\n"
    "not read back for its verdict.\n";
constexpr char kNothing[] = "d88merge: nothing was written\n";

// At namespace scope, so that nothing needs the C++ runtime's guards.
struct Readers {
  d88::D88File dumps[kMaxDumps];
  d88::D88File made;  // the new image, read back for its verdict
};
Readers readers;
ImageWriter writer;

enum Id { kOutput = 1, kJson, kForce, kHelpId, kVersion };
constexpr Option kOptions[] = {
    {"output", 'o', true, kOutput},  {"json", 0, false, kJson},
    {"force", 0, false, kForce},     {"help", 'h', false, kHelpId},
    {"version", 0, false, kVersion},
};
constexpr int kOptionCount = sizeof kOptions / sizeof kOptions[0];

struct Options {
  const char* paths[kMaxDumps];
  int dumps;  // operands, counted past kMaxDumps too
  const char* output;
  bool json;
  bool force;
  std::FILE* out;     // the report and the lines after a merge
  std::FILE* err;     // every refusal
  bool* other_disks;  // set when dumps of other disks are refused; or null
};

constexpr CommandLine kCommand = {
    "d88merge", kUsage,       kHelp,   D88_VERSION_STRING,
    kOptions,   kOptionCount, kHelpId, kVersion};

int UsageError(const char* what) {
  UsageError(kCommand, what);
  return 1;
}

// Takes one item of the command line into `options`; false on a usage
// error.
bool Take(const ParsedOption& item, Options* options) {
  if (item.kind == ParsedOption::kOperand) {
    if (options->dumps < kMaxDumps) options->paths[options->dumps] = item.text;
    ++options->dumps;
  } else if (item.kind == ParsedOption::kMissingValue ||
             (item.id == kOutput && item.value[0] == '\0')) {
    return UsageError(kCommand, "-o needs a file name");
  } else if (item.id == kOutput) {
    options->output = item.value;
  } else {
    options->json |= item.id == kJson;
    options->force |= item.id == kForce;
  }
  return true;
}

// Reads the command line; returns -1 to go on, else the exit status.
int ParseOptions(int argc, char** argv, Options* options) {
  *options = {};
  int status = 0;
  const auto take = [options](const ParsedOption& item) {
    return Take(item, options);
  };
  if (!ReadCommandLine(kCommand, argc, argv, take, &status)) return status;
  if (options->dumps < 2) return UsageError(nullptr);
  if (options->dumps > kMaxDumps) {
    std::fprintf(stderr, "d88merge: at most %d dumps\n", kMaxDumps);
    return UsageError(nullptr);
  }
  for (int d = 0; d < options->dumps; ++d) {
    if (std::strcmp(options->paths[d], "-") == 0) {
      return UsageError("a dump cannot be - (standard input)");
    }
  }
  return -1;
}

// Opens every dump, saying why each one that cannot be is not.
bool OpenDumps(const Options& options, d88::D88File* readers) {
  bool ok = true;
  for (int d = 0; d < options.dumps; ++d) {
    ok = OpenD88Image(&readers[d], "d88merge", options.paths[d], options.err) &&
         ok;
  }
  return ok;
}

// Says which dumps cannot be the first one's disks; true if some cannot.
bool SayDifferentDisks(const MergeFindings& findings, std::FILE* err) {
  bool any = false;
  char reason[160];
  for (int d = 1; d < findings.dumps; ++d) {
    if (!DifferentDisks(findings, d, reason, sizeof reason)) continue;
    std::fputs("d88merge: ", err);
    PrintPath(err, findings.paths[0], false);
    std::fputs(" and ", err);
    PrintPath(err, findings.paths[d], false);
    std::fprintf(err, " cannot be the same disk: %s\n", reason);
    any = true;
  }
  return any;
}

// Without --force, refuses dumps that cannot be the first one's disks,
// saying which; true if it did.
bool RefuseOtherDisks(const Options& options, const MergeFindings& findings) {
  if (options.force || !SayDifferentDisks(findings, options.err)) return false;
  if (options.other_disks != nullptr) *options.other_disks = true;
  return true;
}

// Says why a pass stopped before its end, other than a failed write.
void SayStop(const MergeFindings& findings, const char* output,
             std::FILE* err) {
  std::fputs("d88merge: ", err);
  switch (findings.stop) {
    case MergeStop::kRecordBound:
      PrintPath(err, findings.paths[findings.stop_dump], false);
      std::fprintf(err, " holds more than %lld records: it is not read\n",
                   static_cast<long long>(kMaxDumpRecords));
      return;
    case MergeStop::kSharedBytes:
      PrintPath(err, findings.paths[findings.stop_dump], false);
      std::fputs(
          " reads the same records for many tracks or disks "
          "(d88info tells which): it is not read\n",
          err);
      return;
    default:
      std::fputs("cannot write ", err);
      PrintPath(err, output, false);
      std::fputs(
          ": it would not fit the D88 format (more than 2 GiB, or "
          "a track of more than 65535 records)\n",
          err);
      return;
  }
}

// Says of each dump that a read failed in: the pass took the failure for
// the end of the file, so what it compared is not all the dump holds.
// True if any failed.
bool SayUnreadDumps(const Options& options, d88::D88File* const dumps[]) {
  bool any = false;
  for (int d = 0; d < options.dumps; ++d) {
    const int error = dumps[d]->GetReadError();
    if (error == 0) continue;
    std::fputs("d88merge: cannot read ", options.err);
    PrintPath(options.err, options.paths[d], false);
    std::fprintf(options.err, ": %s\n", std::strerror(error));
    any = true;
  }
  return any;
}

// Starts the new image in `out`, never over one of the dumps; says why not.
bool StartImage(const Options& options, OutputFile* out) {
  FileId dumps[kMaxDumps];
  int known = 0;
  for (int d = 0; d < options.dumps; ++d) {
    if (IdentifyFile(options.paths[d], &dumps[known])) ++known;
  }
  if (out->Create(options.output, dumps, known)) return true;
  if (out->failure() != OutputFile::Failure::kKept) {
    out->Report(options.err, "d88merge");
    return false;
  }
  std::fputs("d88merge: will not write over ", options.err);
  PrintPath(options.err, options.output, false);
  std::fputs(": it is one of the dumps\n", options.err);
  return false;
}

// Renders the report on `stream`; false if it could not be written.
bool Report(const Options& options, const MergeReport& report,
            std::FILE* stream) {
  TextOut out(stream);
  if (options.json) {
    JsonWriter json(&out);
    WriteMergeJson(report, &json);
    out.Put('\n');
  } else {
    WriteMergeText(report, &out);
  }
  if (out.Flush() && std::fflush(stream) == 0 && !std::ferror(stream)) {
    return true;
  }
  std::fputs("d88merge: cannot write standard output\n", options.err);
  return false;
}

// The verdict of the image in the file `path`, as d88info gives it; null
// if the file cannot be read back.
const ImageFindings* Verdict(const char* path) {
  static Inspection in;
  if (!readers.made.Open(path)) return nullptr;
  InspectAll(&readers.made, &in);
  readers.made.Open(nullptr);
  return &in.image;
}

// Says that the new image, written, could not be read back by `made` for
// its verdict; returns the exit status.
int SayNoVerdict(const Options& options, const d88::D88File& made) {
  char why[160];
  OpenFailureWords(made, why, sizeof why);
  std::fputs("d88merge: ", options.err);
  PrintPath(options.err, options.output, false);
  std::fprintf(options.err,
               " is written, but not read back for its verdict: %s\n", why);
  return 1;
}

// Makes the new image in `image` (the new file beside the target, or a
// scratch file) and commits it; false, said, if it was not made.
bool Make(const Options& options, d88::D88File* const dumps[],
          OutputFile* image, MergeFindings* findings) {
  writer.Start(image);
  if (!CompareDumps(dumps, options.paths, options.dumps,
                    ListMode::kMergeChoices, &writer, findings)) {
    if (findings->stop != MergeStop::kWrite) {
      SayStop(*findings, options.output, options.err);
    } else {
      // Whatever failed, a write or a seek, the file is not whole: it goes.
      image->Abandon(writer.error());
      image->Report(options.err, "d88merge");
    }
    return false;
  }
  if (RefuseOtherDisks(options, *findings)) return false;
  if (SayUnreadDumps(options, dumps)) return image->Abandon(EIO);
  if (image->Commit()) return true;
  image->Report(options.err, "d88merge");
  return false;
}

// Merges the dumps into options.output, with `findings`; returns the exit
// status.
int Merge(const Options& options, d88::D88File* const dumps[],
          MergeFindings* findings) {
  StartFindings(dumps, options.paths, options.dumps, findings);
  OutputFile out;
  OutputFile scratch;
  if (!StartImage(options, &out) || RefuseOtherDisks(options, *findings)) {
    std::fputs(kNothing, options.err);
    return 1;
  }
  // What goes straight to its target cannot be taken back, nor read back:
  // it is made in a scratch file first.
  OutputFile* image = &out;
  if (out.writes_through()) {
    image = &scratch;
    if (!scratch.CreateScratch("d88merge.d88")) {
      scratch.Report(options.err, "d88merge");
      std::fputs(kNothing, options.err);
      return 1;
    }
  }
  if (!Make(options, dumps, image, findings)) {
    std::fputs(kNothing, options.err);
    return 1;
  }
  const ImageFindings* verdict =
      Verdict(image == &out ? options.output : scratch.pending_name());
  if (image == &scratch && !out.CommitCopyOf(scratch)) {
    out.Report(options.err, "d88merge");
    return 1;
  }
  // Standard output may carry the image itself: the report goes beside it.
  std::FILE* stream =
      IsStandardOutput(options.output) ? options.err : options.out;
  const MergeReport report = {findings, true, options.force, options.output,
                              verdict};
  if (!Report(options, report, stream)) return 1;
  if (verdict == nullptr) return SayNoVerdict(options, readers.made);
  return findings->still_bad > 0 || findings->conflicts > 0 ? 2 : 0;
}

// Compares the dumps, with `findings`; returns the exit status.
int Compare(const Options& options, d88::D88File* const dumps[],
            MergeFindings* findings) {
  if (!CompareDumps(dumps, options.paths, options.dumps, ListMode::kDifferences,
                    nullptr, findings)) {
    SayStop(*findings, nullptr, options.err);
    return 1;
  }
  const MergeReport report = {findings, false, options.force, nullptr, nullptr};
  if (!Report(options, report, options.out)) return 1;
  if (RefuseOtherDisks(options, *findings) || SayUnreadDumps(options, dumps)) {
    return 1;
  }
  return findings->still_bad > 0 || findings->conflicts > 0 ? 2 : 0;
}

// Opens every dump, then compares them, or merges them with an output;
// returns the exit status.
int Run(const Options& options) {
  // About 1 MB: one for whichever runs, the comparison or the merge.
  static MergeFindings findings;
  d88::D88File* dumps[kMaxDumps];
  for (int d = 0; d < kMaxDumps; ++d) dumps[d] = &readers.dumps[d];
  if (!OpenDumps(options, readers.dumps)) {
    if (options.output != nullptr) std::fputs(kNothing, options.err);
    return 1;
  }
  return options.output != nullptr ? Merge(options, dumps, &findings)
                                   : Compare(options, dumps, &findings);
}

}  // namespace

int MergeDumps(const char* const paths[], int count, const char* output,
               unsigned flags, std::FILE* out, std::FILE* err,
               bool* other_disks) {
  if (other_disks != nullptr) *other_disks = false;
  if (count < 2) {
    std::fputs("d88merge: at least 2 dumps\n", err);
    return 1;
  }
  if (count > kMaxDumps) {
    std::fprintf(err, "d88merge: at most %d dumps\n", kMaxDumps);
    return 1;
  }
  Options options = {};
  for (int d = 0; d < count; ++d) options.paths[d] = paths[d];
  options.dumps = count;
  options.output = output;
  options.json = (flags & kMergeJson) != 0;
  options.force = (flags & kMergeForce) != 0;
  options.out = out;
  options.err = err;
  options.other_disks = other_disks;
  return Run(options);
}

int MergeCommand(int argc, char** argv) {
  Options options;
  const int status = ParseOptions(argc, argv, &options);
  if (status >= 0) return status;
  const unsigned flags =
      (options.json ? kMergeJson : 0u) | (options.force ? kMergeForce : 0u);
  return MergeDumps(options.paths, options.dumps, options.output, flags, stdout,
                    stderr);
}
