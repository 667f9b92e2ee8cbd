#include "platform/options.h"

#include <climits>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace d88test {
namespace {

enum { kSummary = 1, kHelp, kMap, kDisk, kOutput, kJson };
constexpr Option kOptions[] = {
    {"summary", 's', false, kSummary},
    {"help", 'h', false, kHelp},
    {"map", 0, true, kMap},
    {"disk", 0, true, kDisk},
    {nullptr, 'o', true, kOutput},
    {"json", 0, false, kJson},
};
constexpr const char* kNames[] = {"", "s", "h", "map", "disk", "o", "json"};

// Every item the parser yields for `args` (after the command's name), one
// word each: "s", "map=a.svg", "operand x", "unknown -x", "missing o -o".
std::vector<std::string> Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "command");
  OptionParser parser(static_cast<int>(args.size()), args.data(), kOptions,
                      static_cast<int>(std::size(kOptions)));
  std::vector<std::string> items;
  ParsedOption item;
  while (parser.Next(&item)) {
    switch (item.kind) {
      case ParsedOption::kOption:
        items.push_back(kNames[item.id]);
        if (item.value != nullptr)
          items.back() += "=" + std::string(item.value);
        break;
      case ParsedOption::kOperand:
        items.push_back("operand " + std::string(item.text));
        break;
      case ParsedOption::kUnknown:
        items.push_back("unknown " + std::string(item.text));
        break;
      case ParsedOption::kMissingValue:
        items.push_back("missing " + std::string(kNames[item.id]) + " " +
                        item.text);
        break;
    }
  }
  return items;
}

TEST(OptionParserTest, YieldsOptionsAndOperandsInOrder) {
  const struct {
    std::vector<const char*> args;
    std::vector<std::string> items;
  } kCases[] = {
      {{}, {}},
      {{"x.d88", "-s"}, {"operand x.d88", "s"}},
      {{"-sh", "--help", "-s"}, {"s", "h", "h", "s"}},
      {{"--summary", "--json", "y"}, {"s", "json", "operand y"}},
      {{"--map=a.svg", "x"}, {"map=a.svg", "operand x"}},
      {{"--map", "a.svg", "x"}, {"map=a.svg", "operand x"}},
      {{"--map=a=b", "--map="}, {"map=a=b", "map="}},
      // A value may start with a dash, or be "--".
      {{"--disk", "-1", "--map", "--", "-s"}, {"disk=-1", "map=--", "s"}},
      {{"-oout.d88", "-o", "out", "-o-s"}, {"o=out.d88", "o=out", "o=-s"}},
      {{"-so", "out", "x", "-soy"}, {"s", "o=out", "operand x", "s", "o=y"}},
      {{"--map"}, {"missing map --map"}},
      {{"-so"}, {"s", "missing o -o"}},
      {{"--", "-s", "--", "--map"},
       {"operand -s", "operand --", "operand --map"}},
      {{"-", "-s", "--"}, {"operand -", "s"}},
      {{"--json=1", "--summary="}, {"unknown --json=1", "unknown --summary="}},
      {{"-x", "--frobnicate", "---", "--=x"},
       {"unknown -x", "unknown --frobnicate", "unknown ---", "unknown --=x"}},
      // No abbreviations, no prefixes of longer words.
      {{"--sum", "--summaryx", "--o"},
       {"unknown --sum", "unknown --summaryx", "unknown --o"}},
      // An unknown letter is shown with its whole argument, and ends it.
      {{"-sx", "-xs"}, {"s", "unknown -sx", "unknown -xs"}},
      // A UTF-8 character is not split into unknown bytes.
      {{"-s\xC3\xA9h"}, {"s", "unknown -s\xC3\xA9h"}},
  };
  for (const auto& test : kCases) {
    std::string args;
    for (const char* arg : test.args) args += std::string(" ") + arg;
    EXPECT_EQ(Parse(test.args), test.items) << "arguments:" << args;
  }
}

TEST(OptionParserTest, ErrorMessages) {
  const struct {
    const char* arg;
    const char* message;
  } kCases[] = {
      {"-x", "d88info: unknown option -x\n"},
      {"--map", "d88info: --map needs a value\n"},
      {"--\"a\nb", "d88info: unknown option --\\x22a\\x0Ab\n"},
      {"-s", ""},
      {"x", ""},
  };
  for (const auto& test : kCases) {
    const char* argv[] = {"d88info", test.arg};
    OptionParser parser(2, argv, kOptions,
                        static_cast<int>(std::size(kOptions)));
    ParsedOption item;
    ASSERT_TRUE(parser.Next(&item));
    EXPECT_EQ(Printed([&item](std::FILE* err) {
                PrintOptionError(err, "d88info", item);
              }),
              test.message)
        << test.arg;
  }
}

TEST(ParseNumberTest, TakesPlainDecimalsInBounds) {
  const std::string max = std::to_string(LONG_MAX);
  const struct {
    std::string text;
    long low, high;
    bool ok;
    long value;
  } kCases[] = {
      {"0", 0, 15, true, 0},
      {"15", 0, 15, true, 15},
      {"007", 0, 15, true, 7},
      {"16", 0, 15, false, 0},
      {"3", 0, 3, true, 3},
      {"7", 0, 3, false, 0},  // a bound below 9 holds for one digit too
      {"9", 0, 0, false, 0},
      {"0", 1, 15, false, 0},
      {"", 0, 15, false, 0},
      {"+1", 0, 15, false, 0},
      {"-0", 0, 15, false, 0},
      {" 1", 0, 15, false, 0},
      {"1 ", 0, 15, false, 0},
      {"1x", 0, 15, false, 0},
      {"0x1", 0, 15, false, 0},
      {max, 0, LONG_MAX, true, LONG_MAX},
      {max + "0", 0, LONG_MAX, false, 0},
      {"99999999999999999999999999", 0, LONG_MAX, false, 0},
  };
  for (const auto& test : kCases) {
    long value = -1;
    EXPECT_EQ(ParseNumber(test.text.c_str(), test.low, test.high, &value),
              test.ok)
        << test.text;
    EXPECT_EQ(value, test.ok ? test.value : -1) << test.text;
  }
}

}  // namespace
}  // namespace d88test
