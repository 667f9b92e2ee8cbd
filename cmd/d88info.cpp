// d88info: says whether files are D88 images that can be trusted: what
// their disks and tracks hold, what is damaged or stands out, and whether
// volspar can extract complete and trustworthy files from them.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "d88/d88_file.h"
#include "d88/version.h"
#include "inspect/disk_map.h"
#include "inspect/report.h"
#include "platform/command_main.h"
#include "platform/text_out.h"

namespace {

constexpr char kUsage[] =
    "Usage: d88info [-s | --problems | --json] [--map FILE.svg [--disk N]] "
    "d88file...\n";
constexpr char kHelp[] =
    "Says whether D88 images can be trusted: their disks, tracks and sector\n"
    "IDs, what is damaged or stands out, and whether volspar would extract\n"
    "complete files.\n"
    "\n"
    "  -s, --summary      one line per image: path, disks, verdict\n"
    "  --problems         only what stands out, and the verdict\n"
    "  --json             everything as one JSON document\n"
    "  --map FILE.svg     also draw one image's disk as an SVG picture\n"
    "  --disk N           the disk to draw (default 0)\n"
    "  -h, --help         show this help\n"
    "  --version          show the version\n"
    "\n"
    "Exit status: 0 all clean; 2 an image is damaged, or a file would be\n"
    "incomplete or suspect; 1 wrong usage, a file that cannot be opened or\n"
    "is not a D88 image, a map that cannot be written.\n";

struct Options {
  ReportStyle style = ReportStyle::kFull;
  bool summary = false;
  int styles = 0;  // of -s, --problems and --json given
  const char* map = nullptr;
  const char* disk = nullptr;
  int disk_number = 0;
  int first_image = 0;  // index in argv
};

bool UsageError(const char* what, const char* arg) {
  std::fputs("d88info: ", stderr);
  std::fputs(what, stderr);
  if (arg != nullptr) PrintPath(stderr, arg, false);
  std::fputc('\n', stderr);
  std::fputs(kUsage, stderr);
  return false;
}

// The value of option `name` at argv[*i]: after '=' in the same word, or
// the next word; null when there is none.
const char* OptionValue(int argc, char** argv, int* i, const char* name) {
  const char* arg = argv[*i];
  const size_t length = std::strlen(name);
  if (arg[length] == '=') return arg + length + 1;
  return *i + 1 < argc ? argv[++*i] : nullptr;
}

bool IsOption(const char* arg, const char* name) {
  const size_t length = std::strlen(name);
  return std::strncmp(arg, name, length) == 0 &&
         (arg[length] == '\0' || arg[length] == '=');
}

// Parses the options; false when the command should end at once, with
// `status`.
bool ParseOptions(int argc, char** argv, Options* options, int* status) {
  *status = 1;
  bool help = false;
  bool version = false;
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--") == 0) {
      ++i;
      break;
    }
    if (std::strcmp(arg, "--help") == 0) {
      help = true;
    } else if (std::strcmp(arg, "--version") == 0) {
      version = true;
    } else if (std::strcmp(arg, "--summary") == 0) {
      options->summary = true;
      ++options->styles;
    } else if (std::strcmp(arg, "--problems") == 0) {
      options->style = ReportStyle::kProblems;
      ++options->styles;
    } else if (std::strcmp(arg, "--json") == 0) {
      options->style = ReportStyle::kJson;
      ++options->styles;
    } else if (IsOption(arg, "--map")) {
      options->map = OptionValue(argc, argv, &i, "--map");
      if (options->map == nullptr || options->map[0] == '\0') {
        return UsageError("--map needs a file name", nullptr);
      }
    } else if (IsOption(arg, "--disk")) {
      options->disk = OptionValue(argc, argv, &i, "--disk");
      if (options->disk == nullptr) {
        return UsageError("--disk needs a number", nullptr);
      }
    } else if (arg[1] != '-') {
      // Short options, alone or together: -s, -h, -sh.
      for (const char* c = arg + 1; *c != '\0'; ++c) {
        if (*c == 'h') {
          help = true;
        } else if (*c == 's') {
          options->summary = true;
          ++options->styles;
        } else {
          return UsageError("unknown option ", arg);
        }
      }
    } else {
      return UsageError("unknown option ", arg);
    }
  }
  if (help || version) {
    if (help) {
      std::fputs(kUsage, stdout);
      std::fputs(kHelp, stdout);
    } else {
      std::fputs("d88info " D88_VERSION_STRING "\n", stdout);
    }
    *status = std::fflush(stdout) == 0 ? 0 : 1;
    return false;
  }
  if (options->summary) options->style = ReportStyle::kNone;
  if (options->styles > 1) {
    return UsageError("choose one of -s, --problems and --json", nullptr);
  }
  if (options->disk != nullptr) {
    char* end = nullptr;
    const long disk = std::strtol(options->disk, &end, 10);
    if (options->map == nullptr) {
      return UsageError("--disk goes with --map", nullptr);
    }
    if (*options->disk == '\0' || *end != '\0' || disk < 0 ||
        disk >= d88::D88File::kMaxDisks) {
      std::fprintf(stderr, "d88info: --disk takes a number from 0 to %d\n",
                   d88::D88File::kMaxDisks - 1);
      return false;
    }
    options->disk_number = static_cast<int>(disk);
  }
  options->first_image = i;
  const int images = argc - i;
  if (images == 0) {
    std::fputs(kUsage, stderr);
    return false;
  }
  if (options->map != nullptr && images != 1) {
    return UsageError("--map takes one image", nullptr);
  }
  if (options->map != nullptr && std::strcmp(options->map, "-") == 0 &&
      !options->summary) {
    return UsageError(
        "--map - puts the map on standard output, where the report goes too: "
        "give -s, whose line then goes to standard error",
        nullptr);
  }
  return true;
}

// Says why `reader` could not open `path`, on standard error and, for
// JSON, as the image's error.
void ReportOpenFailure(const d88::D88File& reader, const char* path,
                       JsonWriter* json) {
  PrintOpenFailure(stderr, "d88info", reader, path);
  if (json == nullptr) return;
  char error[160];
  const char* cause = std::strerror(reader.GetOpenError());
  switch (reader.GetOpenFailure()) {
    case d88::OpenFailure::kDirectory:
      std::snprintf(error, sizeof error, "a directory");
      break;
    case d88::OpenFailure::kNotRegularFile:
      std::snprintf(error, sizeof error, "not a regular file");
      break;
    case d88::OpenFailure::kUnreadable:
      std::snprintf(error, sizeof error, "cannot read: %s", cause);
      break;
    default:
      std::snprintf(error, sizeof error, "cannot open: %s", cause);
  }
  json->Begin('{');
  json->Field("path", path);
  json->Key("verdict");
  json->Begin('[');
  json->End(']');
  json->Field("error", error);
  json->End('}');
}

}  // namespace

int Run(int argc, char** argv) {
  Options options;
  int status = 0;
  if (!ParseOptions(argc, argv, &options, &status)) return status;
  d88::D88File reader;
  static FileChecks files;
  const bool several = argc - options.first_image > 1;
  const bool json = options.style == ReportStyle::kJson;
  // With the map on standard output, the summary line goes to standard
  // error.
  const bool map_to_stdout =
      options.map != nullptr && std::strcmp(options.map, "-") == 0;
  TextOut out(map_to_stdout ? stderr : stdout);
  JsonWriter writer(&out);
  if (json) {
    writer.Begin('{');
    writer.Field("format", "d88info/1");
    writer.Key("images");
    writer.Begin('[');
  }
  bool failed = false;
  bool unclean = false;
  for (int i = options.first_image; i < argc && !out.Failed(); ++i) {
    const char* path = argv[i];
    if (!reader.Open(path)) {
      out.Flush();
      ReportOpenFailure(reader, path, json ? &writer : nullptr);
      failed = true;
      continue;
    }
    const bool full = options.style == ReportStyle::kFull ||
                      options.style == ReportStyle::kProblems;
    if (full && several) {
      if (i > options.first_image) out.Put('\n');
      out.Put("image ");
      out.Path(path, true);
      out.Put('\n');
    }
    const ImageVerdict verdict =
        InspectImage(&reader, path, options.style, &out, &writer, &files);
    if (options.summary) {
      out.Path(path, true);
      out.Put(": ");
      if (verdict.d88) {
        out.Int(verdict.disks);
        out.Put(verdict.disks == 1 ? " disk, " : " disks, ");
      }
      const char* words[3];
      const int count = VerdictWords(verdict, words);
      for (int w = 0; w < count; ++w) {
        if (w > 0) out.Put(", ");
        out.Put(words[w]);
      }
      out.Put('\n');
    }
    out.Flush();
    if (!verdict.d88) {
      std::fputs("d88info: ", stderr);
      PrintPath(stderr, path, false);
      std::fprintf(stderr, " is not a D88 image: %s\n", verdict.reason);
      failed = true;
      continue;
    }
    unclean = unclean || IsUnclean(verdict);
    if (options.map != nullptr) {
      failed = !WriteMap(&reader, path, options.disk_number, options.map, files,
                         stderr) ||
               failed;
    }
  }
  if (json) {
    writer.End(']');
    writer.End('}');
    out.Put('\n');
  }
  if (!out.Flush() || std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("d88info: cannot write standard output\n", stderr);
    return 1;
  }
  if (failed) return 1;
  return unclean ? 2 : 0;
}
