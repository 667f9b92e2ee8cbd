// Writes the fuzzers' seed corpus, made with the tests' image builder:
// well-formed images and broken ones, each small.

#include <cstdio>
#include <string>
#include <vector>

#include "tests/image_builder.h"

using d88test::BuildImage;
using d88test::Bytes;
using d88test::DiskSpec;
using d88test::PutLe16;
using d88test::PutLe32;
using d88test::SectorData;
using d88test::SectorSpec;
using d88test::StandardTrack;

namespace {

// `cylinders` double-sided cylinders of nine interleaved sectors of size
// code n.
DiskSpec Disk(int cylinders, int n) {
  DiskSpec disk;
  for (int c = 0; c < cylinders; ++c) {
    for (int h = 0; h < 2; ++h) {
      disk.tracks[2 * c + h] =
          StandardTrack(c, h, n, d88test::InterleavedNine());
    }
  }
  return disk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("Usage: make_seeds DIRECTORY\n", stderr);
    return 1;
  }
  const std::string dir = argv[1];
  std::vector<std::pair<std::string, Bytes>> seeds;

  // Every sector volspar reads, in a disk of 16 cylinders.
  DiskSpec full = Disk(16, 2);
  full.name = "FULL";
  seeds.emplace_back("full.d88", BuildImage({full}));

  // Trust anomalies where volspar reads: bad status, deleted, duplicate,
  // short data and a gap.
  DiskSpec damaged = full;
  damaged.tracks[2][2].status = 0xB0;
  damaged.tracks[27][3].deleted = 0x10;
  damaged.tracks[9].push_back(damaged.tracks[9][0]);
  damaged.tracks[30][6].data.resize(300);
  damaged.tracks[26].erase(damaged.tracks[26].begin() + 1);
  damaged.tracks[20][0].density = 0x40;
  damaged.write_protect = 0x10;
  seeds.emplace_back("damaged.d88", BuildImage({damaged}));

  DiskSpec small = Disk(2, 0);
  small.name = "SMALL DISK NAME!";
  small.media_type = 0x10;
  seeds.emplace_back("small.d88", BuildImage({small}));

  DiskSpec other = Disk(1, 1);
  other.media_type = 0x20;
  seeds.emplace_back("three_disks.d88", BuildImage({small, DiskSpec(), other}));

  // Mixed sizes, a duplicate ID, an empty sector, a count of 0.
  DiskSpec odd;
  odd.tracks[0] = {{0, 0, 1, 1, SectorData(0, 0, 1, 256)},
                   {0, 0, 2, 2, SectorData(0, 0, 2, 512)},
                   {0, 0, 1, 1, Bytes(256, 0xEE)},
                   {0, 0, 3, 2, Bytes()},
                   {0, 0, 4, 0, SectorData(0, 0, 4, 128), 0}};
  odd.tracks[163] = {{81, 1, 1, 3, SectorData(81, 1, 1, 1024)}};
  seeds.emplace_back("odd_records.d88", BuildImage({odd}));

  // Cut inside a record's data, then inside a record's header.
  Bytes cut = BuildImage({small});
  cut.resize(cut.size() - 100);
  seeds.emplace_back("cut_in_data.d88", cut);
  cut.resize(688 + 3 * (16 + 128) + 7);
  seeds.emplace_back("cut_in_header.d88", cut);

  // A disk of size 0, found 64 times.
  DiskSpec zero = Disk(1, 0);
  zero.size = 0;
  seeds.emplace_back("size_zero.d88", BuildImage({zero}));

  // Entries past the disk size, negative, and pointing into the header.
  Bytes entries = BuildImage({Disk(1, 0), Disk(1, 0)});
  const size_t second = entries.size() / 2;
  PutLe32(&entries, second + 0x20, 0x7FFFFFFF);
  PutLe32(&entries, second + 0x24, static_cast<uint32_t>(-100));
  PutLe32(&entries, second + 0x28, 16);
  PutLe32(&entries, second + 0x1C, 0x7FFFFFF0);
  seeds.emplace_back("bad_entries.d88", entries);

  // Sector counts and data sizes that disagree with the records.
  Bytes counts = BuildImage({Disk(1, 0)});
  PutLe16(&counts, 688 + 4, 200);
  PutLe16(&counts, 688 + 14, 0xFFFF);
  seeds.emplace_back("bad_counts.d88", counts);

  // Truncated: the second of two disks cut in half, and cut in its header.
  Bytes two = BuildImage({Disk(2, 0), Disk(2, 0)});
  const size_t half = two.size() / 2;
  two.resize(half + half / 2);
  seeds.emplace_back("cut_second_disk.d88", two);
  two.resize(half + 100);
  seeds.emplace_back("cut_second_header.d88", two);
  seeds.emplace_back("size_zero_second.d88", BuildImage({Disk(1, 0), zero}));

  // Files that are not D88 images at all.
  const std::string text = "root:x:0:0:root:/root:/bin/bash\n";
  Bytes lines;
  for (int i = 0; i < 40; ++i)
    lines.insert(lines.end(), text.begin(), text.end());
  seeds.emplace_back("text.d88", lines);
  seeds.emplace_back("zeros.d88", Bytes(1000, 0));

  // Two dumps side by side, for the merge fuzzer: where the second starts,
  // in two bytes, then a small disk, then a copy of it with a bad sector
  // and without a sector that the first holds.
  DiskSpec spoiled = small;
  spoiled.tracks[1][0].status = 0xB0;
  spoiled.tracks[2].pop_back();
  Bytes pair = BuildImage({small});
  const size_t split = pair.size();
  const Bytes second_dump = BuildImage({spoiled});
  pair.insert(pair.end(), second_dump.begin(), second_dump.end());
  pair.insert(pair.begin(), {static_cast<uint8_t>(split & 0xFF),
                             static_cast<uint8_t>(split >> 8)});
  seeds.emplace_back("dump_pair.bin", pair);

  seeds.emplace_back("empty.d88", Bytes());
  seeds.emplace_back("short_header.d88", Bytes(687, 0));

  for (const auto& [name, bytes] : seeds) {
    std::string path = dir;
    path.append("/").append(name);
    if (!d88test::WriteFile(path, bytes)) {
      std::fprintf(stderr, "make_seeds: cannot write %s/%s\n", dir.c_str(),
                   name.c_str());
      return 1;
    }
  }
  return 0;
}
