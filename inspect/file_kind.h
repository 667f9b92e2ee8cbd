// What a file is when it is not a D88 image: an archive to unpack first,
// another disk-image format, a raw sector dump, a picture, a program, a
// saved web page or text. d88info says so rather than only naming the
// header byte that rules D88 out.

#ifndef INSPECT_FILE_KIND_H_
#define INSPECT_FILE_KIND_H_

#include <cstdint>

// The bytes of a file, however the caller holds it.
struct ByteSource {
  void* context;
  // Copies up to `len` bytes at `offset` into `buf`; returns how many it
  // delivered.
  int (*read)(void* context, int64_t offset, uint8_t* buf, int len);
  int64_t size;
};

// Whether `file` is of a kind this knows. If so, `text` (`size` bytes) gets
// a phrase for "FILE is not a D88 image: ...", such as "it is a gzip file
// (unpack it first)"; false, with `text` empty, for anything else.
// Reads at most the first 4 KiB, and for a ZIP archive its last 64 KiB and
// its central directory; bytes that cannot be read make a kind
// unrecognised, or a ZIP archive's members unnamed, never a wrong kind.
// `raw_dump`, if given, tells whether the kind is a raw sector dump, which
// d88conv can make an image of.
bool DescribeForeignFile(const ByteSource& file, char* text, int size,
                         bool* raw_dump = nullptr);

// Room for every phrase whole: a ZIP archive's member names are shortened
// to fit it.
constexpr int kForeignPhraseSize = 256;

#endif  // INSPECT_FILE_KIND_H_
