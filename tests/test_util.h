// Temporary directories and child processes for the tests.

#ifndef TESTS_TEST_UTIL_H_
#define TESTS_TEST_UTIL_H_

#include <cstdio>
#include <functional>
#include <string>
#include <vector>
#ifndef _WIN32
#include <future>
#endif

namespace d88test {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Names of the entries in the directory, sorted.
  std::vector<std::string> List() const;

 private:
  std::string path_;
};

// The file's bytes; empty if it cannot be read.
std::string ReadText(const std::string& path);

// What `write` prints to the stream it is given.
std::string Printed(const std::function<void(std::FILE*)>& write);

struct CommandResult {
  int status;  // exit status, or -1 if the process did not exit normally
  std::string out;
  std::string err;
};

// Runs `binary` with `args` in directory `dir` and collects its output;
// standard output goes to `stdout_path` instead when one is given. A command
// that hangs is killed after a minute (status -1).
CommandResult RunCommand(const std::string& binary,
                         const std::vector<std::string>& args,
                         const std::string& dir,
                         const std::string& stdout_path = "");

#ifndef _WIN32
// Runs `binary` with `args` as an ordinary user: as nobody, through
// setpriv, when the tests run as root, who may write anything. Pass
// UserRunner's program and AsUser's arguments to RunCommand.
std::string UserRunner(const std::string& binary);
std::vector<std::string> AsUser(const std::string& binary,
                                std::vector<std::string> args);

// A new FIFO at `path` with a reader on it from the start, so that a
// command started afterwards finds someone reading; the reader stops when
// the writer closes the FIFO, or after ten seconds, so nothing can hang.
class FifoReader {
 public:
  explicit FifoReader(const std::string& path);
  ~FifoReader();
  FifoReader(const FifoReader&) = delete;
  FifoReader& operator=(const FifoReader&) = delete;

  bool ok() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }
  // What was written, once the writer is done; the FIFO then has no reader.
  std::string Read();

 private:
  std::string path_;
  int fd_ = -1;
  std::future<std::string> read_;
};

// What runs a command as an ordinary user, put before its path: setpriv as
// nobody when the tests run as root, who may read and write anything;
// nothing otherwise.
std::vector<std::string> AsOrdinaryUser();
#endif

}  // namespace d88test

#endif  // TESTS_TEST_UTIL_H_
