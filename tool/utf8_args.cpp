#include "tool/utf8_args.h"

#ifdef _WIN32
#include <windows.h>

namespace {

// A Windows command line holds at most 32,767 UTF-16 units, each at most
// three bytes of UTF-8.
constexpr int kMaxLine = 32768;
char bytes[3 * kMaxLine + kMaxLine];
char* pointers[kMaxLine / 2 + 1];

}  // namespace

bool Utf8Arguments(int argc, wchar_t** wargv, char*** argv) {
  if (argc < 0 || argc > kMaxLine / 2) return false;
  int used = 0;
  for (int i = 0; i < argc; ++i) {
    const int size = static_cast<int>(sizeof bytes) - used;
    const int written =
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wargv[i], -1,
                            bytes + used, size, nullptr, nullptr);
    if (written == 0) return false;
    pointers[i] = bytes + used;
    used += written;
  }
  pointers[argc] = nullptr;
  *argv = pointers;
  return true;
}
#endif
