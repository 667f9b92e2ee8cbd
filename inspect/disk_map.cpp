#include <algorithm>
#include <cerrno>
#include <cstring>
#include <initializer_list>

#include "inspect/views.h"
#include "platform/input_file.h"
#include "platform/output_file.h"

namespace {

// Layout, in pixels.
constexpr int kLabelWidth = 112;
constexpr int kRowHeight = 20;
constexpr int kCellHeight = 16;
constexpr int kGap = 2;
constexpr int kMargin = 8;
constexpr int kLegendHeight = 64;
constexpr int kPanelLine = 16;
constexpr int kMinWidth = 920;  // the legend's
// Widths of text at the map's font size, generous, so that nothing is
// clipped: an ASCII character, and a wider one.
constexpr int kCharWidth = 7;
constexpr int kWideCharWidth = 12;
// Missing sectors drawn: at most every step of every run.
constexpr int kMaxMissing = kExtractionRows * kMaxRunSteps;
constexpr int kTextLength = 200;

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

// The width of `text` as drawn.
int TextWidth(const char* text) {
  int width = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
       *p != '\0'; ++p) {
    if (*p < 0x80) width += kCharWidth;
    if (*p >= 0xC0) width += kWideCharWidth;
  }
  return width;
}

// A record, or a sector a run looked for and did not find.
struct Cell {
  RecordFacts facts;
  int missing_step;  // -1: a record; else the run step (row * 64 + step)
  unsigned used;     // bit k: the bytes are in file k
  unsigned read;     // bit k: read for file k, not in it
  int x;
  int width;
};

struct Row {
  int track;
  int first_cell;
  int cells;
  char text[kTextLength];  // after the cells
  int text_x;
  int width;
};

// The map of one disk, laid out once, then drawn from the same positions.
struct MapLayout {
  Row rows[d88::D88File::kMaxTracks];
  int row_count;
  Cell cells[d88::D88File::kMaxTracks * kMaxListedPerTrack + kMaxMissing];
  int cell_count;
  char title[kTextLength];
  int width;
  int height;
};

MapLayout map;

}  // namespace

namespace {

// A step of volspar's runs: row * kMaxRunSteps + step.
int StepKey(int row, int step) { return row * kMaxRunSteps + step; }

// The steps of volspar's runs that looked on `track`.
int FindSteps(const FileChecks* files, int track, int* keys) {
  int count = 0;
  if (files == nullptr) return 0;
  for (int row = 0; row < kExtractionRows; ++row) {
    const RowRun& run = files->model.rows[row];
    for (int i = 0; i < run.step_count; ++i) {
      if (run.steps[i].track == track) keys[count++] = StepKey(row, i);
    }
  }
  return count;
}

const d88::RunStep& StepOf(const FileChecks& files, int key) {
  return files.model.rows[key / kMaxRunSteps].steps[key % kMaxRunSteps];
}

void MarkUses(const FileChecks* files, const int* keys, int count, int record,
              Cell* cell) {
  cell->used = 0;
  cell->read = 0;
  for (int k = 0; k < count; ++k) {
    const int row = keys[k] / kMaxRunSteps;
    const int step = keys[k] % kMaxRunSteps;
    if (StepOf(*files, keys[k]).record != record) continue;
    const bool in_file = files->files[row].uses[step] == StepUse::kInFile;
    (in_file ? cell->used : cell->read) |= 1u << row;
  }
}

void AddText(Row* row, const char* text) {
  const size_t length = std::strlen(row->text);
  std::snprintf(row->text + length, sizeof row->text - length, "%s%s",
                length > 0 ? "; " : "", text);
}

// The cells of one listed track, and what follows them.
void AddRecords(const TrackFindings& found, const FileChecks* files,
                const int* keys, int key_count, Row* row) {
  char text[kTextLength];
  if (found.same_disk >= 0) {
    std::snprintf(text, sizeof text, "same records as track %d",
                  found.same_track);
    AddText(row, text);
    return;
  }
  const TrackRecords& t = *found.records;
  for (int i = 0; i < std::min(t.count, kMaxListedPerTrack); ++i) {
    Cell& cell = map.cells[map.cell_count++];
    cell.facts = t.facts[i];
    cell.missing_step = -1;
    cell.width = CellWidth(t.facts[i].record.info.id.n);
    MarkUses(files, keys, key_count, i, &cell);
  }
  if (t.count > kMaxListedPerTrack) {
    std::snprintf(text, sizeof text, "\xE2\x80\xA6 and %d more records",
                  t.count - kMaxListedPerTrack);
    AddText(row, text);
  }
  const char* cut = CutNote(t, found.notes);
  if (cut != nullptr) AddText(row, cut);
}

// Adds the row of `track` (`found`: its findings, null when it has no
// records); drawn only when it has cells or words.
void AddRow(int track, const TrackFindings* found, const FileChecks* files) {
  Row& row = map.rows[map.row_count];
  row = {track, map.cell_count, 0, {}, 0, 0};
  int keys[kMaxMissing];
  const int key_count = FindSteps(files, track, keys);
  if (found != nullptr) AddRecords(*found, files, keys, key_count, &row);
  for (int k = 0; files != nullptr && k < key_count; ++k) {
    if (StepOf(*files, keys[k]).record >= 0) continue;
    Cell& cell = map.cells[map.cell_count++];
    cell.missing_step = keys[k];
    cell.width = CellWidth(StepOf(*files, keys[k]).n);
  }
  row.cells = map.cell_count - row.first_cell;
  if (row.cells > 0 || row.text[0] != '\0') ++map.row_count;
}

// One walk over the disk's findings gathers every row.
void Gather(Inspection* in, const FileChecks* files) {
  map.row_count = 0;
  map.cell_count = 0;
  int next = 0;
  while (NextTrack(in)) {
    const TrackFindings& found = in->track;
    // Tracks without records where a run looked for sectors.
    for (; next < found.track; ++next) AddRow(next, nullptr, files);
    next = found.track + 1;
    if (found.not_listed) {
      Row& row = map.rows[map.row_count++];
      row = {found.track, map.cell_count, 0, {}, 0, 0};
      std::snprintf(row.text, sizeof row.text,
                    "not drawn from here on: past the records d88info reads "
                    "of one image");
      return;
    }
    AddRow(found.track, &found, files);
  }
  for (; next < d88::D88File::kMaxTracks; ++next) AddRow(next, nullptr, files);
}

}  // namespace

namespace {

// The panel's lines: the image's health, volspar's files as a whole, and
// each file on the disk volspar reads.
int PanelLines(const ImageFindings& image, int disk, char lines[][kTextLength],
               int max) {
  char phrase[kTextLength - 40];
  static_assert(sizeof phrase >= kHealthPhraseSize, "the health must fit");
  HealthPhrase(image.health, phrase, sizeof phrase);
  std::snprintf(lines[0], kTextLength, "the image: %s", phrase);
  const FileChecks& files = image.files;
  const char* words[2];
  const int count = VolsparWords(files, words);
  if (files.not_its_disk) {
    NotItsDiskPhrase(files, phrase, sizeof phrase);
  } else {
    std::snprintf(phrase, sizeof phrase, "%s%s%s", words[0],
                  count > 1 ? ", " : "", count > 1 ? words[1] : "");
  }
  std::snprintf(lines[1], kTextLength, "volspar's files (disk 0): %s", phrase);
  if (disk != 0 || files.not_its_disk) return 2;
  int n = 2;
  for (int row = 0; row < kExtractionRows && n < max; ++row, ++n) {
    std::snprintf(lines[n], kTextLength, "%s: %s",
                  kExtractionTable[row].file_name,
                  StateWord(files.files[row].state));
  }
  return n;
}

// Places every cell and text, and sizes the picture to hold them all.
void Layout(int panel_lines, char panel[][kTextLength]) {
  int width = std::max(kMinWidth, 2 * kMargin + TextWidth(map.title));
  for (int r = 0; r < map.row_count; ++r) {
    Row& row = map.rows[r];
    int x = kMargin + kLabelWidth;
    for (int c = row.first_cell; c < row.first_cell + row.cells; ++c) {
      map.cells[c].x = x;
      x += map.cells[c].width + kGap;
    }
    row.text_x = x + 4;
    if (row.text[0] != '\0') x = row.text_x + TextWidth(row.text);
    row.width = x + kMargin;
    width = std::max(width, row.width);
  }
  for (int k = 0; k < panel_lines; ++k) {
    width = std::max(width, 2 * kMargin + TextWidth(panel[k]));
  }
  map.width = width;
  map.height = 2 * kMargin + 24 + map.row_count * kRowHeight + kLegendHeight +
               panel_lines * kPanelLine + kMargin;
}

// The label of a record's cell: the files that use it, then "(n)" for
// those whose runs only read it.
void CellLabel(const Cell& cell, char* label) {
  int length = 0;
  for (int row = 0; row < kExtractionRows; ++row) {
    if ((cell.used >> row & 1) == 0) continue;
    if (length > 0) label[length++] = ',';
    label[length++] = static_cast<char>('1' + row);
  }
  bool first = true;
  for (int row = 0; row < kExtractionRows; ++row) {
    if ((cell.read >> row & 1) == 0) continue;
    if (first && length > 0) label[length++] = ' ';
    label[length++] = first ? '(' : ',';
    label[length++] = static_cast<char>('1' + row);
    first = false;
  }
  if (!first) label[length++] = ')';
  label[length] = '\0';
}

void DrawRecord(const Cell& cell, int y, TextOut* out) {
  const d88::SectorInfo& info = cell.facts.record.info;
  char line[512];
  std::snprintf(line, sizeof line, "<g><title>%d/%d/%d/%d ", info.id.c,
                info.id.h, info.id.r, info.id.n);
  out->Put(line);
  Notes notes;
  RecordNotes(cell.facts, &notes);
  if (notes.count == 0) out->Put("normal");
  for (int k = 0; k < notes.count; ++k) {
    if (k > 0) out->Put(", ");
    out->Xml(notes.text[k]);
  }
  for (int pass = 0; pass < 2; ++pass) {
    const unsigned rows = pass == 0 ? cell.used : cell.read;
    for (int row = 0; row < kExtractionRows; ++row) {
      if ((rows >> row & 1) == 0) continue;
      out->Put(pass == 0 ? ", in " : ", read for ");
      out->Put(kExtractionTable[row].file_name);
      if (pass == 1) out->Put(", not in it");
    }
  }
  const bool marked = (cell.used | cell.read) != 0;
  std::snprintf(line, sizeof line,
                "</title><rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" "
                "fill=\"%s\"%s%s%s/>",
                cell.x, y, cell.width, kCellHeight,
                kStyles[static_cast<int>(StateOf(cell.facts.flags))].fill,
                marked ? " stroke=\"" : "",
                marked ? (cell.used != 0 ? kUsedStroke : kReadStroke) : "",
                marked ? "\" stroke-width=\"2\"" : "");
  out->Put(line);
  char label[3 * kExtractionRows + 4];
  CellLabel(cell, label);
  if (label[0] != '\0') {
    std::snprintf(line, sizeof line,
                  "<text x=\"%d\" y=\"%d\" font-size=\"9\" "
                  "stroke=\"none\">%s</text>",
                  cell.x + 2, y + kCellHeight - 4, label);
    out->Put(line);
  }
  out->Put("</g>\n");
}

void DrawMissing(const Cell& cell, const FileChecks& files, int y,
                 TextOut* out) {
  const int row = cell.missing_step / kMaxRunSteps;
  const int index = cell.missing_step % kMaxRunSteps;
  const d88::RunStep& step = StepOf(files, cell.missing_step);
  const bool needed = files.files[row].uses[index] == StepUse::kMissingNeeded;
  const char* why = step.result == d88::StepResult::kNoTrack ? " (no track)"
                    : step.result == d88::StepResult::kZeroCount
                        ? " (after a record whose sector count is 0)"
                        : "";
  char line[640];
  std::snprintf(
      line, sizeof line,
      "<g><title>%d/%d/%d/%d missing%s, %s %s%s</title>"
      "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" "
      "fill=\"%s\" stroke=\"%s\" stroke-width=\"2\" "
      "stroke-dasharray=\"3 2\"/><text x=\"%d\" y=\"%d\" "
      "font-size=\"9\" stroke=\"none\">%c?</text></g>\n",
      step.c, step.h, step.r, step.n, why, needed ? "needed by" : "read for",
      kExtractionTable[row].file_name, needed ? "" : ", not in it", cell.x, y,
      cell.width, kCellHeight, kMissingFill, needed ? kUsedStroke : kReadStroke,
      cell.x + 2, y + kCellHeight - 4, '1' + row);
  out->Put(line);
}

}  // namespace

namespace {

void DrawRow(const Row& row, const FileChecks* files, int y, TextOut* out) {
  char line[256];
  std::snprintf(line, sizeof line,
                "<g stroke=\"#888888\"><text x=\"%d\" y=\"%d\" "
                "stroke=\"none\">track %d (C%d H%d)</text>\n",
                kMargin, y + kCellHeight - 4, row.track, row.track / 2,
                row.track % 2);
  out->Put(line);
  for (int c = row.first_cell; c < row.first_cell + row.cells; ++c) {
    const Cell& cell = map.cells[c];
    if (cell.missing_step < 0) {
      DrawRecord(cell, y, out);
    } else if (files != nullptr) {
      DrawMissing(cell, *files, y, out);
    }
  }
  if (row.text[0] != '\0') {
    std::snprintf(line, sizeof line, "<text x=\"%d\" y=\"%d\" stroke=\"none\">",
                  row.text_x, y + kCellHeight - 4);
    out->Put(line);
    out->Xml(row.text);
    out->Put("</text>\n");
  }
  out->Put("</g>\n");
}

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

void DrawMap(const FileChecks* files, char panel[][kTextLength],
             int panel_lines, TextOut* out) {
  char line[512];
  std::snprintf(line, sizeof line,
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" "
                "width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
                "font-family=\"sans-serif\" font-size=\"11\">\n<title>",
                map.width, map.height, map.width, map.height);
  out->Put(line);
  out->Xml(map.title);
  std::snprintf(line, sizeof line,
                "</title>\n<rect width=\"100%%\" height=\"100%%\" "
                "fill=\"#ffffff\"/>\n<text x=\"%d\" y=\"%d\" "
                "font-size=\"13\">",
                kMargin, kMargin + 12);
  out->Put(line);
  out->Xml(map.title);
  out->Put("</text>\n");
  int y = kMargin + 24;
  for (int r = 0; r < map.row_count; ++r, y += kRowHeight) {
    DrawRow(map.rows[r], files, y, out);
  }
  DrawLegend(out, y + kMargin);
  y += kMargin + kLegendHeight;
  for (int k = 0; k < panel_lines; ++k) {
    std::snprintf(line, sizeof line, "<text x=\"%d\" y=\"%d\">", kMargin,
                  y + k * kPanelLine + 11);
    out->Put(line);
    out->Xml(panel[k]);
    out->Put("</text>\n");
  }
  out->Put("</svg>\n");
}

void Title(const DiskFindings& disk) {
  const DiskLayout& layout = disk.layout;
  const int length =
      std::snprintf(map.title, sizeof map.title, "disk %d: \"%s\"", disk.index,
                    disk.name_text[0] != '\0' ? disk.name_text : disk.name);
  if (layout.truncated) {
    std::snprintf(map.title + length, sizeof map.title - length,
                  ", truncated: the file ends %lld bytes into the disk's %d "
                  "bytes",
                  static_cast<long long>(layout.bytes_in_file), layout.size);
  }
}

// A map may replace an earlier map, or an empty file, but nothing else: a
// disk image named by mistake where the map should go stays as it is.
bool IsReplaceable(const char* path) {
  uint8_t head[64];
  const int length = ReadRegularHead(path, head, sizeof head);
  if (length <= 0) return true;  // nothing, empty, or not a regular file
  int at = 0;
  if (length >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) {
    at = 3;
  }
  while (at < length && (head[at] == ' ' || head[at] == '\t' ||
                         head[at] == '\r' || head[at] == '\n')) {
    ++at;
  }
  const auto starts = [&](const char* text) {
    const int size = static_cast<int>(std::strlen(text));
    return at + size <= length && std::memcmp(head + at, text, size) == 0;
  };
  return starts("<?xml") || starts("<svg");
}

// Whether the map may go to `path`; says why not on `err`. The image
// (`image`, when known) is left to OutputFile, which refuses it in words of
// its own, and "-" is standard output, not a file of that name.
bool MayTakeMap(const char* path, const FileId* image, std::FILE* err) {
  FileId target;
  if (std::strcmp(path, "-") == 0 ||
      (image != nullptr && IdentifyFile(path, &target) &&
       SameFile(target, *image)) ||
      IsReplaceable(path)) {
    return true;
  }
  std::fputs("d88info: will not replace ", err);
  PrintPath(err, path, false);
  std::fputs(": it is not an SVG file\n", err);
  return false;
}

}  // namespace

bool WriteMap(d88::D88File* reader, const char* image_path, int disk,
              const char* path, const ImageFindings& image, std::FILE* err) {
  static Inspection in;
  BeginInspection(reader, &in);
  if (!SeekDisk(&in, disk) || !in.disk.readable) {
    std::fprintf(err,
                 "d88info: cannot draw disk %d: the image has no such disk\n",
                 disk);
    return false;
  }
  // volspar reads disk 0 only: its runs are drawn there, and nowhere else.
  const FileChecks* files =
      disk == 0 && !image.files.not_its_disk ? &image.files : nullptr;
  Title(in.disk);
  Gather(&in, files);
  char panel[2 + kExtractionRows][kTextLength];
  const int panel_lines = PanelLines(image, disk, panel, 2 + kExtractionRows);
  Layout(panel_lines, panel);
  FileId image_id;
  const bool known =
      image_path != nullptr && IdentifyFile(image_path, &image_id);
  // Decided before the file is opened: where the directory refuses new
  // files, opening a writable one empties it to write it in place.
  if (!MayTakeMap(path, known ? &image_id : nullptr, err)) return false;
  OutputFile file;
  if (!file.Create(path, known ? &image_id : nullptr)) {
    file.Report(err, "d88info");
    return false;
  }
  // The text goes out before Commit closes the stream under it.
  bool drawn;
  errno = 0;
  {
    TextOut svg(file.stream());
    DrawMap(files, panel, panel_lines, &svg);
    drawn = svg.Flush();
  }
  if (!drawn) {
    file.Abandon(errno);
    file.Report(err, "d88info");
    return false;
  }
  if (!file.Commit()) {
    file.Report(err, "d88info");
    return false;
  }
  return true;
}
