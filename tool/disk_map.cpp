#include "tool/disk_map.h"

#include <algorithm>
#include <cstring>

#include "tool/output_file.h"
#include "tool/report.h"

namespace {

constexpr int kRows =
    static_cast<int>(sizeof kExtractionTable / sizeof kExtractionTable[0]);

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
RowTrace traces[kRows];
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

// The steps of volspar's runs that looked on `track`, each with its row.
template <typename Visit>
void ForEachStep(int track, Visit visit) {
  for (int row = 0; row < kRows; ++row) {
    const int steps = std::min(traces[row].step_count, kMaxRunSteps);
    for (int i = 0; i < steps; ++i) {
      if (traces[row].steps[i].track == track) visit(row, traces[row].steps[i]);
    }
  }
}

struct Layout {
  int rows;
  int width;
};

// A track row: what it holds and where it starts on the file, so that a
// track sharing records with an earlier one is drawn once.
int64_t TrackStart(d88::D88File* reader, int64_t disk_start, int track) {
  d88::SectorInfo first;
  if (reader->ReadSectorInfos(track, &first, 1) == 0) return -1;
  return disk_start + reader->GetTrackOffset(track);
}

int SameAs(d88::D88File* reader, int64_t disk_start, int track, int64_t start) {
  for (int earlier = 0; earlier < track; ++earlier) {
    if (TrackStart(reader, disk_start, earlier) == start) return earlier;
  }
  return -1;
}

int MissingCells(int track) {
  int missing = 0;
  ForEachStep(track, [&missing](int, const d88::RunStep& step) {
    if (step.record < 0) ++missing;
  });
  return missing;
}

// Draws (or, without `out`, only measures) the row of `track` at `y`;
// returns its width, 0 when there is no row.
int DrawTrack(d88::D88File* reader, int64_t disk_start, int track, int y,
              std::FILE* out) {
  const int64_t start = TrackStart(reader, disk_start, track);
  const int missing = MissingCells(track);
  if (start < 0 && missing == 0) return 0;
  if (out != nullptr) {
    std::fprintf(out, "<text x=\"%d\" y=\"%d\">track %d (C%d H%d)</text>\n",
                 kMargin, y + kCellHeight - 4, track, track / 2, track % 2);
  }
  int x = kMargin + kLabelWidth;
  const int same = start < 0 ? -1 : SameAs(reader, disk_start, track, start);
  if (same >= 0) {
    if (out != nullptr) {
      std::fprintf(out,
                   "<text x=\"%d\" y=\"%d\">same records as track %d</text>\n",
                   x, y + kCellHeight - 4, same);
    }
    x += 160;
  } else if (start >= 0) {
    ListTrack(reader, track, &track_records);
    for (int i = 0; i < track_records.count; ++i) {
      const d88::SectorInfo& info = track_records.infos[i];
      const int width = CellWidth(info.id.n);
      if (out != nullptr) {
        char files[kRows + 1] = {};
        int read_by = 0;
        ForEachStep(track, [&](int row, const d88::RunStep& step) {
          if (step.record == i && read_by < kRows) {
            files[read_by++] = static_cast<char>('1' + row);
          }
        });
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
  ForEachStep(track, [&](int row, const d88::RunStep& step) {
    if (step.record >= 0) return;
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
                   kExtractionTable[row].file_name, x, y, width, kCellHeight,
                   kMissingFill, kReadStroke, x + 2, y + kCellHeight - 4,
                   '1' + row);
    }
    x += width + kGap;
  });
  return x;
}

Layout Measure(d88::D88File* reader, int64_t disk_start) {
  Layout layout = {0, kMinWidth};
  for (int track = 0; track < d88::D88File::kMaxTracks; ++track) {
    const int width = DrawTrack(reader, disk_start, track, 0, nullptr);
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

bool WriteMap(d88::D88File* reader, int disk, const char* path,
              std::FILE* err) {
  // volspar reads disk 0 only: trace its runs there, and nowhere else.
  for (RowTrace& trace : traces) trace.step_count = 0;
  if (disk == 0 && reader->SelectDisk(0)) {
    reader->SetSectorRange(kExtractionFirstSector, kExtractionLastSector);
    for (int row = 0; row < kRows; ++row) TraceRow(reader, row, &traces[row]);
  }
  if (!reader->SelectDisk(disk)) {
    std::fprintf(err,
                 "d88info: cannot draw disk %d: the image has no such disk\n",
                 disk);
    return false;
  }
  const int64_t disk_start = reader->GetDiskStart(disk);
  const Layout layout = Measure(reader, disk_start);
  const int height =
      2 * kMargin + 24 + layout.rows * kRowHeight + kLegendHeight;

  OutputFile file;
  if (!file.Create(path)) {
    std::fprintf(err, "d88info: cannot create %s: %s\n", path,
                 std::strerror(file.error()));
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
    if (DrawTrack(reader, disk_start, track, y, out) > 0) y += kRowHeight;
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
