#include "platform/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/text_out.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#ifdef _WIN32
bool WidenPath(const char* path, wchar_t* wide, int size) {
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide,
                             size) != 0;
}
#endif

namespace {

#ifdef _WIN32
int OpenForReading(const char* path, int64_t* size, int* error) {
  wchar_t wide[kMaxWidePath];
  if (!WidenPath(path, wide, kMaxWidePath)) {
    *error = EINVAL;
    return -1;
  }
  const int fd = _wopen(wide, _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    const DWORD attributes = GetFileAttributesW(wide);
    *error = attributes != INVALID_FILE_ATTRIBUTES &&
                     (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                 ? EISDIR
                 : errno;
    return -1;
  }
  struct _stat64 info = {};
  if (_fstat64(fd, &info) != 0 || (info.st_mode & _S_IFREG) == 0) {
    *error = (info.st_mode & _S_IFDIR) != 0 ? EISDIR : InputFile::kNotRegular;
    _close(fd);
    return -1;
  }
  *size = info.st_size;
  return fd;
}
#else
int OpenForReading(const char* path, int64_t* size, int* error) {
  // O_NONBLOCK keeps the open of a FIFO from waiting for a writer.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = errno;
    return -1;
  }
  struct stat info = {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    *error = S_ISDIR(info.st_mode) ? EISDIR : InputFile::kNotRegular;
    close(fd);
    return -1;
  }
  *size = info.st_size;
  return fd;
}
#endif

}  // namespace

InputFile::~InputFile() { Close(); }

bool InputFile::Open(const char* path) {
  Close();
  error_ = 0;
  size_ = 0;
  fd_ = OpenForReading(path, &size_, &error_);
  return fd_ >= 0;
}

void InputFile::Close() {
  if (fd_ < 0) return;
#ifdef _WIN32
  _close(fd_);
#else
  close(fd_);
#endif
  fd_ = -1;
}

int InputFile::Read(int64_t offset, uint8_t* buf, int len) {
  if (fd_ < 0 || offset < 0 || len <= 0) return 0;
  int got = 0;
  while (got < len) {
#ifdef _WIN32
    // No pread: each read places the file position first.
    const long long n =
        _lseeki64(fd_, offset + got, SEEK_SET) < 0
            ? -1
            : _read(fd_, buf + got, static_cast<unsigned>(len - got));
#else
    const ssize_t n = pread(fd_, buf + got, static_cast<size_t>(len - got),
                            static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
#endif
    if (n < 0) {
      error_ = errno;
      return -1;
    }
    if (n == 0) break;
    got += static_cast<int>(n);
  }
  return got;
}

void PrintInputFailure(std::FILE* err, const char* command, const char* path,
                       int error) {
  std::fprintf(err, "%s: ", command);
  if (error == EISDIR || error == InputFile::kNotRegular) {
    PrintPath(err, path, false);
    std::fputs(
        error == EISDIR ? " is a directory\n" : " is not a regular file\n",
        err);
    return;
  }
  std::fputs("cannot open ", err);
  PrintPath(err, path, false);
  std::fprintf(err, ": %s\n", std::strerror(error));
}

int ReadRegularHead(const char* path, uint8_t* buf, int len) {
#ifdef _WIN32
  wchar_t wide[kMaxWidePath];
  if (!WidenPath(path, wide, kMaxWidePath)) return -1;
  const DWORD attributes = GetFileAttributesW(wide);
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes &
       (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return -1;
  }
#else
  struct stat info;
  if (lstat(path, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
#endif
  InputFile file;
  return file.Open(path) ? file.Read(0, buf, len) : -1;
}
