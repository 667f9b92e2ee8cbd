// Preloaded into a command by the tests: a stand-in for lstat that, once,
// renames the entry SWAP_WITH over the name it has just looked at when that
// name ends in SWAP_NAME. It makes certain the race between a check and an
// open that another process could only hope to win.

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using Lstat = int (*)(const char*, struct stat*);

void SwapAfterLooking(const char* path) {
  static bool swapped = false;
  const char* name = std::getenv("SWAP_NAME");
  const char* with = std::getenv("SWAP_WITH");
  if (swapped || name == nullptr || with == nullptr) return;
  const char* base = std::strrchr(path, '/');
  if (std::strcmp(base != nullptr ? base + 1 : path, name) != 0) return;
  swapped = true;
  std::rename(with, path);
}

int Look(const char* symbol, const char* path, struct stat* info) {
  const Lstat real = reinterpret_cast<Lstat>(dlsym(RTLD_NEXT, symbol));
  const int result = real(path, info);
  SwapAfterLooking(path);
  return result;
}

}  // namespace

extern "C" int lstat(const char* path, struct stat* info) {
  return Look("lstat", path, info);
}

extern "C" int lstat64(const char* path, struct stat64* info) {
  return Look("lstat64", path, reinterpret_cast<struct stat*>(info));
}
