#include "platform/options.h"

#include <cstring>

#include "platform/text_out.h"

OptionParser::OptionParser(int argc, const char* const* argv,
                           const Option* options, int option_count)
    : argc_(argc),
      argv_(argv),
      options_(options),
      option_count_(option_count) {}

bool OptionParser::Next(ParsedOption* item) {
  *item = ParsedOption();
  if (cluster_ != nullptr) return ShortOption(item);
  if (index_ >= argc_) return false;
  const char* arg = argv_[index_++];
  if (!operands_only_ && std::strcmp(arg, "--") == 0) {
    operands_only_ = true;
    if (index_ >= argc_) return false;
    arg = argv_[index_++];
  } else if (!operands_only_ && arg[0] == '-' && arg[1] != '\0') {
    if (arg[1] == '-') return LongOption(arg, item);
    cluster_ = arg + 1;
    return ShortOption(item);
  }
  item->kind = ParsedOption::kOperand;
  item->text = arg;
  return true;
}

bool OptionParser::ShortOption(ParsedOption* item) {
  const char name = *cluster_++;
  if (*cluster_ == '\0') cluster_ = nullptr;
  short_text_[1] = name;
  item->text = short_text_;
  const Option* option = FindShort(name);
  if (option == nullptr) {
    // The whole argument is the unknown option: a letter alone would not
    // say which argument held it, and a byte of a UTF-8 character is no
    // letter to show.
    item->kind = ParsedOption::kUnknown;
    item->text = argv_[index_ - 1];
    cluster_ = nullptr;
    return true;
  }
  item->kind = ParsedOption::kOption;
  item->id = option->id;
  if (!option->takes_value) return true;
  // The rest of the cluster is the value: -oout.d88.
  if (cluster_ != nullptr) {
    item->value = cluster_;
    cluster_ = nullptr;
    return true;
  }
  return TakeValue(item);
}

bool OptionParser::LongOption(const char* arg, ParsedOption* item) {
  const char* name = arg + 2;
  const char* equals = std::strchr(name, '=');
  const size_t length = equals != nullptr ? static_cast<size_t>(equals - name)
                                          : std::strlen(name);
  const Option* option = FindLong(name, length);
  item->text = arg;
  if (option == nullptr || (equals != nullptr && !option->takes_value)) {
    item->kind = ParsedOption::kUnknown;
    return true;
  }
  item->kind = ParsedOption::kOption;
  item->id = option->id;
  if (!option->takes_value) return true;
  if (equals != nullptr) {
    item->value = equals + 1;
    return true;
  }
  return TakeValue(item);
}

bool OptionParser::TakeValue(ParsedOption* item) {
  // Whatever follows is the value, even "--" or "-x", as getopt_long has
  // it: a value may well start with a dash.
  if (index_ < argc_) {
    item->value = argv_[index_++];
  } else {
    item->kind = ParsedOption::kMissingValue;
  }
  return true;
}

const Option* OptionParser::FindShort(char name) const {
  for (int i = 0; i < option_count_; ++i) {
    if (options_[i].short_name != '\0' && options_[i].short_name == name) {
      return &options_[i];
    }
  }
  return nullptr;
}

const Option* OptionParser::FindLong(const char* name, size_t length) const {
  for (int i = 0; i < option_count_; ++i) {
    const char* long_name = options_[i].long_name;
    if (long_name != nullptr && std::strncmp(long_name, name, length) == 0 &&
        long_name[length] == '\0') {
      return &options_[i];
    }
  }
  return nullptr;
}

void PrintOptionError(std::FILE* err, const char* command,
                      const ParsedOption& item) {
  if (item.kind != ParsedOption::kUnknown &&
      item.kind != ParsedOption::kMissingValue) {
    return;
  }
  std::fputs(command, err);
  std::fputs(item.kind == ParsedOption::kUnknown ? ": unknown option " : ": ",
             err);
  PrintPath(err, item.text, false);
  if (item.kind == ParsedOption::kMissingValue) {
    std::fputs(" needs a value", err);
  }
  std::fputc('\n', err);
}

bool ParseNumber(const char* text, long low, long high, long* value) {
  if (*text == '\0') return false;
  long number = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
    const int digit = *c - '0';
    // Stops before number * 10 + digit could pass `high`, so it never
    // overflows.
    if (digit > high || number > (high - digit) / 10) return false;
    number = number * 10 + digit;
  }
  if (number < low) return false;
  *value = number;
  return true;
}

bool UsageError(const CommandLine& command, const char* what) {
  if (what != nullptr) std::fprintf(stderr, "%s: %s\n", command.name, what);
  std::fputs(command.usage, stderr);
  return false;
}

int PrintAbout(const CommandLine& command, bool help) {
  if (help) {
    std::fputs(command.usage, stdout);
    std::fputs(command.help, stdout);
  } else {
    std::printf("%s %s\n", command.name, command.version);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
