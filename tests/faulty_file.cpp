// Preloaded into a command by the tests: makes the file whose name ends in
// FAULT_NAME misbehave. With FAULT_BYTE=X, every read that would deliver its
// byte X fails with EIO, as a bad block of a disk does.

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using Pread = ssize_t (*)(int, void*, size_t, off_t);

bool IsTheFile(const char* path) {
  const char* name = std::getenv("FAULT_NAME");
  const size_t length = std::strlen(path);
  return name != nullptr && length >= std::strlen(name) &&
         std::strcmp(path + length - std::strlen(name), name) == 0;
}

bool HitsBadByte(int fd, size_t count, off_t offset) {
  const char* bad = std::getenv("FAULT_BYTE");
  if (bad == nullptr) return false;
  const long long at = std::atoll(bad);
  if (at < offset || at - offset >= static_cast<long long>(count)) {
    return false;
  }
  char link[64];
  char path[4096] = {};
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  return readlink(link, path, sizeof path - 1) > 0 && IsTheFile(path);
}

ssize_t Read(const char* symbol, int fd, void* buf, size_t count,
             off_t offset) {
  if (HitsBadByte(fd, count, offset)) {
    errno = EIO;
    return -1;
  }
  const Pread real = reinterpret_cast<Pread>(dlsym(RTLD_NEXT, symbol));
  return real(fd, buf, count, offset);
}

}  // namespace

extern "C" ssize_t pread(int fd, void* buf, size_t count, off_t offset) {
  return Read("pread", fd, buf, count, offset);
}

extern "C" ssize_t pread64(int fd, void* buf, size_t count, off64_t offset) {
  return Read("pread64", fd, buf, count, static_cast<off_t>(offset));
}
