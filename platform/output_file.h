// Files that are replaced whole or not at all.

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

// Writes a new version of a file. The bytes go to a new file beside it,
// created exclusively, so that nothing already there under the name (a
// link, a FIFO, a device, the earlier version) is ever written through. Only
// once the new file is written, flushed and closed is it renamed over the
// name; on any failure it is removed and the name keeps what it had.
class OutputFile {
 public:
  enum class Failure { kNone, kKept, kCreate, kWrite, kReplace };

  OutputFile();
  ~OutputFile();  // removes a new file that was not committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Starts a new version of `name`; false if no new file could be made, or
  // (failure kKept) if the entry `name` itself, not what a link there points
  // to, is the file `keep`, which must never be replaced: the image a
  // command reads, whose owner would lose it.
  bool Create(const char* name, const FileId* keep = nullptr);
  // Where to write the new version. It starts unbuffered, so that Write of
  // a whole buffer is one write; callers of many small writes set a buffer.
  std::FILE* stream() const { return stream_; }
  // Writes `size` bytes, remembering why the first failed write failed.
  bool Write(const void* data, size_t size);
  // Closes the new file, checking every result, and puts it in place.
  bool Commit();

  // What failed, and the errno value that said why.
  Failure failure() const { return failure_; }
  int error() const { return error_; }

 private:
  void Fail(Failure failure, int error);
  void Discard();

  static constexpr int kMaxName = 4096;
  const char* name_;
  std::FILE* stream_;
  Failure failure_;
  int error_;
  int write_error_;  // errno of the first failed Write, 0 if none
  char temp_name_[kMaxName + 32];
};

#endif  // PLATFORM_OUTPUT_FILE_H_
