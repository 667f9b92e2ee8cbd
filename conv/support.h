// What d88conv's conversions share: opening their inputs, starting and
// finishing their output under one policy, gathering small pieces into
// large writes, and the words for disks and tracks in messages.

#ifndef CONV_SUPPORT_H_
#define CONV_SUPPORT_H_

#include <cstdint>
#include <cstdio>

#include "d88/d88_file.h"
#include "platform/input_file.h"
#include "platform/output_file.h"

namespace conv {

// Where a conversion's own lines go: standard error when `output` is
// standard output, which carries the bytes.
std::FILE* LinesStream(const char* output, std::FILE* out, std::FILE* err);

// Checks that `reader` holds disk `disk`; false, said on `err`, if not.
bool CheckDisk(const d88::D88File& reader, const char* path, int disk,
               std::FILE* err);

// "disk 1 of a.d88", or "a.d88" for an image of one disk (`disks` the
// image's count).
void PrintDisk(std::FILE* stream, int disk, int disks, const char* path);

// Starts `file` on `name`, unless it is one of the `count` `inputs`; false,
// said on `err`.
bool StartOutput(OutputFile* file, const char* name, const char* const* inputs,
                 int count, std::FILE* err);
// Puts the written file in place; false, said on `err`.
bool FinishOutput(OutputFile* file, std::FILE* err);

// "d88conv: cannot read PATH: REASON", for a read that failed midway
// (`error` 0: the file got shorter).
void PrintReadFailure(std::FILE* err, const char* path, int error);

// Gathers record headers and sector data into large writes. One at a time:
// they share one buffer.
class BlockOut {
 public:
  static constexpr int kSize = 1 << 20;

  explicit BlockOut(OutputFile* file) : file_(file), used_(0) {}
  BlockOut(const BlockOut&) = delete;
  BlockOut& operator=(const BlockOut&) = delete;

  // `size` bytes (at most kSize) after those held, for the caller to fill;
  // null when writing what is held failed.
  uint8_t* Take(int size);
  // Writes what is held.
  bool Flush();

 private:
  OutputFile* file_;
  int used_;
};

// Reads a file front to back in large reads, for a caller that takes it in
// small pieces. One at a time: they share one buffer.
class BlockIn {
 public:
  static constexpr int kSize = 1 << 20;

  explicit BlockIn(InputFile* file)
      : file_(file), offset_(0), start_(0), length_(0) {}
  BlockIn(const BlockIn&) = delete;
  BlockIn& operator=(const BlockIn&) = delete;

  // The next `size` bytes (at most kSize); null when the file ends or
  // fails before them, the file's error() then saying why (0: it ended).
  const uint8_t* Next(int size);

 private:
  InputFile* file_;
  int64_t offset_;  // of the file's next byte to read
  int start_;       // of the next piece in the buffer
  int length_;      // bytes in the buffer
};

}  // namespace conv

#endif  // CONV_SUPPORT_H_
