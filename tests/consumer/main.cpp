// Uses the installed reader as another project would: prints the first
// disk's name and the first bytes of sector 1/0/1/2 on track 2.

#include <cstdio>

#include "d88/d88_file.h"

int main(int argc, char** argv) {
  d88::D88File image;
  if (argc != 2 || !image.Open(argv[1]) || !image.SelectDisk(0)) return 1;
  unsigned char sector[512];
  const int got = image.ReadSector(2, 1, 0, 1, 2, sector, sizeof sector);
  std::printf("%s: %d bytes: %.12s\n", image.GetDiskName(), got, sector);
  return got == 512 ? 0 : 1;
}
