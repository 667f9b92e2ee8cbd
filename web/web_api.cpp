// The page's C interface: the same findings, report, map, extraction and
// packing as the commands, on an image the page has written into
// Emscripten's in-memory file system. Each call writes its results as files
// under /out, which the page reads back.

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "d88/d88_file.h"
#include "inspect/recognize.h"
#include "inspect/views.h"
#include "pack/volpack.h"
#include "platform/text_out.h"
#include "runs/extraction.h"
#include "web/zip_writer.h"

namespace {

uint8_t work_buffer[kWorkBufferSize];
Inspection inspection;

// The open image as `d88info --json` prints it alone, then its -s line.
void WriteAnswers(d88::D88File* reader, const char* path, std::FILE* document,
                  std::FILE* summary) {
  TextOut out(document);
  JsonWriter json(&out);
  json.Begin('{');
  json.Field("format", "d88info/1");
  json.Key("images");
  json.Begin('[');
  WriteJsonReport(reader, path, &json, &inspection);
  json.End(']');
  json.End('}');
  out.Put('\n');
  out.Flush();
  TextOut line(summary);
  WriteSummaryLine(path, inspection.image, &line);
  line.Flush();
}

void CloseAll(std::initializer_list<std::FILE*> files) {
  for (std::FILE* file : files) {
    if (file != nullptr) std::fclose(file);
  }
}

}  // namespace

extern "C" {

// The first answers on the image at `path`: writes /out/image.json (what
// `d88info --json` prints for it), /out/summary.txt (its -s line) and
// /out/errors.txt (what d88info says on standard error). Returns the
// image's disk count; -1 when it is no image.
int d88web_answers(const char* path) {
  std::FILE* document = std::fopen("/out/image.json", "w");
  std::FILE* summary = std::fopen("/out/summary.txt", "w");
  std::FILE* err = std::fopen("/out/errors.txt", "w");
  int disks = -1;
  d88::D88File reader;
  if (document == nullptr || summary == nullptr || err == nullptr) {
    // Nothing to say it on.
  } else if (!reader.Open(path)) {
    PrintOpenFailure(err, "d88info", reader, path);
  } else {
    WriteAnswers(&reader, path, document, summary);
    const ImageFindings& image = inspection.image;
    if (image.d88) {
      disks = image.disks;
    } else {
      std::fputs("d88info: ", err);
      PrintPath(err, path, false);
      std::fprintf(err, " is not a D88 image: %s\n", image.reason);
    }
  }
  CloseAll({document, summary, err});
  return disks;
}

// The report and the map of the image at `path`: writes /out/report.txt
// (`problems`: only what stands out) and /out/map.svg of disk `disk`.
// Returns the image's disk count; -1 when it is no image.
int d88web_inspect(const char* path, int problems, int disk) {
  std::FILE* report = std::fopen("/out/report.txt", "w");
  std::FILE* err = std::fopen("/out/errors.txt", "w");
  std::remove("/out/map.svg");
  int disks = -1;
  d88::D88File reader;
  if (report != nullptr && err != nullptr && reader.Open(path)) {
    TextOut out(report);
    WriteTextReport(&reader, problems != 0, &out, &inspection);
    out.Flush();
    const ImageFindings& image = inspection.image;
    if (image.d88) {
      disks = image.disks;
      WriteMap(&reader, nullptr, disk, "/out/map.svg", image, err);
    }
  }
  CloseAll({report, err});
  return disks;
}

// Extracts volspar's seven files from the image at `path` into the
// directory `dir`, as volspar does, and packs them into `dir`/TRV.zip.
// Returns 0, or 1 when the image cannot be opened or a file cannot be
// written.
int d88web_extract(const char* path, const char* dir) {
  d88::D88File reader;
  if (!reader.Open(path) || chdir(dir) != 0) return 1;
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

// volpack on `image`, with the TRV files of the current directory, into
// `new_image`: its lines go to /out/pack.txt, its refusals to
// /out/pack-errors.txt. Returns volpack's exit status.
int d88web_pack(const char* image, const char* new_image) {
  std::FILE* out = std::fopen("/out/pack.txt", "w");
  std::FILE* err = std::fopen("/out/pack-errors.txt", "w");
  int status = 1;
  if (out != nullptr && err != nullptr) {
    status = Volpack(image, new_image, out, err);
  }
  CloseAll({out, err});
  return status;
}

}  // extern "C"
