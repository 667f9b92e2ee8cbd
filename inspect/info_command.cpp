#include "inspect/info_command.h"

#include <cstdio>
#include <cstring>

#include "d88/d88_file.h"
#include "d88/version.h"
#include "inspect/recognize.h"
#include "inspect/views.h"
#include "platform/options.h"
#include "platform/output_file.h"
#include "platform/text_out.h"

namespace {

constexpr char kUsage[] =
    "Usage: d88info [-s | --problems | --json] [--map FILE.svg [--disk N]] "
    "d88file...\n";
constexpr char kHelp[] =
    "Says whether D88 images are sound, and whether volspar would extract\n"
    "complete files from them: their disks, tracks and sector IDs, what is\n"
    "damaged or stands out. A d88file of - is read from standard input.\n"
    "\n"
    "  -s, --summary      one line per image: path, disks, both verdicts\n"
    "  --problems         only what stands out, and the verdicts\n"
    "  --json             everything as one JSON document\n"
    "  --map FILE.svg     also draw one image's disk as an SVG picture\n"
    "  --disk N           the disk to draw (default 0)\n"
    "  -h, --help         show this help\n"
    "  --version          show the version\n"
    "\n"
    "Exit status, the sum of: 1 wrong usage, a file that cannot be opened or\n"
    "is not a D88 image, a map that cannot be written; 2 volspar's files\n"
    "from some image would not all be complete and clean; 4 some image is\n"
    "damaged or holds read errors. 0: nothing needs a look.\n";

// Standard input is spooled to a file up to this size.
constexpr int64_t kMaxSpool = int64_t{2} << 30;

enum Id { kSummary = 1, kProblems, kJson, kMap, kDisk, kHelpId, kVersion };
constexpr Option kOptions[] = {
    {"summary", 's', false, kSummary}, {"problems", 0, false, kProblems},
    {"json", 0, false, kJson},         {"map", 0, true, kMap},
    {"disk", 0, true, kDisk},          {"help", 'h', false, kHelpId},
    {"version", 0, false, kVersion},
};
constexpr int kOptionCount = sizeof kOptions / sizeof kOptions[0];

enum class Style { kFull, kProblems, kJson, kSummary };

constexpr CommandLine kCommand = {
    "d88info", kUsage,       kHelp,   D88_VERSION_STRING,
    kOptions,  kOptionCount, kHelpId, kVersion};

struct Options {
  Style style = Style::kFull;
  int style_option = 0;  // the option that chose it; 0: none
  const char* map = nullptr;
  const char* disk = nullptr;
  long disk_number = 0;
  int images = 0;
};

bool UsageError(const char* what) { return UsageError(kCommand, what); }

// Takes one item of the command line into `options`; false on a usage
// error.
bool Take(const ParsedOption& item, Options* options) {
  if (item.kind == ParsedOption::kOperand) {
    ++options->images;
    return true;
  }
  if (item.kind == ParsedOption::kMissingValue) {
    return UsageError(item.id == kMap ? "--map needs a file name"
                                      : "--disk needs a number");
  }
  switch (item.id) {
    case kMap:
      if (item.value[0] == '\0') return UsageError("--map needs a file name");
      options->map = item.value;
      return true;
    case kDisk:
      options->disk = item.value;
      return true;
    default:
      // The same style twice is no error; two styles are.
      if (options->style_option != 0 && options->style_option != item.id) {
        return UsageError("choose one of -s, --problems and --json");
      }
      options->style_option = item.id;
      options->style = item.id == kSummary    ? Style::kSummary
                       : item.id == kProblems ? Style::kProblems
                                              : Style::kJson;
      return true;
  }
}

// The combinations of options that make no sense; false, said, if given.
bool CheckOptions(Options* options) {
  if (options->disk != nullptr) {
    if (options->map == nullptr) return UsageError("--disk goes with --map");
    if (!ParseNumber(options->disk, 0, d88::D88File::kMaxDisks - 1,
                     &options->disk_number)) {
      std::fprintf(stderr, "d88info: --disk takes a number from 0 to %d\n",
                   d88::D88File::kMaxDisks - 1);
      return false;
    }
  }
  if (options->images == 0) {
    std::fputs(kUsage, stderr);
    return false;
  }
  if (options->map != nullptr && options->images != 1) {
    return UsageError("--map takes one image");
  }
  if (options->map != nullptr && IsStandardOutput(options->map) &&
      options->style != Style::kSummary) {
    return UsageError(
        "--map - puts the map on standard output, where the report goes too: "
        "give -s, whose line then goes to standard error");
  }
  return true;
}

// An image that could not be read, as a JSON image object with its
// `error`.
void JsonError(const char* path, const char* error, JsonWriter* json) {
  json->Begin('{');
  json->Field("path", path);
  json->Key("verdict");
  json->Begin('[');
  json->End(']');
  json->Field("error", error);
  json->End('}');
}

// Says why `reader` could not open `path`, on standard error and, for
// JSON, as the image's error.
void ReportOpenFailure(const d88::D88File& reader, const char* path,
                       JsonWriter* json) {
  PrintOpenFailure(stderr, "d88info", reader, path);
  if (json == nullptr) return;
  char error[160];
  OpenFailureWords(reader, error, sizeof error);
  JsonError(path, error, json);
}

// Where the reports go, and the state of the whole run.
struct Run {
  const Options* options;
  TextOut* out;
  JsonWriter* json;
  int status;
  bool first;
};

// Opens image `path` into `reader`; "-" is standard input, read as it is
// when it is a file, else spooled into `spool`. False, said, when it cannot
// be.
bool OpenImage(Run* run, const char* path, d88::D88File* reader,
               OutputFile* spool) {
  JsonWriter* json = run->options->style == Style::kJson ? run->json : nullptr;
  const char* name = path;
  if (std::strcmp(path, "-") == 0 && StandardInputIsAFile()) {
    name = "/dev/stdin";
  } else if (std::strcmp(path, "-") == 0) {
    const int error = SpoolStandardInput(spool, kMaxSpool);
    if (error != 0) {
      run->out->Flush();
      char words[160];
      std::snprintf(words, sizeof words, "cannot read standard input: %s",
                    error == OutputFile::kTooLarge ? "more than 2 GiB"
                                                   : std::strerror(error));
      std::fprintf(stderr, "d88info: %s\n", words);
      if (json != nullptr) JsonError(path, words, json);
      run->status |= 1;
      return false;
    }
    name = spool->pending_name();
  }
  if (reader->Open(name)) return true;
  run->out->Flush();
  ReportOpenFailure(*reader, path, json);
  run->status |= 1;
  return false;
}

// Reports image `path`, open in `reader`, and draws its map if asked.
void Inspect(Run* run, const char* path, d88::D88File* reader) {
  static Inspection in;
  const Options& options = *run->options;
  TextOut* out = run->out;
  const bool text =
      options.style == Style::kFull || options.style == Style::kProblems;
  if (text && options.images > 1) {
    if (!run->first) out->Put('\n');
    out->Put("image ");
    out->Path(path, true);
    out->Put('\n');
  }
  run->first = false;
  if (text) {
    WriteTextReport(reader, options.style == Style::kProblems, out, &in);
  } else if (options.style == Style::kJson) {
    WriteJsonReport(reader, path, run->json, &in);
  } else {
    InspectAll(reader, &in);
    WriteSummaryLine(path, in.image, out);
  }
  out->Flush();
  run->status |= ExitBits(in.image);
  if (in.image.read_failure != 0) {
    // Said last, where it is seen: what came after it is not to be trusted.
    std::fputs("d88info: cannot read ", stderr);
    PrintPath(stderr, path, false);
    std::fprintf(stderr, ": %s\n", std::strerror(in.image.read_failure));
    return;
  }
  if (!in.image.d88) {
    std::fputs("d88info: ", stderr);
    PrintPath(stderr, path, false);
    std::fprintf(stderr, " is not a D88 image: %s\n", in.image.reason);
    run->status |= 1;
    return;
  }
  if (options.map != nullptr &&
      !WriteMap(reader, path, static_cast<int>(options.disk_number),
                options.map, in.image, stderr)) {
    run->status |= 1;
  }
}

}  // namespace

int InfoCommand(int argc, char** argv) {
  Options options;
  int status = 0;
  const auto take = [&options](const ParsedOption& item) {
    return Take(item, &options);
  };
  if (!ReadCommandLine(kCommand, argc, argv, take, &status) ||
      !CheckOptions(&options)) {
    return status;
  }
  // With the map on standard output, the summary line goes to standard
  // error.
  const bool map_out = options.map != nullptr && IsStandardOutput(options.map);
  TextOut out(map_out ? stderr : stdout);
  JsonWriter json(&out);
  Run run = {&options, &out, &json, 0, true};
  if (options.style == Style::kJson) {
    json.Begin('{');
    json.Field("format", "d88info/1");
    json.Key("images");
    json.Begin('[');
  }
  OptionParser parser(argc, argv, kOptions, kOptionCount);
  ParsedOption item;
  while (parser.Next(&item) && !out.Failed()) {
    if (item.kind != ParsedOption::kOperand) continue;
    d88::D88File reader;
    OutputFile spool;
    if (OpenImage(&run, item.text, &reader, &spool)) {
      Inspect(&run, item.text, &reader);
    }
  }
  if (options.style == Style::kJson) {
    json.End(']');
    json.End('}');
    out.Put('\n');
  }
  if (!out.Flush() || std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("d88info: cannot write standard output\n", stderr);
    // The verdicts found so far still count.
    return run.status | 1;
  }
  return run.status;
}
