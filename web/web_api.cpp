// The page's C interface: the same findings, report, map, extraction,
// packing, merging and conversion as the commands, on files the page has
// written into Emscripten's in-memory file system. Each call writes its
// results as files under /out, which the page reads back.

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "conv/conv.h"
#include "conv/layout.h"
#include "d88/d88_file.h"
#include "d88/raw_layout.h"
#include "inspect/recognize.h"
#include "inspect/views.h"
#include "merge/merge_command.h"
#include "merge/merging.h"
#include "pack/volpack.h"
#include "platform/input_file.h"
#include "platform/text_out.h"
#include "runs/extraction.h"
#include "web/zip_writer.h"

namespace {

uint8_t work_buffer[kWorkBufferSize];
Inspection inspection;
bool merge_other_disks = false;  // what the last d88web_merge refused

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

// A command's `work`, with its lines on the file `out_path` and its
// refusals on `err_path`; 1, as a command that fails, when these cannot be
// opened.
template <typename Work>
int WithLines(const char* out_path, const char* err_path, Work work) {
  std::FILE* out = std::fopen(out_path, "w");
  std::FILE* err = std::fopen(err_path, "w");
  const int status = out != nullptr && err != nullptr ? work(out, err) : 1;
  CloseAll({out, err});
  return status;
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
  return WithLines("/out/pack.txt", "/out/pack-errors.txt",
                   [=](std::FILE* out, std::FILE* err) {
                     return Volpack(image, new_image, out, err);
                   });
}

// d88merge on the `count` dumps named in `names`, one after another, each
// ended by a NUL: with `new_image` empty it compares them, else it merges
// them into it; `force` as --force. Its lines go to /out/merge.txt, its
// refusals to /out/merge-errors.txt. Returns d88merge's exit status;
// d88web_merge_refusal says whether it refused dumps of other disks.
int d88web_merge(const char* names, int count, const char* new_image,
                 int force) {
  const char* paths[kMaxDumps] = {};
  for (int d = 0; d < count && d < kMaxDumps; ++d) {
    paths[d] = names;
    names += std::strlen(names) + 1;
  }
  const char* output = new_image[0] != '\0' ? new_image : nullptr;
  const unsigned flags = force != 0 ? kMergeForce : 0u;
  merge_other_disks = false;
  return WithLines("/out/merge.txt", "/out/merge-errors.txt",
                   [&](std::FILE* out, std::FILE* err) {
                     return MergeDumps(paths, count, output, flags, out, err,
                                       &merge_other_disks);
                   });
}

// 1 when the last d88web_merge refused dumps that cannot be the same disk
// (which `force` would take), else 0.
int d88web_merge_refusal() { return merge_other_disks ? 1 : 0; }

// The layouts of d88conv's table that the raw dump at `raw` fits, in its
// words, one a line in /out/layouts.txt: --from-raw auto takes the first.
// Returns how many there are; -1 when the dump cannot be read.
int d88web_raw_layouts(const char* raw) {
  InputFile in;
  std::FILE* list = std::fopen("/out/layouts.txt", "w");
  int count = -1;
  if (list != nullptr && in.Open(raw)) {
    count = 0;
    for (const d88::RawLayout& layout : d88::RawLayoutsOfSize(in.size())) {
      char text[conv::kLayoutTextSize];
      conv::LayoutText(layout, text, sizeof text);
      std::fprintf(list, "%s\n", text);
      ++count;
    }
  }
  CloseAll({list});
  return count;
}

// `d88conv --from-raw auto raw image`: its lines go to /out/conv.txt, its
// refusals to /out/conv-errors.txt. Returns its exit status.
int d88web_from_raw(const char* raw, const char* image) {
  return WithLines("/out/conv.txt", "/out/conv-errors.txt",
                   [=](std::FILE* out, std::FILE* err) {
                     return conv::FromRaw("auto", "", raw, image, out, err);
                   });
}

}  // extern "C"
