#ifndef _WIN32
#include <dirent.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "d88/d88_file.h"
#include "gtest/gtest.h"
#include "tests/image_builder.h"
#include "tests/test_util.h"

namespace d88test {
namespace {

DiskSpec OneTrack(std::vector<SectorSpec> records, int track = 0) {
  DiskSpec disk;
  disk.tracks[track] = std::move(records);
  return disk;
}

SectorSpec Sector(int c, int h, int r, int n, size_t size = 512) {
  return {c, h, r, n, SectorData(c, h, r, size)};
}

class ReaderTest : public ::testing::Test {
 protected:
  std::string Write(const Bytes& image, const std::string& name = "d.d88") {
    const std::string path = dir_.File(name);
    EXPECT_TRUE(WriteFile(path, image));
    return path;
  }
  bool OpenImage(const Bytes& image) {
    return reader_.Open(Write(image).c_str());
  }
  // Opens the image and selects its first disk.
  bool OpenDisk(const Bytes& image) {
    return OpenImage(image) && reader_.SelectDisk(0);
  }
  bool OpenDisk(const DiskSpec& disk) { return OpenDisk(BuildImage({disk})); }
  // Reads sector (c, h, r, n) of `track` into a fresh buffer of `len` bytes
  // and returns the bytes reported.
  Bytes Read(int track, int c, int h, int r, int n, int len = 512) {
    Bytes buf(static_cast<size_t>(len));
    const int got = reader_.ReadSector(track, c, h, r, n, buf.data(), len);
    EXPECT_GE(got, 0);
    EXPECT_LE(got, len);
    buf.resize(static_cast<size_t>(got));
    return buf;
  }

  TempDir dir_;
  d88::D88File reader_;
  Bytes buf_;
};

// --- Finding the disks of a file ---

// How many disks a file holds: the last of them is selected, the one after
// it is not, and track 0's sector 0/0/1/2 of the last reads as it should.
TEST_F(ReaderTest, CountsTheDisksOfAFile) {
  const DiskSpec one_sector = OneTrack({Sector(0, 0, 1, 2)});
  DiskSpec size_zero = one_sector;
  size_zero.size = 0;
  DiskSpec past_the_end = one_sector;
  past_the_end.size = 100000;
  Bytes far = BuildImage(std::vector<DiskSpec>(3));
  // Disk 1 ends past 2^31 - 1; disk 2's header is never looked for.
  PutLe32(&far, kDiskHeaderSize + kDiskSizeField, 0x7FFFFFFF);
  // A negative size would put the next disk before the file's start.
  Bytes negative = far;
  PutLe32(&negative, kDiskSizeField, static_cast<uint32_t>(-5000));
  const struct {
    const char* what;
    Bytes image;
    int count;
    Bytes sector = {};
  } cases[] = {
      {"empty", Bytes(), 0},
      {"too short for a header", Bytes(kDiskHeaderSize - 1, 0xFF), 0},
      {"65 disks", BuildImage(std::vector<DiskSpec>(65)),
       d88::D88File::kMaxDisks},
      // The same disk up to the limit; every track absent, as no entry is
      // at most the size.
      {"size 0", BuildImage({size_zero}), 64},
      {"past the file's end", BuildImage({past_the_end}), 1,
       SectorData(0, 0, 1)},
      {"past 2^31", far, 2},
      {"negative size", negative, 1},
  };
  for (const auto& [what, image, count, sector] : cases) {
    SCOPED_TRACE(what);
    ASSERT_TRUE(OpenImage(image));
    EXPECT_EQ(reader_.GetDiskCount(), count);
    EXPECT_FALSE(reader_.SelectDisk(count));
    EXPECT_EQ(reader_.SelectDisk(count - 1), count > 0);
    EXPECT_EQ(Read(0, 0, 0, 1, 2), sector);
  }
}

TEST_F(ReaderTest, FindsDisksBackToBackAndIgnoresAShortTail) {
  std::vector<DiskSpec> disks(3);
  disks[0] = OneTrack({Sector(0, 0, 1, 2)});
  disks[1].name = "SECOND";
  disks[2] = OneTrack({Sector(7, 0, 1, 1, 256)}, 5);
  Bytes image = BuildImage(disks);
  image.resize(image.size() + kDiskHeaderSize - 1, 0);
  ASSERT_TRUE(OpenImage(image));
  EXPECT_EQ(reader_.GetDiskCount(), 3);
  ASSERT_TRUE(reader_.SelectDisk(2));
  EXPECT_EQ(Read(5, 7, 0, 1, 1, 256), SectorData(7, 0, 1, 256));
  EXPECT_TRUE(reader_.SelectDisk(1));
  EXPECT_STREQ(reader_.GetDiskName(), "SECOND");
}

TEST_F(ReaderTest, OpenFailsOnWhatCannotBeReadAsAFile) {
  EXPECT_FALSE(reader_.Open(dir_.File("missing.d88").c_str()));
  EXPECT_FALSE(reader_.Open(""));
  EXPECT_FALSE(reader_.Open(dir_.path().c_str()));
#ifndef _WIN32  // pipes named through /proc
  // A pipe holding a whole image is no image.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const Bytes image = BuildImage({DiskSpec()});
  ASSERT_EQ(write(fds[1], image.data(), image.size()),
            static_cast<ssize_t>(image.size()));
  const std::string pipe_path = "/proc/self/fd/" + std::to_string(fds[0]);
  EXPECT_FALSE(reader_.Open(pipe_path.c_str()));
  close(fds[0]);
  close(fds[1]);
#endif
  EXPECT_EQ(reader_.GetDiskCount(), 0);
  EXPECT_FALSE(reader_.SelectDisk(0));
  EXPECT_TRUE(reader_.Open(nullptr));
}

#ifndef _WIN32  // counts descriptors in /proc
int OpenDescriptors() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

TEST_F(ReaderTest, OpeningAgainClosesTheEarlierFile) {
  const std::string a = Write(BuildImage({DiskSpec()}), "a.d88");
  const std::string b = Write(BuildImage({DiskSpec(), DiskSpec()}), "b.d88");
  const int before = OpenDescriptors();
  ASSERT_TRUE(reader_.Open(a.c_str()));
  ASSERT_TRUE(reader_.Open(b.c_str()));
  EXPECT_EQ(OpenDescriptors(), before + 1);
  EXPECT_EQ(reader_.GetDiskCount(), 2);
  EXPECT_FALSE(reader_.Open(dir_.File("missing").c_str()));
  EXPECT_EQ(OpenDescriptors(), before);
  ASSERT_TRUE(reader_.Open(a.c_str()));
  ASSERT_TRUE(reader_.Open(nullptr));
  EXPECT_EQ(OpenDescriptors(), before);
  EXPECT_EQ(reader_.GetDiskCount(), 0);
}
#endif

// --- Selection ---

TEST_F(ReaderTest, ReadsFindNothingWithoutASelectedDisk) {
  const Bytes image = BuildImage({OneTrack({Sector(0, 0, 1, 2)})});
  EXPECT_TRUE(Read(0, 0, 0, 1, 2).empty());  // no file
  ASSERT_TRUE(OpenImage(image));
  EXPECT_TRUE(Read(0, 0, 0, 1, 2).empty());  // nothing selected yet
  ASSERT_TRUE(reader_.SelectDisk(0));
  EXPECT_EQ(Read(0, 0, 0, 1, 2), SectorData(0, 0, 1));
  EXPECT_FALSE(reader_.SelectDisk(1));
  EXPECT_TRUE(Read(0, 0, 0, 1, 2).empty());
  EXPECT_FALSE(reader_.SelectDisk(-1));
  ASSERT_TRUE(reader_.SelectDisk(0));
  ASSERT_TRUE(reader_.Open(nullptr));
  EXPECT_FALSE(reader_.SelectDisk(0));
  EXPECT_TRUE(Read(0, 0, 0, 1, 2).empty());
}

TEST_F(ReaderTest, OpenKeepsTheEarlierSelection) {
  const Bytes image = BuildImage({OneTrack({Sector(0, 0, 1, 2)})});
  ASSERT_TRUE(OpenImage(image));
  ASSERT_TRUE(reader_.SelectDisk(0));
  // The same layout in another file is read with the old selection.
  ASSERT_TRUE(reader_.Open(Write(image, "copy.d88").c_str()));
  EXPECT_EQ(Read(0, 0, 0, 1, 2), SectorData(0, 0, 1));
}

TEST_F(ReaderTest, SelectFailsOnAFileThatShrankSinceOpen) {
  const Bytes image = BuildImage({OneTrack({Sector(0, 0, 1, 2)})});
  const std::string path = Write(image);
  ASSERT_TRUE(reader_.Open(path.c_str()));
  ASSERT_TRUE(WriteFile(path, Bytes(100, 0)));
  EXPECT_FALSE(reader_.SelectDisk(0));
  EXPECT_EQ(reader_.GetMediaType(), -1);
}

// --- Sector reads ---

// A read finds the first record whose four ID bytes all match, in any
// stored order, on a track its table entry places, before the track ends;
// it yields the bytes the file holds of it.
TEST_F(ReaderTest, ReadsFindTheFirstMatchingRecord) {
  const auto one_track = [](std::vector<SectorSpec> records, int track = 0) {
    return BuildImage({OneTrack(std::move(records), track)});
  };
  SectorSpec second = Sector(0, 0, 1, 2);
  second.data.assign(512, 0xEE);
  SectorSpec count_zero = Sector(0, 0, 2, 2);
  count_zero.sector_count = 0;
  std::vector<SectorSpec> stated = StandardTrack(0, 0, 2, {1, 2, 3, 4});
  stated[0].sector_count = 9;
  stated[1].sector_count = 2;
  // The file ends 200 bytes into sector 2's data, or 8 bytes into its
  // header.
  const std::vector<DiskSpec> two = {
      OneTrack({Sector(0, 0, 1, 2), Sector(0, 0, 2, 2)})};
  Bytes in_data = BuildImage(two);
  in_data.resize(in_data.size() - 312);
  Bytes in_header = in_data;
  in_header.resize(TrackOffset(two, 0, 0) + kSectorHeaderSize + 512 + 8);
  // An entry beyond the disk size makes the track absent although the bytes
  // are there; one equal to it does not.
  Bytes beyond = one_track({Sector(0, 0, 1, 2)}, 4);
  PutLe32(&beyond, kDiskSizeField, static_cast<uint32_t>(kDiskHeaderSize));
  Bytes at_size = beyond;
  PutLe32(&beyond, kTrackTableField + 4 * 4, kDiskHeaderSize + 1);
  PutLe32(&at_size, kTrackTableField + 4 * 4, kDiskHeaderSize);
  // Disk 1's track 3 points back at disk 0's first record, its track 4
  // before the file's start.
  const std::vector<DiskSpec> pair = {OneTrack({Sector(2, 0, 1, 2)}),
                                      OneTrack({Sector(9, 0, 1, 2)})};
  Bytes negative = BuildImage(pair);
  const size_t disk1 = TrackOffset(pair, 1, 0) - kDiskHeaderSize;
  PutLe32(&negative, disk1 + kTrackTableField + 4 * 3,
          static_cast<uint32_t>(-static_cast<int32_t>(disk1 - 688)));
  PutLe32(&negative, disk1 + kTrackTableField + 4 * 4,
          static_cast<uint32_t>(-static_cast<int32_t>(disk1 + 16)));
  struct Sought {
    int track, c, h, r, n;
    Bytes found;
  };
  const Bytes none;
  const struct {
    const char* what;
    Bytes image;
    std::vector<Sought> reads;
    int disk = 0;
  } cases[] = {
      {"IDs",
       one_track({Sector(3, 1, 9, 2), Sector(3, 1, 5, 1, 256),
                  Sector(3, 1, 5, 2), Sector(3, 0, 5, 2)},
                 7),
       {{7, 3, 1, 5, 2, SectorData(3, 1, 5)},
        {7, 3, 1, 5, 1, SectorData(3, 1, 5, 256)},
        {7, 3, 0, 5, 2, SectorData(3, 0, 5)},
        {7, 3, 1, 5, 3, none},
        {7, 3, 1, 1, 2, none},
        // ID values are bytes: 256 + 5 is not 5.
        {7, 3, 1, 261, 2, none},
        {7, 3, 1, -1, 2, none},
        {6, 3, 1, 5, 2, none}}},
      {"equal IDs",
       one_track({Sector(0, 0, 1, 2), second}),
       {{0, 0, 0, 1, 2, SectorData(0, 0, 1)}}},
      // Sector 2 matches but its count of 0 ends the track first.
      {"count of 0",
       one_track({Sector(0, 0, 1, 2), count_zero, Sector(0, 0, 3, 2)}),
       {{0, 0, 0, 1, 2, SectorData(0, 0, 1)},
        {0, 0, 0, 2, 2, none},
        {0, 0, 0, 3, 2, none}}},
      // The walk ends at the record whose position is its own count - 1.
      {"stated end",
       one_track(stated),
       {{0, 0, 0, 2, 2, SectorData(0, 0, 2)}, {0, 0, 0, 3, 2, none}}},
      {"empty sector",
       one_track({Sector(0, 0, 1, 2, 0), Sector(0, 0, 2, 2)}),
       {{0, 0, 0, 1, 2, none}}},
      {"cut in data", in_data, {{0, 0, 0, 2, 2, SectorData(0, 0, 2, 200)}}},
      {"cut in a header",
       in_header,
       {{0, 0, 0, 1, 2, SectorData(0, 0, 1)}, {0, 0, 0, 2, 2, none}}},
      {"no such track",
       one_track({Sector(0, 0, 1, 2)}, 4),
       {{-1, 0, 0, 1, 2, none}, {d88::D88File::kMaxTracks, 0, 0, 1, 2, none}}},
      {"entry beyond the size", beyond, {{4, 0, 0, 1, 2, none}}},
      {"entry at the size", at_size, {{4, 0, 0, 1, 2, SectorData(0, 0, 1)}}},
      {"negative entries",
       negative,
       {{3, 2, 0, 1, 2, SectorData(2, 0, 1)}, {4, 2, 0, 1, 2, none}},
       1},
  };
  for (const auto& [what, image, reads, disk] : cases) {
    SCOPED_TRACE(what);
    ASSERT_TRUE(OpenImage(image) && reader_.SelectDisk(disk));
    for (const auto& [track, c, h, r, n, found] : reads) {
      EXPECT_EQ(Read(track, c, h, r, n), found)
          << track << ": " << c << "/" << h << "/" << r << "/" << n;
    }
  }
}

TEST_F(ReaderTest, CopiesAtMostLenBytes) {
  ASSERT_TRUE(OpenDisk(OneTrack({Sector(0, 0, 1, 2)})));
  Bytes buf(512, 0xAA);
  EXPECT_EQ(reader_.ReadSector(0, 0, 0, 1, 2, buf.data(), 100), 100);
  Bytes expected = SectorData(0, 0, 1, 100);
  expected.resize(512, 0xAA);
  EXPECT_EQ(buf, expected);
  EXPECT_EQ(reader_.ReadSector(0, 0, 0, 1, 2, buf.data(), 0), 0);
  EXPECT_EQ(reader_.ReadSector(0, 0, 0, 1, 2, buf.data(), -1), 0);
  EXPECT_EQ(buf, expected);
}

TEST_F(ReaderTest, ReadsTracksAndSectorsLargerThanAnyBuffer) {
  // 40 records of 1 KiB, then one of 60,000 bytes: bigger than the reader's
  // read window, read in every order.
  DiskSpec disk;
  std::vector<int> order;
  for (int r = 40; r >= 1; --r) order.push_back(r);
  disk.tracks[3] = StandardTrack(1, 1, 3, order);
  disk.tracks[3].push_back(Sector(1, 1, 99, 6, 60000));
  disk.tracks[4] = StandardTrack(2, 0, 3, {1, 2});
  ASSERT_TRUE(OpenDisk(disk));
  EXPECT_EQ(Read(3, 1, 1, 99, 6, 60000), SectorData(1, 1, 99, 60000));
  for (int r : {1, 40, 2, 39, 20}) {
    EXPECT_EQ(Read(3, 1, 1, r, 3, 1024), SectorData(1, 1, r, 1024));
    EXPECT_EQ(Read(4, 2, 0, 2, 3, 1024), SectorData(2, 0, 2, 1024));
  }
  EXPECT_EQ(Read(3, 1, 1, 99, 6, 100), SectorData(1, 1, 99, 100));
}

// --- Runs ---

class RunTest : public ReaderTest {
 protected:
  // Runs from (track, c, h, r) with 512-byte sectors into a buffer of
  // 0xCC bytes; returns the count and leaves the buffer in buf_.
  int Run(int track, int c, int h, int r, int len) {
    buf_.assign(static_cast<size_t>(len) + 64, 0xCC);
    return reader_.ReadSectors(track, c, h, r, 2, buf_.data(), len);
  }
};

Bytes Joined(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A run goes on to the next sector, then the other side, then the next
// cylinder, wrapping at the last sector of the range; it stops at a missing
// sector, and at a short one, whose bytes it leaves uncounted. Nothing
// after what it read is touched.
TEST_F(RunTest, ReadsOnUntilASectorFails) {
  const DiskSpec eight = StandardDisk(8, InterleavedNine());
  DiskSpec short_second = StandardDisk(1, {1, 2, 3});
  short_second.tracks[0][1].data.resize(300);
  const struct {
    const char* what;
    DiskSpec disk;
    int first, last;  // the sector range
    int track, c, h, r, len;
    int count;
    Bytes head;  // what the buffer starts with
  } cases[] = {
      {"worked example", StandardDisk(40, InterleavedNine()), 1, 9, 8, 4, 0, 5,
       20096, 20096,
       Joined(SectorRun({{4, 0, 5, 9},
                         {4, 1, 1, 9},
                         {5, 0, 1, 9},
                         {5, 1, 1, 9},
                         {6, 0, 1, 7}}),
              SectorData(6, 0, 8, 128))},
      {"wraps", eight, 1, 9, 1, 0, 1, 9, 1024, 1024,
       SectorRun({{0, 1, 9, 9}, {1, 0, 1, 1}})},
      {"wraps in a range", eight, 3, 4, 2, 1, 0, 3, 2048, 2048,
       SectorRun({{1, 0, 3, 4}, {1, 1, 3, 4}})},
      {"never wraps from above", eight, 1, 4, 0, 0, 0, 6, 4096, 2048,
       SectorRun({{0, 0, 6, 9}})},
      {"missing sector", eight, 1, 9, 0, 0, 0, 10, 512, 0, {}},
      // Track 16 (cylinder 8) does not exist.
      {"missing track", eight, 1, 9, 15, 7, 1, 8, 2048, 1024,
       SectorRun({{7, 1, 8, 9}})},
      {"short sector", short_second, 1, 3, 0, 0, 0, 1, 1536, 512,
       Joined(SectorRun({{0, 0, 1, 1}}), SectorData(0, 0, 2, 300))},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    ASSERT_TRUE(OpenDisk(test.disk));
    reader_.SetSectorRange(test.first, test.last);
    EXPECT_EQ(Run(test.track, test.c, test.h, test.r, test.len), test.count);
    const auto end = buf_.begin() + static_cast<ptrdiff_t>(test.head.size());
    EXPECT_EQ(Bytes(buf_.begin(), end), test.head);
    EXPECT_EQ(Bytes(end, buf_.end()),
              Bytes(buf_.size() - test.head.size(), 0xCC));
  }
}

TEST_F(RunTest, RejectsEmptyLengthsAndOversizedCodes) {
  DiskSpec disk = OneTrack({{0, 0, 1, 24, Bytes(64, 1)}});
  ASSERT_TRUE(OpenDisk(disk));
  uint8_t buf[64] = {};
  EXPECT_EQ(reader_.ReadSector(0, 0, 0, 1, 24, buf, 64), 64);
  buf[0] = 0;
  EXPECT_EQ(reader_.ReadSectors(0, 0, 0, 1, 24, buf, 64), 0);
  EXPECT_EQ(reader_.ReadSectors(0, 0, 0, 1, -1, buf, 64), 0);
  EXPECT_EQ(reader_.ReadSectors(0, 0, 0, 1, 24, buf, 0), 0);
  EXPECT_EQ(reader_.ReadSectors(0, 0, 0, 1, 24, buf, -5), 0);
  EXPECT_EQ(buf[0], 0);
}

// --- Disk attributes ---

TEST_F(ReaderTest, NameIsAtMostSixteenCharacters) {
  DiskSpec long_name;
  long_name.name = "ABCDEFGHIJKLMNOPQRSTU";  // runs into the bytes after it
  long_name.media_type = 0x20;
  DiskSpec short_name;
  short_name.name = std::string("SHORT\0XYZ", 9);
  short_name.media_type = 0xFF;
  ASSERT_TRUE(OpenImage(BuildImage({long_name, short_name})));
  ASSERT_TRUE(reader_.SelectDisk(0));
  EXPECT_STREQ(reader_.GetDiskName(), "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(reader_.GetMediaType(), 0x20);
  ASSERT_TRUE(reader_.SelectDisk(1));
  EXPECT_STREQ(reader_.GetDiskName(), "SHORT");
  EXPECT_EQ(reader_.GetMediaType(), 0xFF);
  // Fifteen characters after sixteen: no byte of the longer name stays.
  DiskSpec fifteen;
  fifteen.name = std::string("ABCDEFGHIJKLMNO\0Z", 17);
  ASSERT_TRUE(OpenImage(BuildImage({long_name, fifteen})));
  ASSERT_TRUE(reader_.SelectDisk(0));
  ASSERT_TRUE(reader_.SelectDisk(1));
  EXPECT_STREQ(reader_.GetDiskName(), "ABCDEFGHIJKLMNO");
}

TEST_F(ReaderTest, NameAndMediaTypeFollowTheSelection) {
  EXPECT_STREQ(reader_.GetDiskName(), "");
  EXPECT_EQ(reader_.GetMediaType(), -1);
  DiskSpec disk;
  disk.name = "FIRST";
  disk.media_type = 0x10;
  const std::string path = Write(BuildImage({disk}));
  ASSERT_TRUE(reader_.Open(path.c_str()));
  EXPECT_EQ(reader_.GetMediaType(), -1);
  ASSERT_TRUE(reader_.SelectDisk(0));

  // Opening again, with or without a path, keeps the name.
  ASSERT_TRUE(reader_.Open(Write(Bytes(), "empty.d88").c_str()));
  EXPECT_STREQ(reader_.GetDiskName(), "FIRST");
  EXPECT_EQ(reader_.GetMediaType(), 0x10);
  ASSERT_TRUE(reader_.Open(nullptr));
  EXPECT_STREQ(reader_.GetDiskName(), "FIRST");
  EXPECT_EQ(reader_.GetMediaType(), -1);
  // Without a file a failed selection changes nothing; with one it clears.
  EXPECT_FALSE(reader_.SelectDisk(0));
  EXPECT_STREQ(reader_.GetDiskName(), "FIRST");
  ASSERT_TRUE(reader_.Open(path.c_str()));
  ASSERT_TRUE(reader_.SelectDisk(0));
  EXPECT_FALSE(reader_.SelectDisk(1));
  EXPECT_STREQ(reader_.GetDiskName(), "");
  EXPECT_EQ(reader_.GetMediaType(), -1);
}

TEST_F(ReaderTest, WriteProtectAndLayoutFollowTheSelection) {
  EXPECT_EQ(reader_.GetWriteProtect(), -1);
  std::vector<DiskSpec> disks(2);
  disks[0] = OneTrack({Sector(0, 0, 1, 2)}, 3);
  disks[0].write_protect = 0x10;
  Bytes image = BuildImage(disks);
  image.resize(image.size() + 5, 0);
  ASSERT_TRUE(OpenImage(image));
  EXPECT_EQ(reader_.GetWriteProtect(), -1);
  EXPECT_EQ(reader_.GetScanEnd(), static_cast<int64_t>(image.size() - 5));
  EXPECT_EQ(reader_.GetDiskStart(1),
            static_cast<int64_t>(kDiskHeaderSize + kSectorHeaderSize + 512));
  EXPECT_EQ(reader_.GetDiskStart(2), -1);
  ASSERT_TRUE(reader_.SelectDisk(0));
  EXPECT_EQ(reader_.GetWriteProtect(), 0x10);
  EXPECT_EQ(reader_.GetDiskSize(),
            static_cast<int32_t>(kDiskHeaderSize + kSectorHeaderSize + 512));
  EXPECT_EQ(reader_.GetTrackOffset(3), static_cast<int32_t>(kDiskHeaderSize));
  EXPECT_EQ(reader_.GetTrackOffset(0), 0);
  EXPECT_EQ(reader_.GetTrackOffset(d88::D88File::kMaxTracks), 0);
  uint8_t tail[8] = {};
  EXPECT_EQ(reader_.ReadImageBytes(reader_.GetScanEnd(), tail, 8), 5);
  ASSERT_TRUE(reader_.SelectDisk(1));
  EXPECT_EQ(reader_.GetWriteProtect(), 0);
  EXPECT_FALSE(reader_.SelectDisk(2));
  EXPECT_EQ(reader_.GetWriteProtect(), -1);
  ASSERT_TRUE(reader_.SelectDisk(0));
  ASSERT_TRUE(reader_.Open(nullptr));
  EXPECT_EQ(reader_.GetWriteProtect(), -1);
  EXPECT_EQ(reader_.ReadImageBytes(0, tail, 8), 0);
}

// --- Sector-ID listing ---

class ListingTest : public ReaderTest {
 protected:
  // Lists `track` into a buffer of `len` bytes of 0xCC with guard bytes
  // after it; returns the bytes reported.
  Bytes List(int track, int len) {
    buf_.assign(static_cast<size_t>(len < 0 ? 0 : len) + 8, 0xCC);
    const int got = reader_.ReadSectorIds(track, buf_.data(), len);
    EXPECT_GE(got, 0);
    EXPECT_LE(got, len < 0 ? 0 : len);
    EXPECT_EQ(Bytes(buf_.end() - 8, buf_.end()), Bytes(8, 0xCC));
    return Bytes(buf_.begin(), buf_.begin() + got);
  }
  // The IDs (c, h, r, n) for each r of `rs`.
  static Bytes Ids(int c, int h, int n, const std::vector<int>& rs) {
    Bytes bytes;
    for (int r : rs) {
      bytes.insert(bytes.end(),
                   {static_cast<uint8_t>(c), static_cast<uint8_t>(h),
                    static_cast<uint8_t>(r), static_cast<uint8_t>(n)});
    }
    return bytes;
  }
};

TEST_F(ListingTest, ListsIdsInStoredOrderUpToTheBuffer) {
  ASSERT_TRUE(OpenDisk(OneTrack(StandardTrack(3, 1, 2, InterleavedNine()), 7)));
  EXPECT_EQ(List(7, 64), Ids(3, 1, 2, {1, 6, 2, 7, 3, 8, 4, 9, 5}));
  const Bytes first_four = Ids(3, 1, 2, {1, 6, 2, 7});
  EXPECT_EQ(List(7, 16), first_four);
  // Only whole IDs: 19 bytes hold four of them.
  EXPECT_EQ(List(7, 19), first_four);
  EXPECT_EQ(buf_[16], 0xCC);
  EXPECT_TRUE(List(7, 3).empty());
  EXPECT_TRUE(List(7, 0).empty());
  EXPECT_TRUE(List(7, -4).empty());
}

TEST_F(ListingTest, AbsentTracksLeaveTheBufferUntouched) {
  std::vector<DiskSpec> disks = {OneTrack(StandardTrack(0, 0, 2, {1, 2}))};
  Bytes image = BuildImage(disks);
  ASSERT_TRUE(OpenDisk(disks[0]));
  EXPECT_TRUE(List(1, 64).empty());
  EXPECT_TRUE(List(d88::D88File::kMaxTracks, 64).empty());
  EXPECT_EQ(buf_, Bytes(72, 0xCC));

  PutLe32(&image, kTrackTableField, 0x7FFFFFFF);  // beyond the disk size
  PutLe32(&image, kTrackTableField + 4, static_cast<uint32_t>(-1000));
  ASSERT_TRUE(OpenDisk(image));
  EXPECT_TRUE(List(0, 64).empty());
  EXPECT_TRUE(List(1, 64).empty());  // starts before the file
  EXPECT_EQ(buf_, Bytes(72, 0xCC));
  ASSERT_TRUE(reader_.Open(nullptr));
  EXPECT_TRUE(List(0, 64).empty());
}

TEST_F(ListingTest, EndsAtACountOfZeroOrAShortHeader) {
  std::vector<DiskSpec> disks = {OneTrack(StandardTrack(0, 0, 2, {1, 2, 3}))};
  // The file ends 10 bytes into the third header.
  Bytes cut = BuildImage(disks);
  cut.resize(TrackOffset(disks, 0, 0) + 2 * (kSectorHeaderSize + 512) + 10);
  disks[0].tracks[0][1].sector_count = 0;
  for (const Bytes& image : {BuildImage(disks), cut}) {
    ASSERT_TRUE(OpenDisk(image));
    EXPECT_EQ(List(0, 64), Ids(0, 0, 2, {1, 2}));
  }
}

TEST_F(ListingTest, InfosHoldEveryHeaderFieldOfTheListedRecords) {
  std::vector<SectorSpec> records = StandardTrack(2, 1, 1, {1, 2, 3});
  records[0].density = 0x40;
  records[1].deleted = 0x10;
  records[1].status = 0xB0;
  records[1].data.resize(100);
  records[2].sector_count = 0;
  records.push_back(Sector(2, 1, 4, 1, 256));  // after the count of 0
  ASSERT_TRUE(OpenDisk(OneTrack(records, 5)));
  d88::SectorInfo infos[8] = {};
  ASSERT_EQ(reader_.ReadSectorInfos(5, infos, 8), 3);
  const int expected[3][6] = {{1, 4, 0x40, 0, 0, 256},
                              {2, 4, 0, 0x10, 0xB0, 100},
                              {3, 0, 0, 0, 0, 256}};
  for (int i = 0; i < 3; ++i) {
    const d88::SectorInfo& info = infos[i];
    EXPECT_EQ(info.id.c, 2);
    EXPECT_EQ(info.id.h, 1);
    EXPECT_EQ(info.id.n, 1);
    EXPECT_EQ((std::vector<int>{info.id.r, info.sector_count, info.density,
                                info.deleted, info.status, info.data_size}),
              std::vector<int>(expected[i], expected[i] + 6));
  }
  EXPECT_EQ(List(5, 64), Ids(2, 1, 1, {1, 2, 3}));
  EXPECT_EQ(reader_.ReadSectorInfos(5, infos, 2), 2);
  EXPECT_EQ(reader_.ReadSectorInfos(5, infos, 0), 0);
  EXPECT_EQ(reader_.ReadSectorInfos(6, infos, 8), 0);
}

// A count that never names a record as the last one: the walk still ends,
// after the most records a 16-bit count could name.
TEST_F(ListingTest, WalksStopAfter65536Records) {
  std::vector<SectorSpec> records(70000, SectorSpec{0, 0, 1, 0, Bytes()});
  records[0].sector_count = 2;
  for (size_t i = 1; i < records.size(); ++i) records[i].sector_count = 1;
  records.back() = {9, 9, 9, 0, Bytes(), 1};
  ASSERT_TRUE(OpenDisk(OneTrack(records)));
  EXPECT_EQ(List(0, 4 * 70000).size(), 4u * 65536);
  uint8_t buf[1];
  EXPECT_EQ(reader_.ReadSector(0, 9, 9, 9, 0, buf, 1), 0);
}

// The one walk yields each record with where it lies and what the file
// holds of it, and ends saying why.
TEST_F(ListingTest, TheWalkSaysWhyATrackEnds) {
  using d88::WalkEnd;
  const std::vector<SectorSpec> three = StandardTrack(0, 0, 2, {1, 2, 3});
  std::vector<SectorSpec> zero = three;
  zero[1].sector_count = 0;
  std::vector<SectorSpec> bound(65537, SectorSpec{0, 0, 1, 0, Bytes(), 1});
  bound[0].sector_count = 2;
  const size_t record = kSectorHeaderSize + 512;
  const struct {
    std::vector<SectorSpec> records;
    size_t cut;  // the file's length after the track's start; 0: all of it
    int count;
    WalkEnd end;
    int header_bytes;
  } cases[] = {
      {three, 0, 3, WalkEnd::kStated, 0},
      {zero, 0, 2, WalkEnd::kZeroCount, 0},
      {three, 2 * record, 2, WalkEnd::kFileEnd, 0},
      {three, 2 * record + 10, 2, WalkEnd::kShortHeader, 10},
      {bound, 0, 65536, WalkEnd::kRecordBound, 0},
  };
  for (const auto& [records, cut, count, end, header_bytes] : cases) {
    const std::vector<DiskSpec> disks = {OneTrack(records, 3)};
    const size_t start = TrackOffset(disks, 0, 3);
    Bytes image = BuildImage(disks);
    if (cut > 0) image.resize(start + cut);
    ASSERT_TRUE(OpenDisk(image));
    d88::TrackWalk walk;
    ASSERT_TRUE(reader_.BeginWalk(3, &walk));
    EXPECT_EQ(walk.start, static_cast<int64_t>(start));
    d88::TrackRecord found;
    int seen = 0;
    while (reader_.NextRecord(&walk, &found)) {
      const size_t at =
          start + static_cast<size_t>(seen) *
                      (kSectorHeaderSize + records[0].data.size());
      EXPECT_EQ(found.index, seen);
      EXPECT_EQ(found.header_offset, static_cast<int64_t>(at));
      EXPECT_EQ(found.data_offset,
                static_cast<int64_t>(at + kSectorHeaderSize));
      ++seen;
    }
    EXPECT_EQ(seen, count);
    EXPECT_EQ(walk.end, end);
    EXPECT_EQ(walk.header_bytes, header_bytes);
    EXPECT_FALSE(reader_.NextRecord(&walk, &found));
  }
  d88::TrackWalk walk;
  EXPECT_FALSE(reader_.BeginWalk(4, &walk));

  // A record the file cuts off holds fewer bytes than it states; a walk
  // resumed past a stated end finds what follows.
  const std::vector<DiskSpec> disks = {OneTrack(three)};
  Bytes image = BuildImage(disks);
  image.resize(TrackOffset(disks, 0, 0) + 2 * record + kSectorHeaderSize + 100);
  ASSERT_TRUE(OpenDisk(image));
  d88::TrackRecord found;
  ASSERT_TRUE(reader_.BeginWalk(0, &walk));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(reader_.NextRecord(&walk, &found));
  EXPECT_EQ(found.info.data_size, 512);
  EXPECT_EQ(found.data_held, 100);
  std::vector<SectorSpec> told = three;
  for (SectorSpec& r : told) r.sector_count = 1;
  ASSERT_TRUE(OpenDisk(OneTrack(told)));
  ASSERT_TRUE(reader_.BeginWalk(0, &walk));
  ASSERT_TRUE(reader_.NextRecord(&walk, &found));
  EXPECT_EQ(walk.end, WalkEnd::kStated);
  ASSERT_TRUE(d88::D88File::ResumeWalk(&walk));
  ASSERT_TRUE(reader_.NextRecord(&walk, &found));
  EXPECT_EQ(found.info.id.r, 2);
}

// Headers written by the encoders read back field for field.
TEST_F(ListingTest, HeadersEncodeAsTheyDecode) {
  DiskSpec disk = OneTrack(StandardTrack(3, 1, 2, {1, 2}), 7);
  disk.name = "ENCODED";
  disk.media_type = 0x20;
  disk.write_protect = 0x10;
  disk.tracks[7][1].status = 0xB0;
  disk.tracks[7][1].deleted = 0x10;
  disk.tracks[7][1].density = 0x40;
  const std::vector<DiskSpec> disks = {disk};
  const Bytes image = BuildImage(disks);
  d88::DiskHeader header;
  d88::D88File::DecodeDiskHeader(image.data(), kDiskHeaderSize, &header);
  uint8_t bytes[kDiskHeaderSize];
  d88::D88File::EncodeDiskHeader(header, bytes);
  EXPECT_EQ(Bytes(bytes, bytes + kDiskHeaderSize),
            Bytes(image.begin(), image.begin() + kDiskHeaderSize));
  ASSERT_TRUE(OpenDisk(image));
  d88::SectorInfo infos[2];
  ASSERT_EQ(reader_.ReadSectorInfos(7, infos, 2), 2);
  const size_t second = TrackOffset(disks, 0, 7) + kSectorHeaderSize + 512;
  d88::D88File::EncodeRecordHeader(infos[1], bytes);
  EXPECT_EQ(Bytes(bytes, bytes + kSectorHeaderSize),
            Bytes(image.begin() + second,
                  image.begin() + second + kSectorHeaderSize));
}

// A traced run tells each sector it looked for and what it found there.
TEST_F(RunTest, TraceTellsWhereAndWhyARunStops) {
  DiskSpec disk = StandardDisk(2, InterleavedNine());
  disk.tracks[0][7].data.resize(100);  // 0/0/9/2 short
  disk.tracks[1][3].sector_count = 0;  // 0/1/7/2 ends track 1's walks
  disk.tracks.erase(2);
  ASSERT_TRUE(OpenDisk(disk));
  reader_.SetSectorRange(1, 9);
  d88::RunStep steps[4];
  const struct {
    int track, c, h, r, len;
    int bytes;
    std::vector<int> last;  // track, r, record, delivered
    d88::StepResult result;
    int step_count;
  } cases[] = {
      {0, 0, 0, 8, 1024, 512, {0, 9, 7, 100}, d88::StepResult::kShortData, 2},
      {0, 0, 0, 8, 600, 600, {0, 9, 7, 88}, d88::StepResult::kRead, 2},
      {1, 0, 1, 6, 2048, 512, {1, 7, -1, 0}, d88::StepResult::kZeroCount, 2},
      {1, 0, 1, 9, 2048, 0, {1, 9, -1, 0}, d88::StepResult::kZeroCount, 1},
      {2, 1, 0, 1, 512, 0, {2, 1, -1, 0}, d88::StepResult::kNoTrack, 1},
      {0, 0, 0, 10, 512, 0, {0, 10, -1, 0}, d88::StepResult::kNotFound, 1},
      // More steps than the trace holds: the count goes on.
      {0, 0, 0, 1, 3072, 3072, {0, 4, 6, 512}, d88::StepResult::kRead, 6},
  };
  for (const auto& c : cases) {
    d88::RunTrace trace = {steps, 4, -1};
    buf_.assign(4096, 0);
    EXPECT_EQ(reader_.ReadSectors(c.track, c.c, c.h, c.r, 2, buf_.data(), c.len,
                                  &trace),
              c.bytes);
    ASSERT_EQ(trace.step_count, c.step_count);
    const d88::RunStep& last = steps[std::min(trace.step_count, 4) - 1];
    EXPECT_EQ(
        (std::vector<int>{last.track, last.r, last.record, last.delivered}),
        c.last);
    EXPECT_EQ(last.result, c.result);
  }
  d88::RunTrace unused = {steps, 4, -1};
  EXPECT_EQ(reader_.ReadSectors(0, 0, 0, 1, 24, buf_.data(), 512, &unused), 0);
  EXPECT_EQ(unused.step_count, 0);
}

}  // namespace
}  // namespace d88test
