#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <initializer_list>

#include "platform/text_out.h"

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
// The longest name most file systems take for one directory entry.
constexpr size_t kMaxComponent = 255;
// The new file's name: "." + the name, cut to fit, + "." + six characters.
constexpr size_t kTempExtra = 8;
// Causes that no errno value says well.
constexpr int kBlockDevice = -1;
constexpr int kNoReader = -2;

// The new file in progress, for the signal handlers: set before the file
// is created and cleared once it is renamed or removed.
volatile std::sig_atomic_t pending_set = 0;

// Builds the new file's name for `name` in the same directory, with
// `attempt` in its last characters; false if it does not fit `size`.
bool TempName(const char* name, int attempt, int process, char* temp,
              size_t size) {
  const char* base = name;
  for (const char* p = name; *p != '\0'; ++p) {
#ifdef _WIN32
    if (*p == '\\' || *p == ':') base = p + 1;
#endif
    if (*p == '/') base = p + 1;
  }
  const size_t dir = static_cast<size_t>(base - name);
  size_t cut = std::strlen(base);
  if (cut > kMaxComponent - kTempExtra) cut = kMaxComponent - kTempExtra;
  // Never between the bytes of one UTF-8 character.
  while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80) {
    --cut;
  }
  const unsigned tag =
      static_cast<unsigned>(process) * 100u + static_cast<unsigned>(attempt);
  const int length =
      std::snprintf(temp, size, "%.*s.%.*s.%06x", static_cast<int>(dir), name,
                    static_cast<int>(cut), base, tag & 0xFFFFFF);
  return length > 0 && static_cast<size_t>(length) < size;
}

#ifdef _WIN32
wchar_t pending_wide[32768];

// Names are UTF-8; the wide calls reach every name whatever the code page.
bool Widen(const char* name, wchar_t* wide, int size) {
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, wide,
                             size) != 0;
}

BOOL WINAPI OnConsoleEvent(DWORD) {
  if (pending_set) DeleteFileW(pending_wide);
  return FALSE;  // and let the process end as it would
}

void InstallHandlers() {
  static bool installed = false;
  if (!installed) SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  installed = true;
}

int ProcessId() { return _getpid(); }

int CreateNew(const char* name) {
  wchar_t wide[32768];
  if (!Widen(name, wide, 32768)) {
    errno = EINVAL;
    return -1;
  }
  std::memcpy(pending_wide, wide, sizeof pending_wide);
  pending_set = 1;
  const int fd = _wopen(wide, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                        _S_IREAD | _S_IWRITE);
  if (fd < 0) pending_set = 0;
  return fd;
}

// The errno value POSIX gives for what Windows reports, so that messages
// read the same on both.
int ErrnoOf(DWORD error, const wchar_t* target) {
  switch (error) {
    case ERROR_ACCESS_DENIED: {
      const DWORD attributes = GetFileAttributesW(target);
      return attributes != INVALID_FILE_ATTRIBUTES &&
                     (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                 ? EISDIR
                 : EACCES;
    }
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EBUSY;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    default:
      return EIO;
  }
}

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
  errno = ErrnoOf(GetLastError(), wide_to);
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

// NUL, CON and the like, with or without an extension, in any directory.
bool IsDeviceName(const char* name) {
  const char* base = name;
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p == '\\' || *p == '/' || *p == ':') base = p + 1;
  }
  for (const char* device : {"NUL", "CON"}) {
    if (_strnicmp(base, device, 3) == 0 && (base[3] == '\0' || base[3] == '.'))
      return true;
  }
  return false;
}
#else
char pending[4096 + 16];

void OnSignal(int signal) {
  if (pending_set) unlink(pending);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void InstallHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action = {};
    struct sigaction old = {};
    // A signal the caller ignores (nohup) stays ignored.
    if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) {
      continue;
    }
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
  }
}

int ProcessId() { return static_cast<int>(getpid()); }

int CreateNew(const char* name) {
  std::snprintf(pending, sizeof pending, "%s", name);
  pending_set = 1;
  // Mode 0666 less the umask, as for any file a command creates.
  const int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) pending_set = 0;
  return fd;
}

bool Replace(const char* from, const char* to) {
  return std::rename(from, to) == 0;
}

void RemoveFile(const char* name) { unlink(name); }

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

void CloseFd(int fd) {
#ifdef _WIN32
  _close(fd);
#else
  close(fd);
#endif
}

}  // namespace

OutputFile::OutputFile()
    : name_(nullptr),
      stream_(nullptr),
      mode_(Mode::kNone),
      failure_(Failure::kNone),
      error_(0),
      write_error_(0),
      keep_mode_(false),
      old_mode_(0),
      old_owner_(-1),
      old_group_(-1),
      temp_name_() {}

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Create(const char* name, const FileId* keep) {
  Discard();
  name_ = name;
  failure_ = Failure::kNone;
  error_ = 0;
  write_error_ = 0;
  keep_mode_ = false;
  mode_ = Mode::kReplace;
#ifdef _WIN32
  FileId entry;
  if (keep != nullptr && Identify(name, false, &entry) &&
      entry.volume == keep->volume && entry.number == keep->number) {
    return Fail(Failure::kKept, 0);
  }
  wchar_t wide[32768];
  if (!Widen(name, wide, 32768)) return Fail(Failure::kCreate, EINVAL);
  if (IsDeviceName(name)) {
    mode_ = Mode::kThrough;
    std::FILE* device = _wfopen(wide, L"wb");
    if (device == nullptr) return Fail(Failure::kCreate, errno);
    stream_ = device;
    std::setvbuf(stream_, nullptr, _IONBF, 0);
    return true;
  }
  const DWORD attributes = GetFileAttributesW(wide);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      return Fail(Failure::kCreate, EISDIR);
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) {
      return Fail(Failure::kCreate, EACCES);
    }
  }
#else
  struct stat info;
  if (lstat(name, &info) == 0) {
    if (keep != nullptr && static_cast<uint64_t>(info.st_dev) == keep->volume &&
        static_cast<uint64_t>(info.st_ino) == keep->number) {
      return Fail(Failure::kKept, 0);
    }
    struct stat target = info;
    const bool link = S_ISLNK(info.st_mode);
    if (link && stat(name, &target) != 0) target = info;
    if (S_ISCHR(target.st_mode) || S_ISFIFO(target.st_mode)) {
      // Written through; a FIFO without a reader fails instead of blocking.
      mode_ = Mode::kThrough;
      const int fd = open(name, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) {
        return Fail(Failure::kCreate, errno == ENXIO ? kNoReader : errno);
      }
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      return Open(fd);
    }
    if (!link && S_ISDIR(info.st_mode)) return Fail(Failure::kCreate, EISDIR);
    if (!link && S_ISBLK(info.st_mode)) {
      return Fail(Failure::kCreate, kBlockDevice);
    }
    if (!link && S_ISREG(info.st_mode)) {
      if (access(name, W_OK) != 0) return Fail(Failure::kCreate, errno);
      keep_mode_ = true;
      old_mode_ = info.st_mode & 07777;
      old_owner_ = info.st_uid;
      old_group_ = info.st_gid;
    }
  }
#endif
  InstallHandlers();
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < kAttempts; ++attempt) {
    if (!TempName(name, attempt, ProcessId(), temp_name_, sizeof temp_name_)) {
      temp_name_[0] = '\0';
      return Fail(Failure::kCreate, ENAMETOOLONG);
    }
    fd = CreateNew(temp_name_);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    const int cause = errno;
    temp_name_[0] = '\0';
#ifndef _WIN32
    // The directory refuses new files, but the file takes writes.
    if ((cause == EACCES || cause == EPERM) && keep_mode_) {
      mode_ = Mode::kInPlace;
      const int in_place =
          open(name, O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
      if (in_place >= 0) return Open(in_place);
    }
#endif
    return Fail(Failure::kCreate, cause);
  }
#ifndef _WIN32
  if (keep_mode_) {
    // The owner first: changing it clears the set-ID bits that the mode
    // then restores. A process that may not give the file away keeps it.
    if (fchown(fd, static_cast<uid_t>(old_owner_),
               static_cast<gid_t>(old_group_)) != 0) {
      old_mode_ &= ~static_cast<unsigned>(S_ISUID | S_ISGID);
    }
    fchmod(fd, static_cast<mode_t>(old_mode_));
  }
#endif
  return Open(fd);
}

bool OutputFile::Open(int fd) {
#ifdef _WIN32
  stream_ = _fdopen(fd, "wb");
#else
  stream_ = fdopen(fd, "wb");
#endif
  if (stream_ == nullptr) {
    const int cause = errno;
    CloseFd(fd);
    Discard();
    return Fail(Failure::kCreate, cause);
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

bool OutputFile::WriteAt(int64_t offset, const void* data, size_t size) {
  if (stream_ == nullptr) return false;
#ifdef _WIN32
  const bool placed = _fseeki64(stream_, offset, SEEK_SET) == 0;
#else
  const bool placed =
      fseeko(stream_, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
  if (!placed) {
    if (write_error_ == 0) write_error_ = errno;
    return false;
  }
  return Write(data, size);
}

bool OutputFile::Abandon(int error) {
  Discard();
  return Fail(Failure::kWrite, error != 0 ? error : EIO);
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
    Discard();
    return Fail(Failure::kWrite, cause != 0 ? cause : EIO);
  }
  if (mode_ == Mode::kReplace && !Replace(temp_name_, name_)) {
    const int replace_error = errno;
    Discard();
    return Fail(Failure::kReplace, replace_error);
  }
  pending_set = 0;
  temp_name_[0] = '\0';
  return true;
}

void OutputFile::Report(std::FILE* err, const char* command) const {
  std::fprintf(err, "%s: ", command);
  if (failure_ == Failure::kKept) {
    std::fputs("will not replace ", err);
    PrintPath(err, name_, false);
    std::fputs(": it is the image\n", err);
    return;
  }
  std::fputs(failure_ == Failure::kWrite ? "cannot write " : "cannot create ",
             err);
  PrintPath(err, name_, false);
  const char* reason = error_ == kBlockDevice ? "it is a block device"
                       : error_ == kNoReader  ? "no process reads the FIFO"
                                              : std::strerror(error_);
  std::fprintf(err, ": %s\n", reason);
}

bool OutputFile::Fail(Failure failure, int error) {
  failure_ = failure;
  error_ = error;
  return false;
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
  pending_set = 0;
}

bool IdentifyFile(const char* path, FileId* id) {
  return Identify(path, true, id);
}
