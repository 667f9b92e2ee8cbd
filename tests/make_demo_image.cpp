// Writes the demonstration image: one 40-cylinder double-sided disk of nine
// interleaved 512-byte sectors a track, every sector labelled with its ID.
// With a second path, also a damaged 16-cylinder disk for d88info to explain.

#include <cstdio>

#include "tests/image_builder.h"

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fputs("Usage: make_demo_image OUTPUT [DAMAGED]\n", stderr);
    return 1;
  }
  using d88test::DiskSpec;
  DiskSpec disk = d88test::StandardDisk(40, d88test::InterleavedNine());
  disk.name = "VOLSPAR DEMO";
  DiskSpec damaged = d88test::StandardDisk(16, d88test::InterleavedNine());
  damaged.name = "DAMAGED DEMO";
  damaged.tracks[2][4].status = 0xB0;                        // 1/0/3/2
  damaged.tracks[27][3].deleted = 0x10;                      // 13/1/7/2
  damaged.tracks[9].push_back(damaged.tracks[9][0]);         // 4/1/1/2
  damaged.tracks[30][6].data.resize(300);                    // 15/0/4/2
  damaged.tracks[26].erase(damaged.tracks[26].begin() + 1);  // 13/0/6/2
  damaged.tracks[20][0].status = 0xE0;                       // 10/0/1/2
  for (int i = 1; i < argc; ++i) {
    if (!d88test::WriteFile(argv[i],
                            d88test::BuildImage({i == 1 ? disk : damaged}))) {
      std::fprintf(stderr, "make_demo_image: cannot write %s\n", argv[i]);
      return 1;
    }
  }
  return 0;
}
