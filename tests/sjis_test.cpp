#include "platform/sjis.h"

#include <string>

#include "gtest/gtest.h"

namespace {

TEST(ShiftJisTest, DecodesNamesToUtf8) {
  const std::string kanji_16 =
      "\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x83\x51"
      "\x81\x5B\x83\x80\x82\x50";  // 16 bytes
  const struct {
    const char* what;
    std::string name;
    size_t room;
    bool valid;
    std::string utf8;
  } cases[] = {
      {"ASCII", "GAME DISK", 64, true, "GAME DISK"},
      {"backslash and tilde stay", "A\\B~C", 64, true, "A\\B~C"},
      {"empty", "", 1, true, ""},
      {"katakana", "\x83\x51\x81\x5B\x83\x80", 64, true, "ゲーム"},
      {"kanji and digits", kanji_16, 64, true, "日本語のゲーム１"},
      {"half-width katakana", "\xB1\xB2\xB3 \xDE", 64, true, "ｱｲｳ ﾞ"},
      {"mixed", "DISK\x82\x50 B", 64, true, "DISK１ B"},
      {"control bytes pass", "A\x01\x83\x51\x7F", 64, true, "A\x01ゲ\x7F"},
      {"exact fit", "\x83\x51\x81\x5B\x83\x80", 10, true, "ゲーム"},
      {"a byte short", "\x83\x51\x81\x5B\x83\x80", 9, false, ""},
      {"ASCII a byte short", "ABC", 3, false, ""},
      {"no room at all", "", 0, false, ""},
      {"lone 0x80", "A\x80", 64, false, ""},
      {"lone 0xA0", "\xA0", 64, false, ""},
      {"lead 0xFD", "\xFD\x40", 64, false, ""},
      {"lead byte at the end", "AB\x83", 64, false, ""},
      {"trail byte below 0x40", "\x83\x20", 64, false, ""},
      {"trail byte 0x7F", "\x83\x7F", 64, false, ""},
      {"unassigned code", "\x85\x40", 64, false, ""},
      {"too long", std::string(kMaxShiftJisText + 1, 'A'), 1024, false, ""},
  };
  for (const auto& [what, name, room, valid, utf8] : cases) {
    std::string out(room + 1, '#');
    EXPECT_EQ(DecodeShiftJis(name.c_str(), &out[0], room), valid) << what;
    EXPECT_EQ(out[room], '#') << what << ": written past the buffer";
    if (valid) {
      EXPECT_EQ(out.c_str(), utf8) << what;
    }
  }
}

}  // namespace
