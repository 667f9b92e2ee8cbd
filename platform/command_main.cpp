#include "platform/command_main.h"

#ifdef _WIN32
#include <windows.h>

namespace {

// A Windows command line holds at most 32,767 UTF-16 units, each at most
// three bytes of UTF-8.
constexpr int kMaxLine = 32768;
char bytes[3 * kMaxLine + kMaxLine];
char* pointers[kMaxLine / 2 + 1];

// Converts `wargv` into static storage; null if an argument is not valid
// UTF-16.
char** Utf8Arguments(int argc, wchar_t** wargv) {
  if (argc < 0 || argc > kMaxLine / 2) return nullptr;
  int used = 0;
  for (int i = 0; i < argc; ++i) {
    const int written = WideCharToMultiByte(
        CP_UTF8, WC_ERR_INVALID_CHARS, wargv[i], -1, bytes + used,
        static_cast<int>(sizeof bytes) - used, nullptr, nullptr);
    if (written == 0) return nullptr;
    pointers[i] = bytes + used;
    used += written;
  }
  pointers[argc] = nullptr;
  return pointers;
}

}  // namespace

// The wide entry point, so that a path reaches the reader whatever the
// system's code page.
int wmain(int argc, wchar_t** wargv) {
  char** argv = Utf8Arguments(argc, wargv);
  return argv != nullptr ? Run(argc, argv) : 1;
}
#else
int main(int argc, char** argv) { return Run(argc, argv); }
#endif
