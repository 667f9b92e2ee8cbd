#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "merge/merge_command.h"
#include "platform/crc32.h"
#include "runs/extraction_table.h"
#include "tests/image_builder.h"
#include "tests/test_util.h"

namespace d88test {
namespace {

using Disks = std::vector<DiskSpec>;

// What a drive made of one sector of the demonstration disk.
enum SpoilKind {
  kBad,        // a data CRC error, with bytes that differ
  kShort,      // a clean status, but 300 bytes of the 512
  kOther,      // a clean read of other bytes
  kMissing,    // no record at all
  kExtra,      // one more record, sector `r`, after the track's nine
  kDuplicate,  // a second record of the sector, with other bytes
};

// Sector `r` of track `track` (2C + H), spoilt.
struct Spoil {
  SpoilKind kind;
  int track;
  int r;
};

// The demonstration disk, named `name`, as a drive read it.
DiskSpec Dump(const std::vector<Spoil>& spoils,
              const std::string& name = "DEMO") {
  DiskSpec disk = StandardDisk(40, InterleavedNine());
  disk.name = name;
  for (const Spoil& spoil : spoils) {
    std::vector<SectorSpec>& track = disk.tracks[spoil.track];
    const auto at =
        std::find_if(track.begin(), track.end(),
                     [&](const SectorSpec& s) { return s.r == spoil.r; });
    const int c = spoil.track / 2;
    const int h = spoil.track % 2;
    switch (spoil.kind) {
      case kBad:
        at->status = 0xB0;
        at->data[0] ^= 0xFF;
        break;
      case kShort:
        at->data.resize(300);
        break;
      case kOther:
        at->data[1] ^= 0x55;
        break;
      case kMissing:
        track.erase(at);
        break;
      case kExtra:
        track.push_back({c, h, spoil.r, 2, SectorData(c, h, spoil.r)});
        break;
      case kDuplicate:
        track.push_back(*at);
        track.back().data[2] ^= 0x55;
        break;
    }
  }
  return disk;
}

// The crc32 d88merge shows for `data`.
std::string CrcText(const Bytes& data) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X",
                static_cast<unsigned>(Crc32(data.data(), data.size())));
  return text;
}

// `lines`, each ended by a newline.
std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// `path` as a JSON string holds it: Windows paths have backslashes.
std::string JsonPath(const std::string& path) {
  std::string text;
  for (char c : path)
    text += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return text;
}

// volspar's seven files from the image `path`, back to back.
Bytes VolsparFiles(const std::string& path) {
  TempDir work;
  EXPECT_EQ(RunCommand(VOLSPAR_PATH, {path}, work.path()).status, 0);
  Bytes files;
  for (const ExtractionEntry& entry : kExtractionTable) {
    const Bytes file = ReadFile(work.File(entry.file_name));
    files.insert(files.end(), file.begin(), file.end());
  }
  return files;
}

class MergeTest : public ::testing::Test {
 protected:
  std::string DumpPath(size_t i) const {
    return dir_.File("dump" + std::to_string(i + 1) + ".d88");
  }
  // Writes `dumps` as dump1.d88, dump2.d88, ... and runs d88merge on them,
  // with `options` after them, expecting it to exit with `status`; through
  // `runner` (a program and its arguments before d88merge's path) when
  // there is one.
  CommandResult Run(const std::vector<Disks>& dumps,
                    const std::vector<std::string>& options, int status,
                    const std::string& stdout_path = "",
                    std::vector<std::string> runner = {}) {
    std::vector<std::string> args;
    for (size_t i = 0; i < dumps.size(); ++i) {
      EXPECT_TRUE(WriteFile(DumpPath(i), BuildImage(dumps[i])));
      args.push_back(DumpPath(i));
    }
    args.insert(args.end(), options.begin(), options.end());
    runner.push_back(D88MERGE_PATH);
    args.insert(args.begin(), runner.begin() + 1, runner.end());
    const CommandResult result =
        RunCommand(runner[0], args, dir_.path(), stdout_path);
    EXPECT_EQ(result.status, status) << result.out << result.err;
    return result;
  }

  TempDir dir_;
  const std::string made_ = dir_.File("new.d88");  // the new image
};

const DiskSpec kGood = Dump({});

// A disk no sector of which holds what the demonstration disk's does.
DiskSpec Stranger() {
  DiskSpec stranger = kGood;
  for (auto& [number, track] : stranger.tracks) {
    for (SectorSpec& sector : track) sector.data[5] ^= 0x5A;
  }
  return stranger;
}

// Each merge gives exactly the image expected (the first dump's headers,
// tracks in track order, each in the first dump's order with what others
// add after it), says each sector not simply taken from the first dump,
// and ends with the new image's verdict.
TEST_F(MergeTest, TakesAGoodCopyThatMostGoodCopiesAgreeWith) {
  DiskSpec added = Dump({{kMissing, 0, 3}});
  added.tracks[0].push_back(kGood.tracks.at(0)[4]);  // 0/0/3/2
  added.tracks[0].push_back(Dump({{kExtra, 0, 10}}).tracks[0][9]);
  // A disk smaller than the writer's buffer, then a larger one.
  DiskSpec small = Dump({}, "DISK A");
  small.tracks.erase(small.tracks.find(4), small.tracks.end());
  small.write_protect = 0x10;
  small.tracks[90] = {{0, 0, 0, 0, {}, 0}};  // an unformatted track
  DiskSpec small_bad = small;
  small_bad.name = "OTHER";
  small_bad.tracks[2][2].status = 0xB0;
  const Bytes bad_data = Dump({{kBad, 2, 2}}).tracks[2][2].data;
  const std::string clean = "; 0 added, 0 still bad, 0 conflicts";
  const struct {
    const char* what;
    std::vector<Disks> dumps;
    Disks expected;
    int status;
    std::vector<std::string> lines;  // of the report, after the dumps'
  } kCases[] = {
      {"bad sectors in different places",
       {{Dump({{kBad, 8, 5}, {kBad, 27, 7}})},
        {Dump({{kShort, 30, 4}, {kBad, 1, 6}})}},
       {kGood},
       0,
       {"disk 0 track 8 4/0/5/2: from dump 2 (the only good copy)",
        "disk 0 track 27 13/1/7/2: from dump 2 (the only good copy)",
        "disk 0: 720 sectors: 718 from dump 1, 2 from dump 2" + clean}},
      {"one dump of three disagrees",
       {{Dump({{kOther, 26, 6}})}, {Dump({{kOther, 29, 6}})}, {kGood}},
       {kGood},
       0,
       {"disk 0 track 26 13/0/6/2: from dump 2 (2 of 3 good copies agree)",
        "disk 0: 720 sectors: 719 from dump 1, 1 from dump 2" + clean}},
      {"a tie",
       {{kGood}, {Dump({{kOther, 29, 6}})}},
       {kGood},
       2,
       {"disk 0 track 29 14/1/6/2: conflict: from dump 1 (1 of 2 good "
        "copies agree)",
        "disk 0: 720 sectors: 720 from dump 1; 0 added, 0 still bad, 1 "
        "conflict"}},
      {"bad everywhere",
       {{Dump({{kBad, 2, 2}})}, {Dump({{kBad, 2, 2}})}},
       {Dump({{kBad, 2, 2}})},
       2,
       {"disk 0 track 2 1/0/2/2: still bad: from dump 1: status 0xB0 (data "
        "CRC error), 512 bytes, crc32 " +
            CrcText(bad_data),
        "disk 0: 720 sectors: 720 from dump 1; 0 added, 1 still bad, 0 "
        "conflicts"}},
      {"sectors that only some dumps hold",
       {{Dump({{kMissing, 0, 3}})}, {Dump({{kExtra, 0, 10}})}},
       {added},
       0,
       {"disk 0 track 0 0/0/3/2: added: from dump 2 (the only good copy)",
        "disk 0 track 0 0/0/10/2: added: from dump 2 (the only good copy)",
        "disk 0: 721 sectors: 719 from dump 1, 2 from dump 2; 2 added, 0 "
        "still bad, 0 conflicts"}},
      {"two disks each",
       {{small, Dump({{kBad, 3, 1}}, "DISK B")},
        {small_bad, Dump({}, "OTHER")}},
       {small, Dump({}, "DISK B")},
       0,
       {"disk 0: 36 sectors: 36 from dump 1" + clean,
        "disk 1 track 3 1/1/1/2: from dump 2 (the only good copy)",
        "disk 1: 720 sectors: 719 from dump 1, 1 from dump 2" + clean}},
  };
  for (const auto& [what, dumps, expected, status, lines] : kCases) {
    SCOPED_TRACE(what);
    const CommandResult result = Run(dumps, {"-o", made_}, status);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(ReadFile(made_), BuildImage(expected));
    std::string report;
    for (size_t i = 0; i < dumps.size(); ++i) {
      report += "dump " + std::to_string(i + 1) + ": " + DumpPath(i) + " (" +
                std::to_string(dumps[i].size()) +
                (dumps[i].size() == 1 ? " disk)\n" : " disks)\n");
    }
    report += Lines(lines);
    EXPECT_EQ(result.out.substr(0, report.size()), report);
    EXPECT_NE(result.out.find("\"" + made_ + "\": "), std::string::npos)
        << result.out;
  }
}

// Bad sectors in volspar's runs, in different places in each dump: the new
// image gives the files that the good disk gives.
TEST_F(MergeTest, GivesVolsparTheFilesOfTheGoodDisk) {
  std::vector<Spoil> first;
  std::vector<Spoil> second;
  for (const ExtractionEntry& entry : kExtractionTable) {
    first.push_back({kBad, entry.track, entry.r});
    second.push_back({kBad, entry.track + 1, 9});
  }
  second.push_back({kMissing, 2, 3});  // in TRV03.BIN's run
  Run({{Dump(first)}, {Dump(second)}}, {"-o", made_}, 0);
  ASSERT_TRUE(WriteFile(dir_.File("good.d88"), BuildImage({kGood})));
  EXPECT_EQ(VolsparFiles(made_), VolsparFiles(dir_.File("good.d88")));
  EXPECT_NE(VolsparFiles(DumpPath(0)), VolsparFiles(dir_.File("good.d88")));
}

// Without -o, each sector whose copies differ is described copy by copy,
// then each disk in numbers; nothing is written.
TEST_F(MergeTest, ComparesWithoutWriting) {
  const DiskSpec one = Dump({{kBad, 8, 5}, {kMissing, 0, 3}});
  const DiskSpec two = Dump({{kDuplicate, 1, 6}, {kShort, 8, 5}});
  const Bytes good = SectorData(4, 0, 5);
  const std::string ok = "status 0x00, 512 bytes, crc32 ";
  const std::string bad = "status 0xB0 (data CRC error), 512 bytes, crc32 " +
                          CrcText(one.tracks.at(8)[8].data);
  const CommandResult result = Run({{one}, {two}}, {}, 2);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out,
            Lines({
                "dump 1: " + DumpPath(0) + " (1 disk)",
                "dump 2: " + DumpPath(1) + " (1 disk)",
                "disk 0 track 0 0/0/3/2: only in dump 2",
                "  dump 1: absent",
                "  dump 2: " + ok + CrcText(SectorData(0, 0, 3)),
                "  merge: added: from dump 2 (the only good copy)",
                "disk 0 track 1 0/1/6/2: duplicated in dump 2",
                "  dump 1: " + ok + CrcText(SectorData(0, 1, 6)),
                "  dump 2: " + ok + CrcText(SectorData(0, 1, 6)) +
                    ", first of 2 records",
                "  merge: from dump 1 (2 of 2 good copies agree)",
                "disk 0 track 8 4/0/5/2: data differ; headers differ; bad "
                "in dumps 1, 2",
                "  dump 1: " + bad,
                "  dump 2: status 0x00, 300 bytes, crc32 " +
                    CrcText(Bytes(good.begin(), good.begin() + 300)),
                "  merge: still bad: from dump 1: " + bad,
                "disk 0: 720 sectors: 718 identical, 1 differing, 1 with a "
                "bad copy, 1 missing from some dump, 1 duplicated",
                "a merge would leave 1 sector still bad and 0 conflicts",
            }));
  EXPECT_EQ(dir_.List(), (std::vector<std::string>{"dump1.d88", "dump2.d88"}));
}

// The JSON document holds what the text says.
TEST_F(MergeTest, SaysTheSameInJson) {
  const CommandResult result =
      Run({{Dump({{kBad, 8, 5}})}, {kGood}}, {"--json", "-o", made_}, 0);
  for (const std::string& part :
       {"{\"format\":\"d88merge/1\",\"dumps\":[{\"path\":\"" +
            JsonPath(DumpPath(0)) + "\",\"disks\":1},",
        std::string(
            "\"different_disks\":[],\"forced\":false,\"disks\":[{"
            "\"index\":0,\"dumps\":2,\"sectors\":720,\"identical\":719,"
            "\"differing\":1,\"bad\":1,\"missing\":0,\"duplicated\":0,"
            "\"taken\":[719,1],\"added\":0,\"still_bad\":0,"
            "\"conflicts\":0,\"sectors_listed\":[{\"track\":8,\"c\":4,"
            "\"h\":0,\"r\":5,\"n\":2,\"differences\":[\"data\","
            "\"header\",\"bad\"],\"take\":{\"dump\":2,\"choice\":"
            "\"agreed\",\"added\":false,\"agreeing\":1,\"good_copies\":"
            "1},\"copies\":[{\"dump\":1,\"present\":true,\"good\":false,"
            "\"status\":176,"),
        "\"crc32\":" + std::to_string(Crc32(SectorData(4, 0, 5).data(), 512)) +
            "}]}],\"not_listed\":0}],\"still_bad\":0,\"conflicts\":0,"
            "\"output\":{\"path\":\"" +
            JsonPath(made_) +
            "\",\"disks\":1,\"health\":\"clean\",\"volspar\":[\"complete\"]}}"
            "\n"}) {
    EXPECT_NE(result.out.find(part), std::string::npos) << part;
  }
}

// What is refused or fails says why and writes nothing; --force goes on
// with dumps of different disks.
TEST_F(MergeTest, RefusesDumpsOfOtherDisksAndTheDumpsThemselves) {
  const std::string nothing = "d88merge: nothing was written\n";
  const std::string differ =
      DumpPath(0) + " and " + DumpPath(1) + " cannot be the same disk: ";
  const std::string none =
      "0 of the 720 sectors both hold with a clean status agree";
  const struct {
    const char* what;
    std::vector<Disks> dumps;
    std::vector<std::string> options;
    std::string err;
    std::vector<std::string> runner = {};  // d88merge run through it
  } kCases[] = {
      {"other data",
       {{kGood}, {Stranger()}},
       {"-o", made_},
       "d88merge: " + differ + none + "\n" + nothing},
      {"other disk counts",
       {{kGood}, {kGood, kGood}},
       {"-o", made_},
       "d88merge: " + differ + "they hold 1 and 2 disks\n" + nothing},
      {"other data, compared",
       {{kGood}, {Stranger()}},
       {},
       "d88merge: " + differ + none + "\n"},
      {"onto a dump",
       {{kGood}, {kGood}},
       {"-o", DumpPath(1)},
       "d88merge: will not write over " + DumpPath(1) +
           ": it is one of the dumps\n" + nothing},
      {"one dump",
       {{kGood}},
       {"-o", made_},
       "Usage: d88merge [--json] [--force] [-o NEWIMAGE] DUMP DUMP...\n"},
#ifndef _WIN32
      // Each disk's header goes in last, by a seek back.
      {"a seek that fails",
       {{kGood}, {kGood}},
       {"-o", made_},
       "d88merge: cannot write " + made_ + ": " + std::strerror(ESPIPE) + "\n" +
           nothing,
       {"/usr/bin/env", std::string("LD_PRELOAD=") + FAIL_FSEEK_PATH,
        "ASAN_OPTIONS=verify_asan_link_order=0"}},
#endif
  };
  for (const auto& [what, dumps, options, err, runner] : kCases) {
    SCOPED_TRACE(what);
    const CommandResult result = Run(dumps, options, 1, "", runner);
    EXPECT_EQ(result.err, err);
    EXPECT_FALSE(ReadFile(DumpPath(0)).empty());
    EXPECT_EQ(ReadFile(DumpPath(dumps.size() - 1)), BuildImage(dumps.back()));
    EXPECT_TRUE(ReadFile(made_).empty());
  }
  ASSERT_TRUE(WriteFile(dir_.File("text.d88"), Bytes(1000, 'x')));
  const CommandResult text = RunCommand(
      D88MERGE_PATH, {DumpPath(0), dir_.File("text.d88")}, dir_.path());
  EXPECT_EQ(text.status, 1);
  const std::string not_d88 =
      "d88merge: " + dir_.File("text.d88") + " is not a D88 image: ";
  EXPECT_EQ(text.err.substr(0, not_d88.size()), not_d88);

  const CommandResult forced =
      Run({{kGood}, {Stranger()}}, {"--force", "-o", made_}, 2);
  EXPECT_EQ(ReadFile(made_), BuildImage({kGood}));
  EXPECT_NE(forced.out.find("note: " + differ + none +
                            "; merged all the same (--force)\n"),
            std::string::npos)
      << forced.out;
  EXPECT_NE(forced.out.find("720 conflicts\n"), std::string::npos);
}

#ifndef _WIN32
// A new image that cannot be read back for its verdict (it keeps the mode
// of the write-only file it replaces) is written, but the command fails
// and says why instead of leaving the verdict out.
TEST_F(MergeTest, SaysWhenTheNewImageCannotBeReadBack) {
  const std::vector<std::string> user = AsOrdinaryUser();
  if (!user.empty() && access(user[0].c_str(), X_OK) != 0) {
    GTEST_SKIP() << "as root, this needs setpriv to run as nobody";
  }
  ASSERT_TRUE(WriteFile(made_, Bytes(3, 'o')));
  if (!user.empty()) {
    ASSERT_EQ(chown(made_.c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(chmod(made_.c_str(), 0200), 0);
  ASSERT_EQ(chmod(dir_.path().c_str(), 0777), 0);
  const CommandResult result =
      Run({{kGood}, {Dump({{kBad, 8, 5}})}}, {"-o", made_}, 1, "", user);
  EXPECT_EQ(result.err, "d88merge: " + made_ +
                            " is written, but not read back for its verdict: "
                            "cannot open: " +
                            std::strerror(EACCES) + "\n");
  EXPECT_NE(result.out.find("720 from dump 1"), std::string::npos);
  EXPECT_EQ(result.out.find("\"" + made_ + "\": "), std::string::npos);
  ASSERT_EQ(chmod(made_.c_str(), 0600), 0);
  EXPECT_EQ(ReadFile(made_), BuildImage({kGood}));
}
#endif

// -o - puts the image on standard output and the report beside it.
TEST_F(MergeTest, WritesToStandardOutput) {
  const CommandResult result = Run({{Dump({{kBad, 8, 5}})}, {kGood}},
                                   {"-o", "-"}, 0, dir_.File("stdout"));
  EXPECT_EQ(ReadFile(dir_.File("stdout")), BuildImage({kGood}));
  EXPECT_NE(result.err.find("disk 0 track 8 4/0/5/2: from dump 2 (the only "
                            "good copy)\n"),
            std::string::npos)
      << result.err;
  const std::string verdict = "\"-\": 1 disk, clean; volspar: complete\n";
  EXPECT_EQ(result.err.substr(result.err.size() - verdict.size()), verdict)
      << result.err;
}

// MergeDumps, the command without its command line, says on the streams it
// is given what the command prints, and writes the same image; it tells
// its caller when it refused dumps of other disks.
TEST_F(MergeTest, MergeDumpsSaysWhatTheCommandSays) {
  const std::vector<Disks> twice = {{Dump({{kBad, 8, 5}})},
                                    {Dump({{kBad, 20, 2}})}};
  const std::vector<Disks> others = {{kGood}, {Stranger()}};
  const struct {
    const char* what;
    const std::vector<Disks>& dumps;
    bool merge;
    unsigned flags;
    int status;
    bool other_disks;  // refused as such
  } kCases[] = {
      {"compared", twice, false, 0, 0, false},
      {"compared, in JSON", twice, false, kMergeJson, 0, false},
      {"merged", twice, true, 0, 0, false},
      {"other disks, compared", others, false, 0, 1, true},
      {"other disks, refused", others, true, 0, 1, true},
      {"other disks, forced", others, true, kMergeForce, 2, false},
  };
  for (const auto& [what, dumps, merge, flags, status, other_disks] : kCases) {
    SCOPED_TRACE(what);
    std::vector<std::string> options;
    if ((flags & kMergeJson) != 0) options.push_back("--json");
    if ((flags & kMergeForce) != 0) options.push_back("--force");
    if (merge) options.insert(options.end(), {"-o", made_});
    const CommandResult command = Run(dumps, options, status);
    const Bytes written = ReadFile(made_);
    std::remove(made_.c_str());
    std::FILE* out = std::fopen(dir_.File("out").c_str(), "wb");
    std::FILE* err = std::fopen(dir_.File("err").c_str(), "wb");
    ASSERT_TRUE(out != nullptr && err != nullptr);
    const std::string paths[] = {DumpPath(0), DumpPath(1)};
    const char* const names[] = {paths[0].c_str(), paths[1].c_str()};
    bool refused_other_disks = !other_disks;
    EXPECT_EQ(MergeDumps(names, 2, merge ? made_.c_str() : nullptr, flags, out,
                         err, &refused_other_disks),
              status);
    EXPECT_EQ(refused_other_disks, other_disks);
    std::fclose(out);
    std::fclose(err);
    EXPECT_EQ(ReadText(dir_.File("out")), command.out);
    EXPECT_EQ(ReadText(dir_.File("err")), command.err);
    EXPECT_EQ(ReadFile(made_), written);
    std::remove(made_.c_str());
  }
}

}  // namespace
}  // namespace d88test
