#include "inspect/recognize.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "inspect/disk_layout.h"
#include "inspect/file_kind.h"
#include "platform/text_out.h"

namespace {

constexpr int kHeaderSize = d88::D88File::kDiskHeaderSize;
// A cut header tells something once it holds the size field.
constexpr int kSizeFieldEnd = 0x20;

// Judges the first `length` bytes of a disk header; if they cannot start a
// D88 disk, says why in `reason` (`room` bytes, may be 0).
bool JudgeHeader(const uint8_t* bytes, int length, char* reason, size_t room) {
  d88::DiskHeader header;
  d88::D88File::DecodeDiskHeader(bytes, length, &header);
  const int protect = header.write_protect;
  if (protect != 0x00 && protect != 0x10) {
    std::snprintf(reason, room,
                  "the write-protect byte is 0x%02X, not 0x00 or 0x10",
                  protect);
    return false;
  }
  const int media = header.media_type;
  if (MediaName(media) == nullptr) {
    std::snprintf(reason, room,
                  "the media type is 0x%02X, not one of 0x00, 0x10, 0x20, "
                  "0x30 and 0x40",
                  media);
    return false;
  }
  const int32_t disk_size = header.size;
  if (disk_size < 0) {
    std::snprintf(reason, room, "the disk size field 0x%08X is 2 GiB or more",
                  static_cast<unsigned>(disk_size));
    return false;
  }
  if (disk_size < kHeaderSize) {
    std::snprintf(reason, room,
                  "the disk size field is %d, smaller than a disk header",
                  disk_size);
    return false;
  }
  for (int track = 0;
       track < kShortTableEntries && track < header.table_entries; ++track) {
    const int32_t entry = header.track_table[track];
    if (entry == 0) continue;
    if (entry > 0 && entry < kShortTableEnd) {
      std::snprintf(reason, room,
                    "track %d's offset %d points inside the disk header", track,
                    entry);
      return false;
    }
    // An entry above the size only marks an absent track.
    if (entry < 0) {
      std::snprintf(reason, room,
                    "track %d's offset 0x%08X points before the disk", track,
                    static_cast<unsigned>(entry));
      return false;
    }
  }
  return true;
}

}  // namespace

namespace {

int ReadImage(void* context, int64_t offset, uint8_t* buf, int len) {
  return static_cast<d88::D88File*>(context)->ReadImageBytes(offset, buf, len);
}

// Says what the file is when that can be told: more use to the reader
// than the byte of the header that rules D88 out.
void DescribeInstead(d88::D88File* reader, char* reason, int size,
                     bool* raw_dump) {
  char kind[kForeignPhraseSize];
  const ByteSource file = {reader, ReadImage, reader->GetFileSize()};
  if (DescribeForeignFile(file, kind, sizeof kind, raw_dump)) {
    std::snprintf(reason, static_cast<size_t>(size), "%s", kind);
  }
}

}  // namespace

bool LooksLikeD88(d88::D88File* reader, char* reason, int size,
                  bool* raw_dump) {
  const size_t room = static_cast<size_t>(size);
  if (raw_dump != nullptr) *raw_dump = false;
  const int64_t file_size = reader->GetFileSize();
  uint8_t header[kHeaderSize];
  if (file_size == 0) {
    std::snprintf(reason, room, "the file is empty");
    return false;
  }
  if (file_size < kHeaderSize ||
      reader->ReadImageBytes(0, header, kHeaderSize) < kHeaderSize) {
    std::snprintf(reason, room,
                  "%lld bytes, shorter than a disk header (%d bytes)",
                  static_cast<long long>(file_size), kHeaderSize);
    DescribeInstead(reader, reason, size, raw_dump);
    return false;
  }
  if (JudgeHeader(header, kHeaderSize, reason, room)) return true;
  DescribeInstead(reader, reason, size, raw_dump);
  return false;
}

bool LooksLikeCutHeader(const uint8_t* bytes, int length) {
  return length >= kSizeFieldEnd && JudgeHeader(bytes, length, nullptr, 0);
}

void PrintOpenFailure(std::FILE* err, const char* command,
                      const d88::D88File& reader, const char* path) {
  std::fprintf(err, "%s: ", command);
  const d88::OpenFailure failure = reader.GetOpenFailure();
  if (failure == d88::OpenFailure::kDirectory ||
      failure == d88::OpenFailure::kNotRegularFile) {
    PrintPath(err, path, false);
    std::fputs(failure == d88::OpenFailure::kDirectory
                   ? " is a directory\n"
                   : " is not a regular file\n",
               err);
    return;
  }
  std::fputs(failure == d88::OpenFailure::kUnreadable ? "cannot read "
                                                      : "cannot open ",
             err);
  PrintPath(err, path, false);
  std::fprintf(err, ": %s\n", std::strerror(reader.GetOpenError()));
}

void OpenFailureWords(const d88::D88File& reader, char* text, int size) {
  const size_t room = static_cast<size_t>(size);
  const char* cause = std::strerror(reader.GetOpenError());
  switch (reader.GetOpenFailure()) {
    case d88::OpenFailure::kDirectory:
      std::snprintf(text, room, "a directory");
      break;
    case d88::OpenFailure::kNotRegularFile:
      std::snprintf(text, room, "not a regular file");
      break;
    case d88::OpenFailure::kUnreadable:
      std::snprintf(text, room, "cannot read: %s", cause);
      break;
    default:
      std::snprintf(text, room, "cannot open: %s", cause);
  }
}

bool OpenD88Image(d88::D88File* reader, const char* command, const char* path,
                  std::FILE* err) {
  if (!reader->Open(path)) {
    PrintOpenFailure(err, command, *reader, path);
    return false;
  }
  char reason[256];
  if (LooksLikeD88(reader, reason, sizeof reason)) return true;
  std::fprintf(err, "%s: ", command);
  PrintPath(err, path, false);
  std::fprintf(err, " is not a D88 image: %s\n", reason);
  return false;
}
