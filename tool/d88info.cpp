// d88info: shows what a D88 image holds, disk by disk and track by track,
// and whether volspar can extract complete files from its first disk.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "d88/d88_file.h"
#include "tool/extraction_table.h"

namespace {

// A 16-bit sector count bounds a track's records, so this lists any track
// whole.
constexpr int kMaxIds = 65536;
uint8_t ids[4 * kMaxIds];
uint8_t run_buffer[kWorkBufferSize];

const char* MediaName(int media_type) {
  switch (media_type) {
    case 0x00:
      return "2D";
    case 0x10:
      return "2DD";
    case 0x20:
      return "2HD";
    default:
      return "unknown";
  }
}

// The name in quotes, with control bytes, quotes and backslashes escaped so
// that every disk stays on one line.
void PrintName(const char* name) {
  std::putchar('"');
  for (const char* p = name; *p != '\0'; ++p) {
    const unsigned char byte = static_cast<unsigned char>(*p);
    if (byte < 0x20 || byte == 0x7F || byte == '"' || byte == '\\') {
      std::printf("\\x%02X", byte);
    } else {
      std::putchar(byte);
    }
  }
  std::putchar('"');
}

// Lists `track` into `ids`; returns the number of IDs.
size_t ListIds(D88File* reader, int track) {
  return static_cast<size_t>(reader->ReadSectorIds(track, ids, sizeof ids)) / 4;
}

void PrintTracks(D88File* reader) {
  bool any = false;
  for (int track = 0; track < D88File::kMaxTracks; ++track) {
    const size_t count = ListIds(reader, track);
    if (count == 0) continue;
    any = true;
    std::printf("  track %d:", track);
    bool one_n = true;
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* id = &ids[4 * i];
      std::printf(" %d/%d/%d/%d", id[0], id[1], id[2], id[3]);
      one_n = one_n && id[3] == ids[3];
    }
    std::putchar('\n');
    if (!one_n) std::puts("    note: the IDs do not all share one N");
  }
  if (!any) std::puts("  no tracks");
}

bool Listed(D88File* reader, int track, int c, int h, int r, int n) {
  const size_t count = ListIds(reader, track);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* id = &ids[4 * i];
    if (id[0] == c && id[1] == h && id[2] == r && id[3] == n) return true;
  }
  return false;
}

// Runs the row as volspar does and says whether the run reaches the end of
// the range its file takes; if not, names the sector it stopped at.
bool CheckRow(D88File* reader, const ExtractionEntry& row) {
  const int needed = row.write_offset + row.write_length;
  const int got =
      reader->ReadSectors(row.track, row.c, row.h, row.r, kExtractionSizeCode,
                          run_buffer, row.bytes_read);
  if (got >= needed) {
    std::printf("  %s: complete\n", row.file_name);
    return true;
  }
  // Step from the run's start to the sector it stopped at, as the reader
  // steps through a run.
  const int sector_size = 128 << kExtractionSizeCode;
  int track = row.track;
  int c = row.c;
  int h = row.h;
  int r = row.r;
  for (int i = 0; i < got / sector_size; ++i) {
    if (r == kExtractionLastSector) {
      ++track;
      c += h;
      h = 1 - h;
      r = kExtractionFirstSector;
    } else {
      ++r;
    }
  }
  const int chunk =
      row.bytes_read - got < sector_size ? row.bytes_read - got : sector_size;
  std::printf("  %s: incomplete: the run stops at %d/%d/%d/%d on track %d ",
              row.file_name, c, h, r, kExtractionSizeCode, track);
  if (Listed(reader, track, c, h, r, kExtractionSizeCode)) {
    const int part = reader->ReadSector(track, c, h, r, kExtractionSizeCode,
                                        run_buffer, chunk);
    std::printf("(short data: %d of %d bytes)", part, chunk);
  } else {
    std::printf("(missing)");
  }
  std::printf(", after %d of the %d bytes the file needs\n", got, needed);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  D88File reader;
  if (argc != 2) {
    std::fputs("Usage: d88info [d88file]\n", stderr);
    return 1;
  }
  if (!reader.Open(argv[1])) {
    std::fprintf(stderr, "d88info: cannot open %s as a D88 image\n", argv[1]);
    return 1;
  }
  const int disks = reader.GetDiskCount();
  std::printf("disks: %d\n", disks);
  for (int disk = 0; disk < disks; ++disk) {
    std::printf("disk %d: ", disk);
    if (!reader.SelectDisk(disk)) {
      std::puts("cannot be read");
      continue;
    }
    PrintName(reader.GetDiskName());
    const int media_type = reader.GetMediaType();
    std::printf(", media type 0x%02X (%s)\n", media_type,
                MediaName(media_type));
    PrintTracks(&reader);
  }

  std::printf("volspar's runs on disk 0 (sectors %d-%d, N %d):\n",
              kExtractionFirstSector, kExtractionLastSector,
              kExtractionSizeCode);
  reader.SelectDisk(0);
  reader.SetSectorRange(kExtractionFirstSector, kExtractionLastSector);
  int incomplete = 0;
  for (const ExtractionEntry& row : kExtractionTable) {
    if (CheckRow(&reader, row)) continue;
    ++incomplete;
  }
  if (incomplete == 0) {
    std::puts("volspar would extract complete files from this image");
  } else {
    std::printf(
        "volspar would not extract complete files from this image: %d of %d "
        "files incomplete\n",
        incomplete,
        static_cast<int>(sizeof kExtractionTable / sizeof kExtractionTable[0]));
  }
  if (std::fflush(stdout) != 0) {
    std::fputs("d88info: cannot write standard output\n", stderr);
    return 1;
  }
  return 0;
}
