// Temporary directories and child processes for the tests.

#ifndef TESTS_TEST_UTIL_H_
#define TESTS_TEST_UTIL_H_

#include <string>
#include <vector>

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

// Reads a FIFO opened with O_RDONLY | O_NONBLOCK until its writer closes
// it, or for at most ten seconds: a reader that is there before the writer
// starts, and that never hangs.
std::string DrainFifo(int fd);

// What runs a command as an ordinary user, put before its path: setpriv as
// nobody when the tests run as root, who may read and write anything;
// nothing otherwise.
std::vector<std::string> AsOrdinaryUser();
#endif

}  // namespace d88test

#endif  // TESTS_TEST_UTIL_H_
