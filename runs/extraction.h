// The row loop of volspar, apart from its command line so that benchmarks
// and fuzzers can drive it.

#ifndef RUNS_EXTRACTION_H_
#define RUNS_EXTRACTION_H_

#include <cstdint>
#include <cstdio>

#include "d88/d88_file.h"
#include "runs/extraction_table.h"

// For each row of kExtractionTable, in order: reads the row's run from
// `reader`'s selected disk into `work_buffer` (kWorkBufferSize bytes, never
// cleared), replaces the row's file in the current directory with the row's
// range of it, and announces the file on `out` once it is in place. A file
// that cannot be replaced is reported on `err` instead and keeps what it
// held, and the remaining rows still run; so is a file that is the image at
// `image_path` itself (null: no such check). Returns false if any file
// failed.
bool ExtractRuns(d88::D88File* reader, const char* image_path,
                 uint8_t* work_buffer, std::FILE* out, std::FILE* err);

// What a run that found no sector says of it: "missing", or "missing: the
// track is absent", ...
const char* MissingWords(d88::StepResult result);

#endif  // RUNS_EXTRACTION_H_
