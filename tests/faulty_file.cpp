// Preloaded into a command by the tests: makes the file whose name ends in
// FAULT_NAME misbehave. With FAULT_BYTE=X, every read that would deliver its
// byte X fails with EIO, as a bad block does; with FAULT_SHRINK_ON_OPEN=K,
// its K-th open first cuts it to half its length, as another program could.

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

bool IsTheFile(const char* path) {
  const char* name = std::getenv("FAULT_NAME");
  const size_t length = std::strlen(path);
  return name != nullptr && length >= std::strlen(name) &&
         std::strcmp(path + length - std::strlen(name), name) == 0;
}

// Whether reading `count` bytes at `offset` of `fd` would deliver the
// faulty byte of the file.
bool Faulty(int fd, off_t offset, size_t count) {
  const char* bad = std::getenv("FAULT_BYTE");
  char link[64];
  char path[4096] = {};
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  return bad != nullptr && std::atoll(bad) >= offset &&
         std::atoll(bad) - offset < static_cast<off_t>(count) &&
         readlink(link, path, sizeof path - 1) > 0 && IsTheFile(path);
}

}  // namespace

extern "C" ssize_t pread(int fd, void* buf, size_t count, off_t offset) {
  if (Faulty(fd, offset, count)) {
    errno = EIO;
    return -1;
  }
  using Pread = ssize_t (*)(int, void*, size_t, off_t);
  return reinterpret_cast<Pread>(dlsym(RTLD_NEXT, "pread"))(fd, buf, count,
                                                            offset);
}

// The kernel's copy meets the bad block as a read would.
extern "C" ssize_t copy_file_range(int in, off_t* in_offset, int out,
                                   off_t* out_offset, size_t count,
                                   unsigned flags) {
  if (Faulty(in, in_offset != nullptr ? *in_offset : lseek(in, 0, SEEK_CUR),
             count)) {
    errno = EIO;
    return -1;
  }
  using Copy = ssize_t (*)(int, off_t*, int, off_t*, size_t, unsigned);
  return reinterpret_cast<Copy>(dlsym(RTLD_NEXT, "copy_file_range"))(
      in, in_offset, out, out_offset, count, flags);
}

extern "C" int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode =
      (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(args, mode_t) : 0;
  va_end(args);
  static int opens = 0;
  const char* shrink = std::getenv("FAULT_SHRINK_ON_OPEN");
  struct stat info;
  if (shrink != nullptr && IsTheFile(path) && ++opens == std::atoi(shrink) &&
      stat(path, &info) == 0) {
    truncate(path, info.st_size / 2);
  }
  using Open = int (*)(const char*, int, ...);
  return reinterpret_cast<Open>(dlsym(RTLD_NEXT, "open"))(path, flags, mode);
}
