#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/image_builder.h"
#include "tests/test_util.h"

namespace d88test {
namespace {

const char* const kFiles[] = {"TRV01.BIN", "TRV02.BIN", "TRV03.BIN",
                              "TRV04.BIN", "TRV05.BIN", "TRV06.BIN",
                              "TRV07.BIN"};
const size_t kSizes[] = {20096, 48, 976, 1691, 1078, 3072, 1536};

const char kAllCreated[] =
    "TRV01.BIN was created.\nTRV02.BIN was created.\n"
    "TRV03.BIN was created.\nTRV04.BIN was created.\n"
    "TRV05.BIN was created.\nTRV06.BIN was created.\n"
    "TRV07.BIN was created.\n";

const char kOpenFailed[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93"
    "\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x2E\x0A";

// What each file holds when the first disk has every sector.
std::vector<Bytes> CompleteFiles() {
  return {
      SectorRun({{4, 0, 5, 9},
                 {4, 1, 1, 9},
                 {5, 0, 1, 9},
                 {5, 1, 1, 9},
                 {6, 0, 1, 8}},
                0, 20096),
      SectorRun({{0, 1, 6, 6}}, 80, 48),
      SectorRun({{1, 0, 2, 3}}, 0, 976),
      SectorRun({{15, 0, 4, 7}}, 0, 1691),
      SectorRun({{13, 1, 7, 9}}, 0, 1078),
      SectorRun({{14, 1, 6, 9}, {15, 0, 1, 2}}, 0, 3072),
      SectorRun({{13, 0, 6, 8}}, 0, 1536),
  };
}

class VolsparTest : public ::testing::Test {
 protected:
  CommandResult Run(const std::vector<std::string>& args) {
    return RunCommand(VOLSPAR_PATH, args, work_.path());
  }
  CommandResult RunOn(const Bytes& image) {
    EXPECT_TRUE(WriteFile(images_.File("image.d88"), image));
    return Run({images_.File("image.d88")});
  }
  Bytes Output(int row) const { return ReadFile(work_.File(kFiles[row])); }

  TempDir images_;
  TempDir work_;  // the command's working directory
};

DiskSpec Demo() { return StandardDisk(40, InterleavedNine()); }

TEST_F(VolsparTest, CompleteImageYieldsSevenExactFiles) {
  const CommandResult result = RunOn(BuildImage({Demo()}));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, kAllCreated);
  EXPECT_EQ(result.err, "");
  const std::vector<Bytes> expected = CompleteFiles();
  for (int row = 0; row < 7; ++row) {
    SCOPED_TRACE(kFiles[row]);
    EXPECT_EQ(Output(row).size(), kSizes[row]);
    EXPECT_EQ(Output(row), expected[row]);
  }
}

TEST_F(VolsparTest, OnlyTheFirstDiskIsReadAndOldFilesAreOverwritten) {
  ASSERT_TRUE(WriteFile(work_.File("TRV02.BIN"), Bytes(100000, 0x55)));
  DiskSpec other = StandardDisk(40, InterleavedNine());
  for (auto& [track, records] : other.tracks) {
    for (SectorSpec& record : records) record.data.assign(512, 0x77);
  }
  const CommandResult result = RunOn(BuildImage({Demo(), other}));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, kAllCreated);
  const std::vector<Bytes> expected = CompleteFiles();
  for (int row = 0; row < 7; ++row) EXPECT_EQ(Output(row), expected[row]);
}

TEST_F(VolsparTest, WrongArgumentCountPrintsUsage) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"a.d88", "b.d88"}, {"a", "b", "c"}}) {
    const CommandResult result = Run(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Usage: volspar [d88file]\n");
  }
  EXPECT_TRUE(work_.List().empty());
}

TEST_F(VolsparTest, UnopenableImagePrintsTheShiftJisMessage) {
  for (const std::string& path :
       {images_.File("missing.d88"), std::string(), images_.path()}) {
    SCOPED_TRACE(path);
    const CommandResult result = Run({path});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, kOpenFailed);
  }
  EXPECT_TRUE(work_.List().empty());
}

TEST_F(VolsparTest, EmptyImageYieldsZeroFilledFiles) {
  const CommandResult result = RunOn({});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, kAllCreated);
  for (int row = 0; row < 7; ++row) {
    EXPECT_EQ(Output(row), Bytes(kSizes[row], 0));
  }
}

TEST_F(VolsparTest, GapsLeaveWhatEarlierRowsReadInTheBuffer) {
  DiskSpec disk = Demo();
  auto& track2 = disk.tracks[2];     // C1 H0, row 3's run
  track2.erase(track2.begin() + 2);  // stored order 1,6,2,...: drop R2
  auto& track31 = disk.tracks[31];   // C15 H1, row 4's run ends here
  track31[2].data.resize(100);       // R2, stored third
  const CommandResult result = RunOn(BuildImage({disk}));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, kAllCreated);
  // Row 3 finds nothing and writes row 2's run: C0 H1 R6 and part of R7.
  EXPECT_EQ(Output(2), SectorRun({{0, 1, 6, 7}}, 0, 976));
  // Row 4 reads a whole run up to its short last sector.
  EXPECT_EQ(Output(3), CompleteFiles()[3]);
}

TEST_F(VolsparTest, AShortSectorMidRunIsFollowedByEarlierBytes) {
  DiskSpec disk = Demo();
  disk.tracks[27][7].data.resize(50);  // C13 H1 R9, third of row 5's run
  const CommandResult result = RunOn(BuildImage({disk}));
  EXPECT_EQ(result.status, 0);
  // R7, R8, the 50 bytes of R9, then the last bytes row 4 left there.
  Bytes expected = SectorRun({{13, 1, 7, 8}}, 0, 1024);
  const Bytes r9 = SectorData(13, 1, 9, 50);
  expected.insert(expected.end(), r9.begin(), r9.end());
  const Bytes rest = SectorRun({{15, 0, 4, 9}, {15, 1, 1, 2}}, 1074, 4);
  expected.insert(expected.end(), rest.begin(), rest.end());
  EXPECT_EQ(Output(4), expected);
}

TEST_F(VolsparTest, UnwritableFilesAreReportedAndTheRestWritten) {
  // TRV02.BIN cannot be created; TRV05.BIN cannot be written.
  ASSERT_EQ(mkdir(work_.File("TRV02.BIN").c_str(), 0755), 0);
  ASSERT_EQ(symlink("/dev/full", work_.File("TRV05.BIN").c_str()), 0);
  DiskSpec disk = Demo();
  disk.tracks[2].erase(disk.tracks[2].begin() + 2);
  const CommandResult result = RunOn(BuildImage({disk}));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out,
            "TRV01.BIN was created.\nTRV03.BIN was created.\n"
            "TRV04.BIN was created.\nTRV06.BIN was created.\n"
            "TRV07.BIN was created.\n");
  EXPECT_NE(result.err.find("TRV02.BIN"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("TRV05.BIN"), std::string::npos) << result.err;
  // Row 2's run is read although its file failed: row 3 still carries it.
  EXPECT_EQ(Output(2), SectorRun({{0, 1, 6, 7}}, 0, 976));
  const std::vector<Bytes> expected = CompleteFiles();
  for (int row : {0, 3, 5, 6}) EXPECT_EQ(Output(row), expected[row]);
}

}  // namespace
}  // namespace d88test
