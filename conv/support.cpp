#include "conv/support.h"

#include <cstring>
#include <iterator>

#include "platform/text_out.h"

namespace conv {
namespace {

uint8_t block[BlockOut::kSize];
uint8_t block_in[BlockIn::kSize];

}  // namespace

std::FILE* LinesStream(const char* output, std::FILE* out, std::FILE* err) {
  return IsStandardOutput(output) ? err : out;
}

bool CheckDisk(const d88::D88File& reader, const char* path, int disk,
               std::FILE* err) {
  const int count = reader.GetDiskCount();
  if (disk >= 0 && disk < count) return true;
  std::fputs("d88conv: ", err);
  PrintPath(err, path, false);
  if (count == 1) {
    std::fprintf(err, " holds 1 disk (disk 0); there is no disk %d\n", disk);
  } else {
    std::fprintf(err, " holds %d disks (0 to %d); there is no disk %d\n", count,
                 count - 1, disk);
  }
  return false;
}

void PrintDisk(std::FILE* stream, int disk, int disks, const char* path) {
  if (disks > 1) std::fprintf(stream, "disk %d of ", disk);
  PrintPath(stream, path, false);
}

bool StartOutput(OutputFile* file, const char* name, const char* const* inputs,
                 int count, std::FILE* err) {
  FileId keep[d88::D88File::kMaxDisks + 1];
  int kept = 0;
  for (int i = 0; i < count && kept < static_cast<int>(std::size(keep)); ++i) {
    if (IdentifyFile(inputs[i], &keep[kept])) ++kept;
  }
  if (file->Create(name, keep, kept)) return true;
  if (file->failure() == OutputFile::Failure::kKept) {
    std::fputs("d88conv: will not write over ", err);
    PrintPath(err, name, false);
    std::fputs(": it is an input\n", err);
  } else {
    file->Report(err, "d88conv");
  }
  return false;
}

bool FinishOutput(OutputFile* file, std::FILE* err) {
  if (file->Commit()) return true;
  file->Report(err, "d88conv");
  return false;
}

void PrintReadFailure(std::FILE* err, const char* path, int error) {
  std::fputs("d88conv: cannot read ", err);
  PrintPath(err, path, false);
  std::fprintf(err, ": %s\n",
               error != 0 ? std::strerror(error)
                          : "the file got shorter while it was read");
}

uint8_t* BlockOut::Take(int size) {
  if (used_ + size > kSize && !Flush()) return nullptr;
  uint8_t* at = block + used_;
  used_ += size;
  return at;
}

bool BlockOut::Flush() {
  const int held = used_;
  used_ = 0;
  return held == 0 || file_->Write(block, static_cast<size_t>(held));
}

const uint8_t* BlockIn::Next(int size) {
  if (length_ - start_ < size) {
    const int left = length_ - start_;
    std::memmove(block_in, block_in + start_, static_cast<size_t>(left));
    const int got = file_->Read(offset_, block_in + left, kSize - left);
    start_ = 0;
    length_ = left + (got > 0 ? got : 0);
    offset_ += got > 0 ? got : 0;
    if (length_ < size) return nullptr;
  }
  const uint8_t* at = block_in + start_;
  start_ += size;
  return at;
}

}  // namespace conv
