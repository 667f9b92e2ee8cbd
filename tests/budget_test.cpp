// Costs of the command on the demonstration image, as counts that repeat
// run after run: syscalls on the image (strace) and instructions for the
// whole process (callgrind). Skipped where the tool is missing.

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <sstream>
#include <string>

#include "gtest/gtest.h"
#include "tests/image_builder.h"
#include "tests/test_util.h"
#include "tool/extraction_table.h"

namespace d88test {
namespace {

std::string FindTool(const std::string& name) {
  for (const char* dir : {"/usr/bin", "/bin", "/usr/local/bin"}) {
    const std::string path = std::string(dir) + "/" + name;
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  return "";
}

// ReadSector calls of the seven runs on an image that holds every sector.
int ReadSectorCalls() {
  const int sector_size = 128 << kExtractionSizeCode;
  int calls = 0;
  for (const ExtractionEntry& row : kExtractionTable) {
    calls += (row.bytes_read + sector_size - 1) / sector_size;
  }
  return calls;
}

// The budgets are for the plain build: a sanitizer's runtime adds its own
// work, and LeakSanitizer cannot run under strace.
#ifdef D88_SANITIZE
#define SKIP_IF_INSTRUMENTED() GTEST_SKIP() << "instrumented build"
#else
#define SKIP_IF_INSTRUMENTED()
#endif

TEST(BudgetTest, ImageSyscallsStayWithinBudget) {
  SKIP_IF_INSTRUMENTED();
  const std::string strace = FindTool("strace");
  if (strace.empty()) GTEST_SKIP() << "strace is not installed";
  char image[PATH_MAX];
  ASSERT_NE(realpath(DEMO_IMAGE, image), nullptr);
  TempDir work;
  const std::string trace_path = work.File("trace");
  const CommandResult result = RunCommand(
      strace,
      {"-y", "-e", "trace=read,lseek", "-o", trace_path, VOLSPAR_PATH, image},
      work.path());
  const std::string trace = ReadText(trace_path);
  if (trace.empty()) GTEST_SKIP() << "strace cannot trace here: " << result.err;
  ASSERT_EQ(result.status, 0) << result.err;

  const std::string on_image = "<" + std::string(image) + ">";
  int reads = 0;
  int seeks = 0;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    if (line.find(on_image) == std::string::npos) continue;
    if (line.rfind("read(", 0) == 0) ++reads;
    if (line.rfind("lseek(", 0) == 0) ++seeks;
  }
  EXPECT_GT(reads, 0) << trace;
  EXPECT_LE(reads, 2 * ReadSectorCalls());
  EXPECT_LE(reads + seeks, 60);
}

TEST(BudgetTest, WholeProcessStaysWithinInstructionBudget) {
  SKIP_IF_INSTRUMENTED();
  const std::string valgrind = FindTool("valgrind");
  if (valgrind.empty()) GTEST_SKIP() << "valgrind is not installed";
  TempDir work;
  const CommandResult result = RunCommand(
      valgrind,
      {"--tool=callgrind", "--callgrind-out-file=" + work.File("callgrind"),
       VOLSPAR_PATH, DEMO_IMAGE},
      work.path());
  ASSERT_EQ(result.status, 0) << result.err;
  const size_t at = result.err.find("Collected : ");
  ASSERT_NE(at, std::string::npos) << result.err;
  const long instructions =
      std::strtol(result.err.c_str() + at + 12, nullptr, 10);
  EXPECT_GT(instructions, 0);
  EXPECT_LE(instructions, 250000);
}

}  // namespace
}  // namespace d88test
