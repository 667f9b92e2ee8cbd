// A picture of one disk of an image: a row of cells per track, coloured by
// what each record's header says, with the sectors volspar reads and uses
// marked, and each file's verdict.

#ifndef INSPECT_DISK_MAP_H_
#define INSPECT_DISK_MAP_H_

#include <cstdio>

#include "d88/d88_file.h"
#include "inspect/file_checks.h"

// Draws disk `disk` of `reader`'s open image, read from `image_path`, as SVG
// into the file `path` (standard output for "-"), written as the output
// policy says and never when it is the image; `files` are the checks of
// volspar's files on disk 0. Reports a failure on `err`.
bool WriteMap(d88::D88File* reader, const char* image_path, int disk,
              const char* path, const FileChecks& files, std::FILE* err);

#endif  // INSPECT_DISK_MAP_H_
