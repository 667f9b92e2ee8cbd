// Layouts of plain sector dumps: files that hold a disk's sectors and
// nothing else, in cylinder, side, sector order, so that only their size
// tells what disk they came from. d88info names such files by this table,
// and a conversion from a raw dump reads it to guess the geometry.

#ifndef D88_RAW_LAYOUT_H_
#define D88_RAW_LAYOUT_H_

#include <cstdint>
#include <iterator>

namespace d88 {

struct RawLayout {
  const char* name;  // the media's usual name, or null
  int cylinders;
  int sides;
  int sectors;  // per track
  int sector_size;

  constexpr int64_t ByteSize() const {
    return int64_t{cylinders} * sides * sectors * sector_size;
  }
};

// Ordered by size. Where one size fits more than one layout, the first of
// them is the likelier and the one a guess takes.
inline constexpr RawLayout kRawLayouts[] = {
    {nullptr, 40, 1, 16, 256},  // 163,840
    {nullptr, 40, 1, 8, 512},   // 163,840
    {"2D", 40, 2, 16, 256},     // 327,680
    {nullptr, 40, 2, 8, 512},   // 327,680
    {nullptr, 40, 2, 9, 512},   // 368,640
    {"2DD", 80, 2, 16, 256},    // 655,360
    {nullptr, 80, 2, 8, 512},   // 655,360
    {nullptr, 80, 2, 9, 512},   // 737,280
    {"2HC", 80, 2, 15, 512},    // 1,228,800
    {"2HD", 77, 2, 8, 1024},    // 1,261,568
    {"1.44M", 80, 2, 18, 512},  // 1,474,560
};
inline constexpr int kRawLayoutCount = static_cast<int>(std::size(kRawLayouts));

static_assert(kRawLayouts[0].ByteSize() == 163'840);
static_assert(kRawLayouts[1].ByteSize() == 163'840);
static_assert(kRawLayouts[2].ByteSize() == 327'680);
static_assert(kRawLayouts[3].ByteSize() == 327'680);
static_assert(kRawLayouts[4].ByteSize() == 368'640);
static_assert(kRawLayouts[5].ByteSize() == 655'360);
static_assert(kRawLayouts[6].ByteSize() == 655'360);
static_assert(kRawLayouts[7].ByteSize() == 737'280);
static_assert(kRawLayouts[8].ByteSize() == 1'228'800);
static_assert(kRawLayouts[9].ByteSize() == 1'261'568);
static_assert(kRawLayouts[10].ByteSize() == 1'474'560);
static_assert(kRawLayoutCount == 11, "a new row needs its size checked above");

// The layouts of one size, in the table's order; empty when none fits.
struct RawLayoutRange {
  const RawLayout* first;
  const RawLayout* last;  // one past the final layout

  constexpr const RawLayout* begin() const { return first; }
  constexpr const RawLayout* end() const { return last; }
  constexpr bool empty() const { return first == last; }
};

constexpr RawLayoutRange RawLayoutsOfSize(int64_t size) {
  const RawLayout* first = std::begin(kRawLayouts);
  while (first != std::end(kRawLayouts) && first->ByteSize() < size) ++first;
  const RawLayout* last = first;
  while (last != std::end(kRawLayouts) && last->ByteSize() == size) ++last;
  return {first, last};
}

// RawLayoutsOfSize relies on the order.
constexpr bool RawLayoutsAreOrdered() {
  for (int i = 1; i < kRawLayoutCount; ++i) {
    if (kRawLayouts[i].ByteSize() < kRawLayouts[i - 1].ByteSize()) {
      return false;
    }
  }
  return true;
}
static_assert(RawLayoutsAreOrdered());
static_assert(RawLayoutsOfSize(327'680).begin() == &kRawLayouts[2]);
static_assert(RawLayoutsOfSize(327'681).empty());

}  // namespace d88

#endif  // D88_RAW_LAYOUT_H_
