#include "inspect/disk_map.h"

#include <algorithm>
#include <cstring>

#include "inspect/report.h"
#include "platform/output_file.h"

namespace {

// Layout, in pixels.
constexpr int kLabelWidth = 112;
constexpr int kRowHeight = 20;
constexpr int kCellHeight = 16;
constexpr int kGap = 2;
constexpr int kMargin = 8;
constexpr int kLegendHeight = 64;
constexpr int kMinWidth = 640;

enum class CellState { kNormal, kBadStatus, kDeleted, kDuplicate, kShort };

struct StateStyle {
  const char* fill;
  const char* legend;
};
constexpr StateStyle kStyles[] = {
    {"#c7e9c0", "normal"},     {"#e45756", "CRC error or other bad status"},
    {"#b279a2", "deleted"},    {"#f58518", "duplicate ID"},
    {"#eeca3b", "short data"},
};
constexpr char kMissingFill[] = "#ffffff";
constexpr char kReadStroke[] = "#1f3a93";

TrackRecords track_records;
RowTrace traces[kExtractionRows];
char text[512];

CellState StateOf(const TrackRecords& track, int i) {
  const d88::SectorInfo& info = track.infos[i];
  if (info.status != 0 && info.status != 0x10) return CellState::kBadStatus;
  if (IsDeleted(info)) return CellState::kDeleted;
  if (track.id_count[i] > 1) return CellState::kDuplicate;
  if (info.id.n <= 7 && info.data_size < 128 << info.id.n) {
    return CellState::kShort;
  }
  return CellState::kNormal;
}

int CellWidth(int n) { return 12 + 6 * std::min(n, 4); }

// Text for XML content and attributes: markup characters as entities, and
// bytes XML cannot hold (controls, anything not ASCII) as \xNN.
void PutXml(std::FILE* out, const char* p) {
  for (; *p != '\0'; ++p) {
    const unsigned char byte = static_cast<unsigned char>(*p);
    switch (byte) {
      case '&':
        std::fputs("&amp;", out);
        break;
      case '<':
        std::fputs("&lt;", out);
        break;
      case '>':
        std::fputs("&gt;", out);
        break;
      case '"':
        std::fputs("&quot;", out);
        break;
      default:
        if (byte < 0x20 || byte >= 0x7F) {
          std::fprintf(out, "\\x%02X", byte);
        } else {
          std::fputc(byte, out);
        }
    }
  }
}

// Where each track's records start on the file (-1: none), and the earlier
// track that starts there too (-1: none), found once per disk.
int64_t track_starts[d88::D88File::kMaxTracks];
int same_as[d88::D88File::kMaxTracks];

void FindTrackStarts(d88::D88File* reader, int64_t disk_start) {
  for (int track = 0; track < d88::D88File::kMaxTracks; ++track) {
    track_starts[track] = TrackStart(reader, disk_start, track);
    same_as[track] = -1;
    for (int earlier = 0; earlier < track && track_starts[track] >= 0;
         ++earlier) {
      if (track_starts[earlier] == track_starts[track]) {
        same_as[track] = earlier;
        break;
      }
    }
  }
}

// The steps of volspar's runs that looked on one track, each with its row.
struct TrackSteps {
  int count;
  int rows[kExtractionRows * kMaxRunSteps];
  const d88::RunStep* steps[kExtractionRows * kMaxRunSteps];
};

void FindSteps(int track, TrackSteps* found) {
  found->count = 0;
  for (int row = 0; row < kExtractionRows; ++row) {
    const int steps = std::min(traces[row].step_count, kMaxRunSteps);
    for (int i = 0; i < steps; ++i) {
      if (traces[row].steps[i].track != track) continue;
      found->rows[found->count] = row;
      found->steps[found->count++] = &traces[row].steps[i];
    }
  }
}

// Draws (or, without `out`, only measures) the row of `track` at `y`;
// returns its width, 0 when there is no row.
int DrawTrack(d88::D88File* reader, int track, int y, std::FILE* out) {
  static TrackSteps here;
  FindSteps(track, &here);
  int missing = 0;
  for (int k = 0; k < here.count; ++k) missing += here.steps[k]->record < 0;
  const int64_t start = track_starts[track];
  if (start < 0 && missing == 0) return 0;
  if (out != nullptr) {
    std::fprintf(out, "<text x=\"%d\" y=\"%d\">track %d (C%d H%d)</text>\n",
                 kMargin, y + kCellHeight - 4, track, track / 2, track % 2);
  }
  int x = kMargin + kLabelWidth;
  if (same_as[track] >= 0) {
    if (out != nullptr) {
      std::fprintf(out,
                   "<text x=\"%d\" y=\"%d\">same records as track %d</text>\n",
                   x, y + kCellHeight - 4, same_as[track]);
    }
    x += 160;
  } else if (start >= 0) {
    ListTrack(reader, track, &track_records);
    for (int i = 0; i < track_records.count; ++i) {
      const d88::SectorInfo& info = track_records.infos[i];
      const int width = CellWidth(info.id.n);
      if (out != nullptr) {
        // The files whose runs read this record, as their digits.
        char files[kExtractionRows + 1] = {};
        int read_by = 0;
        for (int k = 0; k < here.count && read_by < kExtractionRows; ++k) {
          if (here.steps[k]->record != i) continue;
          files[read_by++] = static_cast<char>('1' + here.rows[k]);
        }
        const CellState state = StateOf(track_records, i);
        std::fprintf(out, "<g><title>%d/%d/%d/%d ", info.id.c, info.id.h,
                     info.id.r, info.id.n);
        if (DescribeRecord(track_records, i, text, sizeof text) == 0) {
          std::fputs("normal", out);
        }
        PutXml(out, text);
        for (int f = 0; f < read_by; ++f) {
          std::fprintf(out, ", %s", kExtractionTable[files[f] - '1'].file_name);
        }
        std::fprintf(
            out,
            "</title><rect x=\"%d\" y=\"%d\" width=\"%d\" "
            "height=\"%d\" fill=\"%s\" stroke=\"%s\" "
            "stroke-width=\"%d\"/>",
            x, y, width, kCellHeight, kStyles[static_cast<int>(state)].fill,
            read_by > 0 ? kReadStroke : "#888888", read_by > 0 ? 2 : 1);
        if (read_by > 0) {
          std::fprintf(out, "<text x=\"%d\" y=\"%d\" font-size=\"9\">%s</text>",
                       x + 2, y + kCellHeight - 4, files);
        }
        std::fputs("</g>\n", out);
      }
      x += width + kGap;
    }
  }
  for (int k = 0; k < here.count; ++k) {
    const d88::RunStep& step = *here.steps[k];
    if (step.record >= 0) continue;
    const int width = CellWidth(std::max(0, step.n));
    if (out != nullptr) {
      const char* why = step.result == d88::StepResult::kNoTrack ? " (no track)"
                        : step.result == d88::StepResult::kZeroCount
                            ? " (after a record whose sector count is 0)"
                            : "";
      std::fprintf(out,
                   "<g><title>%d/%d/%d/%d missing%s, needed by %s</title>"
                   "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" "
                   "fill=\"%s\" stroke=\"%s\" stroke-width=\"2\" "
                   "stroke-dasharray=\"3 2\"/><text x=\"%d\" y=\"%d\" "
                   "font-size=\"9\">%c?</text></g>\n",
                   step.c, step.h, step.r, step.n, why,
                   kExtractionTable[here.rows[k]].file_name, x, y, width,
                   kCellHeight, kMissingFill, kReadStroke, x + 2,
                   y + kCellHeight - 4, '1' + here.rows[k]);
    }
    x += width + kGap;
  }
  return x;
}

struct Layout {
  int rows;
  int width;
};

Layout Measure(d88::D88File* reader) {
  Layout layout = {0, kMinWidth};
  for (int track = 0; track < d88::D88File::kMaxTracks; ++track) {
    const int width = DrawTrack(reader, track, 0, nullptr);
    if (width == 0) continue;
    ++layout.rows;
    layout.width = std::max(layout.width, width + kMargin);
  }
  return layout;
}

void DrawLegend(std::FILE* out, int y) {
  int x = kMargin;
  for (const StateStyle& style : kStyles) {
    std::fprintf(out,
                 "<rect x=\"%d\" y=\"%d\" width=\"14\" height=\"14\" "
                 "fill=\"%s\" stroke=\"#888888\"/><text x=\"%d\" "
                 "y=\"%d\">%s</text>\n",
                 x, y, style.fill, x + 18, y + 11, style.legend);
    x += 40 + 6 * static_cast<int>(std::strlen(style.legend));
  }
  std::fprintf(out,
               "<rect x=\"%d\" y=\"%d\" width=\"14\" height=\"14\" "
               "fill=\"%s\" stroke=\"%s\" stroke-width=\"2\" "
               "stroke-dasharray=\"3 2\"/><text x=\"%d\" y=\"%d\">missing: "
               "a sector a run needs</text>\n",
               kMargin, y + 24, kMissingFill, kReadStroke, kMargin + 18,
               y + 35);
  std::fprintf(out,
               "<rect x=\"%d\" y=\"%d\" width=\"14\" height=\"14\" "
               "fill=\"%s\" stroke=\"%s\" stroke-width=\"2\"/><text x=\"%d\" "
               "y=\"%d\">outlined, marked n: read by volspar for "
               "TRV0n.BIN</text>\n",
               kMargin + 240, y + 24, kStyles[0].fill, kReadStroke,
               kMargin + 258, y + 35);
}

}  // namespace

bool WriteMap(d88::D88File* reader, const char* image_path, int disk,
              const char* path, std::FILE* err) {
  // volspar reads disk 0 only: trace its runs there, and nowhere else.
  for (RowTrace& trace : traces) trace.step_count = 0;
  if (disk == 0 && reader->SelectDisk(0)) {
    reader->SetSectorRange(kExtractionFirstSector, kExtractionLastSector);
    for (int row = 0; row < kExtractionRows; ++row)
      TraceRow(reader, row, &traces[row]);
  }
  if (!reader->SelectDisk(disk)) {
    std::fprintf(err,
                 "d88info: cannot draw disk %d: the image has no such disk\n",
                 disk);
    return false;
  }
  FindTrackStarts(reader, reader->GetDiskStart(disk));
  const Layout layout = Measure(reader);
  const int height =
      2 * kMargin + 24 + layout.rows * kRowHeight + kLegendHeight;

  FileId image;
  const bool known = image_path != nullptr && IdentifyFile(image_path, &image);
  OutputFile file;
  if (!file.Create(path, known ? &image : nullptr)) {
    if (file.failure() == OutputFile::Failure::kKept) {
      std::fprintf(err, "d88info: will not replace %s: it is the image\n",
                   path);
    } else {
      std::fprintf(err, "d88info: cannot create %s: %s\n", path,
                   std::strerror(file.error()));
    }
    return false;
  }
  std::FILE* out = file.stream();
  static char buffer[65536];
  std::setvbuf(out, buffer, _IOFBF, sizeof buffer);
  std::fprintf(out,
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" "
               "width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
               "font-family=\"sans-serif\" font-size=\"11\">\n"
               "<title>disk %d: \"",
               layout.width, height, layout.width, height, disk);
  PutXml(out, reader->GetDiskName());
  std::fprintf(out,
               "\"</title>\n<rect width=\"100%%\" height=\"100%%\" "
               "fill=\"#ffffff\"/>\n<text x=\"%d\" y=\"%d\" "
               "font-size=\"13\">disk %d: \"",
               kMargin, kMargin + 12, disk);
  PutXml(out, reader->GetDiskName());
  std::fputs("\"</text>\n", out);
  int y = kMargin + 24;
  for (int track = 0; track < d88::D88File::kMaxTracks; ++track) {
    if (DrawTrack(reader, track, y, out) > 0) y += kRowHeight;
  }
  DrawLegend(out, y + kMargin);
  std::fputs("</svg>\n", out);
  if (!file.Commit()) {
    std::fprintf(
        err, "d88info: cannot %s %s: %s\n",
        file.failure() == OutputFile::Failure::kWrite ? "write" : "create",
        path, std::strerror(file.error()));
    return false;
  }
  return true;
}
