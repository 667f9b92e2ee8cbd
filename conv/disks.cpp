// One disk taken out of an image, and images joined into one: each disk's
// bytes copied as they are, through the system's copy call. Only a size
// field that runs past the end of its file is mended, to what the file
// holds.

#include <cstdint>
#include <cstring>

#include "conv/conv.h"
#include "conv/layout.h"
#include "conv/support.h"
#include "d88/d88_file.h"
#include "inspect/recognize.h"
#include "platform/input_file.h"
#include "platform/text_out.h"

namespace conv {
namespace {

using d88::D88File;

// Where a disk lies in its file, and what its copy's size field says.
struct Extent {
  int input;  // the image it comes from
  int disk;
  int disks;  // the disks of that image
  int64_t start;
  int64_t length;  // the bytes copied, header included
  uint32_t size_field;
  bool mended;  // the size field ran past the end of the file
};

// Finds where disk `disk` of `reader` lies; false, said on `err`, when its
// size field cannot be a disk's.
bool FindExtent(D88File* reader, const char* path, int disk, Extent* extent,
                std::FILE* err) {
  reader->SelectDisk(disk);
  const int64_t start = reader->GetDiskStart(disk);
  const int32_t size = reader->GetDiskSize();
  const int64_t held = reader->GetFileSize() - start;
  *extent = {0,     disk, reader->GetDiskCount(),
             start, size, static_cast<uint32_t>(size),
             false};
  // A negative field says 2 GiB or more: past the end of any file read.
  if (size < 0 || size > held) {
    extent->length = held;
    extent->mended = true;
  }
  if (extent->length >= D88File::kDiskHeaderSize &&
      extent->length <= INT32_MAX) {
    return true;
  }
  std::fputs("d88conv: ", err);
  PrintDisk(err, disk, extent->disks, path);
  if (extent->length > INT32_MAX) {
    std::fputs(" holds 2 GiB or more, more than a D88 disk\n", err);
  } else {
    std::fprintf(err, ": its size field is %d, smaller than a disk header\n",
                 size);
  }
  return false;
}

// Sets the size field of the disk header `bytes` to `size`, keeping every
// other byte as it was, the reserved ones too: the field's bytes are those
// where encodings of the header with the old and the new size differ.
void MendSizeField(uint8_t* bytes, int32_t size) {
  d88::DiskHeader header;
  D88File::DecodeDiskHeader(bytes, D88File::kDiskHeaderSize, &header);
  uint8_t before[D88File::kDiskHeaderSize];
  uint8_t after[D88File::kDiskHeaderSize];
  D88File::EncodeDiskHeader(header, before);
  header.size = size;
  D88File::EncodeDiskHeader(header, after);
  for (int i = 0; i < D88File::kDiskHeaderSize; ++i) {
    if (before[i] != after[i]) bytes[i] = after[i];
  }
}

// Copies the disk at `extent` of `in` into `file`, its size field mended if
// need be; a failed read or write stops it, and the file remembers why.
void CopyDisk(InputFile* in, const Extent& extent, OutputFile* file) {
  if (!extent.mended) {
    file->WriteFrom(in, extent.start, extent.length);
    return;
  }
  uint8_t header[D88File::kDiskHeaderSize];
  const int got = in->Read(extent.start, header, D88File::kDiskHeaderSize);
  if (got != D88File::kDiskHeaderSize) {
    file->Abandon(got < 0 ? in->error() : 0);
    return;
  }
  MendSizeField(header, static_cast<int32_t>(extent.length));
  if (file->Write(header, sizeof header)) {
    file->WriteFrom(in, extent.start + D88File::kDiskHeaderSize,
                    extent.length - D88File::kDiskHeaderSize);
  }
}

// Writes the disks at `extents` of `images` into `new_image`; false, said
// on `err`, if it was not written.
bool WriteDisks(const char* const* images, int image_count,
                const Extent* extents, int count, const char* new_image,
                std::FILE* err) {
  OutputFile file;
  if (!StartOutput(&file, new_image, images, image_count, err)) return false;
  InputFile in;
  for (int i = 0; i < count; ++i) {
    const char* path = images[extents[i].input];
    if ((i == 0 || extents[i].input != extents[i - 1].input) &&
        !in.Open(path)) {
      PrintInputFailure(err, "d88conv", path, in.error());
      file.Abandon(in.error());
      return false;
    }
    CopyDisk(&in, extents[i], &file);
    // Said as a read, not as the write that it stopped.
    if (in.error() != 0) {
      PrintReadFailure(err, path, in.error());
      return file.Abandon(in.error());
    }
  }
  return FinishOutput(&file, err);
}

// Says which size fields the copy mends.
void NoteMended(const Extent& extent, const char* path, std::FILE* lines) {
  if (!extent.mended) return;
  char said[32];
  char held[32];
  std::fputs("note: ", lines);
  PrintDisk(lines, extent.disk, extent.disks, path);
  std::fprintf(lines,
               " runs past the end of the file: its size field says %s "
               "bytes, the file holds %s; the copy's says %s\n",
               Grouped(extent.size_field, said), Grouped(extent.length, held),
               held);
}

// Finds the disks of the `count` `images` into `extents`, and the bytes
// after each image's last disk into `tails`; returns how many disks, -1
// when an image or a disk is refused (said on `err`).
int FindDisks(const char* const* images, int count, Extent* extents,
              int64_t* tails, std::FILE* err) {
  int disks = 0;
  int64_t end = 0;  // of the new image
  for (int i = 0; i < count; ++i) {
    D88File reader;
    if (!OpenD88Image(&reader, "d88conv", images[i], err)) return -1;
    if (disks + reader.GetDiskCount() > D88File::kMaxDisks) {
      std::fprintf(err,
                   "d88conv: the images hold more than %d disks, the most a "
                   "D88 file holds\n",
                   D88File::kMaxDisks);
      return -1;
    }
    for (int disk = 0; disk < reader.GetDiskCount(); ++disk) {
      Extent& extent = extents[disks++];
      if (!FindExtent(&reader, images[i], disk, &extent, err)) return -1;
      extent.input = i;
      // The reader finds disks only where 32-bit offsets reach.
      if (end > INT32_MAX) {
        std::fprintf(err,
                     "d88conv: disk %d of the new image would start past 2 "
                     "GiB, where no D88 disk starts\n",
                     disks - 1);
        return -1;
      }
      end += extent.length;
    }
    const Extent& last = extents[disks - 1];
    tails[i] = reader.GetFileSize() - (last.start + last.length);
  }
  return disks;
}

}  // namespace

int JoinImages(const char* const* images, int count, const char* new_image,
               std::FILE* out, std::FILE* err) {
  static Extent extents[D88File::kMaxDisks];
  static int64_t tails[D88File::kMaxDisks];
  // Each image holds a disk at least.
  if (count > D88File::kMaxDisks) {
    std::fprintf(err, "d88conv: a D88 file holds at most %d disks\n",
                 D88File::kMaxDisks);
    return 1;
  }
  const int disks = FindDisks(images, count, extents, tails, err);
  if (disks < 0 || !WriteDisks(images, count, extents, disks, new_image, err)) {
    return 1;
  }
  std::FILE* lines = LinesStream(new_image, out, err);
  char bytes[32];
  for (int i = 0; i < disks; ++i) {
    NoteMended(extents[i], images[extents[i].input], lines);
  }
  for (int i = 0; i < count; ++i) {
    if (tails[i] <= 0) continue;
    std::fputs("note: ", lines);
    PrintPath(lines, images[i], false);
    std::fprintf(lines, ": the %s bytes after its last disk are left out\n",
                 Grouped(tails[i], bytes));
  }
  PrintPath(lines, new_image, false);
  std::fprintf(lines, " was written: %d disk%s from %d image%s.\n", disks,
               disks == 1 ? "" : "s", count, count == 1 ? "" : "s");
  return 0;
}

int TakeDisk(const char* image, int disk, const char* new_image, std::FILE* out,
             std::FILE* err) {
  D88File reader;
  Extent extent;
  if (!OpenD88Image(&reader, "d88conv", image, err) ||
      !CheckDisk(reader, image, disk, err) ||
      !FindExtent(&reader, image, disk, &extent, err) ||
      !WriteDisks(&image, 1, &extent, 1, new_image, err)) {
    return 1;
  }
  std::FILE* lines = LinesStream(new_image, out, err);
  NoteMended(extent, image, lines);
  PrintPath(lines, new_image, false);
  std::fputs(" was written: ", lines);
  PrintDisk(lines, disk, extent.disks, image);
  std::fputs(".\n", lines);
  return 0;
}

}  // namespace conv
