#include "inspect/file_kind.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "d88/little_endian.h"
#include "d88/raw_layout.h"
#include "platform/text_out.h"

namespace {

// The first bytes, where signatures lie and text is judged.
constexpr int kHeadSize = 4096;

// ZIP, little-endian: an end record of 22 bytes and a comment of up to
// 65,535 bytes close the file; the central directory the record points to
// has a 46-byte entry for each member, followed by the member's name,
// extra field and comment.
constexpr uint32_t kZipEndMagic = 0x06054B50;    // "PK\5\6"
constexpr uint32_t kZipEntryMagic = 0x02014B50;  // "PK\1\2"
constexpr int kMagicSize = 4;
constexpr int kZipEndSize = 22;
constexpr int kZipEndSpan = kZipEndSize + 0xFFFF;
constexpr int kZipSearchChunk = 4096;
constexpr int kEndDiskAt = 4;  // this file's number in a split archive
constexpr int kEndDirectoryDiskAt = 6;
constexpr int kEndDiskEntriesAt = 8;
constexpr int kEndEntriesAt = 10;
constexpr int kEndDirectorySizeAt = 12;
constexpr int kEndDirectoryAt = 16;
constexpr int kZipEntrySize = 46;
constexpr int kEntryNameLengthAt = 28;
constexpr int kEntryExtraLengthAt = 30;
constexpr int kEntryCommentLengthAt = 32;
// Members named in the phrase, and the bytes kept of each name (its end,
// which holds the extension) and shown of it, escapes included: three
// names so long still leave room for the words around them.
constexpr int kShownNames = 3;
constexpr int kNameKept = 40;
constexpr const char* kImageExtensions[] = {".d88", ".d77", ".d68",
                                            ".88d", ".d8u", ".1dd"};
constexpr int kExtensionSize = 4;
// A byte that is not shown as it is: \xNN.
constexpr int kEscapeSize = 4;
// UTF-8: the bytes after a character's first are 10xxxxxx, three at most.
constexpr uint8_t kContinuationMask = 0xC0;
constexpr uint8_t kContinuation = 0x80;
constexpr int kMaxContinuation = 3;

// FDI: a header of eight little-endian 32-bit fields; the data follow it.
constexpr int kFdiFields = 8;
constexpr int kFdiMinHeader = 4 * kFdiFields;
constexpr int kMaxSizeShift = 6;  // sectors of 128 to 8,192 bytes
constexpr int kMaxTracks = 255;   // cylinders, and sectors on a track
constexpr int kMaxHeads = 2;

// The DOS header of an executable, and the units its fields count in.
constexpr int kDosHeaderSize = 28;
constexpr int kDosPage = 512;
constexpr int kDosParagraph = 16;
constexpr int kDosMinParagraphs = 2;

// TeleDisk: version 1.0 to 2.1 at byte 4, data rate 0-2 (bit 7 for FM) at
// byte 5.
constexpr int kTeleDiskHeaderSize = 12;
constexpr int kTeleDiskOldest = 0x10;
constexpr int kTeleDiskNewest = 0x21;
constexpr int kTeleDiskMaxRate = 2;

// Old text files end with this byte.
constexpr uint8_t kDosEndOfFile = 0x1A;

using d88::LoadLe16;
using d88::LoadLe32;

int ToLower(uint8_t byte) {
  return byte >= 'A' && byte <= 'Z' ? byte + 32 : byte;
}

// Reads up to `length` bytes at `offset`, never past the file's end nor
// trusting the source to keep to `length`; returns how many it got. A
// source may deliver part of what was asked and the rest on the next call;
// one that delivers nothing has ended.
int ReadAt(const ByteSource& file, int64_t offset, uint8_t* buf, int length) {
  if (offset < 0 || length <= 0 || offset >= file.size) return 0;
  if (file.size - offset < length) {
    length = static_cast<int>(file.size - offset);
  }
  int got = 0;
  while (got < length) {
    const int count =
        file.read(file.context, offset + got, buf + got, length - got);
    if (count <= 0) break;
    got += std::min(count, length - got);
  }
  return got;
}

bool ReadAll(const ByteSource& file, int64_t offset, uint8_t* buf, int length) {
  return ReadAt(file, offset, buf, length) == length;
}

// The phrase being written into the caller's buffer. It takes whole
// characters only, and nothing after the first that does not fit.
class Phrase {
 public:
  Phrase(char* text, int size) : text_(text), size_(size), length_(0) {
    if (size_ > 0) text_[0] = '\0';
  }

  // `length` bytes that belong together: all of them or none.
  void PutUnit(const char* bytes, int length) {
    if (full_ || length_ + length >= size_) {
      full_ = true;
      return;
    }
    std::copy(bytes, bytes + length, text_ + length_);
    length_ += length;
    text_[length_] = '\0';
  }
  void Put(const char* text) {  // valid UTF-8
    while (*text != '\0') {
      const int lead = static_cast<uint8_t>(*text);
      const int length = lead < 0xC0   ? 1
                         : lead < 0xE0 ? 2
                         : lead < 0xF0 ? 3
                                       : 4;
      PutUnit(text, length);
      text += length;
    }
  }
  void PutInt(int64_t value) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(value));
    Put(digits);
  }
  // A byte count with thousands separators: 1,261,568.
  void PutCount(int64_t value) {
    char grouped[32];
    Put(Grouped(value, grouped));
  }

 private:
  char* text_;
  int size_;
  int length_;
  bool full_ = false;
};

// The file and its first bytes, read once for every test.
struct Head {
  const ByteSource* file;
  const uint8_t* bytes;
  int length;
};

// Whether the bytes at `offset` of the head match `pattern`, of `length`
// bytes, where '?' stands for any byte.
bool Matches(const Head& head, int offset, const char* pattern, int length) {
  if (offset + length > head.length) return false;
  for (int i = 0; i < length; ++i) {
    if (pattern[i] != '?' &&
        head.bytes[offset + i] != static_cast<uint8_t>(pattern[i])) {
      return false;
    }
  }
  return true;
}

// Two letters are a weak signature: the version and data rate must be
// TeleDisk's too.
bool IsTeleDiskHeader(const Head& head) {
  if (head.length < kTeleDiskHeaderSize) return false;
  const int version = head.bytes[4];
  return version >= kTeleDiskOldest && version <= kTeleDiskNewest &&
         (head.bytes[5] & 0x7F) <= kTeleDiskMaxRate;
}

// "MZ" alone is weak: the header must count its pages and paragraphs as a
// DOS header does.
bool IsDosHeader(const Head& head) {
  if (head.length < kDosHeaderSize) return false;
  const uint32_t last_page = LoadLe16(head.bytes + 2);
  const uint32_t pages = LoadLe16(head.bytes + 4);
  const uint32_t paragraphs = LoadLe16(head.bytes + 8);
  const int64_t header_size = static_cast<int64_t>(paragraphs) * kDosParagraph;
  return last_page < kDosPage && pages > 0 && paragraphs >= kDosMinParagraphs &&
         header_size <= head.file->size;
}

struct Signature {
  int offset;
  int length;
  const char* bytes;  // '?' stands for any byte
  const char* phrase;
  bool (*confirm)(const Head& head);  // a further test, or null
};

// Checked in order; ZIP archives have a test of their own.
constexpr Signature kSignatures[] = {
    {0, 3, "\x1F\x8B\x08", "it is a gzip file (unpack it first)", nullptr},
    {2, 5, "-lh?-", "it is an LZH archive (unpack it first)", nullptr},
    {2, 5, "-lzs-", "it is an LZH archive (unpack it first)", nullptr},
    {2, 5, "-lz5-", "it is an LZH archive (unpack it first)", nullptr},
    {0, 6, "7z\xBC\xAF\x27\x1C", "it is a 7-Zip archive (unpack it first)",
     nullptr},
    {0, 6, "Rar!\x1A\x07", "it is a RAR archive (unpack it first)", nullptr},
    {0, 10, "BZh?1AY&SY", "it is a bzip2 file (unpack it first)", nullptr},
    {0, 6, "\xFD\x37zXZ\0", "it is an xz file (unpack it first)", nullptr},
    {257, 5, "ustar", "it is a tar archive (unpack it first)", nullptr},
    {0, 8, "HXCPICFE", "it is an HFE disk image, not D88", nullptr},
    {0, 8, "HXCHFEV3", "it is an HFE disk image, not D88", nullptr},
    {0, 4, "IMD ", "it is an IMD disk image, not D88", nullptr},
    {0, 2, "TD", "it is a TeleDisk image, not D88", IsTeleDiskHeader},
    {0, 2, "td", "it is a TeleDisk image, not D88", IsTeleDiskHeader},
    {0, 8, "MV - CPC", "it is a CPC DSK disk image, not D88", nullptr},
    {0, 16, "EXTENDED CPC DSK", "it is a CPC DSK disk image, not D88", nullptr},
    {0, 14, "T98FDDIMAGE.R0", "it is an NFD disk image, not D88", nullptr},
    {0, 14, "T98FDDIMAGE.R1", "it is an NFD disk image, not D88", nullptr},
    {0, 8, "\x89PNG\r\n\x1A\n", "it is a PNG picture", nullptr},
    {0, 3, "\xFF\xD8\xFF", "it is a JPEG picture", nullptr},
    {0, 6, "GIF8?a", "it is a GIF picture", nullptr},
    {0, 5, "%PDF-", "it is a PDF document", nullptr},
    {0, 4, "\x7F\x45LF", "it is an ELF program or library", nullptr},
    {0, 2, "MZ", "it is a Windows or DOS program", IsDosHeader},
};

bool DescribeBySignature(const Head& head, Phrase* phrase) {
  const Signature* end = std::end(kSignatures);
  const Signature* found = std::find_if(
      std::begin(kSignatures), end, [&head](const Signature& signature) {
        return Matches(head, signature.offset, signature.bytes,
                       signature.length) &&
               (signature.confirm == nullptr || signature.confirm(head));
      });
  if (found == end) return false;
  phrase->Put(found->phrase);
  return true;
}

// The ZIP members that are D88 images: how many, and the first names.
struct ZipImages {
  int count;
  int kept[kShownNames];  // bytes kept of each name: its last ones
  bool cut[kShownNames];  // the name is longer
  uint8_t names[kShownNames][kNameKept];
};

bool IsImageName(const uint8_t* name, int length) {
  if (length < kExtensionSize) return false;
  const uint8_t* end = name + length - kExtensionSize;
  return std::any_of(std::begin(kImageExtensions), std::end(kImageExtensions),
                     [end](const char* extension) {
                       for (int i = 0; i < kExtensionSize; ++i) {
                         if (ToLower(end[i]) != extension[i]) return false;
                       }
                       return true;
                     });
}

// Where the end-of-central-directory record starts: the last signature in
// the span it can lie in, read backwards a chunk at a time. -1 if none.
int64_t FindZipEnd(const ByteSource& file) {
  const int64_t lowest = std::max<int64_t>(0, file.size - kZipEndSpan);
  int64_t high = file.size - kZipEndSize;  // the last place it may start
  uint8_t chunk[kZipSearchChunk];
  while (high >= lowest) {
    // The chunk holds [low, high + 4): signatures across chunks are seen.
    const int64_t low = std::max(lowest, high - (kZipSearchChunk - kMagicSize));
    const int length = static_cast<int>(high + kMagicSize - low);
    if (!ReadAll(file, low, chunk, length)) return -1;
    for (int64_t at = high; at >= low; --at) {
      if (LoadLe32(chunk + (at - low)) == kZipEndMagic) return at;
    }
    high = low - 1;
  }
  return -1;
}

// Reads the central-directory entry at `at`, which must end by `end`, and
// notes its name if it is an image's; returns where the next entry starts,
// or -1 if this one is not there whole.
int64_t ReadZipEntry(const ByteSource& file, int64_t at, int64_t end,
                     ZipImages* images) {
  uint8_t entry[kZipEntrySize];
  if (end - at < kZipEntrySize || !ReadAll(file, at, entry, kZipEntrySize) ||
      LoadLe32(entry) != kZipEntryMagic) {
    return -1;
  }
  const int name_length =
      static_cast<int>(LoadLe16(entry + kEntryNameLengthAt));
  const int64_t name_at = at + kZipEntrySize;
  const int64_t next = name_at + name_length +
                       LoadLe16(entry + kEntryExtraLengthAt) +
                       LoadLe16(entry + kEntryCommentLengthAt);
  if (next > end) return -1;
  uint8_t name[kNameKept];
  const int kept = std::min(name_length, kNameKept);
  if (!ReadAll(file, name_at + name_length - kept, name, kept)) return -1;
  if (!IsImageName(name, kept)) return next;
  if (images->count < kShownNames) {
    // A cut name starts at a character: the rest of one cut in two goes.
    int from = 0;
    while (kept < name_length && from < kMaxContinuation &&
           (name[from] & kContinuationMask) == kContinuation) {
      ++from;
    }
    const int slot = images->count;
    std::copy(name + from, name + kept, images->names[slot]);
    images->kept[slot] = kept - from;
    images->cut[slot] = kept < name_length;
  }
  ++images->count;
  return next;
}

// Lists the image members through the central directory; false if it
// cannot be read whole (cut off, split over several files, ZIP64).
bool ListZipImages(const ByteSource& file, ZipImages* images) {
  const int64_t end_at = FindZipEnd(file);
  uint8_t end[kZipEndSize];
  if (end_at < 0 || !ReadAll(file, end_at, end, kZipEndSize)) return false;
  const uint32_t entries = LoadLe16(end + kEndEntriesAt);
  int64_t at = LoadLe32(end + kEndDirectoryAt);
  const int64_t directory_end = at + LoadLe32(end + kEndDirectorySizeAt);
  // ZIP64 archives mark these fields 0xFFFFFFFF, which points past the end.
  if (LoadLe16(end + kEndDiskAt) != 0 ||
      LoadLe16(end + kEndDirectoryDiskAt) != 0 ||
      LoadLe16(end + kEndDiskEntriesAt) != entries || directory_end > end_at) {
    return false;
  }
  for (uint32_t i = 0; i < entries; ++i) {
    at = ReadZipEntry(file, at, directory_end, images);
    if (at < 0) return false;
  }
  return true;
}

// The bytes of the name at `at` shown as one unit: a printable UTF-8
// character, else one byte, shown as \xNN (`*shown`: the bytes it takes).
int NameUnit(const uint8_t* name, int length, int at, int* shown) {
  const int size = Utf8Length(name + at, length - at);
  if (size > 0 && name[at] >= 0x20 && name[at] != 0x7F) {
    *shown = size;
    return size;
  }
  *shown = kEscapeSize;
  return 1;
}

// A member's name as it can be shown: control bytes and bytes that are not
// UTF-8 as \xNN, at most kNameKept bytes of it, its end, and an ellipsis
// where the front was left out.
void PutName(const uint8_t* name, int length, bool cut, Phrase* phrase) {
  int width = 0;
  int shown = 0;
  for (int i = 0; i < length;) {
    i += NameUnit(name, length, i, &shown);
    width += shown;
  }
  // Escapes take four bytes each: the front goes until the rest fits.
  int from = 0;
  while (width > kNameKept) {
    from += NameUnit(name, length, from, &shown);
    width -= shown;
    cut = true;
  }
  if (cut) phrase->Put("...");
  for (int i = from; i < length;) {
    const int size = NameUnit(name, length, i, &shown);
    if (shown == size) {
      phrase->PutUnit(reinterpret_cast<const char*>(name + i), size);
    } else {
      char escape[kEscapeSize + 1];
      std::snprintf(escape, sizeof escape, "\\x%02X", name[i]);
      phrase->PutUnit(escape, kEscapeSize);
    }
    i += size;
  }
}

bool DescribeZip(const Head& head, Phrase* phrase) {
  if (!Matches(head, 0, "PK\3\4", kMagicSize) &&
      !Matches(head, 0, "PK\5\6", kMagicSize)) {
    return false;
  }
  phrase->Put("it is a ZIP archive");
  ZipImages images = {};
  if (!ListZipImages(*head.file, &images)) return true;
  if (images.count == 0) {
    phrase->Put(" (no D88 image in it)");
    return true;
  }
  phrase->Put(" (holding ");
  const int shown = std::min(images.count, kShownNames);
  for (int i = 0; i < shown; ++i) {
    if (i > 0) phrase->Put(i == images.count - 1 ? " and " : ", ");
    PutName(images.names[i], images.kept[i], images.cut[i], phrase);
  }
  if (images.count > shown) {
    phrase->Put(" and ");
    phrase->PutInt(images.count - shown);
    phrase->Put(" more");
  }
  phrase->Put("; unpack it first)");
  return true;
}

// A PC-98 FDI image: the first field 0, then the geometry, which with the
// header's size must account for the file's size exactly.
bool DescribeFdi(const Head& head, Phrase* phrase) {
  if (head.length < kFdiMinHeader) return false;
  uint32_t field[kFdiFields];
  for (int i = 0; i < kFdiFields; ++i) {
    field[i] = LoadLe32(head.bytes + static_cast<ptrdiff_t>(4) * i);
  }
  const uint32_t header_size = field[2];
  const uint32_t sector_size = field[4];
  const uint32_t sectors = field[5];
  const uint32_t heads = field[6];
  const uint32_t cylinders = field[7];
  bool known_size = false;
  for (int shift = 0; shift <= kMaxSizeShift; ++shift) {
    known_size = known_size || sector_size == 128u << shift;
  }
  if (field[0] != 0 || header_size < kFdiMinHeader ||
      header_size > head.file->size || !known_size || sectors == 0 ||
      sectors > kMaxTracks || heads == 0 || heads > kMaxHeads ||
      cylinders == 0 || cylinders > kMaxTracks ||
      int64_t{cylinders} * heads * sectors * sector_size !=
          head.file->size - header_size) {
    return false;
  }
  phrase->Put("it is an FDI disk image, not D88");
  return true;
}

bool StartsIgnoringCase(const uint8_t* bytes, int length, const char* lower) {
  for (int i = 0; lower[i] != '\0'; ++i) {
    if (i == length) return false;
    if (ToLower(bytes[i]) != lower[i]) return false;
  }
  return true;
}

bool DescribeHtml(const Head& head, Phrase* phrase) {
  int at = Matches(head, 0, "\xEF\xBB\xBF", 3) ? 3 : 0;  // a UTF-8 BOM
  while (at < head.length &&
         (head.bytes[at] == ' ' ||
          (head.bytes[at] >= '\t' && head.bytes[at] <= '\r'))) {
    ++at;
  }
  const char* const tags[] = {"<!doctype html", "<html", "<head"};
  if (std::none_of(std::begin(tags), std::end(tags), [&](const char* tag) {
        return StartsIgnoringCase(head.bytes + at, head.length - at, tag);
      })) {
    return false;
  }
  phrase->Put(
      "it is an HTML page, perhaps a saved error page instead of the "
      "download");
  return true;
}

// Only the size tells, so this comes after every test of the contents
// but text's, which is weaker still.
bool DescribeRawDump(const Head& head, Phrase* phrase) {
  const d88::RawLayoutRange layouts = d88::RawLayoutsOfSize(head.file->size);
  if (layouts.empty()) return false;
  phrase->Put("it is a raw sector dump of ");
  phrase->PutCount(head.file->size);
  phrase->Put(" bytes (");
  for (const d88::RawLayout& layout : layouts) {
    const bool first = &layout == layouts.begin();
    if (!first) phrase->Put(", or ");
    if (layout.name != nullptr) {
      phrase->Put(layout.name);
      phrase->Put(": ");
    }
    phrase->PutInt(layout.cylinders);
    phrase->Put(first ? " cylinders × " : " × ");
    phrase->PutInt(layout.sides);
    phrase->Put(!first ? " × " : layout.sides == 1 ? " side × " : " sides × ");
    phrase->PutInt(layout.sectors);
    phrase->Put(first ? " sectors × " : " × ");
    phrase->PutInt(layout.sector_size);
    if (first) phrase->Put(" bytes");
  }
  phrase->Put("), not D88");
  return true;
}

// Printable ASCII or UTF-8 in lines: no NULs, no controls but white space
// and the DOS end-of-file mark.
bool DescribeText(const Head& head, Phrase* phrase) {
  bool line_break = false;
  for (int at = 0; at < head.length;) {
    const uint8_t byte = head.bytes[at];
    const int length = Utf8Length(head.bytes + at, head.length - at);
    // A character that the head cuts off is whole in the file.
    if (length < 0 && head.length == kHeadSize) break;
    if (length <= 0) return false;
    if (byte == '\n' || byte == '\r') line_break = true;
    if ((byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r' &&
         byte != '\f' && byte != kDosEndOfFile) ||
        byte == 0x7F) {
      return false;
    }
    at += length;
  }
  if (!line_break) return false;
  phrase->Put("it is a text file");
  return true;
}

// In order: signatures first, then the weaker tests.
constexpr bool (*kDescribers[])(const Head& head, Phrase* phrase) = {
    DescribeZip,  DescribeBySignature, DescribeFdi,
    DescribeHtml, DescribeRawDump,     DescribeText,
};

}  // namespace

bool DescribeForeignFile(const ByteSource& file, char* text, int size,
                         bool* raw_dump) {
  Phrase phrase(text, size);
  if (raw_dump != nullptr) *raw_dump = false;
  if (file.size <= 0 || file.read == nullptr) return false;
  uint8_t bytes[kHeadSize];
  const int length = static_cast<int>(std::min<int64_t>(file.size, kHeadSize));
  // Judged on part of the head, text could be a page's start.
  if (!ReadAll(file, 0, bytes, length)) return false;
  const Head head = {&file, bytes, length};
  const auto* end = std::end(kDescribers);
  const auto* found =
      std::find_if(std::begin(kDescribers), end,
                   [&](auto describe) { return describe(head, &phrase); });
  if (found == end) return false;
  if (raw_dump != nullptr) *raw_dump = *found == DescribeRawDump;
  return true;
}
