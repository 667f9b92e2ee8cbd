// Files the commands write, under one policy:
// - a new or regular file is replaced whole or not at all: the bytes go to
//   a new file beside it, created exclusively, renamed over the name only
//   once written, flushed and closed; it takes the old file's permission
//   bits (and owner and group, where the process may set them);
// - a character device or FIFO, or a symbolic link to one, is written
//   through (/dev/null, /dev/stdout); a FIFO that nobody reads fails at
//   once instead of blocking;
// - a directory, a block device, a regular file the user may not write,
//   and the image a command reads are never written;
// - where the directory refuses new files but the file itself is writable,
//   the file is written in place, as a plain redirection would: the one
//   case where a failure can leave it half written;
// - SIGINT, SIGTERM and SIGHUP (Ctrl-C or a closed console on Windows)
//   remove the new file in progress before the process ends.

#ifndef PLATFORM_OUTPUT_FILE_H_
#define PLATFORM_OUTPUT_FILE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

// What tells files apart whatever their names: the volume and the file's
// number on it.
struct FileId {
  uint64_t volume;
  uint64_t number;
};
// Identifies the file that `path` opens; false when there is none.
bool IdentifyFile(const char* path, FileId* id);

class OutputFile {
 public:
  enum class Failure { kNone, kKept, kCreate, kWrite, kReplace };

  OutputFile();
  ~OutputFile();  // removes a new file that was not committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Starts writing `name`; false if it cannot be written, or (failure
  // kKept) if the entry `name` itself, not what a link there points to, is
  // the file `keep`: the image a command reads, whose owner would lose it.
  bool Create(const char* name, const FileId* keep = nullptr);
  // Where to write. It starts unbuffered, so that Write of a whole buffer
  // is one write; callers of many small writes set a buffer.
  std::FILE* stream() const { return stream_; }
  // Writes `size` bytes, remembering why the first failed write failed.
  bool Write(const void* data, size_t size);
  // Writes `size` bytes at `offset` of what was written so far.
  bool WriteAt(int64_t offset, const void* data, size_t size);
  // Closes the file, checking every result, and puts a new one in place.
  bool Commit();
  // Gives up on the file, because of `error`: a new one is removed, and the
  // name keeps what it had. Returns false.
  bool Abandon(int error);

  // What failed, and the errno value that said why.
  Failure failure() const { return failure_; }
  int error() const { return error_; }
  // Says on `err` what failed, as "COMMAND: cannot create NAME: reason".
  void Report(std::FILE* err, const char* command) const;

 private:
  enum class Mode { kNone, kReplace, kThrough, kInPlace };

  bool Fail(Failure failure, int error);
  bool Open(int fd);
  void Discard();

  static constexpr int kMaxName = 4096;
  const char* name_;
  std::FILE* stream_;
  Mode mode_;
  Failure failure_;
  int error_;
  int write_error_;  // errno of the first failed Write, 0 if none
  bool keep_mode_;   // give the new file the old one's mode and owner
  unsigned old_mode_;
  int64_t old_owner_;
  int64_t old_group_;
  char temp_name_[kMaxName + 16];
};

#endif  // PLATFORM_OUTPUT_FILE_H_
