#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

// Tries that many names for the new file before giving up.
constexpr int kAttempts = 100;

#ifdef _WIN32
// Names are UTF-8; the wide calls reach every name whatever the code page.
bool Widen(const char* name, wchar_t* wide, int size) {
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, wide,
                             size) != 0;
}

int CreateNew(const char* name) {
  wchar_t wide[32768];
  if (!Widen(name, wide, 32768)) {
    errno = EINVAL;
    return -1;
  }
  return _wopen(wide, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                _S_IREAD | _S_IWRITE);
}

int ProcessId() { return _getpid(); }

// rename() will not replace an existing file on Windows.
bool Replace(const char* from, const char* to) {
  wchar_t wide_from[32768];
  wchar_t wide_to[32768];
  if (!Widen(from, wide_from, 32768) || !Widen(to, wide_to, 32768)) {
    errno = EINVAL;
    return false;
  }
  if (MoveFileExW(wide_from, wide_to, MOVEFILE_REPLACE_EXISTING) != 0) {
    return true;
  }
  errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
  return false;
}

void RemoveFile(const char* name) {
  wchar_t wide[32768];
  if (Widen(name, wide, 32768)) _wremove(wide);
}

bool Identify(const char* path, bool follow_links, FileId* id) {
  wchar_t wide[32768];
  if (!Widen(path, wide, 32768)) return false;
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS |
                      (follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  const HANDLE handle = CreateFileW(
      wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool got = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  if (!got) return false;
  id->volume = info.dwVolumeSerialNumber;
  id->number = uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
  return true;
}
#else
int CreateNew(const char* name) {
  // Mode 0666 less the umask, as for any file a command creates.
  return open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

int ProcessId() { return static_cast<int>(getpid()); }

bool Replace(const char* from, const char* to) {
  return std::rename(from, to) == 0;
}

void RemoveFile(const char* name) { std::remove(name); }

bool Identify(const char* path, bool follow_links, FileId* id) {
  struct stat info;
  if ((follow_links ? stat(path, &info) : lstat(path, &info)) != 0) {
    return false;
  }
  id->volume = static_cast<uint64_t>(info.st_dev);
  id->number = static_cast<uint64_t>(info.st_ino);
  return true;
}
#endif

}  // namespace

OutputFile::OutputFile()
    : name_(nullptr),
      stream_(nullptr),
      failure_(Failure::kNone),
      error_(0),
      write_error_(0),
      temp_name_() {}

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Create(const char* name, const FileId* keep) {
  Discard();
  name_ = name;
  failure_ = Failure::kNone;
  write_error_ = 0;
  FileId entry;
  if (keep != nullptr && Identify(name, false, &entry) &&
      entry.volume == keep->volume && entry.number == keep->number) {
    Fail(Failure::kKept, 0);
    return false;
  }
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < kAttempts; ++attempt) {
    const int length =
        std::snprintf(temp_name_, sizeof temp_name_, "%s.tmp-%d-%d", name,
                      ProcessId(), attempt);
    if (length < 0 || length >= static_cast<int>(sizeof temp_name_)) {
      temp_name_[0] = '\0';
      Fail(Failure::kCreate, ENAMETOOLONG);
      return false;
    }
    fd = CreateNew(temp_name_);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    temp_name_[0] = '\0';
    Fail(Failure::kCreate, errno);
    return false;
  }
#ifdef _WIN32
  stream_ = _fdopen(fd, "wb");
#else
  stream_ = fdopen(fd, "wb");
#endif
  if (stream_ == nullptr) {
    Fail(Failure::kCreate, errno);
#ifdef _WIN32
    _close(fd);
#else
    close(fd);
#endif
    Discard();
    return false;
  }
  // Callers write whole buffers; a stream buffer would only copy them.
  std::setvbuf(stream_, nullptr, _IONBF, 0);
  return true;
}

bool OutputFile::Write(const void* data, size_t size) {
  if (stream_ == nullptr) return false;
  if (std::fwrite(data, 1, size, stream_) == size) return true;
  if (write_error_ == 0) write_error_ = errno;
  return false;
}

bool OutputFile::Commit() {
  if (stream_ == nullptr) return false;
  errno = 0;
  const bool written = std::fflush(stream_) == 0 && !std::ferror(stream_);
  int cause = write_error_ != 0 ? write_error_ : errno;
  // A file system may report a failed write only when the file is closed.
  const bool closed = std::fclose(stream_) == 0;
  stream_ = nullptr;
  if (written && !closed) cause = errno;
  if (!written || !closed) {
    Fail(Failure::kWrite, cause != 0 ? cause : EIO);
    Discard();
    return false;
  }
  if (!Replace(temp_name_, name_)) {
    Fail(Failure::kReplace, errno);
    Discard();
    return false;
  }
  temp_name_[0] = '\0';
  return true;
}

void OutputFile::Fail(Failure failure, int error) {
  failure_ = failure;
  error_ = error;
}

void OutputFile::Discard() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  if (temp_name_[0] != '\0') {
    RemoveFile(temp_name_);
    temp_name_[0] = '\0';
  }
}

bool IdentifyFile(const char* path, FileId* id) {
  return Identify(path, true, id);
}
