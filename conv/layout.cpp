#include "conv/layout.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "inspect/disk_layout.h"

namespace conv {
namespace {

// Larger numbers are no layout's; the bound keeps the parse from
// overflowing.
constexpr long kMaxField = 1'000'000;

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (Lower(*a) != Lower(*b)) return false;
  }
  return *a == *b;
}

// Reads the decimal number at `*text` up to `end` (or the string's end);
// moves `*text` past it.
bool ReadField(const char** text, char end, long* value) {
  const char* p = *text;
  long number = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    number = number * 10 + (*p - '0');
    if (number > kMaxField) return false;
  }
  if (p == *text || Lower(*p) != end) return false;
  *value = number;
  *text = *p == '\0' ? p : p + 1;
  return true;
}

bool ReadNumbers(const char* text, d88::RawLayout* layout) {
  long fields[4];
  for (int i = 0; i < 4; ++i) {
    if (!ReadField(&text, i < 3 ? 'x' : '\0', &fields[i])) return false;
  }
  *layout = {nullptr, static_cast<int>(fields[0]), static_cast<int>(fields[1]),
             static_cast<int>(fields[2]), static_cast<int>(fields[3])};
  return true;
}

// What keeps the D88 format from holding `layout`; null when nothing does.
const char* Unfit(const d88::RawLayout& layout) {
  if (layout.cylinders < 1 || layout.cylinders > kMaxCylinders) {
    return "a D88 disk holds 1 to 82 cylinders";
  }
  if (layout.sides < 1 || layout.sides > 2) return "a disk has 1 or 2 sides";
  if (layout.sectors < 1 || layout.sectors > kMaxSectors) {
    return "a track holds 1 to 255 sectors";
  }
  if (SizeCode(layout.sector_size) < 0) {
    return "a sector holds 128, 256, 512, 1024, 2048, 4096, 8192 or 16384 "
           "bytes";
  }
  return nullptr;
}

}  // namespace

bool ParseLayout(const char* text, d88::RawLayout* layout, char* why,
                 int size) {
  const d88::RawLayout* named = std::find_if(
      std::begin(d88::kRawLayouts), std::end(d88::kRawLayouts),
      [text](const d88::RawLayout& row) {
        return row.name != nullptr && SameIgnoringCase(text, row.name);
      });
  if (named != std::end(d88::kRawLayouts)) {
    *layout = *named;
    return true;
  }
  if (!ReadNumbers(text, layout)) {
    std::snprintf(why, static_cast<size_t>(size),
                  "give auto, 2D, 2DD, 2HC, 2HD, 1.44M or CxHxSxBYTES, such "
                  "as 40x2x9x512");
    return false;
  }
  const char* unfit = Unfit(*layout);
  if (unfit == nullptr) return true;
  std::snprintf(why, static_cast<size_t>(size), "%s", unfit);
  return false;
}

int SizeCode(int sector_size) {
  for (int n = 0; n <= kMaxSizeCode; ++n) {
    if (128 << n == sector_size) return n;
  }
  return -1;
}

int MediaOfLayout(const d88::RawLayout& layout) {
  // The media bytes of the named layouts follow from the same rule: 2D
  // 0x00, 2DD 0x10, 2HD, 2HC and 1.44M 0x20. A one-sided layout is marked
  // as the two-sided one of its size, as most real one-sided images are.
  DiskShape shape = {};
  shape.tracks = layout.cylinders * layout.sides;
  shape.cylinders = layout.cylinders;
  shape.sides = 2;
  shape.sectors = layout.sectors;
  shape.sector_size = layout.sector_size;
  shape.track_bytes = layout.sectors * layout.sector_size;
  return MediaOf(shape);
}

void LayoutText(const d88::RawLayout& layout, char* text, int size) {
  const d88::RawLayout* named = std::find_if(
      std::begin(d88::kRawLayouts), std::end(d88::kRawLayouts),
      [&layout](const d88::RawLayout& row) {
        return row.name != nullptr && row.cylinders == layout.cylinders &&
               row.sides == layout.sides && row.sectors == layout.sectors &&
               row.sector_size == layout.sector_size;
      });
  const char* name =
      named != std::end(d88::kRawLayouts) ? named->name : layout.name;
  std::snprintf(text, static_cast<size_t>(size),
                name != nullptr ? "%s (%dx%dx%dx%d)" : "%s%dx%dx%dx%d",
                name != nullptr ? name : "", layout.cylinders, layout.sides,
                layout.sectors, layout.sector_size);
}

}  // namespace conv
