// d88info: shows what D88 images hold, disk by disk and track by track, and
// whether volspar can extract complete and trustworthy files from them.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "d88/d88_file.h"
#include "inspect/disk_map.h"
#include "inspect/report.h"
#include "platform/command_main.h"

namespace {

constexpr char kUsage[] =
    "Usage: d88info [-s] [--map FILE.svg [--disk N]] d88file...\n";
constexpr char kHelp[] =
    "Shows the disks, tracks and sector IDs of D88 images, the records that\n"
    "stand out, and whether volspar would extract complete files.\n"
    "\n"
    "  -s, --summary      one line per image: path, disks, verdict\n"
    "  --map FILE.svg     also draw one image's disk as an SVG picture\n"
    "  --disk N           the disk to draw (default 0)\n"
    "  -h, --help         show this help\n"
    "\n"
    "Exit status: 0 all clean, 2 some file would be incomplete or suspect,\n"
    "1 wrong usage or an image that cannot be opened.\n";

const char* VerdictWord(Verdict verdict) {
  switch (verdict) {
    case Verdict::kClean:
      return "clean";
    case Verdict::kSuspect:
      return "suspect";
    case Verdict::kIncomplete:
      return "incomplete";
  }
  return "";
}

struct Options {
  bool summary = false;
  const char* map = nullptr;
  int disk = 0;
  int first_image = 0;  // index in argv
};

// Parses the options; false when the command should end at once, with
// `status`.
bool ParseOptions(int argc, char** argv, Options* options, int* status) {
  *status = 1;
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--") == 0) {
      ++i;
      break;
    }
    if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
      std::fputs(kUsage, stdout);
      std::fputs(kHelp, stdout);
      *status = std::fflush(stdout) == 0 ? 0 : 1;
      return false;
    }
    if (std::strcmp(arg, "-s") == 0 || std::strcmp(arg, "--summary") == 0) {
      options->summary = true;
    } else if (std::strcmp(arg, "--map") == 0 && i + 1 < argc) {
      options->map = argv[++i];
    } else if (std::strcmp(arg, "--disk") == 0 && i + 1 < argc) {
      char* end = nullptr;
      const long disk = std::strtol(argv[++i], &end, 10);
      if (*argv[i] == '\0' || *end != '\0' || disk < 0 ||
          disk >= d88::D88File::kMaxDisks) {
        std::fprintf(stderr, "d88info: --disk takes a number from 0 to %d\n",
                     d88::D88File::kMaxDisks - 1);
        return false;
      }
      options->disk = static_cast<int>(disk);
    } else {
      std::fprintf(stderr, "d88info: unknown option %s\n", arg);
      std::fputs(kUsage, stderr);
      return false;
    }
  }
  options->first_image = i;
  const int images = argc - i;
  if (images == 0 || (options->map != nullptr && images != 1)) {
    if (images > 1) std::fputs("d88info: --map takes one image\n", stderr);
    std::fputs(kUsage, stderr);
    return false;
  }
  return true;
}

}  // namespace

int Run(int argc, char** argv) {
  Options options;
  int status = 0;
  if (!ParseOptions(argc, argv, &options, &status)) return status;
  d88::D88File reader;
  const bool several = argc - options.first_image > 1;
  bool open_failed = false;
  bool unclean = false;
  bool map_failed = false;
  for (int i = options.first_image; i < argc && !std::ferror(stdout); ++i) {
    const char* path = argv[i];
    if (!reader.Open(path)) {
      std::fputs("d88info: cannot open ", stderr);
      PrintPath(stderr, path, false);
      std::fputs(" as a D88 image\n", stderr);
      open_failed = true;
      continue;
    }
    ImageVerdict verdict;
    if (options.summary) {
      verdict = CheckImage(&reader);
      PrintPath(stdout, path, true);
      std::printf(": %d disk%s, %s\n", verdict.disks,
                  verdict.disks == 1 ? "" : "s", VerdictWord(verdict.verdict));
    } else {
      if (several) {
        if (i > options.first_image) std::putchar('\n');
        std::fputs("image ", stdout);
        PrintPath(stdout, path, true);
        std::putchar('\n');
      }
      verdict = WriteReport(&reader, stdout);
    }
    unclean = unclean || verdict.verdict != Verdict::kClean;
    if (options.map != nullptr &&
        !WriteMap(&reader, path, options.disk, options.map, stderr)) {
      map_failed = true;
    }
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("d88info: cannot write standard output\n", stderr);
    return 1;
  }
  if (open_failed || map_failed) return 1;
  return unclean ? 2 : 0;
}
