#include "platform/text_out.h"

#include <climits>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

int Utf8Length(const uint8_t* p, int available) {
  int length;
  uint32_t code;
  if (p[0] < 0x80) return 1;
  if (p[0] >= 0xC2 && p[0] <= 0xDF) {
    length = 2;
    code = p[0] & 0x1F;
  } else if (p[0] >= 0xE0 && p[0] <= 0xEF) {
    length = 3;
    code = p[0] & 0x0F;
  } else if (p[0] >= 0xF0 && p[0] <= 0xF4) {
    length = 4;
    code = p[0] & 0x07;
  } else {
    return 0;
  }
  for (int i = 1; i < length; ++i) {
    if (i == available) return -1;
    if ((p[i] & 0xC0) != 0x80) return 0;
    code = code << 6 | (p[i] & 0x3F);
  }
  // Overlong forms, surrogates and values past Unicode are not UTF-8.
  constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kMin[length] || code > 0x10FFFF ||
      (code >= 0xD800 && code <= 0xDFFF)) {
    return 0;
  }
  return length;
}

TextOut::TextOut(std::FILE* out) : out_(out), length_(0), buffer_() {}

TextOut::~TextOut() { Flush(); }

void TextOut::Int(int64_t value) {
  if (value >= 0 && value < 10) {
    Put(static_cast<char>('0' + value));
    return;
  }
  // Two digits at a time: a report prints millions of small numbers.
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233"
      "34353637383940414243444546474849505152535455565758596061626364656667"
      "6869707172737475767778798081828384858687888990919293949596979899";
  char digits[24];
  int at = static_cast<int>(sizeof digits);
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value)
                                 : static_cast<uint64_t>(value);
  while (magnitude >= 100) {
    const uint64_t pair = magnitude % 100;
    magnitude /= 100;
    at -= 2;
    std::memcpy(digits + at, kPairs + 2 * pair, 2);
  }
  if (magnitude >= 10) {
    at -= 2;
    std::memcpy(digits + at, kPairs + 2 * magnitude, 2);
  } else {
    digits[--at] = static_cast<char>('0' + magnitude);
  }
  if (value < 0) digits[--at] = '-';
  for (; at < static_cast<int>(sizeof digits); ++at) Put(digits[at]);
}

void TextOut::Hex2(int value) {
  Put(kHexDigits[(value >> 4) & 0xF]);
  Put(kHexDigits[value & 0xF]);
}

void TextOut::Quoted(const char* text) {
  Put('"');
  Escaped(text, true);
  Put('"');
}

void TextOut::Path(const char* path, bool quoted) {
  if (quoted) Put('"');
  Escaped(path, false);
  if (quoted) Put('"');
}

void TextOut::Json(const char* text) {
  Put('"');
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != '\0') {
    if (PutCharacter(&p)) continue;
    const unsigned char byte = *p++;
    if (byte == '"' || byte == '\\') {
      Put('\\');
      Put(static_cast<char>(byte));
    } else if (byte < 0x20 || byte >= 0x7F) {
      Put("\\u00");
      Hex2(byte);
    } else {
      Put(static_cast<char>(byte));
    }
  }
  Put('"');
}

void TextOut::Xml(const char* text) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != '\0') {
    if (PutCharacter(&p)) continue;
    const unsigned char byte = *p++;
    if (byte == '&') {
      Put("&amp;");
    } else if (byte == '<') {
      Put("&lt;");
    } else if (byte == '>') {
      Put("&gt;");
    } else if (byte < 0x20 || byte >= 0x7F) {
      Put("\\x");
      Hex2(byte);
    } else {
      Put(static_cast<char>(byte));
    }
  }
}

bool TextOut::PutCharacter(const unsigned char** p) {
  const int length = Utf8Length(*p, INT_MAX);
  if (length <= 1) return false;
  for (int i = 0; i < length; ++i) Put(static_cast<char>((*p)[i]));
  *p += length;
  return true;
}

bool TextOut::Flush() {
  if (out_ != nullptr && length_ > 0) {
    std::fwrite(buffer_, 1, static_cast<size_t>(length_), out_);
  }
  length_ = 0;
  return out_ == nullptr || !std::ferror(out_);
}

void TextOut::Escaped(const char* text, bool escape_backslash) {
  for (; *text != '\0'; ++text) {
    const unsigned char byte = static_cast<unsigned char>(*text);
    if (byte < 0x20 || byte == 0x7F || byte == '"' ||
        (byte == '\\' && escape_backslash)) {
      Put("\\x");
      Hex2(byte);
    } else {
      Put(static_cast<char>(byte));
    }
  }
}

void PrintPath(std::FILE* out, const char* path, bool quoted) {
  TextOut text(out);
  text.Path(path, quoted);
}

const char* Grouped(int64_t value, char* text) {
  char digits[24];
  const int length = std::snprintf(digits, sizeof digits, "%lld",
                                   static_cast<long long>(value));
  int out = 0;
  for (int i = 0; i < length; ++i) {
    const int left = length - i;
    if (i > 0 && digits[i - 1] != '-' && left % 3 == 0) text[out++] = ',';
    text[out++] = digits[i];
  }
  text[out] = '\0';
  return text;
}
