// Disk names in the code of the machines that wrote them: Shift_JIS, as
// Windows' code page 932 extends it, turned into UTF-8 by the system's own
// converter (iconv, the Windows API, or the browser's in the page).

#ifndef PLATFORM_SJIS_H_
#define PLATFORM_SJIS_H_

#include <cstddef>

// The longest text DecodeShiftJis takes, in bytes; disk names have 16.
constexpr size_t kMaxShiftJisText = 255;

// Converts the NUL-terminated Shift_JIS `text` to UTF-8 in `utf8` (`size`
// bytes, NUL included). False, with `utf8` unspecified, when `text` is not
// Shift_JIS, is longer than kMaxShiftJisText, or its UTF-8 does not fit;
// the caller then shows the bytes another way. Control bytes pass through
// unchanged, for the caller to escape. Keeps no state between calls.
// Code page 932's additions to Shift_JIS (circled numbers, the IBM kanji,
// the user-defined area) decode with glibc, on Windows and in the browser.
bool DecodeShiftJis(const char* text, char* utf8, size_t size);

#endif  // PLATFORM_SJIS_H_
