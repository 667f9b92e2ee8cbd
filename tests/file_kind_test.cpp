#include "inspect/file_kind.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/image_builder.h"

namespace d88test {
namespace {

// A file of `size` bytes that starts with `start` and is zeros after it,
// so that megabyte-sized samples cost nothing to build.
struct Sample {
  Bytes start;
  int64_t size;
};

enum class Source {
  kWhole,      // delivers what is asked
  kPieces,     // at most 7 bytes a call
  kBoastful,   // delivers what is asked but claims INT_MAX bytes
  kStartOnly,  // delivers nothing away from the start
  kNothing,    // delivers nothing at all
};

struct Reader {
  const Sample* sample;
  Source source;
};

int ReadSample(void* context, int64_t offset, uint8_t* buf, int len) {
  const Reader& reader = *static_cast<const Reader*>(context);
  EXPECT_GE(offset, 0);
  EXPECT_LE(offset + len, reader.sample->size);
  int count = len;
  if (reader.source == Source::kPieces) count = std::min(len, 7);
  if (reader.source == Source::kStartOnly && offset > 0) count = 0;
  if (reader.source == Source::kNothing) count = 0;
  const Bytes& start = reader.sample->start;
  for (int i = 0; i < count; ++i) {
    const uint64_t at = static_cast<uint64_t>(offset) + i;
    buf[i] = at < start.size() ? start[at] : 0;
  }
  return reader.source == Source::kBoastful ? INT_MAX : count;
}

// The phrase, or "(none)" when the file is not recognised.
std::string Describe(const Sample& sample, Source source = Source::kWhole,
                     int room = kForeignPhraseSize) {
  Reader reader = {&sample, source};
  const ByteSource file = {&reader, ReadSample, sample.size};
  std::vector<char> text(room + 1, '#');
  const bool known = DescribeForeignFile(file, text.data(), room);
  EXPECT_EQ(text[room], '#') << "written past the buffer";
  if (!known) {
    EXPECT_EQ(text[0], '\0');
    return "(none)";
  }
  return text.data();
}

Sample Of(const std::string& start, int64_t size = 0) {
  Bytes bytes(start.begin(), start.end());
  return {bytes, std::max<int64_t>(size, static_cast<int64_t>(bytes.size()))};
}
// A literal's bytes, NULs included.
template <size_t N>
Sample Of(const char (&start)[N], int64_t size = 0) {
  return Of(std::string(start, N - 1), size);
}

// `bytes` placed at `offset` of a sample of `size` bytes.
Sample At(size_t offset, const std::string& bytes, int64_t size) {
  Bytes start(offset, 0);
  start.insert(start.end(), bytes.begin(), bytes.end());
  return {start, size};
}

void Append16(Bytes* bytes, uint32_t value) {
  bytes->push_back(value & 0xFF);
  bytes->push_back(value >> 8 & 0xFF);
}
void Append32(Bytes* bytes, uint32_t value) {
  Append16(bytes, value & 0xFFFF);
  Append16(bytes, value >> 16);
}
void AppendText(Bytes* bytes, const std::string& text) {
  bytes->insert(bytes->end(), text.begin(), text.end());
}

// A ZIP archive of empty stored members named `names`, with its central
// directory and an end record with a `comment` of that many zeros;
// `directory_at` overrides where the end record says the directory is, and
// `trailing` zeros follow that the comment does not account for.
Sample Zip(const std::vector<std::string>& names, uint16_t comment = 0,
           int64_t directory_at = -1, int64_t trailing = 0) {
  Bytes zip;
  std::vector<uint32_t> offsets;
  for (const std::string& name : names) {
    offsets.push_back(static_cast<uint32_t>(zip.size()));
    Append32(&zip, 0x04034B50);
    Append16(&zip, 20);                              // version needed
    for (int i = 0; i < 11; ++i) Append16(&zip, 0);  // flags .. sizes
    Append16(&zip, static_cast<uint32_t>(name.size()));
    Append16(&zip, 0);
    AppendText(&zip, name);
  }
  const uint32_t directory = static_cast<uint32_t>(zip.size());
  for (size_t i = 0; i < names.size(); ++i) {
    Append32(&zip, 0x02014B50);
    Append16(&zip, 20);                              // made by
    Append16(&zip, 20);                              // needed
    for (int j = 0; j < 10; ++j) Append16(&zip, 0);  // flags .. sizes
    Append16(&zip, static_cast<uint32_t>(names[i].size()));
    for (int j = 0; j < 4; ++j) Append16(&zip, 0);  // extra .. attributes
    Append32(&zip, 0);                              // external attributes
    Append32(&zip, offsets[i]);
    AppendText(&zip, names[i]);
  }
  const uint32_t directory_size = static_cast<uint32_t>(zip.size()) - directory;
  Append32(&zip, 0x06054B50);
  Append32(&zip, 0);  // this disk, the directory's disk
  Append16(&zip, static_cast<uint32_t>(names.size()));
  Append16(&zip, static_cast<uint32_t>(names.size()));
  Append32(&zip, directory_size);
  Append32(&zip,
           directory_at >= 0 ? static_cast<uint32_t>(directory_at) : directory);
  Append16(&zip, comment);
  return {zip, static_cast<int64_t>(zip.size()) + comment + trailing};
}

// A PC-98 FDI image of the geometry, with a 4096-byte header; `extra`
// bytes more than the geometry accounts for.
Sample Fdi(uint32_t cylinders, uint32_t heads, uint32_t sectors,
           uint32_t sector_size, int extra = 0) {
  Bytes header;
  const uint32_t data = cylinders * heads * sectors * sector_size;
  for (const uint32_t field :
       {0u, 0x90u, 4096u, data, sector_size, sectors, heads, cylinders}) {
    Append32(&header, field);
  }
  return {header, 4096 + int64_t{data} + extra};
}

Sample Random(size_t size) {
  std::mt19937 random(88);
  Bytes bytes(size);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
  return {bytes, static_cast<int64_t>(size)};
}

std::string Repeat(const std::string& text, int count) {
  std::string repeated;
  for (int i = 0; i < count; ++i) repeated += text;
  return repeated;
}

// What a file is named, the file, and the phrase that names its kind.
struct Case {
  const char* what;
  Sample sample;
  std::string phrase;
};

// A raw sector dump of `size` bytes (written with commas), all zero.
Case RawDump(const char* size, const std::string& layouts) {
  std::string digits = size;
  digits.erase(std::remove(digits.begin(), digits.end(), ','), digits.end());
  return {size, Of("", std::stoll(digits)),
          "it is a raw sector dump of " + std::string(size) + " bytes (" +
              layouts + "), not D88"};
}

const char kZip[] = "it is a ZIP archive";

// A ZIP archive's phrase when it holds the images `names`.
std::string Holding(const std::string& names) {
  return std::string(kZip) + " (holding " + names + "; unpack it first)";
}

// The phrase for a disk image of another format.
std::string NotD88(const std::string& kind) {
  return "it is " + kind + " disk image, not D88";
}

TEST(FileKindTest, NamesWhatTheFileIs) {
  const std::string unpack = " (unpack it first)";
  const std::string dos_header("MZ\x90\0\3\0\0\0\4\0\0\0\xFF\xFF", 14);
  const std::string long_name = std::string(300, 'x') + ".d88";
  const std::string text_across_head =
      std::string(4095, 'a') + "\n\xE3\x82\xB2\n";  // U+30B2 across byte 4096
  const Bytes disk = BuildImage({StandardDisk(40, InterleavedNine())});
  const std::string html =
      "it is an HTML page, perhaps a saved error page instead of the download";
  const std::string no_image = std::string(kZip) + " (no D88 image in it)";
  const Case cases[] = {
      {"ZIP with an image", Zip({"readme.txt", "game.d88"}),
       Holding("game.d88")},
      {"ZIP with several",
       Zip({"A.D88", "b.d77", "docs/", "c.d68", "d.88D", "e.d8u", "f.1dd"}),
       Holding("A.D88, b.d77, c.d68 and 3 more")},
      {"ZIP with two", Zip({"side a.d88", "side b.d88"}),
       Holding("side a.d88 and side b.d88")},
      {"ZIP names escaped", Zip({"\x1B[2J\xFF\xE3\x82\xB2.d88"}),
       Holding("\\x1B[2J\\xFF\xE3\x82\xB2.d88")},
      {"ZIP name kept by its end", Zip({long_name}),
       Holding("..." + long_name.substr(264))},
      // Names so long that each is cut, and the words around them stay.
      {"ZIP with several long names",
       Zip({std::string(100, 'a') + ".d88", std::string(100, 'b') + ".d77",
            std::string(100, 'c') + ".d88", "d.d88"}),
       Holding("..." + std::string(36, 'a') + ".d88, ..." +
               std::string(36, 'b') + ".d77, ..." + std::string(36, 'c') +
               ".d88 and 1 more")},
      // Cut at a character, not inside one; escapes count four bytes.
      {"ZIP name cut between characters",
       Zip({Repeat("\xE3\x82\xB2", 20) + "x.d88"}),
       Holding("..." + Repeat("\xE3\x82\xB2", 11) + "x.d88")},
      {"ZIP name of escapes", Zip({Repeat("\x01", 20) + ".d88"}),
       Holding("..." + Repeat("\\x01", 9) + ".d88")},
      {"ZIP without an image", Zip({"readme.txt", "game.d88.txt"}), no_image},
      {"empty ZIP", Zip({}), no_image},
      {"ZIP directory outside the file", Zip({"game.d88"}, 0, 1 << 20), kZip},
      // The end record is looked for a chunk at a time from the end: here
      // its signature straddles two chunks.
      {"ZIP with a comment", Zip({"game.d88"}, 4094), Holding("game.d88")},
      {"ZIP with the longest comment", Zip({"game.d88"}, 65535),
       Holding("game.d88")},
      {"ZIP end record too far from the end", Zip({"game.d88"}, 0, -1, 65536),
       kZip},
      {"ZIP cut off", Of("PK\3\4\x14", 5000), kZip},
      {"end record alone",
       [] {
         Sample zip = Zip({"game.d88"}, 0, 1 << 20);
         zip.start[0] = 'X';
         return zip;
       }(),
       "(none)"},
      {"gzip", Of("\x1F\x8B\x08\0", 100), "it is a gzip file" + unpack},
      {"LZH", Of(" \0-lh5-", 100), "it is an LZH archive" + unpack},
      {"LZH directory", Of(" \0-lhd-", 100), "it is an LZH archive" + unpack},
      {"LZS", Of(" \0-lzs-", 100), "it is an LZH archive" + unpack},
      {"LZ5", Of(" \0-lz5-", 100), "it is an LZH archive" + unpack},
      {"7-Zip", Of("7z\xBC\xAF\x27\x1C\0\4", 100),
       "it is a 7-Zip archive" + unpack},
      {"RAR 4", Of("Rar!\x1A\x07\0", 100), "it is a RAR archive" + unpack},
      {"RAR 5", Of("Rar!\x1A\x07\x01\0", 100), "it is a RAR archive" + unpack},
      {"bzip2", Of("BZh91AY&SY", 100), "it is a bzip2 file" + unpack},
      {"xz", Of("\xFD" + std::string("7zXZ\0", 5), 100),
       "it is an xz file" + unpack},
      {"tar", At(257, std::string("ustar\0", 6) + "00", 10240),
       "it is a tar archive" + unpack},
      {"HFE", Of("HXCPICFE", 1000), NotD88("an HFE")},
      {"HFE 3", Of("HXCHFEV3", 1000), NotD88("an HFE")},
      {"IMD", Of("IMD 1.18: 01/01/2000 00:00:00\r\nDISK\r\n\x1A", 1000),
       NotD88("an IMD")},
      {"TeleDisk", Of("TD\0\0\x15\0\3\0\0\2\x12\x34", 1000),
       "it is a TeleDisk image, not D88"},
      {"TeleDisk, compressed", Of("td\0\0\x21\x82\3\0\0\2\x12\x34", 1000),
       "it is a TeleDisk image, not D88"},
      {"TD without a version", Of("TD\0\0\0\0", 1001), "(none)"},
      {"TD with a bad rate", Of("TD\0\0\x15\x03", 1001), "(none)"},
      {"CPC DSK", Of("MV - CPCEMU Disk-File\r\nDisk-Info\r\n", 1000),
       NotD88("a CPC DSK")},
      {"extended CPC DSK", Of("EXTENDED CPC DSK File\r\nDisk-Info\r\n", 1000),
       NotD88("a CPC DSK")},
      {"NFD r0", Of("T98FDDIMAGE.R0", 1000), NotD88("an NFD")},
      {"NFD r1", Of("T98FDDIMAGE.R1", 1000), NotD88("an NFD")},
      {"FDI 2HD", Fdi(77, 2, 8, 1024), NotD88("an FDI")},
      {"FDI 2DD", Fdi(80, 2, 16, 256), NotD88("an FDI")},
      {"FDI one byte long", Fdi(77, 2, 8, 1024, 1), "(none)"},
      {"FDI odd sector size", Fdi(80, 2, 9, 500), "(none)"},
      RawDump("163,840",
              "40 cylinders × 1 side × 16 sectors × 256 bytes, or "
              "40 × 1 × 8 × 512"),
      RawDump("327,680",
              "2D: 40 cylinders × 2 sides × 16 sectors × 256 bytes, "
              "or 40 × 2 × 8 × 512"),
      RawDump("368,640", "40 cylinders × 2 sides × 9 sectors × 512 bytes"),
      RawDump("655,360",
              "2DD: 80 cylinders × 2 sides × 16 sectors × 256 bytes, "
              "or 80 × 2 × 8 × 512"),
      RawDump("737,280", "80 cylinders × 2 sides × 9 sectors × 512 bytes"),
      RawDump("1,228,800",
              "2HC: 80 cylinders × 2 sides × 15 sectors × 512 bytes"),
      RawDump("1,261,568",
              "2HD: 77 cylinders × 2 sides × 8 sectors × 1024 bytes"),
      RawDump("1,474,560",
              "1.44M: 80 cylinders × 2 sides × 18 sectors × 512 bytes"),
      {"raw size with a signature", Of("\x1F\x8B\x08", 327680),
       "it is a gzip file" + unpack},
      {"raw size but one", Of("", 327679), "(none)"},
      {"PNG", Of("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 100), "it is a PNG picture"},
      {"JPEG", Of("\xFF\xD8\xFF\xE0\0\x10JFIF", 100), "it is a JPEG picture"},
      {"GIF 89", Of("GIF89a", 100), "it is a GIF picture"},
      {"GIF 87", Of("GIF87a", 100), "it is a GIF picture"},
      {"PDF", Of("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n", 100), "it is a PDF document"},
      {"ELF", Of("\177ELF\2\1\1", 100), "it is an ELF program or library"},
      {"MZ", Of(dos_header, 4096), "it is a Windows or DOS program"},
      {"MZ without pages", Of("MZ", 4095), "(none)"},
      {"HTML", Of("<!DOCTYPE html>\n<html><body>404</body></html>\n"), html},
      {"HTML after a BOM and space",
       Of("\xEF\xBB\xBF \r\n\t<HTML><HEAD><TITLE>Not Found"), html},
      {"HTML head", Of("<head>\0", 3000), html},
      {"text", Of("README\r\nThis disk holds the game.\r\n\x1A"),
       "it is a text file"},
      {"UTF-8 text", Of("\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0\n"),
       "it is a text file"},
      {"text across the head", Of(text_across_head), "it is a text file"},
      {"text cut inside a character", Of("abc\n\xE3\x82"), "(none)"},
      {"text without a line break", Of("just some words"), "(none)"},
      {"text with an escape", Of("\x1B[1mbold\x1B[0m\n"), "(none)"},
      {"Shift_JIS text", Of("\x83\x51\x81\x5B\x83\x80\r\n"), "(none)"},
      {"D88 image", Of(std::string(disk.begin(), disk.end())), "(none)"},
      {"zeros", Of("", 1001), "(none)"},
      {"random", Random(5000), "(none)"},
      {"empty", Of(""), "(none)"},
  };
  for (const auto& [what, sample, phrase] : cases) {
    EXPECT_EQ(Describe(sample), phrase) << what;
    EXPECT_EQ(Describe(sample, Source::kPieces), phrase) << what;
    EXPECT_EQ(Describe(sample, Source::kBoastful), phrase) << what;
    // Bytes that cannot be read make a kind unknown, or a ZIP archive's
    // members unnamed, never another kind.
    EXPECT_EQ(Describe(sample, Source::kNothing), "(none)") << what;
    const std::string start_only = Describe(sample, Source::kStartOnly);
    EXPECT_TRUE(start_only == phrase ||
                (start_only == kZip && phrase.rfind(kZip, 0) == 0))
        << what << ": " << start_only;
  }
}

// A buffer too small takes whole characters, and nothing after the first
// that does not fit.
TEST(FileKindTest, CutsThePhraseBetweenCharacters) {
  const Sample raw = Of("", 327680);
  EXPECT_EQ(Describe(raw, Source::kWhole, 61),
            "it is a raw sector dump of 327,680 bytes (2D: 40 cylinders ");
  EXPECT_EQ(Describe(raw, Source::kWhole, 62),
            "it is a raw sector dump of 327,680 bytes (2D: 40 cylinders ×");
  EXPECT_EQ(Describe(Zip({"\x01.d88"}), Source::kWhole, 33),
            "it is a ZIP archive (holding ");
  EXPECT_EQ(Describe(raw, Source::kWhole, 1), "");
}

}  // namespace
}  // namespace d88test
