#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "d88/d88_file.h"
#include "d88/version.h"
#include "gtest/gtest.h"
#include "tests/image_builder.h"
#include "tests/test_util.h"

namespace d88test {
namespace {

struct Geometry {
  int cylinders;
  int sides;
  int sectors;
  int size;
};

int SizeCode(int size) {
  int n = 0;
  while (128 << n < size) ++n;
  return n;
}

// A dump of `g` whose every sector tells where it belongs.
Bytes RawOf(const Geometry& g) {
  Bytes raw;
  for (int c = 0; c < g.cylinders; ++c) {
    for (int h = 0; h < g.sides; ++h) {
      for (int r = 1; r <= g.sectors; ++r) {
        const Bytes data = SectorData(c, h, r, static_cast<size_t>(g.size));
        raw.insert(raw.end(), data.begin(), data.end());
      }
    }
  }
  return raw;
}

// The disk d88conv makes of RawOf(g): sectors 1..S in order on tracks
// 2c + h.
DiskSpec DiskOf(const Geometry& g, int media) {
  std::vector<int> order(static_cast<size_t>(g.sectors));
  for (int r = 1; r <= g.sectors; ++r) order[static_cast<size_t>(r - 1)] = r;
  DiskSpec disk;
  disk.media_type = media;
  for (int c = 0; c < g.cylinders; ++c) {
    for (int h = 0; h < g.sides; ++h) {
      disk.tracks[2 * c + h] = StandardTrack(c, h, SizeCode(g.size), order);
    }
  }
  return disk;
}

// The disk volspar reads: 40 cylinders of nine interleaved 512-byte sectors.
DiskSpec Demo() { return StandardDisk(40, InterleavedNine()); }
constexpr Geometry kDemo = {40, 2, 9, 512};

// Where a sector of the demonstration disk is, as d88conv says it.
std::string Where(int track, int r) {
  return "track " + std::to_string(track) + " (cylinder " +
         std::to_string(track / 2) + ", side " + std::to_string(track % 2) +
         "), sector " + std::to_string(r);
}

class ConvTest : public ::testing::Test {
 protected:
  // Standard output goes to the file `piped` when one is named.
  CommandResult Conv(const std::vector<std::string>& args,
                     const std::string& piped = "") {
    return RunCommand(D88CONV_PATH, Paths(args), dir_.path(),
                      piped.empty() ? "" : dir_.File(piped));
  }
  // Runs d88conv, expecting it to succeed, leave `bytes` in the file `name`
  // and say `said`; when `piped`, its standard output goes to `name` and it
  // says what it did on standard error.
  void Wrote(const std::string& name, const std::vector<std::string>& args,
             const Bytes& bytes, const std::optional<std::string>& said = {},
             bool piped = false) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const CommandResult result = Conv(args, piped ? name : "");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(Get(name), bytes);
    if (said) {
      EXPECT_EQ(piped ? result.err : result.out, *said);
    }
  }
  // Runs d88conv, expecting it to fail and say `err`.
  void Refused(const std::vector<std::string>& args, const std::string& err) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const CommandResult result = Conv(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, err);
  }
  // Names of images and dumps made full paths, as messages show them.
  std::vector<std::string> Paths(const std::vector<std::string>& args) {
    std::vector<std::string> paths;
    for (const std::string& arg : args) {
      const bool file = arg.size() > 4 && arg[0] != '-' &&
                        (arg.substr(arg.size() - 4) == ".d88" ||
                         arg.substr(arg.size() - 4) == ".raw");
      paths.push_back(file ? dir_.File(arg) : arg);
    }
    return paths;
  }
  // What d88conv says of the file `name`.
  std::string Said(const std::string& name) { return dir_.File(name); }
  void Put(const std::string& name, const Bytes& bytes) {
    ASSERT_TRUE(WriteFile(dir_.File(name), bytes));
  }
  Bytes Get(const std::string& name) { return ReadFile(dir_.File(name)); }

  TempDir dir_;
};

// Each named layout, one-sided ones and a guessed one: the image is the one
// the builder makes of the same sectors, d88info finds nothing to say about
// it, and its dump is the dump it came from.
TEST_F(ConvTest, LayoutsGoBothWays) {
  struct Case {
    const char* layout;
    Geometry geometry;
    int media;
    const char* words;
  };
  const Case cases[] = {
      {"2D", {40, 2, 16, 256}, 0x00, "2D (40x2x16x256), media 0x00 (2D)"},
      {"2dd", {80, 2, 16, 256}, 0x10, "2DD (80x2x16x256), media 0x10 (2DD)"},
      {"2HD", {77, 2, 8, 1024}, 0x20, "2HD (77x2x8x1024), media 0x20 (2HD)"},
      {"2HC", {80, 2, 15, 512}, 0x20, "2HC (80x2x15x512), media 0x20 (2HD)"},
      {"1.44M",
       {80, 2, 18, 512},
       0x20,
       "1.44M (80x2x18x512), media 0x20 (2HD)"},
      {"40x1x16x256", {40, 1, 16, 256}, 0x00, "40x1x16x256, media 0x00 (2D)"},
      {"80X1X9X512", {80, 1, 9, 512}, 0x10, "80x1x9x512, media 0x10 (2DD)"},
      {"auto", kDemo, 0x00, "40x2x9x512, media 0x00 (2D)"},
      {"82x2x1x16384",
       {82, 2, 1, 16384},
       0x20,
       "82x2x1x16384, media 0x20 (2HD)"},
      {"3x2x26x128", {3, 2, 26, 128}, 0x00, "3x2x26x128, media 0x00 (2D)"},
      {"2x1x255x128", {2, 1, 255, 128}, 0x20, "2x1x255x128, media 0x20 (2HD)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.layout);
    const Bytes raw = RawOf(c.geometry);
    Put("in.raw", raw);
    Wrote("new.d88", {"--from-raw", c.layout, "in.raw", "new.d88"},
          BuildImage({DiskOf(c.geometry, c.media)}),
          Said("new.d88") + " was written: layout " + c.words + ".\n");
    const CommandResult info = RunCommand(
        D88INFO_PATH, {"--problems", dir_.File("new.d88")}, dir_.path());
    EXPECT_NE(info.out.find("\nthe image is clean"), std::string::npos)
        << info.out;
    // The media byte of a one-sided layout is that of the two-sided one,
    // as in most real images; d88info notes that it does not fit.
    const bool noted = c.geometry.sides == 1 && c.media != 0x20;
    EXPECT_EQ(info.out.find("note:") == std::string::npos, !noted) << info.out;
    Wrote("back.raw", {"new.d88", "back.raw", "--to-raw"}, raw);
  }
}

// The dump's size picks the layout; sizes and layouts that do not fit are
// refused, and nothing is written.
TEST_F(ConvTest, LayoutsAreGuessedOrRefused) {
  struct Case {
    size_t size;
    const char* layout;
    std::string said;  // all standard output on success, else the error
  };
  const std::string raw = Said("in.raw");
  const std::string was = Said("new.d88") + " was written: layout ";
  const std::string give =
      ": give auto, 2D, 2DD, 2HC, 2HD, 1.44M or CxHxSxBYTES, such as "
      "40x2x9x512\n";
  const Case cases[] = {
      {368'640, "auto", was + "40x2x9x512, media 0x00 (2D).\n"},
      {327'680, "auto",
       "note: 327,680 bytes fit 2 layouts; taking the first, 2D "
       "(40x2x16x256), not 40x2x8x512\n" +
           was + "2D (40x2x16x256), media 0x00 (2D).\n"},
      {1000, "auto",
       "d88conv: " + raw +
           " is 1,000 bytes, the size of no known layout:\n"
           "  163,840 bytes: 40x1x16x256\n  163,840 bytes: 40x1x8x512\n"
           "  327,680 bytes: 2D (40x2x16x256)\n"
           "  327,680 bytes: 40x2x8x512\n  368,640 bytes: 40x2x9x512\n"
           "  655,360 bytes: 2DD (80x2x16x256)\n"
           "  655,360 bytes: 80x2x8x512\n  737,280 bytes: 80x2x9x512\n"
           "  1,228,800 bytes: 2HC (80x2x15x512)\n"
           "  1,261,568 bytes: 2HD (77x2x8x1024)\n"
           "  1,474,560 bytes: 1.44M (80x2x18x512)\n"
           "d88conv: give the layout as --from-raw CxHxSxBYTES\n"},
      {368'639, "40x2x9x512",
       "d88conv: " + raw + " is 368,639 bytes; layout 40x2x9x512 takes " +
           "368,640\n"},
      {1000, "40x2x9x500",
       "d88conv: layout 40x2x9x500: a sector holds 128, 256, 512, 1024, "
       "2048, 4096, 8192 or 16384 bytes\n"},
      {1000, "83x2x9x512",
       "d88conv: layout 83x2x9x512: a D88 disk holds 1 to 82 cylinders\n"},
      {1000, "40x3x9x512",
       "d88conv: layout 40x3x9x512: a disk has 1 or 2 sides\n"},
      {1000, "40x2x0x512",
       "d88conv: layout 40x2x0x512: a track holds 1 to 255 sectors\n"},
      {1000, "40x2x9", "d88conv: layout 40x2x9" + give},
      {1000, "2DX", "d88conv: layout 2DX" + give},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.layout) + " " + std::to_string(c.size));
    Put("in.raw", Bytes(c.size, 0xE5));
    const CommandResult result =
        Conv({"--from-raw", c.layout, "in.raw", "new.d88"});
    const bool written = c.said.rfind("d88conv: ", 0) != 0;
    EXPECT_EQ(result.status, written ? 0 : 1);
    EXPECT_EQ(written ? result.out : result.err, c.said);
    EXPECT_EQ(dir_.List().size(), written ? 2u : 1u);
    std::remove(dir_.File("new.d88").c_str());
  }
}

// What keeps a disk from being one dump: refused at the first sector, in
// cylinder, side and sector order; padded with --fill where padding mends
// it, each padded sector listed.
TEST_F(ConvTest, DisksWithoutOneLayoutAreRefusedOrPadded) {
  struct Case {
    std::function<void(DiskSpec*)> change;
    size_t cut;               // bytes taken off the image's end
    std::string flaw;         // after the path
    std::string padded = "";  // what --fill pads: "track/r/kept ..."
  };
  const std::string no = " has no single layout: ";
  const Case cases[] = {
      {[](DiskSpec* d) { d->tracks[5].erase(d->tracks[5].begin() + 4); }, 0,
       no + Where(5, 3) + " is missing", "5/3/0"},
      {[](DiskSpec* d) { d->tracks[8][3].data.resize(300); }, 0,
       no + Where(8, 7) + " holds 300 of its 512 bytes", "8/7/300"},
      {[](DiskSpec* d) { d->tracks.erase(7); }, 0,
       no + Where(7, 1) + " is missing",
       "7/1/0 7/2/0 7/3/0 7/4/0 7/5/0 7/6/0 7/7/0 7/8/0 7/9/0"},
      {[](DiskSpec*) {}, 100, no + Where(79, 5) + " holds 412 of its 512 bytes",
       "79/5/412"},
      {[](DiskSpec* d) { d->tracks[2].push_back(d->tracks[2][0]); }, 0,
       no + Where(2, 1) + " is there 2 times"},
      {[](DiskSpec* d) {
         d->tracks[3][2] = {1, 1, 2, 1, SectorData(1, 1, 2, 256)};
       },
       0, no + Where(3, 2) + " has size code N 1, the other sectors N 2"},
      {[](DiskSpec* d) { d->tracks[4][0].data.resize(600); }, 0,
       no + Where(4, 1) + " holds 600 bytes, more than its 512"},
      {[](DiskSpec* d) {
         d->tracks[6].push_back({3, 0, 10, 2, Bytes(512)});
       },
       0, no + Where(6, 10) + " is none of the 9 of the other tracks"},
      {[](DiskSpec* d) { d->tracks.clear(); }, 0, " holds no sectors"},
  };
  const std::vector<std::string> fill = {"--to-raw", "--fill", "0xE5", "in.d88",
                                         "out.raw"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flaw);
    DiskSpec disk = Demo();
    c.change(&disk);
    Bytes image = BuildImage({disk});
    image.resize(image.size() - c.cut);
    Put("in.d88", image);
    const std::string refusal = "d88conv: " + Said("in.d88") + c.flaw;
    Refused({"--to-raw", "in.d88", "out.raw"},
            refusal + (c.padded.empty() ? "\n" : " (--fill pads it)\n"));
    if (c.padded.empty()) {
      Refused(fill, refusal + "\n");
      continue;
    }
    Bytes raw = RawOf(kDemo);
    std::string listed;
    std::istringstream sectors(c.padded);
    int track = 0, r = 0, kept = 0;
    char slash = 0;
    while (sectors >> track >> slash >> r >> slash >> kept) {
      const auto at = raw.begin() + (track * 9 + r - 1) * 512;
      std::fill(at + kept, at + 512, 0xE5);
      listed +=
          "padded with 0xE5: " + Where(track, r) +
          (kept == 0 ? " is missing"
                     : " holds " + std::to_string(kept) + " of its 512 bytes") +
          "\n";
    }
    Wrote("out.raw", fill, raw,
          listed + Said("out.raw") +
              " was written: layout 40x2x9x512, 368,640 bytes.\n");
  }
}

// Status bytes and deleted marks do not go into a dump: each sector that
// has one is listed, beside the dump when it goes to standard output.
TEST_F(ConvTest, TheDumpListsWhatItCannotKeep) {
  DiskSpec disk = Demo();
  disk.tracks[2][4].status = 0xB0;   // sector 3
  disk.tracks[6][2].deleted = 0x10;  // sector 2
  disk.tracks[6][3].status = 0x42;   // sector 7
  Put("in.d88", BuildImage({disk}));
  const std::string keeps = "; the raw dump keeps only its bytes\n";
  const std::string lines =
      "note: " + Where(2, 3) + ": data CRC error (status 0xB0)" + keeps +
      "note: " + Where(6, 2) + ": deleted mark (0x10)" + keeps +
      "note: " + Where(6, 7) + ": unknown status 0x42" + keeps;
  const std::string done = " was written: layout 40x2x9x512, 368,640 bytes.\n";
  Wrote("out.raw", {"--to-raw", "in.d88", "out.raw"}, RawOf(kDemo),
        lines + Said("out.raw") + done);
  Wrote("stdout", {"--to-raw", "in.d88", "-"}, RawOf(kDemo), lines + "-" + done,
        true);
}

// --disk takes one disk out and --join puts disks together, each as its
// bytes are; a size field that runs past the end of its file is mended to
// what the file holds, and said, the header's other bytes kept.
TEST_F(ConvTest, DisksComeOutAndGoTogether) {
  DiskSpec a = Demo();
  a.name = "A";
  DiskSpec b = DiskOf({40, 2, 16, 256}, 0x00);
  b.name = "B23456789ABCDEFGHIJKLMNOPQR";  // into the reserved bytes
  const DiskSpec c = DiskOf({2, 1, 4, 1024}, 0x20);
  const DiskSpec d = DiskOf({1, 1, 1, 128}, 0x30);
  Put("two.d88", BuildImage({a, b}));
  Put("one.d88", BuildImage({c}));
  Put("three.d88", BuildImage({d}));
  const std::string disk_1 = " was written: disk 1 of ";
  Wrote("out.d88", {"--disk", "1", "two.d88", "out.d88"}, BuildImage({b}),
        Said("out.d88") + disk_1 + Said("two.d88") + ".\n");
  Refused({"--disk", "2", "two.d88", "out.d88"},
          "d88conv: " + Said("two.d88") +
              " holds 2 disks (0 to 1); there is no disk 2\n");
  Wrote("all.d88", {"--join", "one.d88", "two.d88", "three.d88", "all.d88"},
        BuildImage({c, a, b, d}),
        Said("all.d88") + " was written: 4 disks from 3 images.\n");

  Bytes cut = BuildImage({a, b});
  cut.resize(cut.size() - 1000);
  Bytes tail = BuildImage({c});
  tail.resize(tail.size() + 100, 0x1A);
  Put("cut.d88", cut);
  Put("tail.d88", tail);
  Bytes mended = BuildImage({b});
  mended.resize(mended.size() - 1000);
  PutLe32(&mended, kDiskSizeField, static_cast<uint32_t>(mended.size()));
  const std::string note = "note: disk 1 of " + Said("cut.d88") +
                           " runs past the end of the file: its size field "
                           "says 348,848 bytes, the file holds 347,848; the "
                           "copy's says 347,848\n";
  Wrote("out.d88", {"--disk", "1", "cut.d88", "out.d88"}, mended,
        note + Said("out.d88") + disk_1 + Said("cut.d88") + ".\n");
  Bytes joined = BuildImage({c, a});
  joined.insert(joined.end(), mended.begin(), mended.end());
  Wrote("all.d88", {"--join", "tail.d88", "cut.d88", "all.d88"}, joined,
        note + "note: " + Said("tail.d88") +
            ": the 100 bytes after its last disk are left out\n" +
            Said("all.d88") + " was written: 3 disks from 2 images.\n");

  Put("many.d88", BuildImage(std::vector<DiskSpec>(40, c)));
  Refused({"--join", "many.d88", "many.d88", "all.d88"},
          "d88conv: the images hold more than 64 disks, the most a D88 file "
          "holds\n");
  EXPECT_EQ(Get("all.d88"), joined);
}

// The sector IDs and data of each track, in sector order.
std::vector<std::string> Sectors(const std::string& path) {
  d88::D88File reader;
  std::vector<std::string> sectors;
  if (!reader.Open(path.c_str()) || !reader.SelectDisk(0)) return sectors;
  for (int track = 0; track < d88::D88File::kMaxTracks; ++track) {
    d88::SectorInfo infos[64];
    const int count = reader.ReadSectorInfos(track, infos, 64);
    std::sort(infos, infos + count,
              [](const auto& x, const auto& y) { return x.id.r < y.id.r; });
    for (int i = 0; i < count; ++i) {
      const d88::SectorId& id = infos[i].id;
      uint8_t data[512];
      const int got =
          reader.ReadSector(track, id.c, id.h, id.r, id.n, data, sizeof data);
      sectors.push_back(std::to_string(track) + ":" + std::to_string(id.c) +
                        "/" + std::to_string(id.h) + "/" +
                        std::to_string(id.r) + "/" + std::to_string(id.n) +
                        ":" + std::string(data, data + got));
    }
  }
  return sectors;
}

// D88 to raw and back keeps every sector's ID and data, so volspar finds
// the same files in the image made from the dump.
TEST_F(ConvTest, RoundTripsKeepSectorsAndVolsparsFiles) {
  Put("demo.d88", BuildImage({Demo()}));
  Wrote("demo.raw", {"--to-raw", "demo.d88", "demo.raw"}, RawOf(kDemo));
  const CommandResult result =
      Conv({"--from-raw", "auto", "demo.raw", "back.d88"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(Sectors(dir_.File("back.d88")), Sectors(dir_.File("demo.d88")));
  EXPECT_EQ(Sectors(dir_.File("back.d88")).size(), 720u);
  TempDir from_image;
  TempDir from_dump;
  ASSERT_EQ(RunCommand(VOLSPAR_PATH, {dir_.File("demo.d88")}, from_image.path())
                .status,
            0);
  ASSERT_EQ(RunCommand(VOLSPAR_PATH, {dir_.File("back.d88")}, from_dump.path())
                .status,
            0);
  EXPECT_EQ(from_dump.List().size(), 7u);
  for (const std::string& name : from_image.List()) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ReadFile(from_dump.File(name)), ReadFile(from_image.File(name)));
  }
}

// Usage errors, inputs that cannot be, and an output that is an input:
// said, exit status 1, and nothing written.
TEST_F(ConvTest, CommandLinesAndFilesThatAreRefused) {
  struct Case {
    std::vector<std::string> args;
    std::string err;  // the start of its first line, after "d88conv: "
  };
  Put("in.d88", BuildImage({Demo()}));
  Put("in.raw", RawOf(kDemo));
  const std::string usage = "Usage: d88conv --from-raw LAYOUT";
  const std::string byte = "--fill takes a byte: 0 to 255, or 0x00 to 0xFF";
  const std::string over = "will not write over ";
  const Case cases[] = {
      {{}, usage},
      {{"--to-raw", "in.d88"}, usage},
      {{"--join", "in.d88"}, usage},
      {{"--fill", "1", "in.d88", "out.d88"}, "--fill goes with --to-raw"},
      {{"--to-raw", "--join", "in.d88", "out.d88"},
       "choose one of --from-raw, --to-raw and --join"},
      {{"--name", "X", "--to-raw", "in.d88", "out.raw"},
       "--name goes with --from-raw"},
      {{"--disk", "0", "--join", "in.d88", "out.d88"},
       "--disk goes with --to-raw, or alone"},
      {{"--disk", "64", "in.d88", "out.d88"},
       "--disk takes a number from 0 to 63"},
      {{"--to-raw", "--fill", "256", "in.d88", "out.raw"}, byte},
      {{"--to-raw", "--fill", "0x1FF", "in.d88", "out.raw"}, byte},
      {{"--to-raw", "--fill", "0x" + std::string(40, 'F'), "in.d88", "out.raw"},
       byte},
      {{"--from-raw"}, "--from-raw needs a value"},
      {{"--frobnicate", "in.d88", "out.d88"}, "unknown option --frobnicate"},
      {{"--from-raw", "auto", "--name", "12345678901234567", "in.raw",
        "out.d88"},
       "--name takes at most 16 bytes"},
      {{"--to-raw", "in.raw", "out.raw"},
       Said("in.raw") +
           " is not a D88 image: it is a raw sector dump of 368,640 bytes"},
      {{"--to-raw", "none.d88", "out.raw"},
       "cannot open " + Said("none.d88") + ": No such file or directory"},
      {{"--from-raw", "auto", "in.raw", "in.raw"},
       over + Said("in.raw") + ": it is an input"},
      {{"--join", "in.d88", "in.d88", "in.d88"},
       over + Said("in.d88") + ": it is an input"},
      {{"--disk", "0", "in.d88", "."}, "cannot create ."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const std::string err = c.err == usage ? usage : "d88conv: " + c.err;
    const CommandResult result = Conv(c.args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err.substr(0, err.size()), err);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(dir_.List(), (std::vector<std::string>{"in.d88", "in.raw"}));
  }
  EXPECT_EQ(Get("in.raw"), RawOf(kDemo));
}

// Options go anywhere, "--" ends them, --help and --version answer on
// standard output, and an image goes to standard output whole.
TEST_F(ConvTest, CommandLinesThatWork) {
  Put("-in.raw", RawOf(kDemo));
  // After --, "--from-raw" is a file.
  EXPECT_EQ(Conv({"--name", "DEMO", "--", "-in.raw", "-", "--from-raw", "x"},
                 "stdout")
                .status,
            1);
  DiskSpec named = DiskOf(kDemo, 0x00);
  named.name = "DEMO";
  Wrote("out.d88", {"--name", "DEMO", "--from-raw=auto", "--", "-in.raw", "-"},
        BuildImage({named}),
        "- was written: layout 40x2x9x512, media 0x00 (2D).\n", true);
  Wrote("again.d88", {"out.d88", "again.d88", "--disk", "0"},
        BuildImage({named}));
  const CommandResult help = Conv({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: d88conv --from-raw LAYOUT", 0), 0u);
  EXPECT_EQ(Conv({"--version"}).out, "d88conv " D88_VERSION_STRING "\n");
}

}  // namespace
}  // namespace d88test
