// d88conv's command line: which conversion, its files and its options.

#include <cstdio>

#include "conv/conv.h"
#include "d88/d88_file.h"
#include "d88/version.h"
#include "platform/options.h"

namespace conv {
namespace {

constexpr char kUsage[] =
    "Usage: d88conv --from-raw LAYOUT [--name NAME] rawfile newfile\n"
    "       d88conv --to-raw [--disk N] [--fill BYTE] d88file rawfile\n"
    "       d88conv --disk N d88file newfile\n"
    "       d88conv --join d88file... newfile\n";
constexpr char kHelp[] =
    "Makes a D88 image of a raw sector dump and a raw dump of a D88 disk,\n"
    "takes one disk out of an image, or joins images into one. The file\n"
    "written may be - (standard output), a FIFO or a device; a regular file\n"
    "is replaced only once it is complete, and never an input.\n"
    "\n"
    "  --from-raw LAYOUT  make a one-disk image of a raw dump; LAYOUT is\n"
    "                     CxHxSxBYTES (such as 40x2x9x512), 2D, 2DD, 2HC,\n"
    "                     2HD, 1.44M, or auto for the one the size gives\n"
    "  --name NAME        the new disk's name, at most 16 bytes\n"
    "  --to-raw           write a disk's sectors in cylinder, side and sector\n"
    "                     order, each at its nominal size\n"
    "  --fill BYTE        pad missing and short sectors with BYTE (decimal\n"
    "                     or 0xNN) instead of refusing the disk\n"
    "  --disk N           the disk to convert or take out, from 0\n"
    "  --join             write the disks of all the images, in order\n"
    "  -h, --help         show this help\n"
    "  --version          show the version\n"
    "\n"
    "Exit status: 0 written; 1 wrong usage, a file that cannot be read or is\n"
    "not a D88 image, a layout refused, or a file that cannot be written.\n";

enum Id { kFromRaw = 1, kToRaw, kJoin, kDisk, kFill, kName, kHelpId, kVersion };
constexpr Option kOptions[] = {
    {"from-raw", 0, true, kFromRaw}, {"to-raw", 0, false, kToRaw},
    {"join", 0, false, kJoin},       {"disk", 0, true, kDisk},
    {"fill", 0, true, kFill},        {"name", 0, true, kName},
    {"help", 'h', false, kHelpId},   {"version", 0, false, kVersion},
};
constexpr int kOptionCount = sizeof kOptions / sizeof kOptions[0];

// Each image of a join holds a disk at least; one more for the new file.
constexpr int kMaxOperands = d88::D88File::kMaxDisks + 1;

struct Options {
  int mode = 0;  // kFromRaw, kToRaw, kJoin; 0: --disk alone
  const char* layout = nullptr;
  const char* disk = nullptr;
  const char* fill = nullptr;
  const char* name = nullptr;
  const char* operands[kMaxOperands] = {};
  int operand_count = 0;
};

constexpr CommandLine kCommand = {
    "d88conv", kUsage,       kHelp,   D88_VERSION_STRING,
    kOptions,  kOptionCount, kHelpId, kVersion};

bool UsageError(const char* what) { return UsageError(kCommand, what); }

// Takes one option into `options`; false on a usage error.
bool TakeOption(const ParsedOption& item, Options* options) {
  switch (item.id) {
    case kFromRaw:
    case kToRaw:
    case kJoin:
      if (options->mode != 0 && options->mode != item.id) {
        return UsageError("choose one of --from-raw, --to-raw and --join");
      }
      options->mode = item.id;
      if (item.id == kFromRaw) options->layout = item.value;
      return true;
    case kDisk:
      options->disk = item.value;
      return true;
    case kFill:
      options->fill = item.value;
      return true;
    default:
      options->name = item.value;
      return true;
  }
}

// Takes one item of the command line into `options`; false on a usage
// error.
bool Take(const ParsedOption& item, Options* options) {
  if (item.kind == ParsedOption::kOperand) {
    if (options->operand_count < kMaxOperands) {
      options->operands[options->operand_count] = item.text;
    }
    ++options->operand_count;
    return true;
  }
  if (item.kind == ParsedOption::kMissingValue) {
    PrintOptionError(stderr, "d88conv", item);
    return UsageError(kCommand, nullptr);
  }
  return TakeOption(item, options);
}

// Reads BYTE: decimal, or 0x and one or two hexadecimal digits.
bool ParseByte(const char* text, long* value) {
  if (text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) {
    return ParseNumber(text, 0, 255, value);
  }
  long byte = 0;
  int digits = 0;
  for (const char* c = text + 2; *c != '\0'; ++c) {
    // Past two digits it is no byte, and more would overflow `byte`.
    if (++digits > 2) return false;
    const char lower = static_cast<char>(*c | 0x20);
    const int digit = *c >= '0' && *c <= '9'         ? *c - '0'
                      : lower >= 'a' && lower <= 'f' ? lower - 'a' + 10
                                                     : -1;
    if (digit < 0) return false;
    byte = byte * 16 + digit;
  }
  if (digits < 1) return false;
  *value = byte;
  return true;
}

// The combinations of options that make no sense, and the numbers; false,
// said, if wrong.
bool CheckOptions(const Options& options, long* disk, long* fill) {
  const int mode = options.mode;
  if (options.name != nullptr && mode != kFromRaw) {
    return UsageError("--name goes with --from-raw");
  }
  if (options.fill != nullptr && mode != kToRaw) {
    return UsageError("--fill goes with --to-raw");
  }
  if (options.disk != nullptr && mode != kToRaw && mode != 0) {
    return UsageError("--disk goes with --to-raw, or alone");
  }
  const int count = options.operand_count;
  if ((mode == 0 && options.disk == nullptr) ||
      (mode == kJoin ? count < 2 : count != 2)) {
    std::fputs(kUsage, stderr);
    return false;
  }
  if (count > kMaxOperands) {
    std::fprintf(stderr, "d88conv: a D88 file holds at most %d disks\n",
                 d88::D88File::kMaxDisks);
    return false;
  }
  if (options.disk != nullptr &&
      !ParseNumber(options.disk, 0, d88::D88File::kMaxDisks - 1, disk)) {
    std::fprintf(stderr, "d88conv: --disk takes a number from 0 to %d\n",
                 d88::D88File::kMaxDisks - 1);
    return false;
  }
  if (options.fill != nullptr && !ParseByte(options.fill, fill)) {
    std::fputs("d88conv: --fill takes a byte: 0 to 255, or 0x00 to 0xFF\n",
               stderr);
    return false;
  }
  return true;
}

}  // namespace

int ConvCommand(int argc, char** argv) {
  Options options;
  int status = 0;
  long disk = 0;
  long fill = kNoFill;
  const auto take = [&options](const ParsedOption& item) {
    return Take(item, &options);
  };
  if (!ReadCommandLine(kCommand, argc, argv, take, &status)) return status;
  if (!CheckOptions(options, &disk, &fill)) return 1;
  const char* const* files = options.operands;
  const int last = options.operand_count - 1;
  switch (options.mode) {
    case kFromRaw:
      status =
          FromRaw(options.layout, options.name != nullptr ? options.name : "",
                  files[0], files[1], stdout, stderr);
      break;
    case kToRaw:
      status = ToRaw(files[0], static_cast<int>(disk), static_cast<int>(fill),
                     files[1], stdout, stderr);
      break;
    case kJoin:
      status = JoinImages(files, last, files[last], stdout, stderr);
      break;
    default:
      status =
          TakeDisk(files[0], static_cast<int>(disk), files[1], stdout, stderr);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("d88conv: cannot write standard output\n", stderr);
    return 1;
  }
  return status;
}

}  // namespace conv
