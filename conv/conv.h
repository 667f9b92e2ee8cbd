// d88conv: raw sector dumps made into one-disk D88 images and back, one
// disk taken out of an image, and images joined into one. Each conversion
// reads its inputs once, a block at a time, and writes its output through
// OutputFile; the functions print their lines on `out` (or on `err` when
// the output is standard output) and every refusal on `err`, and return
// the exit status: 0 written, 1 not.

#ifndef CONV_CONV_H_
#define CONV_CONV_H_

#include <cstdio>

#include "d88/raw_layout.h"

namespace conv {

// The longest disk name a D88 header holds.
constexpr int kMaxNameLength = 16;
// --to-raw without --fill: a missing or short sector refuses the disk.
constexpr int kNoFill = -1;

// Writes `image`: a one-disk D88 image of the raw dump `raw`, whose layout
// `layout` names (as --from-raw takes it, "auto" included), its disk named
// `name` (at most kMaxNameLength bytes).
int FromRaw(const char* layout, const char* name, const char* raw,
            const char* image, std::FILE* out, std::FILE* err);

// Writes `raw`: the sectors of disk `disk` of `image` in cylinder, side and
// sector order, each at its nominal size; missing and short sectors padded
// with `fill`, or refused when it is kNoFill. `layout`, if given, gets the
// dump's layout once it is written.
int ToRaw(const char* image, int disk, int fill, const char* raw,
          std::FILE* out, std::FILE* err, d88::RawLayout* layout = nullptr);

// Writes `new_image`: disk `disk` of `image` as a one-disk image.
int TakeDisk(const char* image, int disk, const char* new_image, std::FILE* out,
             std::FILE* err);

// Writes `new_image`: the disks of the `count` `images`, in order.
int JoinImages(const char* const* images, int count, const char* new_image,
               std::FILE* out, std::FILE* err);

// The command on UTF-8 arguments.
int ConvCommand(int argc, char** argv);

}  // namespace conv

#endif  // CONV_CONV_H_
