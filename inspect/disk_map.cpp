#include "inspect/disk_map.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "inspect/records.h"
#include "platform/output_file.h"
#include "platform/text_out.h"

namespace {

// Layout, in pixels.
constexpr int kLabelWidth = 112;
constexpr int kRowHeight = 20;
constexpr int kCellHeight = 16;
constexpr int kGap = 2;
constexpr int kMargin = 8;
constexpr int kLegendHeight = 64;
constexpr int kPanelLine = 16;
constexpr int kMinWidth = 920;   // the legend's
constexpr int kNoteWidth = 320;  // room for a track's trailing text
// Cells drawn per track, as a report lists IDs: a map of a hostile image
// stays a few megabytes.
constexpr int kMaxCells = 256;

enum class CellState {
  kNormal,
  kBadStatus,
  kDeleted,
  kDuplicate,
  kShort,
  kDamaged,
};

struct StateStyle {
  const char* fill;
  const char* legend;
};
constexpr StateStyle kStyles[] = {
    {"#c7e9c0", "normal"},
    {"#e45756", "CRC error or other bad status"},
    {"#b279a2", "deleted"},
    {"#f58518", "duplicate ID"},
    {"#eeca3b", "short data"},
    {"#555555", "cut off by the file's end or past the disk's"},
};
constexpr char kMissingFill[] = "#ffffff";
constexpr char kUsedStroke[] = "#1f3a93";
constexpr char kReadStroke[] = "#8fa3e0";

CellState StateOf(unsigned flags) {
  if (flags & kDamageFlags) return CellState::kDamaged;
  if (flags & kBadStatus) return CellState::kBadStatus;
  if (flags & kDeleted) return CellState::kDeleted;
  if (flags & kDuplicate) return CellState::kDuplicate;
  if (flags & kShort) return CellState::kShort;
  return CellState::kNormal;
}

int CellWidth(int n) { return 12 + 6 * std::min(std::max(n, 0), 4); }

// What the map draws for the steps of volspar's runs.
struct StepRef {
  int row;
  int step;
};

class MapWriter {
 public:
  MapWriter(d88::D88File* reader, const DiskLayout& layout,
            const FileChecks* files)
      : reader_(reader), layout_(layout), files_(files) {
    for (int track = 0; track < d88::D88File::kMaxTracks; ++track) {
      d88::SectorInfo first;
      starts_[track] = reader->ReadSectorInfos(track, &first, 1) > 0
                           ? layout.start + reader->GetTrackOffset(track)
                           : -1;
      same_as_[track] = -1;
      for (int earlier = 0; earlier < track && starts_[track] >= 0; ++earlier) {
        if (starts_[earlier] == starts_[track]) {
          same_as_[track] = earlier;
          break;
        }
      }
    }
  }

  // The width of `track`'s row; 0 when it has no row. Only the records a
  // row draws are read.
  int Measure(int track) {
    FindSteps(track);
    if (starts_[track] < 0 && missing_ == 0) return 0;
    int x = kMargin + kLabelWidth;
    if (same_as_[track] < 0 && starts_[track] >= 0) {
      static d88::SectorInfo infos[kMaxCells];
      const int count = reader_->ReadSectorInfos(track, infos, kMaxCells);
      for (int i = 0; i < count; ++i) x += CellWidth(infos[i].id.n) + kGap;
    }
    for (int k = 0; k < step_count_; ++k) {
      if (Step(k).record < 0) x += CellWidth(Step(k).n) + kGap;
    }
    return x + kNoteWidth;
  }

  // Draws the row of `track` at `y` on `out`; false when it has no row.
  bool Draw(int track, int y, TextOut* out) {
    out_ = out;
    FindSteps(track);
    if (starts_[track] < 0 && missing_ == 0) return false;
    char line[256];
    std::snprintf(line, sizeof line,
                  "<g stroke=\"#888888\"><text x=\"%d\" y=\"%d\" "
                  "stroke=\"none\">track %d (C%d H%d)</text>\n",
                  kMargin, y + kCellHeight - 4, track, track / 2, track % 2);
    out_->Put(line);
    int x = kMargin + kLabelWidth;
    if (same_as_[track] >= 0) {
      std::snprintf(line, sizeof line,
                    "<text x=\"%d\" y=\"%d\" stroke=\"none\">same records as "
                    "track %d</text>\n",
                    x, y + kCellHeight - 4, same_as_[track]);
      out_->Put(line);
      x += 160;
    } else if (starts_[track] >= 0) {
      x = DrawRecords(track, x, y);
    }
    for (int k = 0; k < step_count_; ++k) {
      if (Step(k).record < 0) x = DrawMissing(k, x, y);
    }
    out_->Put("</g>\n");
    return true;
  }

 private:
  const d88::RunStep& Step(int k) const {
    return files_->files[steps_[k].row].steps[steps_[k].step];
  }
  StepUse Use(int k) const {
    return files_->files[steps_[k].row].uses[steps_[k].step];
  }

  // Gathers the steps of volspar's runs that looked on `track`.
  void FindSteps(int track) {
    step_count_ = 0;
    missing_ = 0;
    if (files_ == nullptr) return;
    for (int row = 0; row < kExtractionRows; ++row) {
      const FileCheck& check = files_->files[row];
      for (int i = 0; i < check.step_count; ++i) {
        if (check.steps[i].track != track) continue;
        steps_[step_count_++] = {row, i};
        missing_ += check.steps[i].record < 0;
      }
    }
  }

  int DrawRecords(int track, int x, int y) {
    const TrackRecords& t = ClassifyTrack(reader_, layout_, track);
    char line[512];
    for (int i = 0; i < std::min(t.count, kMaxCells); ++i) {
      const d88::SectorInfo& info = t.infos[i];
      const int width = CellWidth(info.id.n);
      // The files that use this record, and those whose runs only read it.
      char label[3 * kExtractionRows + 4] = {};
      int used = 0;
      int read = 0;
      for (int k = 0; k < step_count_; ++k) {
        if (Step(k).record != i) continue;
        (Use(k) == StepUse::kInFile ? used : read)++;
      }
      std::snprintf(line, sizeof line, "<g><title>%d/%d/%d/%d ", info.id.c,
                    info.id.h, info.id.r, info.id.n);
      out_->Put(line);
      Notes notes;
      RecordNotes(t, i, &notes);
      if (notes.count == 0) out_->Put("normal");
      for (int k = 0; k < notes.count; ++k) {
        if (k > 0) out_->Put(", ");
        out_->Xml(notes.text[k]);
      }
      int length = 0;
      for (const StepUse wanted : {StepUse::kInFile, StepUse::kRead}) {
        bool first = true;
        for (int k = 0; k < step_count_; ++k) {
          if (Step(k).record != i || Use(k) != wanted) continue;
          const char* name = kExtractionTable[steps_[k].row].file_name;
          out_->Put(wanted == StepUse::kInFile ? ", in " : ", read for ");
          out_->Put(name);
          if (wanted == StepUse::kRead) out_->Put(", not in it");
          if (wanted == StepUse::kRead && first && used > 0) {
            label[length++] = ' ';
          }
          if (wanted == StepUse::kRead && first) label[length++] = '(';
          if (!first) label[length++] = ',';
          label[length++] = static_cast<char>('1' + steps_[k].row);
          first = false;
        }
        if (wanted == StepUse::kRead && !first) label[length++] = ')';
      }
      const char* stroke = used > 0 ? kUsedStroke : kReadStroke;
      std::snprintf(line, sizeof line,
                    "</title><rect x=\"%d\" y=\"%d\" width=\"%d\" "
                    "height=\"%d\" fill=\"%s\"%s%s%s/>",
                    x, y, width, kCellHeight,
                    kStyles[static_cast<int>(StateOf(t.flags[i]))].fill,
                    used + read > 0 ? " stroke=\"" : "",
                    used + read > 0 ? stroke : "",
                    used + read > 0 ? "\" stroke-width=\"2\"" : "");
      out_->Put(line);
      if (length > 0) {
        std::snprintf(line, sizeof line,
                      "<text x=\"%d\" y=\"%d\" font-size=\"9\" "
                      "stroke=\"none\">%s</text>",
                      x + 2, y + kCellHeight - 4, label);
        out_->Put(line);
      }
      out_->Put("</g>\n");
      x += width + kGap;
    }
    if (t.count > kMaxCells) {
      x = DrawText(x, y, "\xE2\x80\xA6 and %d more records",
                   t.count - kMaxCells);
    }
    if (t.end == TrackEnd::kFileEnd) {
      Notes notes;
      TrackNotes(t, &notes);
      x = DrawText(x, y, "%s", notes.text[notes.count - 1]);
    }
    return x;
  }

  template <typename... Args>
  int DrawText(int x, int y, const char* format, Args... args) {
    char text[160];
    std::snprintf(text, sizeof text, format, args...);
    char line[96];
    std::snprintf(line, sizeof line, "<text x=\"%d\" y=\"%d\" stroke=\"none\">",
                  x + 4, y + kCellHeight - 4);
    out_->Put(line);
    out_->Xml(text);
    out_->Put("</text>\n");
    return x + kNoteWidth;
  }

  int DrawMissing(int k, int x, int y) {
    const d88::RunStep& step = Step(k);
    const int row = steps_[k].row;
    const ExtractionEntry& entry = kExtractionTable[row];
    const int begin = steps_[k].step * kSectorSize;
    const bool needed = begin < entry.write_offset + entry.write_length &&
                        begin + kSectorSize > entry.write_offset;
    const char* why = step.result == d88::StepResult::kNoTrack ? " (no track)"
                      : step.result == d88::StepResult::kZeroCount
                          ? " (after a record whose sector count is 0)"
                          : "";
    const int width = CellWidth(step.n);
    char line[640];
    std::snprintf(line, sizeof line,
                  "<g><title>%d/%d/%d/%d missing%s, %s %s%s</title>"
                  "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" "
                  "fill=\"%s\" stroke=\"%s\" stroke-width=\"2\" "
                  "stroke-dasharray=\"3 2\"/><text x=\"%d\" y=\"%d\" "
                  "font-size=\"9\" stroke=\"none\">%c?</text></g>\n",
                  step.c, step.h, step.r, step.n, why,
                  needed ? "needed by" : "read for", entry.file_name,
                  needed ? "" : ", not in it", x, y, width, kCellHeight,
                  kMissingFill, needed ? kUsedStroke : kReadStroke, x + 2,
                  y + kCellHeight - 4, '1' + row);
    out_->Put(line);
    return x + width + kGap;
  }

  d88::D88File* reader_;
  DiskLayout layout_;
  const FileChecks* files_;
  TextOut* out_ = nullptr;
  int64_t starts_[d88::D88File::kMaxTracks];
  int same_as_[d88::D88File::kMaxTracks];
  StepRef steps_[kExtractionRows * kMaxRunSteps] = {};
  int step_count_ = 0;
  int missing_ = 0;
};

void DrawLegend(TextOut* out, int y) {
  char line[512];
  int x = kMargin;
  for (const StateStyle& style : kStyles) {
    std::snprintf(line, sizeof line,
                  "<rect x=\"%d\" y=\"%d\" width=\"14\" height=\"14\" "
                  "fill=\"%s\" stroke=\"#888888\"/><text x=\"%d\" "
                  "y=\"%d\">%s</text>\n",
                  x, y, style.fill, x + 18, y + 11, style.legend);
    out->Put(line);
    x += 40 + 6 * static_cast<int>(std::strlen(style.legend));
  }
  const struct {
    const char* stroke;
    const char* dash;
    const char* text;
  } marks[] = {
      {kUsedStroke, "", "marked n: bytes in TRV0n.BIN"},
      {kReadStroke, "", "marked (n): read for TRV0n.BIN, not in it"},
      {kUsedStroke, " stroke-dasharray=\"3 2\"",
       "missing: a sector a run needs"},
  };
  x = kMargin;
  for (const auto& mark : marks) {
    std::snprintf(line, sizeof line,
                  "<rect x=\"%d\" y=\"%d\" width=\"14\" height=\"14\" "
                  "fill=\"%s\" stroke=\"%s\" stroke-width=\"2\"%s/><text "
                  "x=\"%d\" y=\"%d\">%s</text>\n",
                  x, y + 24, kStyles[0].fill, mark.stroke, mark.dash, x + 18,
                  y + 35, mark.text);
    out->Put(line);
    x += 280;
  }
}

// Each of volspar's files with its verdict word.
void DrawPanel(TextOut* out, const FileChecks& files, int y) {
  char line[160];
  for (int row = 0; row < kExtractionRows; ++row) {
    std::snprintf(line, sizeof line, "<text x=\"%d\" y=\"%d\">%s: %s</text>\n",
                  kMargin, y + row * kPanelLine + 11,
                  kExtractionTable[row].file_name,
                  StateWord(files.files[row].state));
    out->Put(line);
  }
}

}  // namespace

bool WriteMap(d88::D88File* reader, const char* image_path, int disk,
              const char* path, const FileChecks& files, std::FILE* err) {
  DiskLayout layout;
  if (!SelectLayout(reader, disk, &layout)) {
    std::fprintf(err,
                 "d88info: cannot draw disk %d: the image has no such disk\n",
                 disk);
    return false;
  }
  // volspar reads disk 0 only: its runs are drawn there, and nowhere else.
  MapWriter map(reader, layout, disk == 0 ? &files : nullptr);
  int rows = 0;
  int width = kMinWidth;
  for (int track = 0; track < d88::D88File::kMaxTracks; ++track) {
    const int row_width = map.Measure(track);
    if (row_width == 0) continue;
    ++rows;
    width = std::max(width, row_width + kMargin);
  }
  const int panel = disk == 0 ? kExtractionRows * kPanelLine + kMargin : 0;
  const int height =
      2 * kMargin + 24 + rows * kRowHeight + kLegendHeight + panel;

  // "-" is standard output; anything else goes through the one policy for
  // every file the commands write.
  const bool to_stdout = std::strcmp(path, "-") == 0;
  FileId image;
  const bool known = image_path != nullptr && IdentifyFile(image_path, &image);
  OutputFile file;
  if (!to_stdout && !file.Create(path, known ? &image : nullptr)) {
    file.Report(err, "d88info");
    return false;
  }
  TextOut svg(to_stdout ? stdout : file.stream());
  char line[512];
  std::snprintf(line, sizeof line,
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" "
                "width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
                "font-family=\"sans-serif\" font-size=\"11\">\n"
                "<title>disk %d: \"",
                width, height, width, height, disk);
  svg.Put(line);
  svg.Xml(reader->GetDiskName());
  std::snprintf(line, sizeof line,
                "\"</title>\n<rect width=\"100%%\" height=\"100%%\" "
                "fill=\"#ffffff\"/>\n<text x=\"%d\" y=\"%d\" "
                "font-size=\"13\">disk %d: \"",
                kMargin, kMargin + 12, disk);
  svg.Put(line);
  svg.Xml(reader->GetDiskName());
  svg.Put('"');
  if (layout.truncated) {
    std::snprintf(line, sizeof line,
                  ", truncated: the file ends %lld bytes into the disk's %d "
                  "bytes",
                  static_cast<long long>(layout.file_size - layout.start),
                  layout.size);
    svg.Put(line);
  }
  svg.Put("</text>\n");
  int y = kMargin + 24;
  for (int track = 0; track < d88::D88File::kMaxTracks; ++track) {
    if (map.Draw(track, y, &svg)) y += kRowHeight;
  }
  DrawLegend(&svg, y + kMargin);
  if (disk == 0) DrawPanel(&svg, files, y + kMargin + kLegendHeight);
  svg.Put("</svg>\n");
  if (!svg.Flush() && to_stdout) return false;  // the caller says so
  if (!to_stdout && !file.Commit()) {
    file.Report(err, "d88info");
    return false;
  }
  return true;
}
