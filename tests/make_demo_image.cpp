// Writes the demonstration image: one 40-cylinder double-sided disk of nine
// interleaved 512-byte sectors a track, every sector labelled with its ID.

#include <cstdio>

#include "tests/image_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("Usage: make_demo_image OUTPUT\n", stderr);
    return 1;
  }
  d88test::DiskSpec disk =
      d88test::StandardDisk(40, d88test::InterleavedNine());
  disk.name = "VOLSPAR DEMO";
  if (!d88test::WriteFile(argv[1], d88test::BuildImage({disk}))) {
    std::fprintf(stderr, "make_demo_image: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
