// Treats the input as an image file and drives every operation of d88::D88File
// over it with parameters taken from the input's last bytes, checking on
// every call that the results stay in range, that nothing is written past
// the caller's buffer, and that every read gives what a plain walk of the
// input's bytes, written out below from the format's rules, gives.

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

// The format's rules written out plainly over the input's bytes: an oracle
// that shares no code with the reader. Sector reads walk the track from its
// first record every time, as the format describes them.
class Model {
 public:
  Model(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  int Disks() const {
    int64_t offset = 0;
    int disks = 0;
    while (disks < d88::D88File::kMaxDisks && offset >= 0 &&
           offset + 688 <= static_cast<int64_t>(size_)) {
      offset += Le32(offset + 0x1C);
      ++disks;
      if (offset > INT32_MAX) break;
    }
    return disks;
  }
  void Select(int disk) {
    base_ = 0;
    for (int i = 0; i < disk; ++i) base_ += Le32(base_ + 0x1C);
  }
  // Where `track`'s records start; -1 when it is absent.
  int64_t Start(int track) const {
    if (track < 0 || track >= d88::D88File::kMaxTracks) return -1;
    const int32_t entry = Le32(base_ + 0x20 + int64_t{4} * track);
    if (entry == 0 || entry > Le32(base_ + 0x1C)) return -1;
    return base_ + entry >= 0 ? base_ + entry : -1;
  }
  // The first record (c, h, r, n) before the track's end: its data's offset
  // and size; false when there is none.
  bool Find(int track, int c, int h, int r, int n, int64_t* data,
            int* length) const {
    int64_t at = Start(track);
    for (int i = 0; at >= 0 && i < d88::D88File::kMaxRecordsPerTrack; ++i) {
      if (at + 16 > static_cast<int64_t>(size_)) return false;
      const int count = Le16(at + 4);
      const int size = Le16(at + 14);
      if (count == 0) return false;
      if (data_[at] == c && data_[at + 1] == h && data_[at + 2] == r &&
          data_[at + 3] == n) {
        *data = at + 16;
        *length = size;
        return true;
      }
      at += 16 + size;
      if (i == count - 1) return false;
    }
    return false;
  }
  // ReadSectorIds: the IDs in stored order, up to a record whose count is 0
  // or names it the last, the end of the input, or a full buffer.
  int List(int track, uint8_t* buf, int len) const {
    int64_t at = Start(track);
    int written = 0;
    for (int i = 0;
         at >= 0 && i < d88::D88File::kMaxRecordsPerTrack &&
         len - written >= 4 && at + 16 <= static_cast<int64_t>(size_);
         ++i) {
      std::memcpy(buf + written, data_ + at, 4);
      written += 4;
      const int count = Le16(at + 4);
      if (count == 0 || i == count - 1) break;
      at += 16 + Le16(at + 14);
    }
    return written;
  }
  // ReadSector: the bytes the input holds of the sector, up to `len`.
  int Read(int track, int c, int h, int r, int n, uint8_t* buf, int len) const {
    int64_t data = 0;
    int length = 0;
    if (len < 0 || !Find(track, c, h, r, n, &data, &length)) return 0;
    const int64_t held = static_cast<int64_t>(size_) - data;
    const int wanted = length < len ? length : len;
    const int got = held < wanted ? static_cast<int>(held) : wanted;
    if (got > 0) std::memcpy(buf, data_ + data, static_cast<size_t>(got));
    return got;
  }

 private:
  int32_t Le32(int64_t at) const {
    if (at < 0 || at + 4 > static_cast<int64_t>(size_)) return 0;
    return static_cast<int32_t>(
        static_cast<uint32_t>(data_[at]) | uint32_t{data_[at + 1]} << 8 |
        uint32_t{data_[at + 2]} << 16 | uint32_t{data_[at + 3]} << 24);
  }
  int Le16(int64_t at) const { return data_[at] | data_[at + 1] << 8; }

  const uint8_t* data_;
  size_t size_;
  int64_t base_ = 0;
};

void CheckAttributes(const d88::D88File& reader) {
  FUZZ_CHECK(std::memchr(reader.GetDiskName(), '\0', 17) != nullptr);
  FUZZ_CHECK(reader.GetMediaType() >= -1 && reader.GetMediaType() <= 255);
}

int ReadSectorChecked(d88::D88File* reader, const Model& model, int track,
                      int c, int h, int r, int n, int len) {
  Guarded buf(len < 0 ? 0 : len);
  Guarded expected(len < 0 ? 0 : len);
  const int got = reader->ReadSector(track, c, h, r, n, buf.data(), len);
  FUZZ_CHECK(got >= 0 && got <= (len < 0 ? 0 : len));
  buf.CheckGuard();
  FUZZ_CHECK(got == model.Read(track, c, h, r, n, expected.data(), len));
  FUZZ_CHECK(
      std::memcmp(buf.data(), expected.data(), static_cast<size_t>(got)) == 0);
  return got;
}

// ReadSectors as the format describes it: sector by sector, each on its
// own, stepping through the range, then the other side, then the next
// cylinder.
struct Range {
  int first;
  int last;
};
Range range;

int ModelRun(const Model& model, int track, int c, int h, int r, int n,
             uint8_t* buf, int len) {
  if (len <= 0 || n < 0 || n > 23) return 0;
  const int size = 128 << n;
  int total = 0;
  while (total < len) {
    const int chunk = len - total < size ? len - total : size;
    if (model.Read(track, c, h, r, n, buf + total, chunk) < chunk) break;
    total += chunk;
    if (r == range.last) {
      ++track;
      c += h;
      h ^= 1;
      r = range.first;
    } else {
      ++r;
    }
  }
  return total;
}

void ReadSectorsChecked(d88::D88File* reader, const Model& model, int track,
                        int c, int h, int r, int n, int len) {
  Guarded buf(len < 0 ? 0 : len);
  Guarded expected(len < 0 ? 0 : len);
  static d88::RunStep steps[64];
  d88::RunTrace trace = {steps, 64, 0};
  const int got =
      reader->ReadSectors(track, c, h, r, n, buf.data(), len, &trace);
  FUZZ_CHECK(got >= 0 && got <= (len < 0 ? 0 : len));
  if (n < 0 || n > 23) FUZZ_CHECK(got == 0);
  // Only whole sectors count, except for a last, shorter chunk.
  if (n >= 0 && n <= 23 && got < len) FUZZ_CHECK(got % (128 << n) == 0);
  buf.CheckGuard();
  // The same bytes as the plain walk, short sectors' bytes included.
  FUZZ_CHECK(got == ModelRun(model, track, c, h, r, n, expected.data(), len));
  if (len > 0) {
    FUZZ_CHECK(std::memcmp(buf.data(), expected.data(),
                           static_cast<size_t>(len)) == 0);
  }
}

void ExerciseDisk(d88::D88File* reader, const Model& model, Params* params) {
  const int len_choices[] = {0,   1,    127,  128,   256,
                             512, 1024, 4096, 16384, 70000};
  for (int track = -1; track <= d88::D88File::kMaxTracks; ++track) {
    const int ids_len = 4 * 8 + params->Next() % 5;
    Guarded ids(ids_len);
    Guarded expected(ids_len);
    const int listed = reader->ReadSectorIds(track, ids.data(), ids_len);
    FUZZ_CHECK(listed >= 0 && listed <= ids_len && listed % 4 == 0);
    ids.CheckGuard();
    FUZZ_CHECK(listed == model.List(track, expected.data(), ids_len));
    FUZZ_CHECK(std::memcmp(ids.data(), expected.data(),
                           static_cast<size_t>(listed)) == 0);
    for (int i = 0; i < listed; i += 4) {
      const uint8_t* id = ids.data() + i;
      const int len = len_choices[params->Next() % 10];
      ReadSectorChecked(reader, model, track, id[0], id[1], id[2], id[3], len);
      if (i == 0) {
        const int run_len = 1 + params->Next() * 97 + params->Next() * 7;
        ReadSectorsChecked(reader, model, track, id[0], id[1], id[2], id[3] % 8,
                           run_len);
      }
    }
    if (listed == 0) continue;
    const uint8_t* id = ids.data();
    // A value out of byte range must never match.
    FUZZ_CHECK(ReadSectorChecked(reader, model, track, id[0] + 256, id[1],
                                 id[2], id[3], 64) == 0);
    FUZZ_CHECK(ReadSectorChecked(reader, model, track, id[0], id[1], id[2],
                                 id[3], -1) == 0);
    ReadSectorsChecked(reader, model, track, id[0], id[1], id[2], 24, 64);
    ReadSectorsChecked(reader, model, track, id[0], id[1], id[2], id[3], 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
  if (!file.Set(data, size)) return 0;
  Params params(data, size);

  d88::D88File reader;
  Model model(data, size);
  CheckAttributes(reader);
  FUZZ_CHECK(reader.Open(file.path()));
  const int disks = reader.GetDiskCount();
  FUZZ_CHECK(disks == model.Disks());
  range = {params.Next() % 12 - 1, params.Next() % 12};
  reader.SetSectorRange(range.first, range.last);

  const int picks[] = {0, params.Next() % (d88::D88File::kMaxDisks + 2) - 1,
                       disks};
  for (int index : picks) {
    const bool selected = reader.SelectDisk(index);
    FUZZ_CHECK(selected == (index >= 0 && index < disks));
    CheckAttributes(reader);
    if (!selected) {
      FUZZ_CHECK(reader.GetDiskName()[0] == '\0');
      FUZZ_CHECK(reader.GetMediaType() == -1);
      uint8_t buf[512];
      FUZZ_CHECK(reader.ReadSector(0, 0, 0, 1, 2, buf, 512) == 0);
      continue;
    }
    model.Select(index);
    ExerciseDisk(&reader, model, &params);
  }

  FUZZ_CHECK(reader.Open(nullptr));
  FUZZ_CHECK(reader.GetDiskCount() == 0 && reader.GetMediaType() == -1);
  FUZZ_CHECK(!reader.SelectDisk(0));
  Guarded ids(64);
  FUZZ_CHECK(reader.ReadSectorIds(0, ids.data(), 64) == 0);
  return 0;
}
