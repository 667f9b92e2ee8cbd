#include "pack/volpack.h"

#include <sys/stat.h>
#ifndef _WIN32
#include <sys/mount.h>
#include <unistd.h>
#endif

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "d88/d88_file.h"
#include "gtest/gtest.h"
#include "runs/extraction_table.h"
#include "runs/packing.h"
#include "tests/image_builder.h"
#include "tests/test_util.h"

namespace d88test {
namespace {

// Where byte `at` of the data of sector (c, h, r) of the demonstration disk
// lies in its image.
size_t DataOffset(const std::vector<DiskSpec>& disks, int c, int h, int r,
                  size_t at) {
  const std::vector<int>& order = InterleavedNine();
  const size_t index = static_cast<size_t>(
      std::find(order.begin(), order.end(), r) - order.begin());
  return TrackOffset(disks, 0, 2 * c + h) + index * (kSectorHeaderSize + 512) +
         kSectorHeaderSize + at;
}

class VolpackTest : public ::testing::Test {
 protected:
  // Extracts the files of `disks`, or of `image`, into the working
  // directory.
  void Extract(const std::vector<DiskSpec>& disks) {
    ExtractImage(BuildImage(disks));
  }
  void ExtractImage(const Bytes& image) {
    image_ = image;
    ASSERT_TRUE(WriteFile(dir_.File("image.d88"), image_));
    ASSERT_EQ(RunCommand(VOLSPAR_PATH, {dir_.File("image.d88")}, work_->path())
                  .status,
              0);
  }
  CommandResult Pack(const std::string& target = "new.d88") {
    return RunCommand(VOLPACK_PATH, {dir_.File("image.d88"), target},
                      work_->path());
  }
  void Poke(const char* file, size_t at, uint8_t value) {
    Bytes bytes = ReadFile(work_->File(file));
    bytes[at] = value;
    ASSERT_TRUE(WriteFile(work_->File(file), bytes));
  }

  const std::vector<DiskSpec> demo_ = {StandardDisk(40, InterleavedNine())};
  TempDir dir_;
  TempDir own_work_;
  TempDir* work_ = &own_work_;  // the commands' working directory
  Bytes image_;
};

// Unchanged files give the image back; one byte changed in a file changes
// that one byte of the image, and volspar then extracts the edited file.
TEST_F(VolpackTest, PutsEachByteBackWhereItCameFrom) {
  Extract(demo_);
  CommandResult result = Pack();
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadFile(work_->File("new.d88")), image_);
  EXPECT_EQ(result.out.substr(result.out.size() - 21),
            "new.d88 was written.\n");
  for (int row = 0; row < kExtractionRows; ++row) {
    const ExtractionEntry& entry = kExtractionTable[row];
    SCOPED_TRACE(entry.file_name);
    const size_t at = static_cast<size_t>(entry.write_length) - 1;
    const size_t in_run = static_cast<size_t>(entry.write_offset) + at;
    // The sector of the run that holds the file's last byte.
    int c = entry.c, h = entry.h, r = entry.r;
    for (size_t s = 0; s < in_run / 512; ++s) {
      if (r++ == 9) {
        r = 1;
        c += h;
        h ^= 1;
      }
    }
    Poke(entry.file_name, at, 0xA5);
    const Bytes edited = ReadFile(work_->File(entry.file_name));
    result = Pack();
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find(std::string(entry.file_name) +
                              ": 1 byte changed in 1 of its "),
              std::string::npos)
        << result.out;
    const Bytes packed = ReadFile(work_->File("new.d88"));
    Bytes expected = image_;
    expected[DataOffset(demo_, c, h, r, in_run % 512)] = 0xA5;
    EXPECT_EQ(packed, expected);
    // Back: the new image gives the edited file.
    ExtractImage(packed);
    EXPECT_EQ(ReadFile(work_->File(entry.file_name)), edited);
  }
}

// A changed sector keeps its header, and a header that says more than the
// bytes gets a note. Of two records with one ID, the first is the one read,
// and so the one written.
TEST_F(VolpackTest, WritesTheFirstOfDuplicateIds) {
  const struct {
    std::function<void(std::vector<SectorSpec>*)> change;
    std::string note;
  } cases[] = {
      {[](std::vector<SectorSpec>* t) { t->push_back((*t)[1]); },
       "is the first of 2 records with its ID; the others keep their bytes"},
      {[](std::vector<SectorSpec>* t) { (*t)[1].status = 0xB0; },
       "keeps its data CRC error status (0xB0); an emulator may still report "
       "the error"},
      {[](std::vector<SectorSpec>* t) { (*t)[1].deleted = 0x10; },
       "keeps its deleted-data mark; an emulator may still treat the sector "
       "as deleted"},
  };
  for (const auto& [change, note] : cases) {
    SCOPED_TRACE(note);
    std::vector<DiskSpec> disks = demo_;
    change(&disks[0].tracks[29]);  // 14/1/6, TRV06's first sector
    Extract(disks);
    Poke("TRV06.BIN", 0, 0x5A);
    const CommandResult result = Pack();
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("note: 14/1/6/2 " + note + "\n"),
              std::string::npos)
        << result.out;
    Bytes expected = image_;
    expected[DataOffset(disks, 14, 1, 6, 0)] = 0x5A;
    EXPECT_EQ(ReadFile(work_->File("new.d88")), expected);
  }
}

// Every refusal says why, and writes nothing: no new image, no new file.
TEST_F(VolpackTest, RefusesWhatCannotGoBackAndWritesNothing) {
  std::vector<DiskSpec> short_sector = demo_;
  short_sector[0].tracks[30][6].data.resize(300);  // 15/0/4/2
  std::vector<DiskSpec> short_last = demo_;
  short_last[0].tracks[1][1].data.resize(127);  // 0/1/6/2, TRV02's bytes
  // Track 100's records start inside TRV02's bytes, as a layout may have
  // them: the file's bytes 0-15 are also a record header.
  Bytes overlapping = BuildImage(demo_);
  const size_t r6 = DataOffset(demo_, 0, 1, 6, 80);
  PutLe32(
      &overlapping, kTrackTableField + 4 * 100,
      static_cast<uint32_t>(r6 - TrackOffset(demo_, 0, 0) + kDiskHeaderSize));
  const auto edit = [](const char* name, size_t at) {
    return [name, at](const std::string& w) {
      Bytes file = ReadFile(w + "/" + name);
      file[at] ^= 0xFF;
      ASSERT_TRUE(WriteFile(w + "/" + name, file));
    };
  };
  // Disk 1's track 0 starts inside TRV07's first sector, by a negative
  // entry that the reader follows.
  const std::vector<DiskSpec> two = {demo_[0], StandardDisk(1, {1})};
  Bytes second_disk = BuildImage(two);
  const size_t r13 = DataOffset(demo_, 13, 0, 6, 0);
  const size_t disk1 = TrackOffset(two, 1, 0) - kDiskHeaderSize;
  PutLe32(&second_disk, disk1 + kTrackTableField,
          static_cast<uint32_t>(r13 - disk1));
  const auto id = [](const Bytes& image, size_t at) {
    return std::to_string(image[at]) + "/" + std::to_string(image[at + 1]) +
           "/" + std::to_string(image[at + 2]) + "/" +
           std::to_string(image[at + 3]);
  };
  const struct {
    const char* what;
    Bytes image;
    std::function<void(const std::string&)> change;  // to the files
    std::string err;
    std::string target = "new.d88";
  } cases[] = {
      {"missing", BuildImage(demo_),
       [](const std::string& w) { std::remove((w + "/TRV05.BIN").c_str()); },
       "volpack: cannot open TRV05.BIN: No such file or directory\n"},
      {"long", BuildImage(demo_),
       [](const std::string& w) {
         ASSERT_TRUE(WriteFile(w + "/TRV02.BIN", Bytes(49)));
       },
       "volpack: TRV02.BIN is 49 bytes long; it must be 48\n"},
      {"directory", BuildImage(demo_),
       [](const std::string& w) {
         std::filesystem::remove(w + "/TRV03.BIN");
         std::filesystem::create_directory(w + "/TRV03.BIN");
       },
       "volpack: TRV03.BIN is a directory\n"},
      // Byte 299 is the short sector's last; byte 300 has no home.
      {"short", BuildImage(short_sector), edit("TRV04.BIN", 300),
       "volpack: TRV04.BIN cannot go back: 15/0/4/2 on track 30 is short "
       "(300 of 512 bytes)\n"},
      // Only the file's last byte has no home.
      {"last byte", BuildImage(short_last), edit("TRV02.BIN", 47),
       "volpack: TRV02.BIN cannot go back: 0/1/6/2 on track 1 is short "
       "(127 of 512 bytes)\n"},
      {"header", overlapping, edit("TRV02.BIN", 2),
       "volpack: TRV02.BIN cannot go back: its byte 2 would change the "
       "header of record " +
           id(overlapping, r6) + " on track 100\n"},
      {"header on disk 1", second_disk, edit("TRV07.BIN", 0),
       "volpack: TRV07.BIN cannot go back: its byte 0 would change the "
       "header of record " +
           id(second_disk, r13) + " on track 0 of disk 1\n"},
      {"not an image", Bytes(800, 'a'), nullptr,
       "volpack: " + dir_.File("image.d88") +
           " is not a D88 image: the write-protect byte is 0x61, not 0x00 "
           "or 0x10\n"},
      {"an archive",
       [] {
         Bytes gzip = {0x1F, 0x8B, 0x08};
         gzip.resize(1000);
         return gzip;
       }(),
       nullptr,
       "volpack: " + dir_.File("image.d88") +
           " is not a D88 image: it is a gzip file (unpack it first)\n"},
      {"onto a file", BuildImage(demo_), nullptr,
       "volpack: will not write over TRV01.BIN\n", "TRV01.BIN"},
      {"onto the image, by another name", BuildImage(demo_), nullptr,
       "volpack: will not write over " + dir_.File("image.d88") +
           ": it is the image\n",
       dir_.File("image.d88")},
  };
  for (const auto& [what, image, change, err, target] : cases) {
    SCOPED_TRACE(what);
    TempDir fresh;
    work_ = &fresh;
    ExtractImage(image);
    if (change) change(work_->path());
    const std::vector<std::string> before = work_->List();
    const CommandResult result = Pack(target);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, err + "volpack: nothing was written\n");
    EXPECT_EQ(work_->List(), before);
    EXPECT_EQ(ReadFile(dir_.File("image.d88")), image);
    work_ = &own_work_;
  }
}

// The new image goes where a command's output can go: standard output, a
// FIFO, a device; an image that is damaged goes back as it is, and says so.
TEST_F(VolpackTest, WritesStreamsAndKeepsDamageItSays) {
  Extract(demo_);
  Poke("TRV03.BIN", 0, 0x3C);
  Bytes expected = image_;
  expected[DataOffset(demo_, 1, 0, 2, 0)] = 0x3C;
  CommandResult result = RunCommand(VOLPACK_PATH, {dir_.File("image.d88"), "-"},
                                    work_->path(), dir_.File("out.d88"));
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadFile(dir_.File("out.d88")), expected);
  EXPECT_NE(result.err.find("TRV03.BIN: 1 byte changed"), std::string::npos);
#ifndef _WIN32
  FifoReader fifo(dir_.File("fifo"));
  ASSERT_TRUE(fifo.ok());
  result = Pack(fifo.path());
  const std::string read_back = fifo.Read();
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(Bytes(read_back.begin(), read_back.end()), expected);
  EXPECT_EQ(Pack("/dev/null").status, 0);
#endif
  // Cut inside track 24: the runs of TRV04 and later find nothing.
  Bytes cut = BuildImage(demo_);
  cut.resize(119152);
  ExtractImage(cut);
  result = Pack();
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadFile(work_->File("new.d88")), cut);
  EXPECT_EQ(result.out.rfind("note: " + dir_.File("image.d88") +
                                 " is damaged (d88info tells how); new.d88 "
                                 "keeps that damage\n",
                             0),
            0u)
      << result.out;
  EXPECT_EQ(work_->List().size(), 8u);  // the seven files and the image
}

// What was written is read back as volspar would before it counts: a write
// that went wrong is caught, and nothing is left.
TEST_F(VolpackTest, TheCheckCatchesAWriteThatWentWrong) {
  Extract(demo_);
  static size_t spoil_at;
  spoil_at = DataOffset(demo_, 4, 0, 5, 7);  // TRV01.BIN's byte 7
  const PackHook spoil = [](const char* path) {
    Bytes bytes = ReadFile(path);
    bytes[spoil_at] ^= 1;
    ASSERT_TRUE(WriteFile(path, bytes));
  };
  int status = 0;
  const std::string err = Printed([&](std::FILE* err_file) {
    Printed([&](std::FILE* out_file) {
      const std::filesystem::path here = std::filesystem::current_path();
      std::filesystem::current_path(work_->path());
      status = Volpack(dir_.File("image.d88").c_str(), "new.d88", out_file,
                       err_file, spoil);
      std::filesystem::current_path(here);
    });
  });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err,
            "volpack: the new image would not give back TRV01.BIN: its byte 7 "
            "differs\nvolpack: nothing was written\n");
  EXPECT_EQ(work_->List().size(), 7u);
}

// A copy from an image shorter than the plan reaches fails: it is not the
// image the plan was made on.
TEST(PackingTest, ACopyFromAShorterImageFails) {
  static PackPlan plan;
  plan.segments[0] = {0, 0, 0, 16, 1000};
  plan.segment_count = 1;
  const Bytes file(20096, 1);
  const uint8_t* files[kExtractionRows] = {file.data()};
  TempDir dir;
  const std::string target = dir.File("new");
  for (const auto& [size, copied] : {std::pair{1016, true}, {1010, false}}) {
    ASSERT_TRUE(WriteFile(dir.File("image"), Bytes(size)));
    InputFile image;
    OutputFile out;
    ASSERT_TRUE(image.Open(dir.File("image").c_str()) &&
                out.Create(target.c_str()));
    EXPECT_EQ(WritePacked(&image, image.size(), plan, files, &out), copied);
    EXPECT_EQ(out.Commit(), copied);
    EXPECT_EQ(ReadFile(target).size(), copied ? 1016u : 0u);
    std::remove(target.c_str());
  }
}

// Files that put different bytes on the same image bytes are named.
TEST(PackingTest, FilesMustAgreeOnSharedBytes) {
  static PackPlan plan;
  plan.model.rows[0].steps[0] = {
      8, 4, 0, 5, 2, 0, 512, d88::StepResult::kRead, 1000};
  plan.model.rows[5].steps[2] = {
      29, 14, 1, 8, 2, 0, 512, d88::StepResult::kRead, 1000};
  plan.segments[0] = {0, 0, 0, 16, 1000};
  plan.segments[1] = {5, 2, 4, 8, 1008};
  plan.segment_count = 2;
  Bytes one(20096, 1);
  Bytes six(3072, 1);
  const uint8_t* files[kExtractionRows] = {one.data(), nullptr, nullptr,
                                           nullptr,    nullptr, six.data()};
  EXPECT_TRUE(CheckAgreement(plan, files, stderr));
  six[10] = 2;
  EXPECT_EQ(Printed([&](std::FILE* err) {
              EXPECT_FALSE(CheckAgreement(plan, files, err));
            }),
            "volpack: TRV01.BIN and TRV06.BIN disagree on 4/0/5/2\n");
}

#ifndef _WIN32
// An image that fails is not taken for a shorter one: a read that fails
// fails volspar, which keeps the files it wrote, volpack, which writes
// nothing, and d88info, which says it after what it found; nor does
// volpack write when the image changes under it.
TEST_F(VolpackTest, AnImageThatFailsIsNotTrusted) {
  Extract(demo_);
  const std::string image = dir_.File("image.d88");
  const std::string bad_sector =
      "FAULT_BYTE=" + std::to_string(DataOffset(demo_, 13, 0, 6, 0));
  const std::string nothing = "volpack: nothing was written\n";
  const std::vector<std::string> volspar = {VOLSPAR_PATH, image};
  const std::vector<std::string> volpack = {VOLPACK_PATH, image, "new.d88"};
  const std::string unread = "cannot read " + image + ": Input/output error\n";
  const std::string copy = dir_.File("copy.d88");
  ASSERT_TRUE(WriteFile(copy, ReadFile(image)));
  const struct {
    std::string fault;
    std::vector<std::string> command;
    int status;
    std::string err;
    std::string out;  // what standard output holds, in part
  } cases[] = {
      {bad_sector, volspar, 1, "volspar: " + unread, "TRV01.BIN"},
      {bad_sector, volpack, 1, "volpack: " + unread + nothing, ""},
      {"FAULT_SHRINK_ON_OPEN=2", volpack, 1,
       "volpack: " + image + " changed while volpack was reading it\n" +
           nothing,
       ""},
      // What d88info found is shown, and the failure said after it.
      {bad_sector,
       {D88INFO_PATH, "-s", image},
       7,
       "d88info: " + unread,
       "damaged"},
      {bad_sector,
       {D88INFO_PATH, "--json", image},
       7,
       "d88info: " + unread,
       "\"error\":\"cannot read: Input/output error\""},
      // The tools that copy and merge: a read that fails is no end of file.
      {bad_sector,
       {D88MERGE_PATH, image, copy},
       1,
       "d88merge: " + unread,
       "disk 0:"},
      {bad_sector,
       {D88MERGE_PATH, image, copy, "-o", "new.d88"},
       1,
       "d88merge: " + unread + "d88merge: nothing was written\n",
       ""},
      {bad_sector,
       {D88CONV_PATH, "--to-raw", image, "new.raw"},
       1,
       "d88conv: " + unread,
       ""},
      {bad_sector,
       {D88CONV_PATH, "--disk", "0", image, "new.d88"},
       1,
       "d88conv: " + unread,
       ""},
  };
  for (const auto& [fault, command, status, err, out] : cases) {
    SCOPED_TRACE(fault + " " + command[0]);
    std::vector<std::string> line = {
        "FAULT_NAME=image.d88", fault, "ASAN_OPTIONS=verify_asan_link_order=0",
        std::string("LD_PRELOAD=") + FAULTY_FILE_PATH};
    line.insert(line.end(), command.begin(), command.end());
    const CommandResult result =
        RunCommand("/usr/bin/env", line, work_->path());
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(result.err, err);
    EXPECT_NE(result.out.find(out), std::string::npos) << out;
    EXPECT_EQ(work_->List().size(), 7u);  // no new image
  }
}

// A full file system: no new image, and nothing left behind.
TEST_F(VolpackTest, FullFileSystemLeavesNothing) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  TempDir small;
  if (mount("tmpfs", small.path().c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  }
  Extract(demo_);
  const CommandResult result = Pack(small.File("new.d88"));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "volpack: cannot write " + small.File("new.d88") +
                            ": No space left on device\n"
                            "volpack: nothing was written\n");
  EXPECT_EQ(small.List(), std::vector<std::string>());
  umount(small.path().c_str());
}
#endif

}  // namespace
}  // namespace d88test
