#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "d88/version.h"
#include "gtest/gtest.h"
#include "tests/image_builder.h"
#include "tests/test_util.h"

namespace d88test {
namespace {

// The end of an incomplete file's line: how many of its bytes are real, and
// what the others would be: `from`, files whose runs left them, or zeros.
std::string Left(int got, int needed, const std::string& from = "") {
  return "; " + std::to_string(got) + " of the file's " +
         std::to_string(needed) + " bytes come from the image, the other " +
         std::to_string(needed - got) + " would be " +
         (from.empty() ? "zeros"
                       : "left over from earlier runs (" + from + ")");
}

// `disks`, one disk, written with a 160-entry track table, as some tools
// write images: the first track starts at 0x2A0, where entries 160-163
// would be.
Bytes ShortTable(const std::vector<DiskSpec>& disks) {
  Bytes image = BuildImage(disks);
  constexpr size_t kShortEnd = 0x2A0;
  image.erase(image.begin() + kShortEnd, image.begin() + kDiskHeaderSize);
  const size_t shift = kDiskHeaderSize - kShortEnd;
  for (size_t entry = kTrackTableField; entry < kShortEnd; entry += 4) {
    const uint32_t offset = image[entry] | image[entry + 1] << 8 |
                            image[entry + 2] << 16 |
                            static_cast<uint32_t>(image[entry + 3]) << 24;
    if (offset != 0)
      PutLe32(&image, entry, static_cast<uint32_t>(offset - shift));
  }
  PutLe32(&image, kDiskSizeField, static_cast<uint32_t>(image.size()));
  return image;
}

// The demonstration disk: 40 cylinders, two sides, nine 512-byte sectors a
// track; with `change` made to it.
DiskSpec Demo(void (*change)(DiskSpec*) = nullptr) {
  DiskSpec disk = StandardDisk(40, InterleavedNine());
  if (change != nullptr) change(&disk);
  return disk;
}
Bytes DemoImage(void (*change)(DiskSpec*) = nullptr) {
  return BuildImage({Demo(change)});
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// `image` cut or filled out with `fill` to `size` bytes.
Bytes Resized(Bytes image, size_t size, uint8_t fill = 0) {
  image.resize(size, fill);
  return image;
}

// `image` with `value` written at `offset`.
Bytes Put32(Bytes image, size_t offset, uint32_t value) {
  PutLe32(&image, offset, value);
  return image;
}

// Where the track table holds `track`'s offset.
constexpr size_t Entry(int track) { return kTrackTableField + 4 * track; }

// Whether `text` holds every one of `parts`.
::testing::AssertionResult Holds(const std::string& text,
                                 const std::vector<std::string>& parts) {
  std::string missing;
  for (const std::string& part : parts) {
    if (text.find(part) == std::string::npos) missing += "\n" + part;
  }
  if (missing.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "missing:" << missing << "\nin:\n"
                                       << text;
}

// The last `size` bytes of `text`, or all of it.
std::string Last(const std::string& text, size_t size) {
  return text.substr(text.size() - std::min(text.size(), size));
}

// The report's line for a demonstration disk named `name`.
std::string DemoDiskLine(int disk, const std::string& name,
                         const std::string& media = "0x00 (2D)") {
  return "disk " + std::to_string(disk) + ": \"" + name + "\", media type " +
         media +
         ", write-protect off, 80 tracks (40 cylinders \xC3\x97 2 sides), 9 "
         "sectors of 512 bytes\n";
}

// The summary's verdict on the demonstration disk.
const char kClean[] = "1 disk, clean; volspar: complete";

// The line of `out` that starts with `prefix`, without its line feed.
std::string LineStarting(const std::string& out, const std::string& prefix) {
  const size_t at = out.rfind(prefix, 0) == 0 ? 0 : out.find("\n" + prefix) + 1;
  if (at == std::string::npos + 1) return "no line " + prefix + " in " + out;
  return out.substr(at, out.find('\n', at) - at);
}

// Arguments, and what the command says to them.
struct Said {
  std::vector<std::string> args;
  std::string text;
};

class D88infoTest : public ::testing::Test {
 protected:
  CommandResult Run(const std::vector<std::string>& args) {
    return RunCommand(D88INFO_PATH, args, dir_.path());
  }
  CommandResult RunOn(const Bytes& image,
                      std::vector<std::string> options = {}) {
    EXPECT_TRUE(WriteFile(image_, image));
    options.push_back(image_);
    return Run(options);
  }
  // The map drawn of `image`.
  std::string MapOf(const Bytes& image) {
    RunOn(image, {"--map", map_});
    return ReadText(map_);
  }
  // The summary line that gives image.d88 `verdict`.
  std::string Summary(const std::string& verdict) const {
    return "\"" + image_ + "\": " + verdict + "\n";
  }
  // The line that checks `file` in the report on the demonstration disk
  // after `change`, and the exit status.
  struct FileLine {
    const char* file;
    void (*change)(DiskSpec*);
    int status;
    std::string line;
  };
  void ExpectFileLines(const std::vector<FileLine>& cases) {
    for (const auto& [file, change, status, line] : cases) {
      const std::string prefix = "  " + std::string(file) + ": ";
      const CommandResult result = RunOn(DemoImage(change));
      EXPECT_EQ(result.status, status) << prefix + line;
      EXPECT_EQ(LineStarting(result.out, prefix), prefix + line);
    }
  }

  TempDir dir_;
  const std::string image_ = dir_.File("image.d88");
  const std::string map_ = dir_.File("map.svg");
};

TEST_F(D88infoTest, DemonstrationImageIsComplete) {
  const CommandResult result =
      RunOn(DemoImage([](DiskSpec* d) { d->name = "VOLSPAR DEMO"; }));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  const std::string head =
      "disks: 1\n" + DemoDiskLine(0, "VOLSPAR DEMO") +
      "  track 0: 0/0/1/2 0/0/6/2 0/0/2/2 0/0/7/2 0/0/3/2 0/0/8/2 0/0/4/2 "
      "0/0/9/2 0/0/5/2\n";
  EXPECT_EQ(result.out.substr(0, head.size()), head) << result.out;
  EXPECT_TRUE(Holds(result.out, {"\n  track 79: 39/1/1/2 "}));
  const std::string tail =
      "volspar's runs on disk 0 (sectors 1-9, N 2):\n"
      "  TRV01.BIN: complete\n  TRV02.BIN: complete\n"
      "  TRV03.BIN: complete\n  TRV04.BIN: complete\n"
      "  TRV05.BIN: complete\n  TRV06.BIN: complete\n"
      "  TRV07.BIN: complete\n"
      "the image is clean; volspar would extract complete files from this "
      "image\n";
  EXPECT_EQ(Last(result.out, tail.size()), tail);
}

// An incomplete file names where its run stopped and how many of its bytes
// are real; a short sector's bytes count.
TEST_F(D88infoTest, NamesTheSectorWhereARunStops) {
  ExpectFileLines({
      {"TRV03.BIN",
       [](DiskSpec* d) { d->tracks[2].erase(d->tracks[2].begin() + 2); }, 2,
       "incomplete: the run stops at 1/0/2/2 on track 2 (missing)" +
           Left(0, 976, "TRV02.BIN")},
      // The walk ends at a count of 0 before the sector: its bytes are
      // there, but the track says it holds no more sectors.
      {"TRV07.BIN", [](DiskSpec* d) { d->tracks[26][3].sector_count = 0; }, 2,
       "incomplete: the run stops at 13/0/7/2 on track 26 (missing: the track "
       "ends at a record whose sector count is 0)" +
           Left(512, 1536, "TRV06.BIN")},
      // Row 1's run has crossed to the next cylinder when it meets the gap.
      {"TRV01.BIN",
       [](DiskSpec* d) { d->tracks[10].erase(d->tracks[10].begin() + 4); }, 2,
       "incomplete: the run stops at 5/0/3/2 on track 10 (missing)" +
           Left(8192, 20096)},
      {"TRV05.BIN", [](DiskSpec* d) { d->tracks[27][7].data.resize(50); }, 2,
       "incomplete: the run stops at 13/1/9/2 on track 27 (short data: 50 of "
       "512 bytes)" +
           Left(1074, 1078, "TRV04.BIN")},
      {"TRV04.BIN", [](DiskSpec* d) { d->tracks[30][6].data.resize(300); }, 2,
       "incomplete: the run stops at 15/0/4/2 on track 30 (short data: 300 of "
       "512 bytes)" +
           Left(300, 1691, "TRV03.BIN")},
      // Files that end inside a short sector's bytes hold only bytes of the
      // image: TRV02 takes bytes 80-127 of R6, TRV03 464 bytes of R3.
      {"TRV02.BIN", [](DiskSpec* d) { d->tracks[1][1].data.resize(200); }, 0,
       "complete"},
      {"TRV03.BIN", [](DiskSpec* d) { d->tracks[2][4].data.resize(464); }, 0,
       "complete"},
  });
}

// Sectors whose headers say their bytes may be wrong make the files they
// feed suspect; outside every file's range they only show in the notes.
TEST_F(D88infoTest, SuspectSectorsInAFilesRange) {
  ExpectFileLines({
      {"TRV03.BIN", [](DiskSpec* d) { d->tracks[2][4].status = 0xB0; }, 6,
       "suspect: 1/0/3/2 (CRC error)"},
      {"TRV02.BIN", [](DiskSpec* d) { d->tracks[1][1].status = 0xA0; }, 6,
       "suspect: 0/1/6/2 (CRC error)"},
      {"TRV05.BIN",
       [](DiskSpec* d) {
         d->tracks[27][5].status = 0xF0;  // C13 H1 R8
         d->tracks[27][7].status = 0xE0;  // R9
       },
       6, "suspect: 13/1/8/2 (no data mark), 13/1/9/2 (no address mark)"},
      {"TRV04.BIN",
       [](DiskSpec* d) {
         d->tracks[30][8].deleted = 0x10;  // C15 H0 R5
         d->tracks[30][8].status = 0x10;
       },
       2, "suspect: 15/0/5/2 (deleted)"},
      {"TRV06.BIN",
       [](DiskSpec* d) { d->tracks[29].push_back(d->tracks[29][1]); }, 2,
       "suspect: 14/1/6/2 (duplicate)"},
      {"TRV01.BIN", [](DiskSpec* d) { d->tracks[10][0].status = 0x42; }, 6,
       "suspect: 5/0/1/2 (unknown status)"},
      // The status of deleted data alone marks it deleted.
      {"TRV04.BIN", [](DiskSpec* d) { d->tracks[30][8].status = 0x10; }, 2,
       "suspect: 15/0/5/2 (deleted)"},
      // TRV06 ends exactly where its seventh sector, C15 H0 R3, starts.
      {"TRV06.BIN", [](DiskSpec* d) { d->tracks[30][4].status = 0xB0; }, 4,
       "complete"},
      // TRV02 takes bytes 80-127 of its run: R7 is read but not used.
      {"TRV02.BIN", [](DiskSpec* d) { d->tracks[1][3].status = 0xB0; }, 4,
       "complete"},
      // Density and a longer data field do not change the bytes read.
      {"TRV07.BIN",
       [](DiskSpec* d) {
         d->tracks[26][1].density = 0x40;
         d->tracks[26][1].data.resize(600);
       },
       0, "complete"},
  });
  const CommandResult result = RunOn(DemoImage([](DiskSpec* d) {
    d->tracks[2][4].status = 0xB0;
    d->tracks[1][3].status = 0xB0;
  }));
  EXPECT_TRUE(Holds(result.out, {"\n  track 1: 0/1/1/2 0/1/6/2 0/1/2/2 0/1/7/2 "
                                 "0/1/3/2 0/1/8/2 0/1/4/2 0/1/9/2 0/1/5/2\n"
                                 "    note: 0/1/7/2: data CRC error (status "
                                 "0xB0)\n  track 2: "}));
  EXPECT_EQ(LineStarting(result.out, "the image"),
            "the image holds read errors (2 sectors); volspar would extract "
            "complete files from this image, but 1 of 7 files are suspect");
}

// Every record that stands out gets a note in words, at most 16 a track.
TEST_F(D88infoTest, TrackNotesNameWhatStandsOut) {
  DiskSpec disk;
  const int records[][5] = {
      // R, status, deleted mark, density, data size
      {1, 0xA0, 0, 0, 256}, {2, 0xB0, 0, 0, 256},    {3, 0xE0, 0, 0, 256},
      {4, 0xF0, 0, 0, 256}, {5, 0x10, 0, 0, 256},    {6, 0x42, 0, 0, 256},
      {7, 0, 0x10, 0, 256}, {8, 0, 0x03, 0x40, 256}, {9, 0, 0, 0x01, 300},
      {9, 0, 0, 0x07, 256},
  };
  for (const auto& [r, status, deleted, density, size] : records) {
    disk.tracks[0].push_back({0, 0, r, 1, Bytes(static_cast<size_t>(size)), -1,
                              -1, density, deleted, status});
  }
  EXPECT_TRUE(
      Holds(RunOn(BuildImage({disk})).out,
            {"    note: 0/0/1/1: ID CRC error (status 0xA0)\n"
             "    note: 0/0/2/1: data CRC error (status 0xB0)\n"
             "    note: 0/0/3/1: no address mark (status 0xE0)\n"
             "    note: 0/0/4/1: no data mark (status 0xF0)\n"
             "    note: 0/0/5/1: deleted data (status 0x10)\n"
             "    note: 0/0/6/1: unknown status 0x42\n"
             "    note: 0/0/7/1: deleted mark (0x10)\n"
             "    note: 0/0/8/1: unknown deleted mark 0x03, single density "
             "(FM)\n"
             "    note: 0/0/9/1: high density, data size 300, not 256, "
             "duplicate ID (1 of 2, the one read)\n"
             "    note: 0/0/9/1: unknown density 0x07, duplicate ID (2 of "
             "2)\n"}));

  // 300 records with empty data: listed up to 256, noted up to 16; the
  // map draws as many.
  std::vector<SectorSpec> many;
  for (int r = 1; r <= 300; ++r) many.push_back({1, 0, r % 256, 0, Bytes()});
  disk.tracks[0] = many;
  const std::string listing = RunOn(BuildImage({disk}), {"--map", map_}).out;
  const std::string line = LineStarting(listing, "  track 0: ");
  const std::string tail =
      " 1/0/255/0 1/0/0/0 \xE2\x80\xA6 and 44 more records";
  EXPECT_EQ(Last(line, tail.size()), tail);
  EXPECT_TRUE(Holds(ReadText(map_), {">\xE2\x80\xA6 and 44 more records<"}));
  EXPECT_TRUE(Holds(listing, {"    note: 1/0/16/0: data size 0, not 128, "
                              "duplicate ID (1 of 2, the one read)\n"
                              "    \xE2\x80\xA6 and 284 more notes\n"}));
}

// Tracks that all start at different records of one 65,535-record track:
// the listing stops after 2^20 records, so the report ends well within a
// second.
TEST_F(D88infoTest, ListingStopsAtItsRecordBudget) {
  const Bytes one = AliasedTrackDisk();
  Bytes image = one;
  image.insert(image.end(), one.begin(), one.end());
  const CommandResult result = RunOn(image);
  EXPECT_EQ(result.status, 6);
  EXPECT_TRUE(Holds(result.out, {" and later: not listed, past the 1048576 "
                                 "records d88info lists of one image\n"}));
  EXPECT_LT(result.out.size(), 2000000u);
}

// Layouts the reader accepts as they are, explained.
TEST_F(D88infoTest, ExplainsOddLayouts) {
  const Bytes one = DemoImage();
  const size_t track0 = TrackOffset({Demo()}, 0, 0);
  // Only the first disk's header decides whether the file is D88 at all,
  // so the odd headers stand second.
  const DiskSpec zero = Demo([](DiskSpec* d) { d->size = 0; });
  const struct {
    Bytes image;
    std::string text;
    std::string absent = "";  // what must not be said
  } cases[] = {
      {Resized(one, one.size() + 100),
       "\nnote: 100 bytes after the last disk, all zero\n"},
      // Sectors that the sector counts hide: behind a count of 0, and past
      // the stated last record.
      {DemoImage([](DiskSpec* d) { d->tracks[26][3].sector_count = 0; }),
       "    note: the track ends at record 4, whose sector count is 0\n"
       "    note: 5 more records follow it\n"},
      {DemoImage([](DiskSpec* d) {
         for (SectorSpec& r : d->tracks[3]) r.sector_count = 5;
       }),
       "  track 3: 1/1/1/2 1/1/6/2 1/1/2/2 1/1/7/2 1/1/3/2\n"
       "    note: 4 more records follow the stated last one\n"},
      // A track never formatted: one empty record, said once for the disk.
      {DemoImage([](DiskSpec* d) {
         d->tracks[5] = {{0, 0, 0, 0, Bytes(), 0}};
       }),
       "  note: unformatted tracks (a single empty record): 5\n", "track 5:"},
      // An entry above the size marks an absent track, whatever its number.
      {Put32(one, Entry(10), 0x7FFFFFF0),
       "  note: track entries beyond the disk's size, ignored: 10\n"},
      {ShortTable({Demo()}),
       "  note: a 160-entry track table (the first track starts at 0x2A0)\n"
       "  track 0: ",
       "track 161:"},
      // The size field one byte short of the last record's end.
      {Put32(one, kDiskSizeField, static_cast<uint32_t>(one.size() - 1)),
       "    note: 39/1/5/2: runs past the end of its disk\n"},
      {Resized(one, one.size() + 3, 0x1A),
       "\nnote: 3 bytes after the last disk, not all zero\n"},
      {BuildImage(std::vector<DiskSpec>(65)),
       "\nnote: the file holds more than 64 disks; only the first 64 are "
       "read\n"},
      {BuildImage({Demo(), zero}),
       "write-protect off\n"
       "  note: the size field is 0, so the next disk is this one again\n"},
      {BuildImage({Demo(), zero}), "\ndisk 63: same as disk 1\nvolspar's runs"},
      {Put32(BuildImage({Demo(), Demo()}), one.size() + kDiskSizeField,
             0x80000000),
       "  note: the size field 0x80000000 is 2 GiB or more, read as "
       "-2147483648\n"},
      {Put32(Put32(one, Entry(160), 0x7FFFFFF0), Entry(161), 0x7FFFFFF1),
       "  note: track entries beyond the disk's size, ignored: 160, 161\n"},
      // A negative entry that the disk's start does not make up for.
      {Put32(one, Entry(162), 0x80000000),
       "  note: track entries before the start of the file, ignored: 162\n"},
      {Put32(one, Entry(163), 672),
       "  note: track entries inside the 688-byte disk header, as in images "
       "written with a 160-entry track table: 163\n"},
      {Put32(one, Entry(100), static_cast<uint32_t>(track0)),
       "\n  track 100: same records as disk 0 track 0\n"},
  };
  for (const auto& [image, text, absent] : cases) {
    const CommandResult result = RunOn(image);
    EXPECT_TRUE(Holds(result.out, {text}));
    if (!absent.empty()) {
      EXPECT_EQ(result.out.find(absent), std::string::npos) << result.out;
    }
  }
}

// The fill colour of the map cell whose tooltip is `title`.
std::string CellFill(const std::string& svg, const std::string& title) {
  const size_t at = svg.find("<g><title>" + title + "</title>");
  if (at == std::string::npos) return "no cell " + title;
  const size_t fill = svg.find("fill=\"", at);
  return svg.substr(fill + 6, 7);
}

TEST_F(D88infoTest, MapShowsEachRecordItsStateAndTheRuns) {
  DiskSpec disk = Demo();
  disk.name = "A&B<C>";
  disk.tracks[2][4].status = 0xB0;                     // 1/0/3/2
  disk.tracks[27][3].deleted = 0x10;                   // 13/1/7/2
  disk.tracks[9].push_back(disk.tracks[9][0]);         // 4/1/1/2 twice
  disk.tracks[30][6].data.resize(300);                 // 15/0/4/2 short
  disk.tracks[26].erase(disk.tracks[26].begin() + 1);  // 13/0/6/2 missing
  const Bytes image = BuildImage({disk});
  const CommandResult plain = RunOn(image);
  const CommandResult result = RunOn(image, {"--map", map_});
  EXPECT_EQ(result.status, 6);
  EXPECT_EQ(result.out, plain.out);
  const std::string svg = ReadText(map_);
#ifndef _WIN32  // a Linux program
  if (std::ifstream("/usr/bin/xmllint").good()) {
    EXPECT_EQ(
        RunCommand("/usr/bin/xmllint", {"--noout", map_}, dir_.path()).status,
        0);
  }
#ifndef D88_SANITIZE  // valgrind cannot run a sanitized program
  // Nothing may touch the map's stream once it is committed and closed.
  if (std::ifstream("/usr/bin/valgrind").good()) {
    const CommandResult checked =
        RunCommand("/usr/bin/valgrind",
                   {"-q", "--error-exitcode=99", D88INFO_PATH, "-s", "--map",
                    map_, image_},
                   dir_.path());
    EXPECT_EQ(checked.status, 6) << checked.err;
  }
#endif
#endif
  size_t cells = 0;
  for (size_t at = svg.find("<g><title>"); at != std::string::npos;
       at = svg.find("<g><title>", at + 1)) {
    ++cells;
  }
  // One cell a record, one more for the duplicate, the gap drawn in place.
  EXPECT_EQ(cells, 80u * 9 + 1);
  EXPECT_TRUE(Holds(svg, {"disk 0: \"A&amp;B&lt;C&gt;\""}));
  const struct {
    std::string title;
    std::string fill;
  } expected[] = {
      {"0/0/1/2 normal", "#c7e9c0"},
      {"1/0/3/2 data CRC error (status 0xB0), in TRV03.BIN, read for "
       "TRV02.BIN, not in it",
       "#e45756"},
      {"13/1/7/2 deleted mark (0x10), in TRV05.BIN", "#b279a2"},
      {"4/1/1/2 duplicate ID (1 of 2, the one read), in TRV01.BIN", "#f58518"},
      {"4/1/1/2 duplicate ID (2 of 2)", "#f58518"},
      {"15/0/4/2 data size 300, not 512, in TRV04.BIN, read for TRV06.BIN, "
       "not in it",
       "#eeca3b"},
      {"13/0/6/2 missing, needed by TRV07.BIN", "#ffffff"},
  };
  for (const auto& [title, fill] : expected) {
    EXPECT_EQ(CellFill(svg, title), fill) << title;
  }

  // Another disk has no runs drawn; a disk that is not there, or a path
  // that cannot be written, fails.
  const CommandResult second =
      RunOn(BuildImage({disk, disk}), {"--map=" + map_, "--disk=1"});
  EXPECT_EQ(second.status, 6);
  EXPECT_EQ(CellFill(ReadText(map_), "1/0/3/2 data CRC error (status 0xB0)"),
            "#e45756");
  std::vector<Said> failures = {
      {{"--map", map_, "--disk", "2"},
       "d88info: cannot draw disk 2: the image has no such disk\n"},
      {{"--map", dir_.File("none/map.svg")},
       "d88info: cannot create " + dir_.File("none/map.svg") +
           ": No such file or directory\n"},
      // Last, so that the image checked below is the one it ran on.
      {{"--map", image_},
       "d88info: will not replace " + image_ + ": it is the image\n"},
  };
#ifndef _WIN32  // a device that fails every write
  failures.insert(failures.begin(),
                  {{"--map", "/dev/full"},
                   "d88info: cannot write /dev/full: No space left on "
                   "device\n"});
#endif
  for (const auto& [options, err] : failures) {
    const CommandResult failed = RunOn(image, options);
    EXPECT_EQ(failed.status, 1 | 6);
    EXPECT_EQ(failed.err, err);
  }
  EXPECT_EQ(ReadFile(image_), image);
}

// A map replaces only an empty file or an earlier map: `-s --map a.d88
// b.d88` reads as a mode switch, and a.d88 must stay a disk image. So too
// where the directory refuses new files and the file would be written in
// place.
TEST_F(D88infoTest, AMapReplacesOnlyAMap) {
  const Bytes game = DemoImage();
  ASSERT_TRUE(WriteFile(image_, game));
  const struct {
    Bytes before;
    bool replaced;
    bool closed = false;  // in a directory the user cannot write
  } cases[] = {
      {game, false},
      {Text("notes, not a picture\n"), false},
      {Bytes(), true},
      {Text("<?xml version=\"1.0\"?>\n<svg/>\n"), true},
      {Text("\xEF\xBB\xBF \n<svg xmlns=\"http://www.w3.org/2000/svg\"/>"),
       true},
      // Last: they may be skipped.
      {Text("notes, not a picture\n"), false, true},
      {Text("<svg/>\n"), true, true},
  };
  TempDir shut;
  for (const auto& [before, replaced, closed] : cases) {
    const std::string target = (closed ? shut : dir_).File("target");
    ASSERT_TRUE(WriteFile(target, before));
    std::vector<std::string> args = {"-s", "--map", target, image_};
    std::string runner = D88INFO_PATH;
    if (closed) {
#ifdef _WIN32
      GTEST_SKIP() << "no directory that refuses new files";
#else
      if (geteuid() == 0 && access("/usr/bin/setpriv", X_OK) != 0) {
        GTEST_SKIP() << "as root, this needs setpriv to run as nobody";
      }
      ASSERT_EQ(chmod(target.c_str(), 0666), 0);
      ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
      ASSERT_EQ(chmod(shut.path().c_str(), 0555), 0);
      runner = UserRunner(D88INFO_PATH);
      args = AsUser(D88INFO_PATH, args);
#endif
    }
    const CommandResult result = RunCommand(runner, args, dir_.path());
    ASSERT_EQ(chmod(shut.path().c_str(), 0755), 0);
    EXPECT_EQ(result.status, replaced ? 0 : 1);
    EXPECT_EQ(result.out, Summary(kClean));
    const Bytes after = ReadFile(target);
    if (replaced) {
      EXPECT_EQ(result.err, "");
      EXPECT_EQ(std::string(after.begin(), after.begin() + 5), "<?xml");
    } else {
      EXPECT_EQ(result.err, "d88info: will not replace " + target +
                                ": it is not an SVG file\n");
      EXPECT_EQ(after, before);
    }
  }
}

TEST_F(D88infoTest, ListsEveryDiskAndChecksOnlyTheFirst) {
  DiskSpec first;
  first.name = "FIRST";
  first.media_type = 0x10;
  first.write_protect = 0x10;
  first.tracks[0] = {{0, 0, 1, 2, Bytes(512)}, {0, 0, 2, 1, Bytes(256)}};
  DiskSpec second;
  second.name = "TAB\tQUOTE\"\\\x7F";
  second.media_type = 0x42;
  second.write_protect = 0x05;
  DiskSpec third = Demo();
  third.media_type = 0x30;
  const CommandResult result = RunOn(BuildImage({first, second, third}));
  EXPECT_EQ(result.status, 2);
  const std::string head =
      "disks: 3\n"
      "disk 0: \"FIRST\", media type 0x10 (2DD), write-protect on, 1 track "
      "(1 cylinder \xC3\x97 1 side), 2 sectors of mixed sizes\n"
      "  note: the media type 0x10 (2DD) does not fit the layout, which is "
      "that of a 1D disk\n"
      "  track 0: 0/0/1/2 0/0/2/1\n"
      "    note: the IDs do not all share one N\n"
      "disk 1: \"TAB\\x09QUOTE\\x22\\x5C\\x7F\", media type 0x42 (unknown), "
      "write-protect 0x05 (unknown)\n"
      "  no tracks\n" +
      DemoDiskLine(2, "", "0x30 (1D)") +
      "  note: the media type 0x30 (1D) does not fit the layout, which is "
      "that of a 2D disk\n"
      "  track 0: 0/0/1/2 ";
  EXPECT_EQ(result.out.substr(0, head.size()), head);
  // None of the tracks the runs read holds a sector: one line says so.
  const std::string files = "volspar's runs on disk 0 (sectors 1-9, N 2):\n";
  EXPECT_EQ(result.out.substr(result.out.find(files)),
            files +
                "  not a disk volspar reads: the tracks it reads hold no "
                "sectors\n"
                "the image is clean; volspar would not extract complete files "
                "from this image: it is not a disk volspar reads\n");
}

TEST_F(D88infoTest, UsageAndOpenFailures) {
  const std::string usage =
      "Usage: d88info [-s | --problems | --json] [--map FILE.svg [--disk N]] "
      "d88file...\n";
  const std::string missing = dir_.File("missing.d88");
  std::vector<Said> failures = {
      {{}, usage},
      {{"-x", "a.d88"}, "d88info: unknown option -x\n" + usage},
      {{"--map", "m.svg", "a", "b"},
       "d88info: --map takes one image\n" + usage},
      {{"--map", "m.svg", "--disk", "64", "a"},
       "d88info: --disk takes a number from 0 to 63\n"},
      {{"--disk=1", "a"}, "d88info: --disk goes with --map\n" + usage},
      {{"--map"}, "d88info: --map needs a file name\n" + usage},
      {{"--map="}, "d88info: --map needs a file name\n" + usage},
      {{"-s", "--json", "a"},
       "d88info: choose one of -s, --problems and --json\n" + usage},
      {{"-sx", "a"}, "d88info: unknown option -sx\n" + usage},
      {{"--bogus\x1B[2J", "a"},
       "d88info: unknown option --bogus\\x1B[2J\n" + usage},
      {{missing},
       "d88info: cannot open " + missing + ": No such file or directory\n"},
      {{dir_.path()}, "d88info: " + dir_.path() + " is a directory\n"},
  };
#ifndef _WIN32  // FIFOs and devices by path
  const std::string fifo = dir_.File("fifo.d88");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  failures.push_back({{fifo}, "d88info: " + fifo + " is not a regular file\n"});
  failures.push_back(
      {{"/dev/urandom"}, "d88info: /dev/urandom is not a regular file\n"});
#endif
  for (const auto& [args, err] : failures) {
    const CommandResult result = Run(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, err);
  }
  const Said informative[] = {
      {{"-h"}, usage},
      {{"-sh", "a"}, usage},
      {{"--version"}, "d88info " D88_VERSION_STRING "\n"},
  };
  for (const auto& [args, out] : informative) {
    const CommandResult result = Run(args);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.substr(0, out.size()), out);
  }
}

// Several images, one report or summary line each; the exit status is the
// worst of them.
TEST_F(D88infoTest, SeveralImagesAndTheSummary) {
#ifdef _WIN32  // no control bytes in Windows file names
  const std::string odd = "a b.d88";
  const std::string shown = odd;
#else
  const std::string odd = "a\nb.d88";
  const std::string shown = "a\\x0Ab.d88";
#endif
  // A CRC error at C1 H0 R3, in TRV03.BIN.
  const DiskSpec damaged =
      Demo([](DiskSpec* d) { d->tracks[2][4].status = 0xB0; });
  ASSERT_TRUE(WriteFile(dir_.File("clean.d88"), DemoImage()));
  ASSERT_TRUE(WriteFile(dir_.File(odd), BuildImage({damaged, Demo()})));
  ASSERT_TRUE(WriteFile(dir_.File("empty.d88"), {}));
  // Cut inside a record of track 24; the second of two disks cut in half.
  ASSERT_TRUE(WriteFile(dir_.File("cut.d88"), Resized(DemoImage(), 119152)));
  const Bytes two = BuildImage({Demo(), Demo()});
  ASSERT_TRUE(
      WriteFile(dir_.File("cut2.d88"), Resized(two, two.size() * 3 / 4)));
  const std::string clean = "\"clean.d88\": " + std::string(kClean) + "\n";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out;
  } cases[] = {
      {{"clean.d88"}, 0, ""},
      {{"-s", "clean.d88"}, 0, clean},
      // Options may follow the images, and the same one may come twice.
      {{"clean.d88", "-s", "--summary"}, 0, clean},
      {{"--summary", "clean.d88", odd, "missing.d88", "--", "empty.d88"},
       1 | 2 | 4,
       clean + "\"" + shown +
           "\": 2 disks, read errors (1 sector); volspar: suspect\n"
           "\"empty.d88\": not a D88 image\n"},
      {{"-s", "--", "-s"}, 1, ""},
      {{"-s", "cut.d88", "clean.d88"},
       2 | 4,
       "\"cut.d88\": 1 disk, damaged; volspar: incomplete\n" + clean},
      {{"-s", "cut2.d88"},
       4,
       "\"cut2.d88\": 2 disks, damaged; volspar: complete\n"},
  };
  for (const auto& [args, status, out] : cases) {
    const CommandResult result = Run(args);
    EXPECT_EQ(result.status, status) << args.back();
    if (!out.empty()) {
      EXPECT_EQ(result.out, out);
    }
  }
  const CommandResult both = Run({"clean.d88", "miss\ning.d88", odd});
  EXPECT_EQ(both.status, 1 | 2 | 4);
  // Windows names hold no line feed.
#ifdef _WIN32
  const std::string cause = "Invalid argument";
#else
  const std::string cause = "No such file or directory";
#endif
  EXPECT_EQ(both.err, "d88info: cannot open miss\\x0Aing.d88: " + cause + "\n");
  EXPECT_EQ(both.out.rfind("image \"clean.d88\"\ndisks: 1\n", 0), 0u);
  EXPECT_TRUE(Holds(both.out, {"\n\nimage \"" + shown + "\"\ndisks: 2\n",
                               "  TRV03.BIN: suspect: 1/0/3/2 (CRC error)\n"}));
}

// The format has no magic number: the first disk's header decides.
TEST_F(D88infoTest, TellsFilesThatAreNotD88Images) {
  const Bytes elf =  // with an entry point
      Put32(Resized(Text("\177ELF\x02\x01\x01"), 4096), 0x18, 0x401000);
  Bytes png = Resized(Text("\x89PNG\r\n\x1A\n"), 2000, 0x5A);
  for (size_t i = 8; i < 0x1D; ++i) png[i] = 0;  // IHDR up to interlace
  PutLe32(&png, 0x1D, 0x89C4151F);               // its CRC
  Bytes zip = Resized(Text("PK\x03\x04\x14"), 1000, 'z');
  PutLe16(&zip, 0x1A, 9);  // name length
  DiskSpec bare;           // a header and no tracks
  const Bytes small = BuildImage({StandardDisk(2, {1})});
  const struct {
    Bytes image;
    std::string reason;  // empty: a D88 image
  } cases[] = {
      {{}, "the file is empty"},
      // Bytes of no known kind: the header byte that rules D88 out.
      {Text(std::string(700, 'x')), "the write-protect byte is 0x78"},
      // Files of a known kind are named, as each kind is in the table of
      // the recognizer's own test.
      {elf, "it is an ELF program or library"},
      {png, "it is a PNG picture"},
      {zip, "it is a ZIP archive"},
      {Bytes(327680, 0xE5),
       "it is a raw sector dump of 327,680 bytes (2D: 40 cylinders \xC3\x97 "
       "2 sides \xC3\x97 16 sectors \xC3\x97 256 bytes"},
      {Text("<!DOCTYPE html>\n<html><head><title>404</title></head></html>\n"),
       "it is an HTML page, perhaps a saved error page"},
      {Bytes(600), "600 bytes, shorter than a disk header (688 bytes)"},
      {Bytes(800), "the disk size field is 0, smaller than a disk header"},
      {Put32(small, kTrackTableField, 40),
       "track 0's offset 40 points inside the disk header"},
      // Tracks may start where a 160-entry table ends, not before.
      {Put32(ShortTable({StandardDisk(2, {1})}), kTrackTableField, 0x29F),
       "track 0's offset 671 points inside the disk header"},
      {ShortTable({StandardDisk(2, {1})}), ""},
      {BuildImage({bare}), ""},
      {[] {
         std::vector<DiskSpec> all(5);
         for (int i = 0; i < 5; ++i) all[i].media_type = 0x10 * i;
         all[4].write_protect = 0x10;
         return BuildImage(all);
       }(),
       ""},
      {Resized(small, small.size() + 300, 0xFF), ""},
  };
  for (const auto& [image, reason] : cases) {
    const CommandResult result = RunOn(image, {"-s"});
    if (reason.empty()) {
      EXPECT_NE(result.status, 1) << result.err;
      EXPECT_EQ(result.err, "");
      continue;
    }
    EXPECT_EQ(result.status, 1) << reason;
    EXPECT_EQ(result.out, Summary("not a D88 image"));
    EXPECT_EQ(result.err.rfind(
                  "d88info: " + image_ + " is not a D88 image: " + reason, 0),
              0u)
        << result.err;
    // What the page offers to convert: raw dumps, and nothing else.
    EXPECT_EQ(RunOn(image, {"--json"}).out.find("\"raw_dump\":true") !=
                  std::string::npos,
              reason.rfind("it is a raw sector dump", 0) == 0)
        << reason;
  }
}

// Cuts at every kind of place, and what the report says of each.
TEST_F(D88infoTest, SaysWhereTheFileIsCut) {
  const Bytes one = DemoImage();
  const size_t track24 = TrackOffset({Demo()}, 0, 24);
  const size_t record = kSectorHeaderSize + 512;
  const Bytes two = BuildImage({Demo(), Demo()});
  // The size field ends inside track 79.
  const Bytes short_disk =
      Put32(one, kDiskSizeField,
            static_cast<uint32_t>(TrackOffset({Demo()}, 0, 79) + 100));
  // The second disk's size field 2 GiB and more.
  const Bytes huge_size = Put32(two, one.size() + kDiskSizeField, 0x90000000);
  const struct {
    Bytes image;
    std::vector<std::string> texts;
    std::string verdict;
    int64_t bytes_in_file = -1;  // of the last disk, in the JSON; -1: any
  } cases[] = {
      {Resized(two, one.size() + 152),
       {"\nnote: the file ends 152 bytes into a further disk's header\n"},
       "1 disk, damaged; volspar: complete"},
      {Resized(one, track24 + 8 * record + 5),
       {"  track 24: 12/0/1/2 12/0/6/2 12/0/2/2 12/0/7/2 12/0/3/2 12/0/8/2 "
        "12/0/4/2 12/0/9/2\n"
        "    note: 8 of the 9 records it states; the file ends here, inside "
        "a record header\n"},
       "1 disk, damaged; volspar: incomplete"},
      {Resized(one, 119152),
       {", truncated: the file ends 119152 bytes into the disk's 380848 "
        "bytes\n"
        "  note: track entries past the end of the file: 25-79\n",
        "  TRV04.BIN: incomplete: the run stops at 15/0/4/2 on track 30 "
        "(missing: the file ends before it)",
        "    note: 12/0/5/2: cut off by the end of the file (176 of 512 "
        "bytes)\n"},
       "1 disk, damaged; volspar: incomplete",
       119152},
      {Resized(one, track24 + record),
       {"    note: 1 of the 9 records it states; the file ends here\n"},
       "1 disk, damaged; volspar: incomplete"},
      {Resized(two, one.size()), {"\ndisks: 1\n"}, kClean},
      {short_disk,
       {"    note: 39/1/5/2: runs past the end of its disk\n"},
       "2 disks, damaged, read errors (1 sector on disk 1); volspar: "
       "complete"},
      {huge_size,
       {"  note: the size field 0x90000000 is 2 GiB or more"},
       "2 disks, clean; volspar: complete",
       static_cast<int64_t>(one.size())},
  };
  for (const auto& [image, texts, verdict, bytes_in_file] : cases) {
    EXPECT_TRUE(Holds("\n" + RunOn(image).out, texts));
    const CommandResult summary = RunOn(image, {"-s"});
    EXPECT_EQ(summary.out, Summary(verdict));
    const auto has = [&verdict](const char* word) {
      return verdict.find(word) != std::string::npos;
    };
    EXPECT_EQ(summary.status,
              (has("damaged") ? 4 : 0) | (has("incomplete") ? 2 : 0));
    if (bytes_in_file < 0) continue;
    const std::string json = RunOn(image, {"--json"}).out;
    const size_t last = json.rfind("\"bytes_in_file\":");
    EXPECT_EQ(json.substr(last, json.find(',', last) - last),
              "\"bytes_in_file\":" + std::to_string(bytes_in_file));
  }
}

// Two questions, two answers: is the disk sound (every disk of the image),
// and would volspar's files be right (disk 0). The exit status says both.
TEST_F(D88infoTest, TwoQuestionsTwoAnswers) {
  const DiskSpec demo = Demo();
  const DiskSpec damaged =
      Demo([](DiskSpec* d) { d->tracks[2][4].status = 0xB0; });
  DiskSpec small = demo;  // 16 sectors of 256 bytes a track
  for (auto& [track, records] : small.tracks) {
    records =
        StandardTrack(track / 2, track % 2, 1,
                      {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
  }
  DiskSpec other_size = demo;  // volspar's first sector, 256 bytes long
  other_size.tracks[8] = StandardTrack(4, 0, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  DiskSpec bad;  // a single sector, with a CRC error
  bad.tracks[0] = {{0, 0, 1, 2, Bytes(512)}};
  bad.tracks[0][0].status = 0xB0;
  const struct {
    Bytes image;
    int status;
    std::string summary;
    std::string line;  // in the report
  } cases[] = {
      {BuildImage({demo}), 0, kClean,
       "the image is clean; volspar would extract complete files from this "
       "image\n"},
      {BuildImage({demo, damaged}), 4,
       "2 disks, read errors (1 sector on disk 1); volspar: complete",
       "the image holds read errors (1 sector on disk 1); volspar would "
       "extract complete files from this image\n"},
      {BuildImage({small}), 2, "1 disk, clean; volspar: not its disk",
       "  not a disk volspar reads: its sectors are 256 bytes (N 1), volspar "
       "reads 512-byte sectors (N 2)\n"},
      {BuildImage({other_size}), 2, "1 disk, clean; volspar: incomplete",
       "TRV01.BIN: incomplete: the run stops at 4/0/5/2 on track 8 (4/0/5/1 "
       "is there: 256-byte sector); 0 of the file's 20096 bytes come from "
       "the image, the other 20096 would be zeros\n"},
      {Resized(DemoImage(), 119152), 2 | 4,
       "1 disk, damaged; volspar: incomplete",
       "the image is damaged; volspar would not extract"},
      // Every view names as many disks, and counts the others.
      {BuildImage(std::vector<DiskSpec>(64, bad)), 2 | 4,
       "64 disks, read errors (64 sectors on disks 0, 1, 2, 3, 4, 5, 6, 7 "
       "and 56 more); volspar: not its disk",
       "the image holds read errors (64 sectors on disks 0, 1, 2, 3, 4, 5, "
       "6, 7 and 56 more); volspar would not"},
  };
  for (const auto& [image, status, summary, line] : cases) {
    const CommandResult result = RunOn(image, {"--summary"});
    EXPECT_EQ(result.status, status) << summary;
    EXPECT_EQ(result.out, Summary(summary));
    EXPECT_TRUE(Holds(RunOn(image).out, {line}));
    const size_t from = summary.find(", ") + 2;
    const std::string health =
        summary.substr(from, summary.find("; volspar") - from);
    EXPECT_TRUE(Holds(MapOf(image), {">the image: " + health + "<"}));
  }
}

// Disk names are mostly Shift_JIS: shown as text where they are, and as
// escapes where they are not.
TEST_F(D88infoTest, ShiftJisNamesAreShownAsText) {
  const Bytes image = DemoImage([](DiskSpec* d) {
    d->name = "\x83\x51\x81\x5B\x83\x80 1";  // "ゲーム 1"
  });
  const std::string game = "\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0 1";
  EXPECT_TRUE(
      Holds(RunOn(image).out, {"disk 0: \"" + game + "\", media type"}));
  EXPECT_TRUE(Holds(RunOn(image, {"--json"}).out,
                    {"\"name_text\":\"" + game + "\"",
                     "\"name\":\"\\u0083Q\\u0081[\\u0083\\u0080 1\""}));
  EXPECT_TRUE(Holds(MapOf(image), {"disk 0: \"" + game + "\""}));
}

#ifndef _WIN32  // a shell pipe
// "-" reads the image from standard input, through a spool that goes away;
// standard input that cannot be read is reported as a file that cannot be
// opened is, in the JSON too.
TEST_F(D88infoTest, ReadsAnImageFromAPipe) {
  ASSERT_TRUE(WriteFile(image_, DemoImage()));
  TempDir spool;
  const std::string clean = "\"-\": " + std::string(kClean) + "\n";
  const struct {
    std::string command;
    int status;
    std::string out;
  } cases[] = {
      {"cat image.d88 | \"$0\" - -s", 0, clean},
      // A file is read as it is: no copy, so no need of a place for one.
      {"TMPDIR=/nonexistent \"$0\" - -s < image.d88", 0, clean},
      {"\"$0\" --json - < .", 1,
       "{\"format\":\"d88info/1\",\"images\":[{\"path\":\"-\",\"verdict\":"
       "[],\"error\":\"cannot read standard input: Is a directory\"}]}\n"},
  };
  for (const auto& [command, status, out] : cases) {
    const CommandResult result = RunCommand(
        "/bin/sh",
        {"-c", "export TMPDIR=" + spool.path() + "; " + command, D88INFO_PATH},
        dir_.path());
    EXPECT_EQ(result.status, status) << result.err;
    EXPECT_EQ(result.out, out);
    EXPECT_EQ(spool.List(), std::vector<std::string>());
  }
}
#endif

// --problems keeps what stands out; --json carries the same facts, and a
// real parser reads them back.
TEST_F(D88infoTest, ProblemsAndJson) {
  DiskSpec disk = Demo();
  // UTF-8, stray bytes, a quote, an overlong form.
  disk.name = "N\xC3\xA9\xFF\"\xE0\x80\xAF";
  disk.tracks[2][4].status = 0xB0;      // 1/0/3/2, in TRV03.BIN
  disk.tracks[30][6].data.resize(300);  // 15/0/4/2 short
  const Bytes image = BuildImage({disk});
  EXPECT_EQ(
      RunOn(image, {"--problems"}).out,
      "disks: 1\n" + DemoDiskLine(0, "N\xC3\xA9\xFF\\x22\xE0\x80\xAF") +
          "  track 2:\n"
          "    note: 1/0/3/2: data CRC error (status 0xB0)\n"
          "  track 30:\n"
          "    note: 15/0/4/2: data size 300, not 512\n"
          "volspar's runs on disk 0 (sectors 1-9, N 2):\n"
          "  TRV03.BIN: suspect: 1/0/3/2 (CRC error)\n"
          "  TRV04.BIN: incomplete: the run stops at 15/0/4/2 on track 30 "
          "(short data: 300 of 512 bytes)" +
          Left(300, 1691, "TRV03.BIN") +
          "\nthe image holds read errors (1 sector); volspar would not "
          "extract complete files from this image: 1 of 7 files "
          "incomplete, 1 suspect\n");
  EXPECT_EQ(RunOn(DemoImage(), {"--problems"}).out,
            "disks: 1\n" + DemoDiskLine(0, "") +
                "the image is clean; volspar would extract complete files from "
                "this image\n");
#ifndef _WIN32  // Python reads the output back
  if (!std::ifstream("/usr/bin/python3").good()) {
    GTEST_SKIP() << "no python3 to parse the JSON";
  }
  const std::string json = dir_.File("out.json");
  ASSERT_TRUE(WriteFile(dir_.File("empty.d88"), {}));
  // 300 records on a track, two of them with read errors: 256 are listed,
  // and every record that stands out is there.
  DiskSpec many;
  for (int r = 1; r <= 300; ++r) {
    many.tracks[0].push_back({r / 256, 0, r % 256, 0, Bytes(128)});
  }
  many.tracks[0][99].status = 0xB0;
  many.tracks[0][299].status = 0xB0;
  ASSERT_TRUE(WriteFile(dir_.File("many.d88"), BuildImage({many})));
  RunOn(image, {"--json", dir_.File("empty.d88"), dir_.File("none.d88")});
  RunCommand(D88INFO_PATH,
             {"--json", image_, dir_.File("empty.d88"), dir_.File("none.d88"),
              dir_.File("many.d88")},
             dir_.path(), json);
  const char* script =
      "import json, sys\n"
      "d = json.load(open(sys.argv[1], encoding='utf-8'))\n"
      "i = d['images']\n"
      "f = i[0]['files']\n"
      "print(d['format'], i[0]['verdict'], repr(i[0]['disks'][0]['name']))\n"
      "print(f[2]['state'], f[2]['reasons'], f[3]['bytes_from_image'])\n"
      "print(i[0]['disks'][0]['tracks'][2]['records'][4]['notes'])\n"
      "print(i[1]['verdict'], i[1]['reason'], i[2]['error'])\n"
      "t = i[3]['disks'][0]['tracks'][0]\n"
      "print(len(t['records']), [r['index'] for r in t['flagged_records']],\n"
      "      t['flagged_records'][0]['notes'], i[3]['health'])\n"
      // The fingerprints: each record's data, and the disk's in stored
      // order, as zlib computes CRC-32 from the image's own bytes.
      "import struct, zlib\n"
      "b, d, crc, same = open(sys.argv[2], 'rb').read(), i[0]['disks'][0], 0, "
      "True\n"
      "for t in d['tracks']:\n"
      "  at = struct.unpack_from('<i', b, 0x20 + 4 * t['track'])[0]\n"
      "  for r in t['records']:\n"
      "    data = b[at + 16:at + 16 + r['data_size']]\n"
      "    same = same and zlib.crc32(data) == r['crc32']\n"
      "    crc, at = zlib.crc32(data, crc), at + 16 + r['data_size']\n"
      "print(same, crc == d['crc32'])\n";
  const CommandResult parsed =
      RunCommand("/usr/bin/python3", {"-c", script, json, image_}, dir_.path());
  EXPECT_EQ(parsed.err, "");
  EXPECT_EQ(parsed.out,
            "d88info/1 ['incomplete', 'suspect'] "
            "'Né\xC3\xBF\"\xC3\xA0\\x80\xC2\xAF'\n"
            "suspect ['suspect: 1/0/3/2 (CRC error)'] 300\n"
            "['data CRC error (status 0xB0)']\n"
            "['not a D88 image'] the file is empty cannot open: No such file "
            "or directory\n"
            "256 [299] ['data CRC error (status 0xB0)'] {'state': 'read "
            "errors', 'damaged': False, 'read_errors': 2, 'disks': [0]}\n"
            "True True\n");
#endif
}

}  // namespace
}  // namespace d88test
