// Files the commands write, under one policy:
// - a new or regular file is replaced whole or not at all: the bytes go to
//   a new file beside it, created exclusively, renamed over the name only
//   once written, flushed and closed; it takes the old file's permission
//   bits (and owner and group, where the process may set them);
// - "-" is standard output, and so is a name for the pipe, device or file
//   it goes to (/dev/stdout);
// - a character device or FIFO is written through (/dev/null, /dev/stdout);
//   a FIFO that nobody reads fails at once instead of blocking. What is
//   opened is checked to be what was looked at, so that a name swapped in
//   between cannot send the bytes elsewhere, and a symbolic link is
//   followed only when root or the user running the command owns it; the
//   system's links to the process's other streams (/dev/stderr) are
//   followed to a regular file too, which is then written at its end, and
//   its other links to files (/dev/stdin) are never written;
// - a directory, a block device (or a link to one), a regular file the
//   user may not write, and the files a command reads are never written;
// - where the directory refuses new files but the file itself is writable,
//   the file is written in place, as a plain redirection would: the one
//   case where a failure can leave it half written;
// - SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE (Ctrl-C or a closed
//   console on Windows) remove the new files in progress before the process
//   ends, and SIGXFSZ is ignored, so that a file-size limit fails the write
//   and the new file goes the same way.

#ifndef PLATFORM_OUTPUT_FILE_H_
#define PLATFORM_OUTPUT_FILE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/input_file.h"

// What tells files apart whatever their names: the volume and the file's
// number on it.
struct FileId {
  uint64_t volume;
  uint64_t number;
};
// Identifies the file that `path` opens; false when there is none.
bool IdentifyFile(const char* path, FileId* id);
bool SameFile(const FileId& a, const FileId& b);
// "-", or a name that leads to the pipe, device or file that standard
// output goes to (/dev/stdout): Create writes it through standard output
// itself, and what a command prints there must go elsewhere.
bool IsStandardOutput(const char* name);

class OutputFile {
 public:
  enum class Failure { kNone, kKept, kCreate, kWrite, kReplace };

  OutputFile();
  ~OutputFile();  // removes a new file that was not committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Starts writing `name`; false if it cannot be written, or (failure
  // kKept) if the entry `name`, or what a link there leads to, or standard
  // output for "-", is one of the `keep_count` files `keep`: what the
  // command reads, whose owner would lose it.
  bool Create(const char* name, const FileId* keep = nullptr,
              int keep_count = 1);
  // Starts a scratch file in the system's temporary directory, with `tag`
  // in its name: Commit only closes it, and it is removed with the object
  // (or by the signals above) whatever happens.
  bool CreateScratch(const char* tag);
  // Where to write. It starts unbuffered, so that Write of a whole buffer
  // is one write; callers of many small writes set a buffer.
  std::FILE* stream() const { return stream_; }
  // Writes `size` bytes, remembering why the first failed write failed.
  bool Write(const void* data, size_t size);
  // Writes `length` bytes of `in` from `offset` on, through the system's
  // copy call where there is one.
  bool WriteFrom(InputFile* in, int64_t offset, int64_t length);
  // The bytes go straight to their target (a device, a FIFO, standard
  // output, a file written in place): they cannot be read back before they
  // count, nor taken back.
  bool writes_through() const {
    return mode_ != Mode::kReplace && mode_ != Mode::kScratch;
  }
  // The new file in progress, under a name that reads it back once Flush
  // has succeeded; null when the output writes through.
  const char* pending_name() const;
  bool Flush();
  // Closes the file, checking every result, and puts a new one in place.
  bool Commit();
  // Writes what the committed scratch file `scratch` holds, then commits:
  // how an output that writes through gets what was made and checked.
  bool CommitCopyOf(const OutputFile& scratch);
  // Gives up on the file, because of `error`: a new one is removed, and the
  // name keeps what it had. Returns false.
  bool Abandon(int error);

  // What failed, and the errno value (or one of the causes below) that said
  // why.
  Failure failure() const { return failure_; }
  int error() const { return error_; }
  // Says on `err` what failed, as "COMMAND: cannot create NAME: reason".
  void Report(std::FILE* err, const char* command) const;

  // Causes that no errno value says well.
  static constexpr int kBlockDevice = -1;
  static constexpr int kNoReader = -2;
  static constexpr int kChanged = -4;      // the name changed while opened
  static constexpr int kForeignLink = -5;  // a link that another user owns
  static constexpr int kTooLarge = -6;     // more than a spool takes
  static constexpr int kSystemLink = -7;   // /dev/stdin and the like

 private:
  enum class Mode {
    kNone,
    kReplace,
    kThrough,
    kStandardOutput,
    kInPlace,
    kScratch
  };

  bool Fail(Failure failure, int error);
  bool OpenStream(int fd);
  bool UseStandardOutput();
  void Discard();

  const char* name_;
  std::FILE* stream_;
  Mode mode_;
  Failure failure_;
  int error_;
  int write_error_;  // errno of the first failed Write, 0 if none
  int pending_;      // the new file's slot among those in progress; -1: none
};

// Standard input is a regular file, read from its start: it can be read
// as it is, by the name /dev/stdin, with no copy.
bool StandardInputIsAFile();

// Copies standard input into `spool`, a scratch file it creates, at most
// `limit` bytes; 0 on success, else an errno value or
// OutputFile::kTooLarge.
int SpoolStandardInput(OutputFile* spool, int64_t limit);

#endif  // PLATFORM_OUTPUT_FILE_H_
