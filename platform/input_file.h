// Reading files that are not disk images: volspar's files for volpack, the
// start of a file about to be replaced, an image being copied. Only regular
// files are read, and nothing waits on a FIFO or a device.

#ifndef PLATFORM_INPUT_FILE_H_
#define PLATFORM_INPUT_FILE_H_

#include <cstdint>
#include <cstdio>

class InputFile {
 public:
  // errno-like values for what no errno value says well.
  static constexpr int kNotRegular = -3;

  InputFile() = default;
  ~InputFile();  // closes the file
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens `path` for reading if it names a regular file (following links);
  // false otherwise, error() saying why: an errno value, EISDIR for a
  // directory, kNotRegular for a FIFO, socket or device.
  bool Open(const char* path);
  void Close();
  // Reads up to `len` bytes at `offset`; returns the bytes delivered, fewer
  // at the end of the file, -1 on a read error (error() says which).
  int Read(int64_t offset, uint8_t* buf, int len);

  int64_t size() const { return size_; }
  int error() const { return error_; }
  // The descriptor, for the system's own copy call; -1 when closed.
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  int64_t size_ = 0;
  int error_ = 0;
};

// Reads up to `len` bytes from the start of the file `path` names when
// that entry itself, not what a link points to, is a regular file; returns
// the bytes read, -1 when it is anything else or nothing.
int ReadRegularHead(const char* path, uint8_t* buf, int len);

#ifdef _WIN32
// The longest path the wide calls take, in UTF-16 units.
constexpr int kMaxWidePath = 32768;
// Paths are UTF-8; the wide calls reach every name whatever the code page.
// False for a path that is not UTF-8 or does not fit `size`.
bool WidenPath(const char* path, wchar_t* wide, int size);
#endif

// Says on `err` why `path` could not be opened, as `command`:
// "COMMAND: cannot open PATH: REASON", "COMMAND: PATH is a directory",
// "COMMAND: PATH is not a regular file".
void PrintInputFailure(std::FILE* err, const char* command, const char* path,
                       int error);

#endif  // PLATFORM_INPUT_FILE_H_
