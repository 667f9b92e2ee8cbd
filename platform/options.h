// The commands' options, read the usual way: --name=value or --name value,
// -s and -sh, -o FILE or -oFILE; "--" ends the options and a lone "-" is an
// operand (standard input or output). Options may follow operands, so
// `d88info x.d88 -s` works; argv is read in order and never reordered.
// Long names match only in full: an abbreviation that works today would
// mean something else once a longer option starts the same way.

#ifndef PLATFORM_OPTIONS_H_
#define PLATFORM_OPTIONS_H_

#include <cstddef>
#include <cstdio>

struct Option {
  const char* long_name;  // "summary" for --summary, or null
  char short_name;        // 's' for -s, or 0
  bool takes_value;
  int id;  // the caller's, > 0
};

struct ParsedOption {
  enum Kind {
    kOption,        // `id`, and `value` if it takes one
    kOperand,       // `text`
    kUnknown,       // `text`: no such option, or a value it does not take
    kMissingValue,  // `id` and `text`: the last argument wants a value
  };
  Kind kind = kOperand;
  int id = 0;
  const char* value = nullptr;
  // The argument as written, for messages: "-s" for s in -sh, the whole
  // "--map=a.svg", the operand itself. Valid until the next call of Next.
  const char* text = nullptr;
};

class OptionParser {
 public:
  // Reads argv[1] to argv[argc - 1] against `options`; keeps the pointers.
  OptionParser(int argc, const char* const* argv, const Option* options,
               int option_count);
  OptionParser(const OptionParser&) = delete;
  OptionParser& operator=(const OptionParser&) = delete;

  // The next option, operand or error, in the order of argv; false once
  // every argument has been read. An error does not stop the parser.
  bool Next(ParsedOption* item);

 private:
  bool ShortOption(ParsedOption* item);
  bool LongOption(const char* arg, ParsedOption* item);
  // The next argument as the value of the option in `item`.
  bool TakeValue(ParsedOption* item);
  const Option* FindShort(char name) const;
  const Option* FindLong(const char* name, size_t length) const;

  const int argc_;
  const char* const* const argv_;
  const Option* const options_;
  const int option_count_;
  int index_ = 1;                           // the next argument to read
  const char* cluster_ = nullptr;           // the next letter of -abc, or null
  bool operands_only_ = false;              // after "--"
  char short_text_[3] = {'-', '\0', '\0'};  // "-x", the text of a letter
};

// What a command says of itself, and which of its options are --help and
// --version.
struct CommandLine {
  const char* name;     // "d88conv"
  const char* usage;    // the usage lines
  const char* help;     // what --help says after them
  const char* version;  // "1.0.0"
  const Option* options;
  int option_count;
  int help_id;
  int version_id;
};

// Says "NAME: WHAT" (nothing when `what` is null) and the usage lines on
// standard error. Returns false.
bool UsageError(const CommandLine& command, const char* what);

// --help or --version on standard output; the exit status.
int PrintAbout(const CommandLine& command, bool help);

// "command: unknown option -x" or "command: --map needs a value", with the
// option escaped as arguments are in every message; nothing for an option
// or an operand.
void PrintOptionError(std::FILE* err, const char* command,
                      const ParsedOption& item);

// Reads a decimal number from `low` to `high` (both non-negative): digits
// only, no sign, no spaces, nothing after them. `*value` is set only on
// success.
bool ParseNumber(const char* text, long low, long high, long* value);

// Reads argv as every command but volspar reads it. `take` gets each
// operand, each option but --help and --version, and each option whose
// value is missing, and returns false once it has said what is wrong; an
// unknown option is said here. False when the command should end at once,
// with `*status`: 0 after --help or --version, 1 after a usage error.
template <typename Take>
bool ReadCommandLine(const CommandLine& command, int argc, char** argv,
                     Take take, int* status) {
  *status = 1;
  OptionParser parser(argc, argv, command.options, command.option_count);
  ParsedOption item;
  int asked = 0;  // --help wins over --version
  while (parser.Next(&item)) {
    if (item.kind == ParsedOption::kUnknown) {
      PrintOptionError(stderr, command.name, item);
      return UsageError(command, nullptr);
    }
    const bool about =
        item.kind == ParsedOption::kOption &&
        (item.id == command.help_id || item.id == command.version_id);
    if (about && asked != command.help_id) asked = item.id;
    if (!about && !take(item)) return false;
  }
  if (asked == 0) return true;
  *status = PrintAbout(command, asked == command.help_id);
  return false;
}

#endif  // PLATFORM_OPTIONS_H_
