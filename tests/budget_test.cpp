// Costs of the command on the demonstration image, as counts that repeat
// run after run: syscalls on the image (strace) and instructions for the
// whole process (callgrind). Skipped where the tool is missing.

#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "d88/d88_file.h"
#include "gtest/gtest.h"
#include "runs/extraction_table.h"
#include "tests/image_builder.h"
#include "tests/test_util.h"

namespace d88test {
namespace {

std::string FindTool(const std::string& name) {
  for (const char* dir : {"/usr/bin", "/bin", "/usr/local/bin"}) {
    const std::string path = std::string(dir) + "/" + name;
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  return "";
}

// The tracks that the seven runs visit one after another: a run that stays
// on a track, or the next run that starts where it ended, is one visit.
int TrackVisits() {
  const int sector_size = 128 << kExtractionSizeCode;
  int visits = 0;
  int last_track = -1;
  for (const ExtractionEntry& row : kExtractionTable) {
    int track = row.track;
    int r = row.r;
    for (int i = 0; i < (row.bytes_read + sector_size - 1) / sector_size; ++i) {
      if (track != last_track) ++visits;
      last_track = track;
      if (r == kExtractionLastSector) {
        ++track;
        r = kExtractionFirstSector;
      } else {
        ++r;
      }
    }
  }
  return visits;
}

struct ImageSyscalls {
  int reads = 0;
  int seeks = 0;
  std::set<int64_t> offsets;  // where the seeks and reads went
};

// The budgets are for the plain build: a sanitizer's runtime adds its own
// work, and LeakSanitizer cannot run under strace.
#ifdef D88_SANITIZE
#define SKIP_IF_INSTRUMENTED() GTEST_SKIP() << "instrumented build"
#else
#define SKIP_IF_INSTRUMENTED()
#endif

// Runs volspar under strace in a fresh directory and counts the syscalls
// on `image`.
ImageSyscalls TraceImageSyscalls(const std::string& strace,
                                 const std::string& image) {
  TempDir work;
  const std::string trace_path = work.File("trace");
  const CommandResult result =
      RunCommand(strace,
                 {"-y", "-e", "trace=read,pread64,lseek", "-o", trace_path,
                  VOLSPAR_PATH, image},
                 work.path());
  EXPECT_EQ(result.status, 0) << result.err;
  const std::string on_image = "<" + image + ">, ";
  ImageSyscalls counts;
  std::istringstream lines(ReadText(trace_path));
  for (std::string line; std::getline(lines, line);) {
    const size_t at = line.find(on_image);
    if (at == std::string::npos) continue;
    if (line.rfind("read(", 0) == 0) ++counts.reads;
    if (line.rfind("pread64(", 0) == 0) {
      // pread64(fd<path>, "..."..., length, offset) = delivered
      ++counts.reads;
      const size_t end = line.rfind(") = ");
      const size_t comma = line.rfind(", ", end);
      counts.offsets.insert(
          std::strtoll(line.c_str() + comma + 2, nullptr, 10));
    }
    if (line.rfind("lseek(", 0) == 0) {
      ++counts.seeks;
      counts.offsets.insert(
          std::strtoll(line.c_str() + at + on_image.size(), nullptr, 10));
    }
  }
  return counts;
}

TEST(BudgetTest, ImageSyscallsStayWithinBudget) {
  SKIP_IF_INSTRUMENTED();
  const std::string strace = FindTool("strace");
  if (strace.empty()) GTEST_SKIP() << "strace is not installed";
  TempDir dir;
  const std::vector<DiskSpec> disks = {StandardDisk(40, InterleavedNine())};
  const Bytes image = BuildImage(disks);
  ASSERT_TRUE(WriteFile(dir.File("demo.d88"), image));
  char path[PATH_MAX];
  ASSERT_NE(realpath(dir.File("demo.d88").c_str(), path), nullptr);
  const ImageSyscalls counts = TraceImageSyscalls(strace, path);
  if (counts.reads == 0) GTEST_SKIP() << "strace cannot trace here";
  EXPECT_LE(counts.reads + counts.seeks, 60);
  // One read per visit of a track that fits the window, however its records
  // are interleaved, beside the two reads of the scan and the selection's:
  // every fill starts at the first record of the track being walked.
  EXPECT_LE(counts.reads, 3 + TrackVisits());
  std::set<int64_t> allowed = {0, static_cast<int64_t>(image.size())};
  for (const auto& [track, records] : disks[0].tracks) {
    allowed.insert(static_cast<int64_t>(TrackOffset(disks, 0, track)));
  }
  for (int64_t offset : counts.offsets) {
    EXPECT_EQ(allowed.count(offset), 1u) << "a read starts at " << offset;
  }
}

// The instructions of the command's own work, from main on: the C library's
// start-up is another system's cost.
TEST(BudgetTest, InstructionsStayWithinBudget) {
  SKIP_IF_INSTRUMENTED();
  const std::string valgrind = FindTool("valgrind");
  if (valgrind.empty()) GTEST_SKIP() << "valgrind is not installed";
  TempDir work;
  const struct {
    const char* command;
    const char* option;
    long budget;
  } cases[] = {{VOLSPAR_PATH, nullptr, 250000},
               {D88INFO_PATH, nullptr, 2000000},
               {D88INFO_PATH, "--json", 2000000}};
  for (const auto& [command, option, budget] : cases) {
    SCOPED_TRACE(option != nullptr ? option : command);
    std::vector<std::string> args = {
        "--tool=callgrind", "--toggle-collect=main",
        "--callgrind-out-file=" + work.File("callgrind"), command};
    if (option != nullptr) args.push_back(option);
    args.push_back(DEMO_IMAGE);
    const CommandResult result = RunCommand(valgrind, args, work.path());
    ASSERT_EQ(result.status, 0) << result.err;
    const size_t at = result.err.find("Collected : ");
    ASSERT_NE(at, std::string::npos) << result.err;
    const long instructions =
        std::strtol(result.err.c_str() + at + 12, nullptr, 10);
    EXPECT_GT(instructions, 0);
    EXPECT_LE(instructions, budget);
  }
}

// The bytes a process has read so far, as the kernel counts them.
long long BytesRead() {
  std::ifstream io("/proc/self/io");
  std::string key;
  long long value = -1;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return -1;
}

// Records spread out in a sparse file, walked again from every track
// entry: the reads stay bounded by the bytes wanted, not by the records
// walked times the read window.
TEST(BudgetTest, SparseRecordsReadOnlyWhatTheyNeed) {
  constexpr uint32_t kRecords = 4000;
  constexpr uint32_t kRecordSize = 16 + 65000;
  const uint32_t size = 688 + kRecords * kRecordSize;
  Bytes header(688);
  PutLe32(&header, kDiskSizeField, size);
  for (uint32_t track = 0; track < 164; ++track) {
    PutLe32(&header, kTrackTableField + 4 * track, 688 + track * kRecordSize);
  }
  TempDir dir;
  const std::string path = dir.File("sparse.d88");
  {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(header.data()), 688);
    for (uint32_t i = 0; i < kRecords; ++i) {
      Bytes record(16);
      record[0] = static_cast<uint8_t>(i);
      record[2] = static_cast<uint8_t>(i >> 8);
      PutLe16(&record, 4, 65535);
      PutLe16(&record, 14, 65000);
      file.seekp(688 + static_cast<std::streamoff>(i) * kRecordSize);
      file.write(reinterpret_cast<const char*>(record.data()), 16);
    }
  }
  ASSERT_EQ(truncate(path.c_str(), size), 0);
  const long long before = BytesRead();
  if (before < 0) GTEST_SKIP() << "no /proc/self/io";
  d88::D88File reader;
  ASSERT_TRUE(reader.Open(path.c_str()));
  ASSERT_TRUE(reader.SelectDisk(0));
  reader.SetSectorRange(kExtractionFirstSector, kExtractionLastSector);
  static uint8_t buffer[kWorkBufferSize];
  for (const ExtractionEntry& row : kExtractionTable) {
    reader.ReadSectors(row.track, row.c, row.h, row.r, kExtractionSizeCode,
                       buffer, row.bytes_read);
  }
  for (int track = 0; track < 16; ++track) {
    static uint8_t ids[4 * 4096];
    EXPECT_GT(reader.ReadSectorIds(track, ids, sizeof ids), 0);
  }
  // Some 30 walks of up to 4,000 records: 16 bytes a record, and one
  // window at each track's start.
  EXPECT_LT(BytesRead() - before, 16 << 20);
}

}  // namespace
}  // namespace d88test
