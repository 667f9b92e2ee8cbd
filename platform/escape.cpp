#include "platform/escape.h"

namespace {

void PutEscaped(std::FILE* out, const char* text, bool escape_backslash) {
  for (const char* p = text; *p != '\0'; ++p) {
    const unsigned char byte = static_cast<unsigned char>(*p);
    if (byte < 0x20 || byte == 0x7F || byte == '"' ||
        (byte == '\\' && escape_backslash)) {
      std::fprintf(out, "\\x%02X", byte);
    } else {
      std::fputc(byte, out);
    }
  }
}

}  // namespace

void PrintQuoted(std::FILE* out, const char* text) {
  std::fputc('"', out);
  PutEscaped(out, text, true);
  std::fputc('"', out);
}

void PrintPath(std::FILE* out, const char* path, bool quoted) {
  if (quoted) std::fputc('"', out);
  PutEscaped(out, path, false);
  if (quoted) std::fputc('"', out);
}
