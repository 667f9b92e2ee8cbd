// The page's C interface: the same report, map and extraction as the
// commands, on an image the page has written into Emscripten's in-memory
// file system. Each call writes its results as files under /out, which the
// page reads back.

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "d88/d88_file.h"
#include "inspect/recognize.h"
#include "inspect/views.h"
#include "platform/text_out.h"
#include "runs/extraction.h"
#include "web/zip_writer.h"

namespace {

uint8_t work_buffer[kWorkBufferSize];
Inspection inspection;

}  // namespace

extern "C" {

// Inspects the image at `path`: writes /out/report.txt (`problems`: only
// what stands out), /out/verdict.txt (the words, as -s prints them),
// /out/errors.txt and, for a D88 image, /out/map.svg of disk `disk`.
// Returns the image's disk count; -1 when it is no image.
int d88web_inspect(const char* path, int problems, int disk) {
  std::FILE* report = std::fopen("/out/report.txt", "w");
  std::FILE* verdict_out = std::fopen("/out/verdict.txt", "w");
  std::FILE* err = std::fopen("/out/errors.txt", "w");
  std::remove("/out/map.svg");
  int disks = -1;
  d88::D88File reader;
  if (report == nullptr || verdict_out == nullptr || err == nullptr) {
    // Nothing to say it on.
  } else if (!reader.Open(path)) {
    PrintOpenFailure(err, "d88info", reader, path);
  } else {
    TextOut out(report);
    WriteTextReport(&reader, problems != 0, &out, &inspection);
    out.Flush();
    const ImageFindings& image = inspection.image;
    const char* words[3];
    const int count = VerdictWords(image, words);
    for (int i = 0; i < count; ++i) {
      std::fprintf(verdict_out, "%s%s", i > 0 ? ", " : "", words[i]);
    }
    if (!image.d88) {
      std::fputs("d88info: ", err);
      PrintPath(err, path, false);
      std::fprintf(err, " is not a D88 image: %s\n", image.reason);
    } else {
      disks = image.disks;
      WriteMap(&reader, nullptr, disk, "/out/map.svg", image, err);
    }
  }
  for (std::FILE* file : {report, verdict_out, err}) {
    if (file != nullptr) std::fclose(file);
  }
  return disks;
}

// Extracts volspar's seven files from the image at `path` into /out, as
// volspar does, and packs them into /out/TRV.zip. Returns 0, or 1 when
// the image cannot be opened or a file cannot be written.
int d88web_extract(const char* path) {
  d88::D88File reader;
  if (!reader.Open(path) || chdir("/out") != 0) return 1;
  reader.SelectDisk(0);
  reader.SetSectorRange(kExtractionFirstSector, kExtractionLastSector);
  std::memset(work_buffer, 0, sizeof work_buffer);
  std::FILE* sink = std::fopen("/out/extract.txt", "w");
  const bool written = ExtractRuns(&reader, nullptr, work_buffer, sink, sink);
  if (sink != nullptr) std::fclose(sink);
  const char* names[kExtractionRows];
  for (int row = 0; row < kExtractionRows; ++row) {
    names[row] = kExtractionTable[row].file_name;
  }
  return written && WriteZip("TRV.zip", names, kExtractionRows) ? 0 : 1;
}

}  // extern "C"
