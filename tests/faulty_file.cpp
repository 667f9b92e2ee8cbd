// Preloaded into a command by the tests: makes the file whose name ends in
// FAULT_NAME misbehave. With FAULT_BYTE=X, every read that would deliver its
// byte X fails with EIO, as a bad block of a disk does; with
// FAULT_SHRINK_ON_OPEN=K, its K-th open first cuts it to half its length,
// as another program could at any time.

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using Pread = ssize_t (*)(int, void*, size_t, off_t);
using Open = int (*)(const char*, int, ...);

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

int OpenFile(const char* symbol, const char* path, int flags, mode_t mode) {
  static int opens = 0;
  const char* shrink = std::getenv("FAULT_SHRINK_ON_OPEN");
  struct stat info;
  if (shrink != nullptr && IsTheFile(path) && ++opens == std::atoi(shrink) &&
      stat(path, &info) == 0) {
    truncate(path, info.st_size / 2);
  }
  const Open real = reinterpret_cast<Open>(dlsym(RTLD_NEXT, symbol));
  return real(path, flags, mode);
}

mode_t ModeOf(int flags, va_list args) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(args, mode_t) : 0;
}

}  // namespace

extern "C" int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeOf(flags, args);
  va_end(args);
  return OpenFile("open", path, flags, mode);
}

extern "C" int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeOf(flags, args);
  va_end(args);
  return OpenFile("open64", path, flags, mode);
}

extern "C" ssize_t pread(int fd, void* buf, size_t count, off_t offset) {
  return Read("pread", fd, buf, count, offset);
}

extern "C" ssize_t pread64(int fd, void* buf, size_t count, off64_t offset) {
  return Read("pread64", fd, buf, count, static_cast<off_t>(offset));
}
