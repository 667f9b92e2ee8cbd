// What the fuzz targets share: the input as an image file, and checks that
// abort (which libFuzzer reports) when an invariant breaks.

#ifndef FUZZ_FUZZ_SUPPORT_H_
#define FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                               \
  do {                                                                      \
    if (!(condition)) {                                                     \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, \
                   #condition);                                             \
      std::abort();                                                         \
    }                                                                       \
  } while (false)

// An in-memory file that D88File opens by path like any image.
class MemoryFile {
 public:
  MemoryFile();
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  // Replaces the file's contents; false if that failed.
  bool Set(const uint8_t* data, size_t size);
  const char* path() const { return path_; }

 private:
  int fd_;
  char path_[64];
};

// Moves the process into a new directory of its own, removed with what it
// holds at exit, for targets that write files; returns a stream that
// discards what is written to it.
std::FILE* EnterOwnDirectory();

#endif  // FUZZ_FUZZ_SUPPORT_H_
