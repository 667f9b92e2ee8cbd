#include "tests/image_builder.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace d88test {
namespace {

size_t DiskBytes(const DiskSpec& disk) {
  size_t size = kDiskHeaderSize;
  for (const auto& [track, records] : disk.tracks) {
    for (const SectorSpec& record : records) {
      size += kSectorHeaderSize + record.data.size();
    }
  }
  return size;
}

void AppendDisk(const DiskSpec& disk, Bytes* image) {
  const size_t base = image->size();
  image->resize(base + kDiskHeaderSize);
  for (size_t i = 0; i < disk.name.size() && i < 27; ++i) {
    (*image)[base + i] = static_cast<uint8_t>(disk.name[i]);
  }
  (*image)[base + 0x1A] = static_cast<uint8_t>(disk.write_protect);
  (*image)[base + 0x1B] = static_cast<uint8_t>(disk.media_type);
  const int64_t size =
      disk.size >= 0 ? disk.size : static_cast<int64_t>(DiskBytes(disk));
  PutLe32(image, base + kDiskSizeField, static_cast<uint32_t>(size));
  for (const auto& [track, records] : disk.tracks) {
    PutLe32(image, base + kTrackTableField + 4 * track,
            static_cast<uint32_t>(image->size() - base));
    for (const SectorSpec& record : records) {
      const size_t at = image->size();
      image->resize(at + kSectorHeaderSize);
      (*image)[at] = static_cast<uint8_t>(record.c);
      (*image)[at + 1] = static_cast<uint8_t>(record.h);
      (*image)[at + 2] = static_cast<uint8_t>(record.r);
      (*image)[at + 3] = static_cast<uint8_t>(record.n);
      const int count = record.sector_count >= 0
                            ? record.sector_count
                            : static_cast<int>(records.size());
      PutLe16(image, at + 4, static_cast<uint16_t>(count));
      (*image)[at + 6] = static_cast<uint8_t>(record.density);
      (*image)[at + 7] = static_cast<uint8_t>(record.deleted);
      (*image)[at + 8] = static_cast<uint8_t>(record.status);
      const int data_size = record.data_size >= 0
                                ? record.data_size
                                : static_cast<int>(record.data.size());
      PutLe16(image, at + 14, static_cast<uint16_t>(data_size));
      image->insert(image->end(), record.data.begin(), record.data.end());
    }
  }
}

}  // namespace

Bytes BuildImage(const std::vector<DiskSpec>& disks) {
  Bytes image;
  for (const DiskSpec& disk : disks) AppendDisk(disk, &image);
  return image;
}

size_t TrackOffset(const std::vector<DiskSpec>& disks, size_t disk, int track) {
  size_t offset = 0;
  for (size_t i = 0; i < disk; ++i) offset += DiskBytes(disks[i]);
  offset += kDiskHeaderSize;
  for (const auto& [number, records] : disks[disk].tracks) {
    if (number == track) break;
    for (const SectorSpec& record : records) {
      offset += kSectorHeaderSize + record.data.size();
    }
  }
  return offset;
}

void PutLe16(Bytes* image, size_t offset, uint16_t value) {
  if (image->size() < offset + 2) image->resize(offset + 2);
  (*image)[offset] = static_cast<uint8_t>(value);
  (*image)[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void PutLe32(Bytes* image, size_t offset, uint32_t value) {
  PutLe16(image, offset, static_cast<uint16_t>(value));
  PutLe16(image, offset + 2, static_cast<uint16_t>(value >> 16));
}

Bytes SectorData(int c, int h, int r, size_t size) {
  Bytes data(size);
  char line[32];
  for (size_t at = 0; at < size; at += 16) {
    std::snprintf(line, sizeof line, "C%02uH%uR%02u@%03zX   \n",
                  static_cast<unsigned>(c) % 100, static_cast<unsigned>(h) % 10,
                  static_cast<unsigned>(r) % 100, at % 0x1000);
    for (size_t i = 0; i < 16 && at + i < size; ++i) {
      data[at + i] = static_cast<uint8_t>(line[i]);
    }
  }
  return data;
}

Bytes SectorRun(const std::vector<SectorSpan>& spans, size_t offset,
                size_t size) {
  Bytes bytes;
  for (const SectorSpan& span : spans) {
    for (int r = span.first; r <= span.last; ++r) {
      const Bytes data = SectorData(span.c, span.h, r);
      bytes.insert(bytes.end(), data.begin(), data.end());
    }
  }
  const size_t begin = std::min(offset, bytes.size());
  const size_t end = begin + std::min(size, bytes.size() - begin);
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(begin),
               bytes.begin() + static_cast<std::ptrdiff_t>(end));
}

std::vector<SectorSpec> StandardTrack(int c, int h, int n,
                                      const std::vector<int>& order) {
  std::vector<SectorSpec> records;
  for (int r : order) {
    records.push_back({c, h, r, n, SectorData(c, h, r, size_t{128} << n)});
  }
  return records;
}

DiskSpec StandardDisk(int cylinders, const std::vector<int>& order) {
  DiskSpec disk;
  for (int c = 0; c < cylinders; ++c) {
    for (int h = 0; h < 2; ++h) {
      disk.tracks[2 * c + h] = StandardTrack(c, h, 2, order);
    }
  }
  return disk;
}

const std::vector<int>& InterleavedNine() {
  static const std::vector<int> order = {1, 6, 2, 7, 3, 8, 4, 9, 5};
  return order;
}

// Paths are UTF-8 on every system, as the commands take them.
Bytes AliasedTrackDisk() {
  DiskSpec disk;
  for (int i = 0; i < 65535; ++i) {
    disk.tracks[0].push_back({i & 255, 0, i >> 8, 0, Bytes(), 65535});
  }
  Bytes image = BuildImage({disk});
  for (uint32_t track = 1; track < 164; ++track) {
    PutLe32(&image, kTrackTableField + 4 * track,
            static_cast<uint32_t>(kDiskHeaderSize + kSectorHeaderSize * track));
  }
  return image;
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(std::filesystem::u8path(path),
                    std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in),
               std::istreambuf_iterator<char>());
}

}  // namespace d88test
