#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/image_builder.h"
#include "tests/test_util.h"

namespace d88test {
namespace {

class D88infoTest : public ::testing::Test {
 protected:
  CommandResult RunOn(const Bytes& image) {
    EXPECT_TRUE(WriteFile(dir_.File("image.d88"), image));
    return RunCommand(D88INFO_PATH, {dir_.File("image.d88")}, dir_.path());
  }
  // Runs on the demonstration disk after `change` and returns the line
  // that checks `file`.
  template <typename Change>
  std::string CheckLine(const std::string& file, Change change) {
    DiskSpec disk = StandardDisk(40, InterleavedNine());
    change(&disk);
    const CommandResult result = RunOn(BuildImage({disk}));
    EXPECT_EQ(result.status, 0);
    const size_t at = result.out.find("  " + file + ": ");
    if (at == std::string::npos) return result.out;
    return result.out.substr(at, result.out.find('\n', at) - at);
  }

  TempDir dir_;
};

TEST_F(D88infoTest, DemonstrationImageIsComplete) {
  DiskSpec disk = StandardDisk(40, InterleavedNine());
  disk.name = "VOLSPAR DEMO";
  const CommandResult result = RunOn(BuildImage({disk}));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out.rfind("disks: 1\n"
                             "disk 0: \"VOLSPAR DEMO\", media type 0x00 (2D)\n"
                             "  track 0: 0/0/1/2 0/0/6/2 0/0/2/2 0/0/7/2 "
                             "0/0/3/2 0/0/8/2 0/0/4/2 0/0/9/2 0/0/5/2\n",
                             0),
            0u)
      << result.out;
  EXPECT_NE(result.out.find("\n  track 79: 39/1/1/2 "), std::string::npos);
  const std::string tail =
      "volspar's runs on disk 0 (sectors 1-9, N 2):\n"
      "  TRV01.BIN: complete\n  TRV02.BIN: complete\n"
      "  TRV03.BIN: complete\n  TRV04.BIN: complete\n"
      "  TRV05.BIN: complete\n  TRV06.BIN: complete\n"
      "  TRV07.BIN: complete\n"
      "volspar would extract complete files from this image\n";
  ASSERT_GE(result.out.size(), tail.size());
  EXPECT_EQ(result.out.substr(result.out.size() - tail.size()), tail);
}

TEST_F(D88infoTest, NamesTheSectorWhereARunStops) {
  EXPECT_EQ(CheckLine("TRV03.BIN",
                      [](DiskSpec* disk) {
                        auto& track = disk->tracks[2];
                        track.erase(track.begin() + 2);  // C1 H0 R2
                      }),
            "  TRV03.BIN: incomplete: the run stops at 1/0/2/2 on track 2 "
            "(missing), after 0 of the 976 bytes the file needs");
  // Row 1's run has crossed to the next cylinder when it meets the gap.
  EXPECT_EQ(CheckLine("TRV01.BIN",
                      [](DiskSpec* disk) {
                        auto& track = disk->tracks[10];
                        track.erase(track.begin() + 4);  // C5 H0 R3
                      }),
            "  TRV01.BIN: incomplete: the run stops at 5/0/3/2 on track 10 "
            "(missing), after 8192 of the 20096 bytes the file needs");
  EXPECT_EQ(CheckLine("TRV05.BIN",
                      [](DiskSpec* disk) {
                        disk->tracks[27][7].data.resize(50);  // C13 H1 R9
                      }),
            "  TRV05.BIN: incomplete: the run stops at 13/1/9/2 on track 27 "
            "(short data: 50 of 512 bytes), after 1024 of the 1078 bytes "
            "the file needs");
  // A short sector counts for nothing, even where its bytes would cover the
  // range the file takes.
  EXPECT_EQ(CheckLine("TRV02.BIN",
                      [](DiskSpec* disk) {
                        disk->tracks[1][1].data.resize(128);  // C0 H1 R6
                      }),
            "  TRV02.BIN: incomplete: the run stops at 0/1/6/2 on track 1 "
            "(short data: 128 of 512 bytes), after 0 of the 128 bytes the "
            "file needs");
}

TEST_F(D88infoTest, ListsEveryDiskAndChecksOnlyTheFirst) {
  DiskSpec first;
  first.name = "FIRST";
  first.media_type = 0x10;
  first.tracks[0] = {{0, 0, 1, 2, Bytes(512)}, {0, 0, 2, 1, Bytes(256)}};
  DiskSpec second;
  second.name = "TAB\tQUOTE\"";
  second.media_type = 0x42;
  DiskSpec third = StandardDisk(40, InterleavedNine());
  third.media_type = 0x20;
  const CommandResult result = RunOn(BuildImage({first, second, third}));
  EXPECT_EQ(result.status, 0);
  const std::string head =
      "disks: 3\n"
      "disk 0: \"FIRST\", media type 0x10 (2DD)\n"
      "  track 0: 0/0/1/2 0/0/2/1\n"
      "    note: the IDs do not all share one N\n"
      "disk 1: \"TAB\\x09QUOTE\\x22\", media type 0x42 (unknown)\n"
      "  no tracks\n"
      "disk 2: \"\", media type 0x20 (2HD)\n"
      "  track 0: 0/0/1/2 ";
  EXPECT_EQ(result.out.substr(0, head.size()), head);
  EXPECT_NE(result.out.find(
                "  TRV07.BIN: incomplete: the run stops at 13/0/6/2 on track "
                "26 (missing), after 0 of the 1536 bytes the file needs\n"
                "volspar would not extract complete files from this image: 7 "
                "of 7 files incomplete\n"),
            std::string::npos)
      << result.out;
}

TEST_F(D88infoTest, EmptyFileHoldsNoDisk) {
  const CommandResult result = RunOn({});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out.substr(0, 54),
            "disks: 0\nvolspar's runs on disk 0 (sectors 1-9, N 2):\n");
  EXPECT_NE(result.out.find("7 of 7 files incomplete\n"), std::string::npos);
}

TEST_F(D88infoTest, UsageAndOpenFailures) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{}, {"a", "b"}}) {
    const CommandResult result = RunCommand(D88INFO_PATH, args, dir_.path());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Usage: d88info [d88file]\n");
  }
  for (const std::string& path : {dir_.File("missing.d88"), dir_.path()}) {
    const CommandResult result = RunCommand(D88INFO_PATH, {path}, dir_.path());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "d88info: cannot open " + path + " as a D88 image\n");
  }
}

}  // namespace
}  // namespace d88test
