#include "tests/test_util.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace d88test {
std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

TempDir::TempDir() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "d88test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::List() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

CommandResult RunCommand(const std::string& binary,
                         const std::vector<std::string>& args,
                         const std::string& dir,
                         const std::string& stdout_path) {
  TempDir capture;
  const std::string out_path =
      stdout_path.empty() ? capture.File("stdout") : stdout_path;
  const std::string err_path = capture.File("stderr");
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(binary.c_str()));
  for (const std::string& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        chdir(dir.c_str()) != 0) {
      _exit(127);
    }
    close(out);
    close(err);
    alarm(60);  // survives exec: a hang fails the test instead of the run
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  int wait_status = 0;
  if (pid < 0 || waitpid(pid, &wait_status, 0) != pid) return {-1, "", ""};
  const int status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  return {status, stdout_path.empty() ? ReadText(out_path) : "",
          ReadText(err_path)};
}

}  // namespace d88test
