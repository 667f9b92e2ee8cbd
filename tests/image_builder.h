// Builds D88 images in memory for the tests, the fuzz seeds and the
// demonstration image: well-formed ones from a description, broken ones by
// patching the bytes afterwards.

#ifndef TESTS_IMAGE_BUILDER_H_
#define TESTS_IMAGE_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace d88test {

using Bytes = std::vector<uint8_t>;

constexpr size_t kDiskHeaderSize = 688;
constexpr size_t kSectorHeaderSize = 16;
constexpr size_t kDiskSizeField = 0x1C;
constexpr size_t kTrackTableField = 0x20;

struct SectorSpec {
  int c;
  int h;
  int r;
  int n;
  Bytes data;
  int sector_count = -1;  // -1: the number of records in the track
  int data_size = -1;     // -1: data.size()
  int density = 0;        // header byte 6
  int deleted = 0;        // header byte 7
  int status = 0;         // header byte 8
};

struct DiskSpec {
  std::string name;  // written from byte 0, at most 27 bytes
  int media_type = 0;
  int write_protect = 0;  // header byte 0x1A
  // Track number to records in stored order; tracks are laid out in
  // ascending track order after the header.
  std::map<int, std::vector<SectorSpec>> tracks;
  int64_t size = -1;  // disk size field; -1: the bytes the disk takes
};

// The disks back to back.
Bytes BuildImage(const std::vector<DiskSpec>& disks);

// File offset of the first record of `track` of disk `disk`, as BuildImage
// lays them out.
size_t TrackOffset(const std::vector<DiskSpec>& disks, size_t disk, int track);

// Raw patches, for broken images.
void PutLe16(Bytes* image, size_t offset, uint16_t value);
void PutLe32(Bytes* image, size_t offset, uint32_t value);

// Recognisable contents for sector (c, h, r): 16-byte lines such as
// "C04H0R05@1F0   \n", unique within an image of up to 99 cylinders.
Bytes SectorData(int c, int h, int r, size_t size = 512);

// Sectors (c, h, r) for r in first..last, 512 bytes each.
struct SectorSpan {
  int c;
  int h;
  int first;
  int last;
};

// The SectorData of the spans' sectors, back to back; with `offset` and
// `size`, only that part of it.
Bytes SectorRun(const std::vector<SectorSpan>& spans, size_t offset = 0,
                size_t size = SIZE_MAX);

// Sectors 1..sectors of size code n on `track`, stored in `order` (sector
// numbers), each holding SectorData.
std::vector<SectorSpec> StandardTrack(int c, int h, int n,
                                      const std::vector<int>& order);

// A double-sided disk of `cylinders` cylinders, tracks 2c + h, each track
// holding the sectors of `order` (512 bytes each).
DiskSpec StandardDisk(int cylinders, const std::vector<int>& order);

// The nine sectors of a 512-byte track in the interleave order 1,6,2,7,...
const std::vector<int>& InterleavedNine();

// A hostile disk: one track of 65,535 empty records, which every other
// track entry enters one record further on, so that every walk crosses
// almost the whole track.
Bytes AliasedTrackDisk();

bool WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);

}  // namespace d88test

#endif  // TESTS_IMAGE_BUILDER_H_
