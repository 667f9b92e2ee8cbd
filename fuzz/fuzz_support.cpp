#include "fuzz/fuzz_support.h"

#include <dirent.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

MemoryFile::MemoryFile() : fd_(memfd_create("d88-fuzz", 0)), path_() {
  FUZZ_CHECK(fd_ >= 0);
  std::snprintf(path_, sizeof path_, "/proc/self/fd/%d", fd_);
}

MemoryFile::~MemoryFile() { close(fd_); }

// Not const: it replaces what the object stands for, the file's contents.
// NOLINTNEXTLINE(readability-make-member-function-const)
bool MemoryFile::Set(const uint8_t* data, size_t size) {
  if (ftruncate(fd_, 0) != 0) return false;
  size_t done = 0;
  while (done < size) {
    const ssize_t n =
        pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

namespace {

char work_dir[] = "/tmp/d88-fuzz-XXXXXX";

void RemoveWorkDir() {
  if (DIR* dir = opendir(work_dir)) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') {
        std::remove((std::string(work_dir) + "/" + entry->d_name).c_str());
      }
    }
    closedir(dir);
  }
  rmdir(work_dir);
}

}  // namespace

std::FILE* EnterOwnDirectory() {
  FUZZ_CHECK(mkdtemp(work_dir) != nullptr);
  FUZZ_CHECK(chdir(work_dir) == 0);
  std::atexit(RemoveWorkDir);
  std::FILE* sink = std::fopen("/dev/null", "w");
  FUZZ_CHECK(sink != nullptr);
  return sink;
}
