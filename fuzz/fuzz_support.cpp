#include "fuzz/fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

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
