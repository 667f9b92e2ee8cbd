#include <sys/stat.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
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

DiskSpec Demo() { return StandardDisk(40, InterleavedNine()); }

class VolsparTest : public ::testing::Test {
 protected:
  CommandResult Run(const std::vector<std::string>& args) {
    return RunCommand(VOLSPAR_PATH, args, work_.path());
  }
  CommandResult RunOn(const Bytes& image) { return Run({Write(image)}); }
  // Writes `image` as image.d88 beside the working directory; its path.
  std::string Write(const Bytes& image = BuildImage({Demo()})) {
    EXPECT_TRUE(WriteFile(images_.File("image.d88"), image));
    return images_.File("image.d88");
  }
  Bytes Output(int row) const { return ReadFile(work_.File(kFiles[row])); }
  void ExpectFiles(const std::vector<Bytes>& expected) const {
    for (int row = 0; row < 7; ++row) {
      SCOPED_TRACE(kFiles[row]);
      EXPECT_EQ(Output(row).size(), kSizes[row]);
      EXPECT_EQ(Output(row), expected[row]);
    }
  }

  TempDir images_;
  TempDir work_;  // the command's working directory
};

// Each image gives all seven files, from its first disk only, over any
// older ones; a path in any script reaches the reader, whatever the
// system's code page.
TEST_F(VolsparTest, ImagesYieldTheirSevenFiles) {
  DiskSpec other = Demo();
  for (auto& [track, records] : other.tracks) {
    for (SectorSpec& record : records) record.data.assign(512, 0x77);
  }
  std::vector<Bytes> zeros;
  for (size_t size : kSizes) zeros.emplace_back(size, 0);
  const struct {
    const char* what;
    Bytes image;
    std::vector<Bytes> files;
    bool old_file = false;  // a longer TRV02.BIN there before
    std::string name = "image.d88";
  } cases[] = {
      {"complete", BuildImage({Demo()}), CompleteFiles()},
      {"two disks", BuildImage({Demo(), other}), CompleteFiles(), true},
      {"empty", {}, zeros},
      {"non-ASCII path", BuildImage({Demo()}), CompleteFiles(), false,
       "d\xC3\xADr \xC3\xBC \xE6\x97\xA5\xE6\x9C\xAC.d88"},
  };
  for (const auto& [what, image, files, old_file, name] : cases) {
    SCOPED_TRACE(what);
    for (const std::string& file : work_.List()) {
      std::filesystem::remove(work_.File(file));
    }
    if (old_file) {
      ASSERT_TRUE(WriteFile(work_.File("TRV02.BIN"), Bytes(100000, 0x55)));
    }
    ASSERT_TRUE(WriteFile(images_.File(name), image));
    const CommandResult result = Run({images_.File(name)});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, kAllCreated);
    EXPECT_EQ(result.err, "");
    ExpectFiles(files);
  }
}

// Wrong arguments, and anything but a regular file to open, are refused
// before anything is written; nothing waits on a FIFO.
TEST_F(VolsparTest, RefusalsWriteNothing) {
  const std::string usage = "Usage: volspar [d88file]\n";
  std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, usage},
      {{"a.d88", "b.d88"}, usage},
      {{"a", "b", "c"}, usage},
      {{images_.File("missing.d88")}, kOpenFailed},
      {{""}, kOpenFailed},
      {{images_.path()}, kOpenFailed},
  };
#ifndef _WIN32  // FIFOs and devices by path
  ASSERT_EQ(mkfifo(images_.File("fifo.d88").c_str(), 0644), 0);
  cases.push_back({{images_.File("fifo.d88")}, kOpenFailed});
  cases.push_back({{"/dev/zero"}, kOpenFailed});
#endif
  for (const auto& [args, err] : cases) {
    SCOPED_TRACE(args.empty() ? "no argument" : args[0]);
    const CommandResult result = Run(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, err);
  }
  EXPECT_TRUE(work_.List().empty());
}

TEST_F(VolsparTest, GapsLeaveWhatEarlierRowsReadInTheBuffer) {
  DiskSpec disk = Demo();
  auto& track2 = disk.tracks[2];     // C1 H0, row 3's run
  track2.erase(track2.begin() + 2);  // stored order 1,6,2,...: drop R2
  auto& track31 = disk.tracks[31];   // C15 H1, row 4's run ends here
  track31[2].data.resize(100);       // R2, stored third
  // Row 2's own file cannot be written; its run is read all the same.
  ASSERT_TRUE(std::filesystem::create_directory(work_.File("TRV02.BIN")));
  const CommandResult result = RunOn(BuildImage({disk}));
  EXPECT_EQ(result.status, 1);
  std::string created = kAllCreated;
  created.erase(created.find("TRV02.BIN was created.\n"), 23);
  EXPECT_EQ(result.out, created);
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

// Running on a file named as an output leaves that file alone.
TEST_F(VolsparTest, TheImageIsNeverReplaced) {
  const Bytes image = BuildImage({Demo()});
  ASSERT_TRUE(WriteFile(work_.File("TRV03.BIN"), image));
  const CommandResult result = Run({"TRV03.BIN"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err,
            "volspar: will not replace TRV03.BIN: it is the image\n");
  EXPECT_EQ(ReadFile(work_.File("TRV03.BIN")), image);
  EXPECT_EQ(Output(3), CompleteFiles()[3]);
}

// The same message on every platform for a directory under an output's
// name.
TEST_F(VolsparTest, ADirectoryUnderAnOutputsNameIsNamedSo) {
  ASSERT_TRUE(std::filesystem::create_directory(work_.File("TRV02.BIN")));
  const CommandResult result = RunOn(BuildImage({Demo()}));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "volspar: cannot create TRV02.BIN: Is a directory\n");
}

#ifdef _WIN32
// A Windows console program ends its lines with CR LF.
TEST_F(VolsparTest, LinesEndWithCrLf) {
  RunCommand(VOLSPAR_PATH, {Write()}, work_.path(), images_.File("out"));
  std::string crlf;
  for (char c : std::string(kAllCreated)) {
    crlf += c == '\n' ? "\r\n" : std::string(1, c);
  }
  EXPECT_EQ(ReadText(images_.File("out")), crlf);
}
#else  // links, FIFOs, tmpfs and /dev/full: POSIX only

// A link or the image under an output's name is replaced or kept, never
// written through; a FIFO nobody reads fails at once; a name that cannot be
// replaced keeps what it held.
TEST_F(VolsparTest, OutputsAreReplacedWholeOrNotAtAll) {
  const std::string image = work_.File("TRV04.BIN");  // run on its own name
  ASSERT_TRUE(WriteFile(image, BuildImage({Demo()})));
  const Bytes image_bytes = ReadFile(image);
  const std::string outside = images_.File("outside");
  ASSERT_TRUE(WriteFile(outside, Bytes(7, 'k')));
  ASSERT_EQ(symlink(outside.c_str(), work_.File("TRV01.BIN").c_str()), 0);
  ASSERT_EQ(mkdir(work_.File("TRV02.BIN").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo(work_.File("TRV03.BIN").c_str(), 0644), 0);
  ASSERT_EQ(symlink("TRV04.BIN", work_.File("TRV05.BIN").c_str()), 0);
  ASSERT_EQ(link(image.c_str(), work_.File("TRV06.BIN").c_str()), 0);
  const CommandResult result = Run({"TRV04.BIN"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out,
            "TRV01.BIN was created.\n"
            "TRV05.BIN was created.\nTRV07.BIN was created.\n");
  EXPECT_EQ(result.err,
            "volspar: cannot create TRV02.BIN: Is a directory\n"
            "volspar: cannot create TRV03.BIN: no process reads the FIFO\n"
            "volspar: will not replace TRV04.BIN: it is the image\n"
            "volspar: will not replace TRV06.BIN: it is the image\n");
  EXPECT_EQ(ReadFile(image), image_bytes);
  EXPECT_EQ(ReadFile(outside), Bytes(7, 'k'));
  const std::vector<Bytes> expected = CompleteFiles();
  for (int row : {0, 4, 6}) {
    struct stat info;
    ASSERT_EQ(lstat(work_.File(kFiles[row]).c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode)) << kFiles[row];
    EXPECT_EQ(Output(row), expected[row]) << kFiles[row];
  }
  EXPECT_EQ(work_.List().size(), 7u);  // no new file left behind
}

// What is written through is what was looked at: a name swapped for
// something else between the look and the open is refused, and what the
// new entry leads to is left alone. The swap is made certain by a stand-in
// for lstat; as root, a device node swapped for the FIFO is refused too.
TEST_F(VolsparTest, ANameSwappedBeforeItIsOpenedIsRefused) {
  const std::string image = Write();
  const std::string victim = images_.File("victim");
  const std::string swap = images_.File("swap");
  std::vector<std::function<int()>> swaps = {
      [&] { return symlink(victim.c_str(), swap.c_str()); }};
  if (geteuid() == 0) {
    swaps.push_back(
        [&] { return mknod(swap.c_str(), S_IFCHR | 0666, makedev(1, 3)); });
  }
  for (const auto& make : swaps) {
    ASSERT_TRUE(WriteFile(victim, Bytes(5, 'v')));
    std::filesystem::remove(work_.File("TRV01.BIN"));
    ASSERT_EQ(mkfifo(work_.File("TRV01.BIN").c_str(), 0644), 0);
    ASSERT_EQ(make(), 0);
    const CommandResult result = RunCommand(
        "/usr/bin/env",
        {"SWAP_NAME=TRV01.BIN", "SWAP_WITH=" + swap,
         std::string("LD_PRELOAD=") + SWAP_ON_LSTAT_PATH,
         "ASAN_OPTIONS=verify_asan_link_order=0", VOLSPAR_PATH, image},
        work_.path());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "volspar: will not write through TRV01.BIN: it changed while it "
              "was being opened\n");
    EXPECT_EQ(ReadFile(victim), Bytes(5, 'v'));
  }
}

// A link to a device is followed only when root or the user running the
// command owns it: not one that another user planted in a shared
// directory.
TEST_F(VolsparTest, ALinkThatAnotherUserPlantedIsNotFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a link away needs root";
  ASSERT_EQ(symlink("/dev/null", work_.File("TRV01.BIN").c_str()), 0);
  ASSERT_EQ(lchown(work_.File("TRV01.BIN").c_str(), 65534, 65534), 0);
  ASSERT_EQ(symlink("/dev/null", work_.File("TRV02.BIN").c_str()), 0);
  const CommandResult result = RunOn(BuildImage({Demo()}));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err,
            "volspar: will not write through TRV01.BIN: it is a symbolic "
            "link that another user owns\n");
  EXPECT_NE(result.out.find("TRV02.BIN was created.\n"), std::string::npos);
  struct stat info;
  ASSERT_EQ(lstat(work_.File("TRV02.BIN").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
}

// A full file system: the files that fit are replaced, the others keep
// their earlier contents, and nothing partial stays behind.
TEST_F(VolsparTest, FullFileSystemKeepsEarlierFiles) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  if (mount("tmpfs", work_.path().c_str(), "tmpfs", 0, "size=16k") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  }
  ASSERT_TRUE(WriteFile(work_.File("TRV01.BIN"), Bytes(3, 'o')));
  ASSERT_TRUE(WriteFile(work_.File("TRV05.BIN"), Bytes(5, 'o')));
  // Four pages: two hold the old files, two take TRV02 and TRV03.
  const CommandResult result = RunOn(BuildImage({Demo()}));
  const std::vector<std::string> names = work_.List();
  std::vector<Bytes> outputs;
  for (int row = 0; row < 7; ++row) outputs.push_back(Output(row));
  umount(work_.path().c_str());

  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "TRV02.BIN was created.\nTRV03.BIN was created.\n");
  std::string errors;
  for (int row : {0, 3, 4, 5, 6}) {
    errors += "volspar: cannot write " + std::string(kFiles[row]) +
              ": No space left on device\n";
  }
  EXPECT_EQ(result.err, errors);
  EXPECT_EQ(names, (std::vector<std::string>{"TRV01.BIN", "TRV02.BIN",
                                             "TRV03.BIN", "TRV05.BIN"}));
  EXPECT_EQ(outputs[0], Bytes(3, 'o'));
  EXPECT_EQ(outputs[1], CompleteFiles()[1]);
  EXPECT_EQ(outputs[2], CompleteFiles()[2]);
  EXPECT_EQ(outputs[4], Bytes(5, 'o'));
}

// A failed standard output is an error, not a silent success, and ends
// d88info's report at once; its verdict on what it read still counts.
TEST_F(VolsparTest, FailedStandardOutputIsReportedByBothCommands) {
  DiskSpec damaged = Demo();
  damaged.tracks[2][4].status = 0xB0;
  Write();
  ASSERT_TRUE(WriteFile(images_.File("damaged.d88"), BuildImage({damaged})));
  const struct {
    const char* path;
    const char* name;
    const char* image;
    int status;
  } commands[] = {{VOLSPAR_PATH, "volspar", "image.d88", 1},
                  {D88INFO_PATH, "d88info", "image.d88", 1},
                  {D88INFO_PATH, "d88info", "damaged.d88", 1 | 2 | 4}};
  for (const auto& [path, name, image, status] : commands) {
    const CommandResult result =
        RunCommand(path, {images_.File(image)}, work_.path(), "/dev/full");
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(result.err,
              std::string(name) + ": cannot write standard output\n");
  }
}

// Modes of existing outputs are kept, a file the user may not write is
// not replaced, and a directory that refuses new files gets its files
// written in place.
TEST_F(VolsparTest, OutputsKeepTheirPermissions) {
  if (geteuid() == 0 && access("/usr/bin/setpriv", X_OK) != 0) {
    GTEST_SKIP() << "as root, these need setpriv to run as nobody";
  }
  const auto run = [this, image = Write()] {
    return RunCommand(UserRunner(VOLSPAR_PATH), AsUser(VOLSPAR_PATH, {image}),
                      work_.path());
  };
  const auto prepare = [this](const char* name, mode_t mode) {
    ASSERT_TRUE(WriteFile(work_.File(name), Bytes(3, 'o')));
    if (geteuid() == 0) {
      ASSERT_EQ(chown(work_.File(name).c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(chmod(work_.File(name).c_str(), mode), 0);
  };
  for (const std::string& dir : {images_.path(), work_.path()}) {
    ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
  }
  prepare("TRV01.BIN", 0444);
  prepare("TRV05.BIN", 0600);
  CommandResult result = run();
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err,
            "volspar: cannot create TRV01.BIN: Permission denied\n");
  struct stat info;
  ASSERT_EQ(stat(work_.File("TRV05.BIN").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_EQ(Output(0), Bytes(3, 'o'));
  EXPECT_EQ(Output(4), CompleteFiles()[4]);

  // Every file there and writable, the directory closed to new files.
  prepare("TRV01.BIN", 0644);
  for (int row = 0; row < 7; ++row) prepare(kFiles[row], 0644);
  ASSERT_EQ(chmod(work_.path().c_str(), 0555), 0);
  result = run();
  ASSERT_EQ(chmod(work_.path().c_str(), 0755), 0);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, kAllCreated);
  ExpectFiles(CompleteFiles());
  EXPECT_EQ(work_.List().size(), 7u);
}

// An output goes where its name leads. Devices and FIFOs are written
// through, a FIFO only while someone reads it; "-" is standard output, and
// so is /dev/stdout itself, so that what a command prints goes beside the
// bytes, never into them. No name that is followed leads back to what the
// command reads, and a link that is not followed is replaced, its target
// left be; a link to a directory, or to a file through /proc, is refused
// and stays as it was.
TEST_F(VolsparTest, OutputsGoWhereTheirNamesLead) {
  const Bytes bytes = BuildImage({Demo()});
  const std::string image = Write(bytes);
  const std::string fifo = work_.File("map.svg");
  FifoReader reader(fifo);
  ASSERT_TRUE(reader.ok());
  const CommandResult through =
      RunCommand(D88INFO_PATH, {"-s", "--map", fifo, image}, work_.path());
  EXPECT_EQ(reader.Read().rfind("<?xml", 0), 0u);
  EXPECT_EQ(through.status, 0) << through.err;

  // Inherited by the commands, as a shell's 5<image.d88 would be.
  const int held = open(image.c_str(), O_RDONLY);
  ASSERT_GE(held, 0);
  const std::string held_name = "/dev/fd/" + std::to_string(held);
  const std::string mine = "/proc/self/cwd/mine.d88";
  const std::string other = images_.File("other.raw");
  ASSERT_TRUE(WriteFile(other, Bytes{1, 2, 3}));
  ASSERT_EQ(symlink(image.c_str(), work_.File("link.svg").c_str()), 0);
  ASSERT_EQ(symlink(other.c_str(), work_.File("mine.d88").c_str()), 0);
  ASSERT_EQ(symlink(images_.path().c_str(), work_.File("dir.svg").c_str()), 0);
  const std::string line =
      "\"" + image + "\": 1 disk, clean; volspar: complete\n";
  const std::string long_name(250, 'm');
  const std::string out = images_.File("out");
  const struct {
    const char* binary;
    std::vector<std::string> args;
    int status;
    std::string out_start;
    std::string err;
  } cases[] = {
      {D88INFO_PATH, {"-s", "--map", "/dev/null", image}, 0, "\"", ""},
      {D88INFO_PATH, {"-s", "--map", "-", image}, 0, "<?xml", line},
      {D88INFO_PATH,
       {"-s", "--map", fifo, image},
       1,
       "\"",
       "d88info: cannot create " + fifo + ": no process reads the FIFO\n"},
      {D88INFO_PATH, {"-s", "--map", long_name, image}, 0, "\"", ""},
      {D88INFO_PATH, {"-s", "--map", "/dev/stdout", image}, 0, "<?xml", line},
      {D88CONV_PATH,
       {"--disk", "0", image, "/dev/stdout"},
       0,
       std::string(bytes.begin(), bytes.end()),
       "/dev/stdout was written: " + image + ".\n"},
      {D88INFO_PATH,
       {"-s", "--map", held_name, image},
       1,
       line,
       "d88info: will not replace " + held_name + ": it is the image\n"},
      {D88INFO_PATH, {"-s", "--map", "link.svg", image}, 0, line, ""},
      {D88INFO_PATH,
       {"-s", "--map", "dir.svg", image},
       1,
       line,
       "d88info: cannot create dir.svg: Is a directory\n"},
      {D88CONV_PATH,
       {"--to-raw", image, mine},
       1,
       "",
       "d88conv: cannot create " + mine +
           ": it is a link to a file under /dev or /proc\n"},
  };
  for (const auto& [binary, args, status, out_start, err] : cases) {
    SCOPED_TRACE(args[args.size() - 2]);
    const CommandResult result = RunCommand(binary, args, work_.path(), out);
    const std::string printed = ReadText(out);
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(printed.substr(0, out_start.size()), out_start);
    EXPECT_EQ(result.err, err);
  }
  close(held);
  struct stat info;
  ASSERT_EQ(stat("/dev/null", &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
  EXPECT_EQ(ReadText(work_.File(long_name)).rfind("<?xml", 0), 0u);
  EXPECT_EQ(
      RunCommand(D88INFO_PATH, {"--map", "-", image}, work_.path()).status, 1);
  EXPECT_EQ(ReadFile(image), bytes);
  EXPECT_EQ(ReadFile(other), Bytes({1, 2, 3}));
  for (const char* link : {"link.svg", "mine.d88", "dir.svg"}) {
    ASSERT_EQ(lstat(work_.File(link).c_str(), &info), 0);
    EXPECT_EQ(S_ISLNK(info.st_mode), link[0] != 'l') << link;
  }
}

// A signal that ends a command while it writes a new file leaves nothing
// behind: here d88info spools its image from standard input, which stays
// open until the signal has come, into the directory TMPDIR names.
TEST_F(VolsparTest, EverySignalThatEndsACommandRemovesItsNewFiles) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
    SCOPED_TRACE(signal);
    int input[2];
    ASSERT_EQ(pipe(input), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      dup2(input[0], 0);
      close(input[1]);
      setenv("TMPDIR", work_.path().c_str(), 1);
      execl(D88INFO_PATH, D88INFO_PATH, "-s", "-", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(input[0]);
    const Bytes start(1000, 0x55);
    ASSERT_EQ(write(input[1], start.data(), start.size()),
              static_cast<ssize_t>(start.size()));
    bool seen = false;
    for (int i = 0; i < 1000 && !seen; ++i) {
      seen = !work_.List().empty();
      if (!seen) usleep(5000);
    }
    kill(child, signal);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    close(input[1]);
    EXPECT_TRUE(seen);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal);
    EXPECT_EQ(work_.List(), std::vector<std::string>());
  }
}

// A file-size limit fails the write of a file that would pass it: the new
// file goes, the old one stays, and the other files are written.
TEST_F(VolsparTest, AFileSizeLimitFailsTheFileAndLeavesNoNewFile) {
  const std::string image = Write();
  ASSERT_TRUE(WriteFile(work_.File("TRV01.BIN"), Bytes(5, 'o')));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit limit = {10240, 10240};
    if (chdir(work_.path().c_str()) == 0 &&
        setrlimit(RLIMIT_FSIZE, &limit) == 0) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execl(VOLSPAR_PATH, VOLSPAR_PATH, image.c_str(),
            static_cast<char*>(nullptr));
    }
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  EXPECT_EQ(work_.List(),
            std::vector<std::string>(std::begin(kFiles), std::end(kFiles)));
  EXPECT_EQ(ReadFile(work_.File("TRV01.BIN")), Bytes(5, 'o'));
}

#endif

}  // namespace
}  // namespace d88test
