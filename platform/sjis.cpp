#include "platform/sjis.h"

#include <cstdint>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#elif defined(__EMSCRIPTEN__)
#include <emscripten.h>
#else
#include <iconv.h>
#endif

namespace {

// Whether `text` has the shape of Shift_JIS: single bytes 0x00-0x7F and
// 0xA1-0xDF (half-width katakana), and pairs of a lead byte 0x81-0x9F or
// 0xE0-0xFC and a trail byte 0x40-0x7E or 0x80-0xFC. Converters differ
// outside it (musl takes trail bytes below 0x40, Windows maps 0x80 and
// 0xA0 alone), so the shape is judged here and only the mapping is theirs.
bool HasShiftJisShape(const unsigned char* text, size_t length, bool* ascii) {
  *ascii = true;
  for (size_t i = 0; i < length; ++i) {
    const unsigned char byte = text[i];
    if (byte < 0x80) continue;
    *ascii = false;
    if (byte >= 0xA1 && byte <= 0xDF) continue;
    const bool lead =
        (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    if (!lead || i + 1 == length) return false;
    const unsigned char trail = text[++i];
    if (trail < 0x40 || trail == 0x7F || trail > 0xFC) return false;
  }
  return true;
}

#ifdef _WIN32
constexpr UINT kShiftJisCodePage = 932;

bool Convert(const char* text, char* utf8, size_t size) {
  wchar_t wide[kMaxShiftJisText + 1];
  if (MultiByteToWideChar(kShiftJisCodePage, MB_ERR_INVALID_CHARS, text, -1,
                          wide, static_cast<int>(kMaxShiftJisText + 1)) == 0) {
    return false;
  }
  constexpr size_t kMaxRoom = 1 << 30;
  const int room = static_cast<int>(size < kMaxRoom ? size : kMaxRoom);
  return WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, room, nullptr,
                             nullptr) != 0;
}
#elif defined(__EMSCRIPTEN__)
// In the page the system's converter is the browser's: musl's iconv would
// bring the tables of every CJK code it knows (146 KB) into the page.
// The browser's Shift_JIS is code page 932's, extensions and all.
EM_JS(int, BrowserShiftJis,
      (const char* text, int length, char* utf8, int size), {
        let decoded;
        try {
          decoded = new TextDecoder('shift_jis', {fatal : true})
                        .decode(HEAPU8.subarray(text, text + length));
        } catch (e) {
          return 0;
        }
        const bytes = new TextEncoder().encode(decoded);
        if (bytes.length >= size) return 0;
        HEAPU8.set(bytes, utf8);
        HEAPU8[utf8 + bytes.length] = 0;
        return 1;
      });

bool Convert(const char* text, char* utf8, size_t size) {
  constexpr size_t kMaxRoom = 1 << 30;
  const int room = static_cast<int>(size < kMaxRoom ? size : kMaxRoom);
  return BrowserShiftJis(text, static_cast<int>(std::strlen(text)), utf8,
                         room) != 0;
}
#else
// Opened for each call: glibc loads its converter once (about 0.4 ms), and
// after that opening and closing cost a quarter of a microsecond; so
// nothing stays open and no state is shared.
bool Opened(iconv_t converter) {
  return reinterpret_cast<intptr_t>(converter) != -1;
}

bool Convert(const char* text, char* utf8, size_t size) {
  // glibc knows Windows' extensions as CP932; musl knows only plain
  // Shift_JIS.
  iconv_t converter = iconv_open("UTF-8", "CP932");
  if (!Opened(converter)) converter = iconv_open("UTF-8", "SHIFT_JIS");
  if (!Opened(converter)) return false;
  // iconv takes char** for input it never writes.
  char* in = const_cast<char*>(text);
  size_t in_left = std::strlen(text);
  char* out = utf8;
  size_t out_left = size - 1;  // room for the NUL
  const size_t result = iconv(converter, &in, &in_left, &out, &out_left);
  iconv_close(converter);
  if (result == static_cast<size_t>(-1) || in_left != 0) return false;
  *out = '\0';
  return true;
}
#endif

}  // namespace

bool DecodeShiftJis(const char* text, char* utf8, size_t size) {
  const size_t length = std::strlen(text);
  bool ascii = false;
  if (size == 0 || length > kMaxShiftJisText ||
      !HasShiftJisShape(reinterpret_cast<const unsigned char*>(text), length,
                        &ascii)) {
    return false;
  }
  // ASCII is its own UTF-8; most names are, and need no converter.
  if (ascii) {
    if (length >= size) return false;
    std::memcpy(utf8, text, length + 1);
    return true;
  }
  return Convert(text, utf8, size);
}
