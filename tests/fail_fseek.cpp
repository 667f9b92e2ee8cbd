// Preloaded into a command by the tests: a stand-in for fseek that fails
// every seek, as a stream that cannot seek would, so that the command's
// path for a failed seek runs.

#include <cerrno>
#include <cstdio>

extern "C" int fseek(std::FILE*, long, int) {
  errno = ESPIPE;
  return -1;
}
