// Text for people and programs, written through a buffer of its own with
// numbers formatted by hand: a report prints a number for every byte of
// every sector ID, and printf's parsing would cost more than the walk that
// found them. Also the ways bytes from images and command lines are
// escaped, so that they stay on one line and read back unambiguously.

#ifndef PLATFORM_TEXT_OUT_H_
#define PLATFORM_TEXT_OUT_H_

#include <cstdint>
#include <cstdio>
#include <cstring>

class TextOut {
 public:
  // Writes to `out`; a null stream takes the text and discards it.
  explicit TextOut(std::FILE* out);
  ~TextOut();  // flushes
  TextOut(const TextOut&) = delete;
  TextOut& operator=(const TextOut&) = delete;

  // Inline: a report puts a few characters at a time, millions of times.
  void Put(const char* text) {
    const size_t size = std::strlen(text);
    if (length_ + size > static_cast<size_t>(kSize)) {
      while (*text != '\0') Put(*text++);
      return;
    }
    std::memcpy(buffer_ + length_, text, size);
    length_ += static_cast<int>(size);
  }
  // A string literal: its length is known, and the copy is a few moves.
  template <size_t N>
  void PutLiteral(const char (&text)[N]) {
    if (length_ + N - 1 > static_cast<size_t>(kSize)) Flush();
    std::memcpy(buffer_ + length_, text, N - 1);
    length_ += static_cast<int>(N - 1);
  }
  void Put(char c) {
    if (length_ == kSize) Flush();
    buffer_[length_++] = c;
  }
  void Int(int64_t value);
  // `count`, then `one` or `many`: "1 sector", "3 sectors".
  void Count(int64_t count, const char* one, const char* many) {
    Int(count);
    Put(count == 1 ? one : many);
  }
  void Hex2(int value);  // two upper-case hexadecimal digits
  // A disk name in double quotes, with control bytes, quotes and
  // backslashes as \xNN.
  void Quoted(const char* text);
  // A path, in double quotes if `quoted`, with control bytes and quotes as
  // \xNN; backslashes stay, since they separate the parts of Windows paths.
  void Path(const char* path, bool quoted);
  // A JSON string: valid UTF-8 stays, every other byte is the character of
  // its Latin-1 value (\u00XX).
  void Json(const char* text);
  // Text for XML content (not attributes): markup characters as entities,
  // valid UTF-8 as it is, other bytes (controls, stray bytes) as \xNN.
  void Xml(const char* text);

  // Hands the buffered text to the stream; false once the stream failed.
  bool Flush();
  // The stream failed: a report may stop early.
  bool Failed() const { return out_ != nullptr && std::ferror(out_) != 0; }

 private:
  void Escaped(const char* text, bool escape_backslash);
  // Puts the UTF-8 character of two or more bytes at `*p` and moves past
  // it; false, with nothing put, for anything else.
  bool PutCharacter(const unsigned char** p);

  static constexpr int kSize = 4096;
  std::FILE* out_;
  int length_;
  char buffer_[kSize];
};

// Length of the UTF-8 character at `p`, of which `available` bytes are
// there (a NUL ends a string anyway): 0 if it is not UTF-8, -1 if it may be
// but is cut off.
int Utf8Length(const uint8_t* p, int available);

// A path on `out` as TextOut::Path writes it, for one-off messages.
void PrintPath(std::FILE* out, const char* path, bool quoted);

// `value` with its thousands grouped, "368,640", into `text` (at least 32
// bytes); returns `text`.
const char* Grouped(int64_t value, char* text);

#endif  // PLATFORM_TEXT_OUT_H_
