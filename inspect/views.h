// The ways d88info shows its findings. Each renders what the findings say
// and decides nothing itself.

#ifndef INSPECT_VIEWS_H_
#define INSPECT_VIEWS_H_

#include <cstdio>

#include "d88/d88_file.h"
#include "inspect/findings.h"
#include "inspect/json_writer.h"
#include "platform/text_out.h"

// A sector ID as the reports write it: "1/0/3/2" (C/H/R/N).
void PutSectorId(TextOut* out, const d88::SectorId& id);

// The report for people: every disk, track and record (`problems`: only
// what stands out), volspar's files and the verdict, walking the findings
// of `reader`'s open image through `in`. Stops early once `out` fails.
void WriteTextReport(d88::D88File* reader, bool problems, TextOut* out,
                     Inspection* in);

// The same findings as one image object of a JSON document, through `json`.
void WriteJsonReport(d88::D88File* reader, const char* path, JsonWriter* json,
                     Inspection* in);

// The summary line: path, disks and the two-part verdict.
void WriteSummaryLine(const char* path, const ImageFindings& image,
                      TextOut* out);

// Draws disk `disk` of `reader`'s open image, read from `image_path`, as SVG
// into the file `path` (standard output for "-"), written as the output
// policy says, never over the image and never over a file that is not a
// map; `image` holds the findings of the whole image. Reports a failure on
// `err`.
bool WriteMap(d88::D88File* reader, const char* image_path, int disk,
              const char* path, const ImageFindings& image, std::FILE* err);

#endif  // INSPECT_VIEWS_H_
