// The reader, the command's row loop and d88merge's pass allocate nothing:
// this binary counts every call of the global operator new around them.

#include <unistd.h>

#include <cstdlib>
#include <new>
#include <string>

#include "d88/d88_file.h"
#include "gtest/gtest.h"
#include "merge/merging.h"
#include "runs/extraction.h"
#include "tests/image_builder.h"
#include "tests/test_util.h"

namespace {
int new_calls = 0;
}  // namespace

// None of these is inlined, so that the compiler never pairs a free() with
// a new.
__attribute__((noinline)) void* operator new(std::size_t size) {
  ++new_calls;
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
__attribute__((noinline)) void operator delete(void* p) noexcept {
  std::free(p);
}
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace d88test {
namespace {

uint8_t work_buffer[kWorkBufferSize];

TEST(NoAllocationTest, ReaderAndRowLoopNeverCallNew) {
  TempDir dir;
  DiskSpec disk = StandardDisk(40, InterleavedNine());
  disk.name = "NO ALLOCATION";
  const std::string path = dir.File("image.d88");
  ASSERT_TRUE(WriteFile(path, BuildImage({disk, disk})));
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
#ifdef _WIN32
  std::FILE* sink = std::fopen("NUL", "w");
#else
  std::FILE* sink = std::fopen("/dev/null", "w");
#endif
  ASSERT_NE(sink, nullptr);

  const int before = new_calls;
  int results = 0;
  {
    d88::D88File reader;
    uint8_t buf[4096];
    results += reader.Open(path.c_str());
    results += reader.GetDiskCount();
    results += reader.SelectDisk(1);
    results += reader.GetDiskName()[0] != '\0';
    results += reader.GetMediaType();
    reader.SetSectorRange(1, 9);
    results += reader.ReadSector(2, 1, 0, 5, 2, buf, 512);
    results += reader.ReadSectors(2, 1, 0, 5, 2, buf, sizeof buf);
    results += reader.ReadSectorIds(2, buf, 64);
    results += ExtractRuns(&reader, path.c_str(), work_buffer, sink, sink);
    results += reader.SelectDisk(5);
    results += reader.Open(nullptr);
  }
  const int calls = new_calls - before;

  std::fclose(sink);
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(results, 1 + 2 + 1 + 1 + 0 + 512 + 4096 + 36 + 1 + 0 + 1);
}

MergeFindings findings;
ImageWriter writer;

TEST(NoAllocationTest, MergeNeverCallsNew) {
  TempDir dir;
  DiskSpec disk = StandardDisk(40, InterleavedNine());
  const std::string first = dir.File("first.d88");
  const std::string second = dir.File("second.d88");
  ASSERT_TRUE(WriteFile(first, BuildImage({disk})));
  disk.tracks[8][1].status = 0xB0;
  disk.tracks[9].pop_back();
  ASSERT_TRUE(WriteFile(second, BuildImage({disk})));
  const std::string merged = dir.File("merged.d88");

  const int before = new_calls;
  bool merged_ok = false;
  {
    d88::D88File one;
    d88::D88File two;
    ASSERT_TRUE(one.Open(first.c_str()) && two.Open(second.c_str()));
    d88::D88File* const dumps[] = {&one, &two};
    const char* const paths[] = {first.c_str(), second.c_str()};
    OutputFile out;
    ASSERT_TRUE(out.Create(merged.c_str()));
    writer.Start(&out);
    merged_ok = CompareDumps(dumps, paths, 2, ListMode::kDifferences, &writer,
                             &findings) &&
                out.Commit();
  }
  const int calls = new_calls - before;

  EXPECT_TRUE(merged_ok);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(findings.listed_count, 2);
  EXPECT_EQ(ReadFile(merged), ReadFile(first));
}

}  // namespace
}  // namespace d88test
