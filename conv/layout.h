// The geometry of a raw sector dump as d88conv takes and names it: a row of
// the raw layout table by name, or CxHxSxBYTES; how it maps onto a D88
// disk's tracks and IDs; and the words for it in messages.

#ifndef CONV_LAYOUT_H_
#define CONV_LAYOUT_H_

#include <cstdint>

#include "d88/raw_layout.h"

namespace conv {

// A D88 track table has 164 entries, track 2 * C + H: cylinders 0 to 81.
constexpr int kMaxCylinders = 82;
// Sector numbers run 1..S in an ID's one byte.
constexpr int kMaxSectors = 255;
// Sizes of real sectors: 128 << N for N up to 7, 16,384 bytes.
constexpr int kMaxSizeCode = 7;
constexpr int kMaxSectorSize = 128 << kMaxSizeCode;

// Room for the words of a layout, such as "1.44M (80x2x18x512)".
constexpr int kLayoutTextSize = 48;

// Reads `text`: a name of the raw layout table (2D, 2DD, ...; in any case)
// or CxHxSxBYTES. False when it is neither, or the D88 format cannot hold
// the layout; `why` (`size` bytes) then says which.
bool ParseLayout(const char* text, d88::RawLayout* layout, char* why, int size);

// The size code N of `sector_size` (128 << N); -1 for a size that is none,
// or larger than kMaxSectorSize.
int SizeCode(int sector_size);

// The D88 track that holds cylinder `c`, side `h`. One-sided disks use the
// even entries, as real one-sided images do.
constexpr int TrackOf(int c, int h) { return 2 * c + h; }

// The media byte of a D88 disk of `layout`: that of d88info's rule, so that
// it finds the byte fits.
int MediaOfLayout(const d88::RawLayout& layout);

// "40x2x9x512", or with the table's name for the geometry,
// "2D (40x2x16x256)".
void LayoutText(const d88::RawLayout& layout, char* text, int size);

}  // namespace conv

#endif  // CONV_LAYOUT_H_
