// Benchmarks of the reader and the command's row loop on images made by the
// tests' image builder.

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "benchmark/benchmark.h"
#include "d88/d88_file.h"
#include "runs/extraction.h"
#include "tests/image_builder.h"
#include "tests/test_util.h"

namespace d88test {
namespace {

TempDir& Dir() {
  static TempDir dir;
  return dir;
}

// Writes `disks` to a file of its own and returns its path.
std::string ImageFile(const std::string& name,
                      const std::vector<DiskSpec>& disks) {
  const std::string path = Dir().File(name);
  if (!WriteFile(path, BuildImage(disks))) std::abort();
  return path;
}

// Track 0 of `records` 256-byte sectors numbered 1.. in stored order.
std::string TrackImage(int records) {
  std::vector<int> order;
  for (int r = 1; r <= records; ++r) order.push_back(r);
  DiskSpec disk;
  disk.tracks[0] = StandardTrack(0, 0, 1, order);
  return ImageFile("track" + std::to_string(records) + ".d88", {disk});
}

void OpenAndSelect(d88::D88File* reader, const std::string& path) {
  if (!reader->Open(path.c_str()) || !reader->SelectDisk(0)) std::abort();
}

// ReadSector of record `which` (first or last) of a track of N records.
void ReadSectorOf(benchmark::State& state, bool last) {
  const int records = static_cast<int>(state.range(0));
  d88::D88File reader;
  OpenAndSelect(&reader, TrackImage(records));
  const int r = last ? records : 1;
  uint8_t buf[256];
  for (auto _ : state) {
    benchmark::DoNotOptimize(reader.ReadSector(0, 0, 0, r, 1, buf, 256));
  }
}
void BM_ReadSectorFirst(benchmark::State& state) { ReadSectorOf(state, false); }
void BM_ReadSectorLast(benchmark::State& state) { ReadSectorOf(state, true); }
BENCHMARK(BM_ReadSectorFirst)->Arg(9)->Arg(16)->Arg(26);
BENCHMARK(BM_ReadSectorLast)->Arg(9)->Arg(16)->Arg(26);

void BM_ReadSectorIds(benchmark::State& state) {
  d88::D88File reader;
  OpenAndSelect(&reader, TrackImage(26));
  uint8_t ids[4 * 26];
  for (auto _ : state) {
    benchmark::DoNotOptimize(reader.ReadSectorIds(0, ids, sizeof ids));
  }
}
BENCHMARK(BM_ReadSectorIds);

// A run over every sector of a 40-cylinder disk: 80 tracks of nine
// interleaved 512-byte sectors.
void BM_ReadSectorsWholeDisk(benchmark::State& state) {
  d88::D88File reader;
  OpenAndSelect(&reader,
                ImageFile("disk40.d88", {StandardDisk(40, InterleavedNine())}));
  reader.SetSectorRange(1, 9);
  std::vector<uint8_t> buf(80 * 9 * 512);
  const int len = static_cast<int>(buf.size());
  for (auto _ : state) {
    if (reader.ReadSectors(0, 0, 0, 1, 2, buf.data(), len) != len) {
      state.SkipWithError("short run");
    }
  }
  state.SetBytesProcessed(state.iterations() * len);
}
BENCHMARK(BM_ReadSectorsWholeDisk);

// Open of a file of N disks, each small (one track) or large (80 tracks).
void BM_Open(benchmark::State& state) {
  const int disks = static_cast<int>(state.range(0));
  const bool large = state.range(1) != 0;
  DiskSpec disk =
      large ? StandardDisk(40, InterleavedNine()) : StandardDisk(1, {1});
  const std::string path =
      ImageFile("open" + std::to_string(disks) + (large ? "L" : "S") + ".d88",
                std::vector<DiskSpec>(static_cast<size_t>(disks), disk));
  d88::D88File reader;
  for (auto _ : state) {
    if (!reader.Open(path.c_str())) state.SkipWithError("open failed");
  }
  state.counters["disks"] = reader.GetDiskCount();
}
BENCHMARK(BM_Open)
    ->ArgsProduct({{1, 8, 64}, {0, 1}})
    ->ArgNames({"disks", "large"});

// The command's seven rows on the demonstration image, files included.
void BM_Extraction(benchmark::State& state) {
  DiskSpec disk = StandardDisk(40, InterleavedNine());
  disk.name = "VOLSPAR DEMO";
  const std::string path = ImageFile("demo.d88", {disk});
  TempDir work;
  if (chdir(work.path().c_str()) != 0) std::abort();
  std::FILE* sink = std::fopen("/dev/null", "w");
  static uint8_t work_buffer[kWorkBufferSize];
  for (auto _ : state) {
    d88::D88File reader;
    OpenAndSelect(&reader, path);
    reader.SetSectorRange(kExtractionFirstSector, kExtractionLastSector);
    if (!ExtractRuns(&reader, path.c_str(), work_buffer, sink, sink)) {
      state.SkipWithError("extraction failed");
    }
  }
  std::fclose(sink);
  if (chdir("/") != 0) std::abort();
}
BENCHMARK(BM_Extraction);

}  // namespace
}  // namespace d88test

BENCHMARK_MAIN();
