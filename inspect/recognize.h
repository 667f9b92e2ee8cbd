// Whether a file is a D88 image at all. The format has no magic number:
// the first disk's header decides, by the values its fields can take.

#ifndef INSPECT_RECOGNIZE_H_
#define INSPECT_RECOGNIZE_H_

#include <cstdint>
#include <cstdio>

#include "d88/d88_file.h"

// Whether the open file can be a D88 image; if not, `reason` (`size`
// bytes) says why: what the file is, where that can be told, or which
// header byte rules it out, and `raw_dump`, if given, whether it is a raw
// sector dump.
bool LooksLikeD88(d88::D88File* reader, char* reason, int size,
                  bool* raw_dump = nullptr);

// The `length` bytes after the last disk look like the start of a further
// disk's header that the end of the file cuts off.
bool LooksLikeCutHeader(const uint8_t* bytes, int length);

// Says on `err` why `reader` could not open `path`, as `command`:
// "COMMAND: cannot open PATH: No such file or directory", "COMMAND: PATH is
// a directory", ...
void PrintOpenFailure(std::FILE* err, const char* command,
                      const d88::D88File& reader, const char* path);
// The same in a few words, for JSON: "a directory", "cannot open: REASON".
void OpenFailureWords(const d88::D88File& reader, char* text, int size);

// Opens `path` into `reader` if it is a D88 image; if not, says why on
// `err` as `command`, as PrintOpenFailure does or as "COMMAND: PATH is not
// a D88 image: REASON".
bool OpenD88Image(d88::D88File* reader, const char* command, const char* path,
                  std::FILE* err);

#endif  // INSPECT_RECOGNIZE_H_
