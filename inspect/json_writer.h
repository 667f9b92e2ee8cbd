// JSON written as it goes: commas and nesting kept track of, strings as
// TextOut::Json escapes them.

#ifndef INSPECT_JSON_WRITER_H_
#define INSPECT_JSON_WRITER_H_

#include <cstddef>
#include <cstdint>

#include "platform/text_out.h"

class JsonWriter {
 public:
  explicit JsonWriter(TextOut* out) : out_(out) {}

  void Begin(char bracket) {  // '{' or '['
    Separate();
    out_->Put(bracket);
    if (depth_ + 1 < kMaxDepth) ++depth_;
    first_[depth_] = true;
  }
  void End(char bracket) {
    out_->Put(bracket);
    if (depth_ > 0) --depth_;
  }
  // `key` is a plain ASCII literal, as every key of this program's
  // documents is: it goes out in one copy.
  template <size_t N>
  void Key(const char (&key)[N]) {
    Separate();
    out_->Put('"');
    out_->PutLiteral(key);
    out_->PutLiteral("\":");
    after_key_ = true;
  }
  void String(const char* text) {
    Separate();
    out_->Json(text);
  }
  void Int(int64_t value) {
    Separate();
    out_->Int(value);
  }
  void Bool(bool value) {
    Separate();
    out_->Put(value ? "true" : "false");
  }
  template <size_t N, typename Value>
  void Field(const char (&key)[N], Value value) {
    Key(key);
    Put(value);
  }
  // A further integer field of an object that has a field already, its
  // key written with the comma and quotes (",\"c\":"): one copy instead of
  // four, for objects written by the hundred thousand.
  template <size_t N>
  void MoreInt(const char (&comma_key)[N], int64_t value) {
    out_->PutLiteral(comma_key);
    out_->Int(value);
  }

 private:
  void Put(const char* text) { String(text); }
  void Put(bool value) { Bool(value); }
  void Put(int value) { Int(value); }
  void Put(int64_t value) { Int(value); }
  void Separate() {
    if (after_key_) {
      after_key_ = false;
    } else if (!first_[depth_]) {
      out_->Put(',');
    }
    first_[depth_] = false;
  }

  static constexpr int kMaxDepth = 16;
  TextOut* out_;
  int depth_ = 0;
  bool after_key_ = false;
  bool first_[kMaxDepth] = {true};
};

#endif  // INSPECT_JSON_WRITER_H_
