// Treats the input as an image file and drives every operation of d88::D88File
// over it with parameters taken from the input's last bytes, checking on
// every call that the results stay in range and that nothing is written
// past the caller's buffer.

#include <cstring>
#include <vector>

#include "d88/d88_file.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr int kGuard = 16;
constexpr uint8_t kGuardByte = 0xA5;

// A buffer of `len` bytes followed by guard bytes.
class Guarded {
 public:
  explicit Guarded(int len)
      : len_(len), bytes_(static_cast<size_t>(len) + kGuard, kGuardByte) {}
  uint8_t* data() { return bytes_.data(); }
  int len() const { return len_; }
  void CheckGuard() const {
    for (int i = 0; i < kGuard; ++i) FUZZ_CHECK(bytes_[len_ + i] == kGuardByte);
  }

 private:
  int len_;
  std::vector<uint8_t> bytes_;
};

// Bytes taken from the input's end, 0 once they run out.
class Params {
 public:
  Params(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  int Next() { return used_ < size_ ? data_[size_ - 1 - used_++] : 0; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t used_ = 0;
};

void CheckAttributes(const d88::D88File& reader) {
  FUZZ_CHECK(std::memchr(reader.GetDiskName(), '\0', 17) != nullptr);
  FUZZ_CHECK(reader.GetMediaType() >= -1 && reader.GetMediaType() <= 255);
}

int ReadSectorChecked(d88::D88File* reader, int track, int c, int h, int r,
                      int n, int len) {
  Guarded buf(len < 0 ? 0 : len);
  const int got = reader->ReadSector(track, c, h, r, n, buf.data(), len);
  FUZZ_CHECK(got >= 0 && got <= (len < 0 ? 0 : len));
  buf.CheckGuard();
  return got;
}

void ReadSectorsChecked(d88::D88File* reader, int track, int c, int h, int r,
                        int n, int len) {
  Guarded buf(len < 0 ? 0 : len);
  static d88::RunStep steps[64];
  d88::RunTrace trace = {steps, 64, 0};
  const int got =
      reader->ReadSectors(track, c, h, r, n, buf.data(), len, &trace);
  FUZZ_CHECK(got >= 0 && got <= (len < 0 ? 0 : len));
  if (n < 0 || n > 23) FUZZ_CHECK(got == 0);
  // Only whole sectors count, except for a last, shorter chunk.
  if (n >= 0 && n <= 23 && got < len) FUZZ_CHECK(got % (128 << n) == 0);
  buf.CheckGuard();
  if (n < 0 || n > 23) return;
  // A run reads what ReadSector, walking the track for each sector on its
  // own, reads: the same records, the same bytes.
  const int size = 128 << n;
  for (int i = 0; i < trace.step_count && i < 64; ++i) {
    const d88::RunStep& step = steps[i];
    const int chunk = len - i * size < size ? len - i * size : size;
    Guarded one(chunk);
    const int alone = reader->ReadSector(step.track, step.c, step.h, step.r,
                                         step.n, one.data(), chunk);
    FUZZ_CHECK(alone == step.delivered);
    FUZZ_CHECK(std::memcmp(one.data(),
                           buf.data() + static_cast<ptrdiff_t>(i) * size,
                           static_cast<size_t>(alone)) == 0);
    FUZZ_CHECK((step.result == d88::StepResult::kRead) == (alone == chunk));
    one.CheckGuard();
  }
}

void ExerciseDisk(d88::D88File* reader, Params* params) {
  const int len_choices[] = {0,   1,    127,  128,   256,
                             512, 1024, 4096, 16384, 70000};
  for (int track = -1; track <= d88::D88File::kMaxTracks; ++track) {
    const int ids_len = 4 * 8 + params->Next() % 5;
    Guarded ids(ids_len);
    const int listed = reader->ReadSectorIds(track, ids.data(), ids_len);
    FUZZ_CHECK(listed >= 0 && listed <= ids_len && listed % 4 == 0);
    ids.CheckGuard();
    for (int i = 0; i < listed; i += 4) {
      const uint8_t* id = ids.data() + i;
      const int len = len_choices[params->Next() % 10];
      ReadSectorChecked(reader, track, id[0], id[1], id[2], id[3], len);
      if (i == 0) {
        const int run_len = 1 + params->Next() * 97 + params->Next() * 7;
        ReadSectorsChecked(reader, track, id[0], id[1], id[2], id[3] % 8,
                           run_len);
      }
    }
    if (listed > 0) {
      const uint8_t* id = ids.data();
      // A value out of byte range must never match.
      FUZZ_CHECK(ReadSectorChecked(reader, track, id[0] + 256, id[1], id[2],
                                   id[3], 64) == 0);
      FUZZ_CHECK(ReadSectorChecked(reader, track, id[0], id[1], id[2], id[3],
                                   -1) == 0);
      ReadSectorsChecked(reader, track, id[0], id[1], id[2], 24, 64);
      ReadSectorsChecked(reader, track, id[0], id[1], id[2], id[3], 0);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
  if (!file.Set(data, size)) return 0;
  Params params(data, size);

  d88::D88File reader;
  CheckAttributes(reader);
  FUZZ_CHECK(reader.Open(file.path()));
  const int disks = reader.GetDiskCount();
  FUZZ_CHECK(disks >= 0 && disks <= d88::D88File::kMaxDisks);
  reader.SetSectorRange(params.Next() % 12 - 1, params.Next() % 12);

  const int picks[] = {0, params.Next() % (d88::D88File::kMaxDisks + 2) - 1,
                       disks};
  for (int index : picks) {
    const bool selected = reader.SelectDisk(index);
    FUZZ_CHECK(selected == (index >= 0 && index < disks));
    CheckAttributes(reader);
    if (!selected) {
      FUZZ_CHECK(reader.GetDiskName()[0] == '\0');
      FUZZ_CHECK(reader.GetMediaType() == -1);
      FUZZ_CHECK(ReadSectorChecked(&reader, 0, 0, 0, 1, 2, 512) == 0);
      continue;
    }
    ExerciseDisk(&reader, &params);
  }

  FUZZ_CHECK(reader.Open(nullptr));
  FUZZ_CHECK(reader.GetDiskCount() == 0 && reader.GetMediaType() == -1);
  FUZZ_CHECK(!reader.SelectDisk(0));
  Guarded ids(64);
  FUZZ_CHECK(reader.ReadSectorIds(0, ids.data(), 64) == 0);
  return 0;
}
