// Raw dump to D88: the layout named or guessed, the dump's size checked
// against it, and the image written record by record as the dump is read.

#include <cstring>

#include "conv/conv.h"
#include "conv/layout.h"
#include "conv/support.h"
#include "d88/d88_file.h"
#include "inspect/disk_layout.h"
#include "platform/input_file.h"
#include "platform/text_out.h"

namespace conv {
namespace {

using d88::D88File;

// The layout of a dump of `size` bytes from the raw layout table; false,
// said on `err` with every size the table knows, when none fits. Where
// more than one does, the first is taken, and `lines` says so.
bool GuessLayout(const char* raw, int64_t size, d88::RawLayout* layout,
                 std::FILE* lines, std::FILE* err) {
  char text[kLayoutTextSize];
  char count[32];
  const d88::RawLayoutRange fits = d88::RawLayoutsOfSize(size);
  if (!fits.empty()) {
    *layout = *fits.begin();
    if (fits.end() - fits.begin() == 1) return true;
    LayoutText(*layout, text, sizeof text);
    std::fprintf(lines, "note: %s bytes fit %d layouts; taking the first, %s",
                 Grouped(size, count),
                 static_cast<int>(fits.end() - fits.begin()), text);
    for (const d88::RawLayout& other : fits) {
      if (&other == fits.begin()) continue;
      LayoutText(other, text, sizeof text);
      std::fprintf(lines, ", not %s", text);
    }
    std::fputs("\n", lines);
    return true;
  }
  std::fputs("d88conv: ", err);
  PrintPath(err, raw, false);
  std::fprintf(err, " is %s bytes, the size of no known layout:\n",
               Grouped(size, count));
  for (const d88::RawLayout& row : d88::kRawLayouts) {
    LayoutText(row, text, sizeof text);
    std::fprintf(err, "  %s bytes: %s\n", Grouped(row.ByteSize(), count), text);
  }
  std::fputs("d88conv: give the layout as --from-raw CxHxSxBYTES\n", err);
  return false;
}

// The disk header of a `layout` image named `name`: its tracks back to back
// after it, in cylinder and side order.
d88::DiskHeader HeaderOf(const d88::RawLayout& layout, const char* name) {
  d88::DiskHeader header = {};
  std::strncpy(header.name, name, kMaxNameLength);
  header.media_type = MediaOfLayout(layout);
  const int32_t track_bytes =
      layout.sectors * (D88File::kSectorHeaderSize + layout.sector_size);
  int32_t offset = D88File::kDiskHeaderSize;
  for (int c = 0; c < layout.cylinders; ++c) {
    for (int h = 0; h < layout.sides; ++h) {
      header.track_table[TrackOf(c, h)] = offset;
      offset += track_bytes;
    }
  }
  header.size = offset;
  return header;
}

// Writes the image of the dump `in` into `file`. False, said on `err`, if
// the dump could not be read; a failed write only stops it, and the file
// remembers why.
bool WriteImage(InputFile* in, const char* raw, const d88::RawLayout& layout,
                const char* name, OutputFile* file, std::FILE* err) {
  BlockIn dump(in);
  BlockOut block(file);
  uint8_t* bytes = block.Take(D88File::kDiskHeaderSize);
  if (bytes == nullptr) return true;
  D88File::EncodeDiskHeader(HeaderOf(layout, name), bytes);
  const int size = layout.sector_size;
  d88::SectorInfo info = {};
  info.id.n = static_cast<uint8_t>(SizeCode(size));
  info.sector_count = layout.sectors;
  info.data_size = size;
  for (int c = 0; c < layout.cylinders; ++c) {
    for (int h = 0; h < layout.sides; ++h) {
      for (int r = 1; r <= layout.sectors; ++r) {
        info.id.c = static_cast<uint8_t>(c);
        info.id.h = static_cast<uint8_t>(h);
        info.id.r = static_cast<uint8_t>(r);
        bytes = block.Take(D88File::kSectorHeaderSize + size);
        if (bytes == nullptr) return true;
        D88File::EncodeRecordHeader(info, bytes);
        const uint8_t* data = dump.Next(size);
        if (data == nullptr) {
          PrintReadFailure(err, raw, in->error());
          file->Abandon(in->error());
          return false;
        }
        std::memcpy(bytes + D88File::kSectorHeaderSize, data,
                    static_cast<size_t>(size));
      }
    }
  }
  block.Flush();
  return true;
}

}  // namespace

int FromRaw(const char* layout_text, const char* name, const char* raw,
            const char* image, std::FILE* out, std::FILE* err) {
  d88::RawLayout layout = {};
  char why[160];
  const bool guess = std::strcmp(layout_text, "auto") == 0;
  if (!guess && !ParseLayout(layout_text, &layout, why, sizeof why)) {
    std::fputs("d88conv: layout ", err);
    PrintPath(err, layout_text, false);
    std::fprintf(err, ": %s\n", why);
    return 1;
  }
  if (std::strlen(name) > kMaxNameLength) {
    std::fprintf(err, "d88conv: --name takes at most %d bytes\n",
                 kMaxNameLength);
    return 1;
  }
  InputFile in;
  if (!in.Open(raw)) {
    PrintInputFailure(err, "d88conv", raw, in.error());
    return 1;
  }
  std::FILE* lines = LinesStream(image, out, err);
  if (guess && !GuessLayout(raw, in.size(), &layout, lines, err)) return 1;
  char text[kLayoutTextSize];
  LayoutText(layout, text, sizeof text);
  if (in.size() != layout.ByteSize()) {
    char count[2][32];
    std::fputs("d88conv: ", err);
    PrintPath(err, raw, false);
    std::fprintf(err, " is %s bytes; layout %s takes %s\n",
                 Grouped(in.size(), count[0]), text,
                 Grouped(layout.ByteSize(), count[1]));
    return 1;
  }
  OutputFile file;
  if (!StartOutput(&file, image, &raw, 1, err)) return 1;
  if (!WriteImage(&in, raw, layout, name, &file, err) ||
      !FinishOutput(&file, err)) {
    return 1;
  }
  const int media = MediaOfLayout(layout);
  PrintPath(lines, image, false);
  std::fprintf(lines, " was written: layout %s, media 0x%02X (%s).\n", text,
               media, MediaWord(media));
  return 0;
}

}  // namespace conv
