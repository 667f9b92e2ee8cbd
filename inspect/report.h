// What d88info tells about an image: whether it is a D88 image at all, its
// disks and tracks, the records that stand out, odd and damaged layouts,
// and whether volspar's files can be trusted; as a full report, as the
// problems alone, as JSON, or as a verdict only.

#ifndef INSPECT_REPORT_H_
#define INSPECT_REPORT_H_

#include "d88/d88_file.h"
#include "inspect/file_checks.h"
#include "inspect/json_writer.h"
#include "platform/text_out.h"

enum class ReportStyle { kNone, kFull, kProblems, kJson };

struct ImageVerdict {
  bool d88;      // false: the file cannot be a D88 image
  bool damaged;  // the image itself: truncated, records cut off, ...
  int disks;
  int incomplete;  // volspar's files
  int suspect;
  char reason[160];  // why the file is not a D88 image
};

// The words that apply, in order ("damaged", "incomplete", "suspect"; or
// "clean"; or "not a D88 image" alone); returns how many.
int VerdictWords(const ImageVerdict& verdict, const char* words[3]);
// Some word other than "clean" applies.
bool IsUnclean(const ImageVerdict& verdict);

// Says on `err` why `reader` could not open `path`, as `command`:
// "COMMAND: cannot open PATH: No such file or directory", "COMMAND: PATH is
// a directory", ...
void PrintOpenFailure(std::FILE* err, const char* command,
                      const d88::D88File& reader, const char* path);

// Inspects `reader`'s open image, read from `path`. Writes what it finds
// to `out` in `style` (JSON: one image object through `json`), and traces
// volspar's files into `files`. Stops writing early once `out` fails.
ImageVerdict InspectImage(d88::D88File* reader, const char* path,
                          ReportStyle style, TextOut* out, JsonWriter* json,
                          FileChecks* files);

#endif  // INSPECT_REPORT_H_
