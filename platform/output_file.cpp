#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
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
constexpr size_t kMaxName = 4096 + 16;
// New files in progress at once: an output and a scratch copy, or a spool.
constexpr int kMaxPending = 4;

// The new files in progress, for the signal handlers: a slot's name is set
// before `used`, and `used` is cleared before the name changes.
struct Pending {
  volatile std::sig_atomic_t used;
  char name[kMaxName];
#ifdef _WIN32
  wchar_t wide[kMaxName];
#endif
};
Pending pending[kMaxPending];

void RemovePending() {
  for (Pending& slot : pending) {
    if (!slot.used) continue;
#ifdef _WIN32
    DeleteFileW(slot.wide);
#else
    unlink(slot.name);
#endif
  }
}

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

// What lies at a name an output is about to write.
enum class Kind {
  kNone,         // nothing, or a link to something that is replaced
  kRegular,      // a regular file
  kDirectory,    // never written
  kBlock,        // a block device: never written
  kThrough,      // a character device or FIFO, written through
  kLinkThrough,  // a symbolic link to one
  // "-", or a name for the pipe, device or file standard output goes to:
  // written through standard output itself, so that what the command
  // prints there cannot land inside the bytes.
  kStandardOutput,
  kSystemLink,  // a link the system keeps, to a file: never replaced
};

}  // namespace

namespace {

// What Look found at a name.
struct Entry {
  Kind kind;
  FileId id;      // the entry itself, not what a link points to
  FileId target;  // what opening the name reaches: a link's target
  bool writable;  // kRegular: the user may write it
#ifndef _WIN32
  // kLinkThrough: the link leads to a regular file, as /dev/stdout does
  // when standard output goes to one; it is written at its end.
  bool to_file;
  struct stat seen;  // the entry; for kLinkThrough, the link
#endif
};

#ifdef _WIN32
int ProcessId() { return _getpid(); }

BOOL WINAPI OnConsoleEvent(DWORD) {
  RemovePending();
  return FALSE;  // and let the process end as it would
}

void InstallHandlers() {
  static bool installed = false;
  if (!installed) SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  installed = true;
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

bool Identify(const char* path, bool follow_links, FileId* id) {
  wchar_t wide[kMaxWidePath];
  if (!WidenPath(path, wide, kMaxWidePath)) return false;
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

// Windows has no FIFOs or device files in its directories, and links to
// them are not followed: only the reserved device names are written
// through.
void Look(const char* name, Entry* entry) {
  *entry = {Kind::kNone, {0, 0}, {0, 0}, false};
  wchar_t wide[kMaxWidePath];
  if (std::strcmp(name, "-") == 0) {
    entry->kind = Kind::kStandardOutput;
    return;
  }
  if (IsDeviceName(name)) {
    entry->kind = Kind::kThrough;
    return;
  }
  if (!WidenPath(name, wide, kMaxWidePath)) return;
  const DWORD attributes = GetFileAttributesW(wide);
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  Identify(name, false, &entry->id);
  Identify(name, true, &entry->target);
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    entry->kind = Kind::kDirectory;
  } else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    entry->kind = Kind::kRegular;
    entry->writable = (attributes & FILE_ATTRIBUTE_READONLY) == 0;
  }
}

int OpenThrough(const char* name, const Entry&, int* error) {
  wchar_t wide[kMaxWidePath];
  if (!WidenPath(name, wide, kMaxWidePath)) {
    *error = EINVAL;
    return -1;
  }
  const int fd = _wopen(wide, _O_WRONLY | _O_BINARY);
  if (fd < 0) *error = errno;
  return fd;
}

int CreateNew(const char* name, int slot, bool) {
  Pending& entry = pending[slot];
  if (!WidenPath(name, entry.wide, static_cast<int>(kMaxName))) {
    errno = EINVAL;
    return -1;
  }
  std::snprintf(entry.name, sizeof entry.name, "%s", name);
  const int fd = _wopen(entry.wide, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                        _S_IREAD | _S_IWRITE);
  // Only a file of ours is registered: a signal never removes another's.
  if (fd >= 0) entry.used = 1;
  return fd;
}

// The directory refuses new files: nothing else can be done on Windows.
int OpenInPlace(const char*, const Entry&, int* error) {
  *error = EACCES;
  return -1;
}

void KeepOwnerAndMode(int, const Entry&) {}

// rename() will not replace an existing file on Windows.
bool Replace(const char* from, const char* to) {
  wchar_t wide_from[kMaxWidePath];
  wchar_t wide_to[kMaxWidePath];
  if (!WidenPath(from, wide_from, kMaxWidePath) ||
      !WidenPath(to, wide_to, kMaxWidePath)) {
    errno = EINVAL;
    return false;
  }
  if (MoveFileExW(wide_from, wide_to, MOVEFILE_REPLACE_EXISTING) != 0) {
    return true;
  }
  errno = ErrnoOf(GetLastError(), wide_to);
  return false;
}

void CloseFd(int fd) { _close(fd); }

std::FILE* StreamOf(int fd) { return _fdopen(fd, "wb"); }

int TempDirectory(char* path, size_t size) {
  wchar_t wide[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, wide);
  if (length == 0 || length > MAX_PATH) return 0;
  return WideCharToMultiByte(CP_UTF8, 0, wide, -1, path, static_cast<int>(size),
                             nullptr, nullptr);
}
#else
int ProcessId() { return static_cast<int>(getpid()); }

void OnSignal(int signal) {
  RemovePending();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void InstallHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
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
  // A file-size limit then fails the write (EFBIG), and the new file is
  // removed as after any failed write.
  std::signal(SIGXFSZ, SIG_IGN);
}

bool Identify(const char* path, bool follow_links, FileId* id) {
  struct stat info;
  if ((follow_links ? stat(path, &info) : lstat(path, &info)) != 0) {
    return false;
  }
  id->volume = static_cast<uint64_t>(info.st_dev);
  id->number = static_cast<uint64_t>(info.st_ino);
  return true;
}

bool SameNode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino &&
         (a.st_mode & S_IFMT) == (b.st_mode & S_IFMT);
}

bool IsThrough(const struct stat& info) {
  return S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode);
}

FileId IdOf(const struct stat& info) {
  return {static_cast<uint64_t>(info.st_dev),
          static_cast<uint64_t>(info.st_ino)};
}

// Under /dev and /proc, links are the system's: never files to replace.
bool IsSystemName(const char* name) {
  return std::strncmp(name, "/dev/", 5) == 0 ||
         std::strncmp(name, "/proc/", 6) == 0;
}

// The system's names of the process's own streams, which may lead to a
// file that a redirection opened: /dev/stderr, /dev/fd/2, /proc/self/fd/2.
bool IsStreamName(const char* name) {
  if (std::strcmp(name, "/dev/stdout") == 0 ||
      std::strcmp(name, "/dev/stderr") == 0) {
    return true;
  }
  const char* digits = std::strncmp(name, "/dev/fd/", 8) == 0 ? name + 8
                       : std::strncmp(name, "/proc/self/fd/", 14) == 0
                           ? name + 14
                           : nullptr;
  if (digits == nullptr || *digits == '\0') return false;
  while (*digits >= '0' && *digits <= '9') ++digits;
  return *digits == '\0';
}

// A FIFO, pipe or file that standard output goes to: the bytes go through
// standard output itself, since a second opening would write over or
// between what the command prints. A device takes both as they come.
bool GoesToStandardOutput(const struct stat& target) {
  struct stat out;
  return !S_ISCHR(target.st_mode) && fstat(STDOUT_FILENO, &out) == 0 &&
         SameFile(IdOf(out), IdOf(target));
}

// A link is replaced, not followed, unless it leads to a device or FIFO,
// or is the system's name of a stream; a link to a directory or a block
// device is refused as they are.
void LookThroughLink(const char* name, Entry* entry) {
  struct stat target;
  if (stat(name, &target) != 0) return;
  entry->target = IdOf(target);
  if (S_ISDIR(target.st_mode)) {
    entry->kind = Kind::kDirectory;
  } else if (S_ISBLK(target.st_mode)) {
    entry->kind = Kind::kBlock;
  } else if (IsThrough(target)) {
    entry->kind = GoesToStandardOutput(target) ? Kind::kStandardOutput
                                               : Kind::kLinkThrough;
  } else if (IsSystemName(name)) {
    entry->to_file = IsStreamName(name);
    entry->kind = !entry->to_file ? Kind::kSystemLink
                  : GoesToStandardOutput(target) ? Kind::kStandardOutput
                                                 : Kind::kLinkThrough;
  }
}

void Look(const char* name, Entry* entry) {
  *entry = {Kind::kNone, {0, 0}, {0, 0}, false, false, {}};
  if (std::strcmp(name, "-") == 0) {
    struct stat out;
    entry->kind = Kind::kStandardOutput;
    if (fstat(STDOUT_FILENO, &out) == 0) entry->target = IdOf(out);
    return;
  }
  struct stat& seen = entry->seen;
  if (lstat(name, &seen) != 0) return;
  entry->id = entry->target = IdOf(seen);
  if (S_ISLNK(seen.st_mode)) {
    LookThroughLink(name, entry);
  } else if (IsThrough(seen)) {
    entry->kind =
        GoesToStandardOutput(seen) ? Kind::kStandardOutput : Kind::kThrough;
  } else if (S_ISDIR(seen.st_mode)) {
    entry->kind = Kind::kDirectory;
  } else if (S_ISBLK(seen.st_mode)) {
    entry->kind = Kind::kBlock;
  } else if (S_ISREG(seen.st_mode)) {
    entry->kind = Kind::kRegular;
    entry->writable = access(name, W_OK) == 0;
  }
}

// Opens the device or FIFO `entry` found at `name`, and makes sure that
// what is open is what was looked at: a name swapped in between would send
// the bytes elsewhere. A link is followed only when root or this user owns
// it, as Linux follows links in shared directories.
int OpenThrough(const char* name, const Entry& entry, int* error) {
  const bool link = entry.kind == Kind::kLinkThrough;
  if (link && entry.seen.st_uid != 0 && entry.seen.st_uid != geteuid()) {
    *error = OutputFile::kForeignLink;
    return -1;
  }
  const int fd =
      open(name, O_WRONLY | O_NONBLOCK | O_CLOEXEC | (link ? 0 : O_NOFOLLOW) |
                     (entry.to_file ? O_APPEND : 0));
  if (fd < 0) {
    *error = errno == ENXIO ? OutputFile::kNoReader
             : errno == ELOOP ? OutputFile::kChanged
                              : errno;
    return -1;
  }
  struct stat opened;
  struct stat entry_now;
  struct stat target_now;
  const bool same =
      fstat(fd, &opened) == 0 &&
      (IsThrough(opened) || (entry.to_file && S_ISREG(opened.st_mode))) &&
      (link ? lstat(name, &entry_now) == 0 && SameNode(entry_now, entry.seen) &&
                  stat(name, &target_now) == 0 && SameNode(target_now, opened)
            : SameNode(opened, entry.seen));
  if (!same) {
    close(fd);
    *error = OutputFile::kChanged;
    return -1;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// A new file gets mode 0666 less the umask, as any file a command creates;
// one that replaces a file, or holds a copy, is private until it takes the
// old file's mode, so that nobody opens it meanwhile.
int CreateNew(const char* name, int slot, bool private_mode) {
  std::snprintf(pending[slot].name, kMaxName, "%s", name);
  const int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                      private_mode ? 0600 : 0666);
  // Only a file of ours is registered: a signal never removes another's.
  if (fd >= 0) pending[slot].used = 1;
  return fd;
}

// Opens the regular file `entry` found at `name` to write it in place, and
// empties it only once it is known to be that file.
int OpenInPlace(const char* name, const Entry& entry, int* error) {
  const int fd = open(name, O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    *error = errno == ELOOP ? OutputFile::kChanged : errno;
    return -1;
  }
  struct stat opened;
  if (fstat(fd, &opened) != 0 || !SameNode(opened, entry.seen)) {
    close(fd);
    *error = OutputFile::kChanged;
    return -1;
  }
  if (ftruncate(fd, 0) != 0) {
    *error = errno;
    close(fd);
    return -1;
  }
  return fd;
}

// The owner first: changing it clears the set-ID bits that the mode then
// restores. A process that may not give the file away keeps it.
void KeepOwnerAndMode(int fd, const Entry& entry) {
  mode_t mode = entry.seen.st_mode & 07777;
  if (fchown(fd, entry.seen.st_uid, entry.seen.st_gid) != 0) {
    mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
  }
  fchmod(fd, mode);
}

bool Replace(const char* from, const char* to) {
  return std::rename(from, to) == 0;
}

void CloseFd(int fd) { close(fd); }

std::FILE* StreamOf(int fd) { return fdopen(fd, "wb"); }

int TempDirectory(char* path, size_t size) {
  const char* dir = std::getenv("TMPDIR");
  if (dir == nullptr || dir[0] == '\0') dir = "/tmp";
  const int length = std::snprintf(path, size, "%s/", dir);
  return length > 0 && static_cast<size_t>(length) < size ? length : 0;
}
#endif

int FreeSlot() {
  for (int slot = 0; slot < kMaxPending; ++slot) {
    if (!pending[slot].used) return slot;
  }
  return -1;
}

// Creates a new file named after `name` in its directory, registered in
// `slot`; -1 with errno set when none can be created.
int CreateTemp(const char* name, int slot, bool private_mode) {
  char temp[kMaxName];
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < kAttempts; ++attempt) {
    if (!TempName(name, attempt, ProcessId(), temp, sizeof temp)) {
      errno = ENAMETOOLONG;
      return -1;
    }
    fd = CreateNew(temp, slot, private_mode);
    if (fd < 0 && errno != EEXIST) break;
  }
  return fd;
}

// What the bytes would reach is one of `keep`: the entry, or what a link
// that is followed leads to. A link that is replaced leaves its target be.
bool IsKept(const Entry& entry, const FileId* keep, int count) {
  const bool followed =
      entry.kind == Kind::kLinkThrough || entry.kind == Kind::kStandardOutput;
  for (int i = 0; keep != nullptr && i < count; ++i) {
    if ((entry.kind != Kind::kNone && SameFile(entry.id, keep[i])) ||
        (followed && SameFile(entry.target, keep[i]))) {
      return true;
    }
  }
  return false;
}

void Release(int* slot) {
  if (*slot < 0) return;
#ifdef _WIN32
  _wremove(pending[*slot].wide);
#else
  unlink(pending[*slot].name);
#endif
  pending[*slot].used = 0;
  *slot = -1;
}

// Where copies pass through: one at a time, never at once.
uint8_t block[1 << 16];

}  // namespace

bool IdentifyFile(const char* path, FileId* id) {
  return Identify(path, true, id);
}

bool IsStandardOutput(const char* name) {
  Entry entry;
  Look(name, &entry);
  return entry.kind == Kind::kStandardOutput;
}

bool SameFile(const FileId& a, const FileId& b) {
  return a.volume == b.volume && a.number == b.number;
}

OutputFile::OutputFile()
    : name_(nullptr),
      stream_(nullptr),
      mode_(Mode::kNone),
      failure_(Failure::kNone),
      error_(0),
      write_error_(0),
      pending_(-1) {}

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Create(const char* name, const FileId* keep, int keep_count) {
  Discard();
  name_ = name;
  failure_ = Failure::kNone;
  error_ = 0;
  write_error_ = 0;
  InstallHandlers();
  Entry entry;
  Look(name, &entry);
  if (IsKept(entry, keep, keep_count)) return Fail(Failure::kKept, 0);
  int cause = 0;
  switch (entry.kind) {
    case Kind::kStandardOutput:
      return UseStandardOutput();
    case Kind::kThrough:
    case Kind::kLinkThrough: {
      // What the process's own streams hold goes first: /dev/stdout may be
      // where they go too.
      std::fflush(nullptr);
      mode_ = Mode::kThrough;
      const int fd = OpenThrough(name, entry, &cause);
      return fd >= 0 ? OpenStream(fd) : Fail(Failure::kCreate, cause);
    }
    case Kind::kDirectory:
      return Fail(Failure::kCreate, EISDIR);
    case Kind::kBlock:
      return Fail(Failure::kCreate, kBlockDevice);
    case Kind::kSystemLink:
      return Fail(Failure::kCreate, kSystemLink);
    case Kind::kRegular:
      if (!entry.writable) return Fail(Failure::kCreate, EACCES);
      break;
    case Kind::kNone:
      break;
  }
  mode_ = Mode::kReplace;
  const int slot = FreeSlot();
  const int fd =
      slot >= 0 ? CreateTemp(name, slot, entry.kind == Kind::kRegular) : -1;
  if (fd >= 0) {
    pending_ = slot;
    if (entry.kind == Kind::kRegular) KeepOwnerAndMode(fd, entry);
    return OpenStream(fd);
  }
  cause = slot >= 0 ? errno : EMFILE;
  // The directory refuses new files, but the file takes writes.
  if ((cause == EACCES || cause == EPERM) && entry.kind == Kind::kRegular) {
    mode_ = Mode::kInPlace;
    const int in_place = OpenInPlace(name, entry, &cause);
    return in_place >= 0 ? OpenStream(in_place) : Fail(Failure::kCreate, cause);
  }
  return Fail(Failure::kCreate, cause);
}

bool OutputFile::UseStandardOutput() {
  mode_ = Mode::kStandardOutput;
  stream_ = stdout;
#ifdef _WIN32
  // An image's bytes go out as they are, not with each LF made CR LF.
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  return true;
}

bool OutputFile::OpenStream(int fd) {
  stream_ = StreamOf(fd);
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
  if (write_error_ == 0) write_error_ = errno != 0 ? errno : EIO;
  return false;
}

bool OutputFile::WriteFrom(InputFile* in, int64_t offset, int64_t length) {
  if (stream_ == nullptr) return false;
#if defined(__linux__)
  // The kernel copies (or shares) the blocks itself, with no trip through
  // this process; where it cannot (a pipe, another file system), the
  // plain way below takes over from where it stopped.
  if (mode_ == Mode::kReplace && std::fflush(stream_) == 0) {
    off_t from = static_cast<off_t>(offset);
    while (length > 0) {
      const ssize_t n =
          copy_file_range(in->fd(), &from, fileno(stream_), nullptr,
                          static_cast<size_t>(length), 0);
      if (n <= 0) break;
      length -= n;
    }
    offset = from;
  }
#endif
  while (length > 0) {
    const int want = length < static_cast<int64_t>(sizeof block)
                         ? static_cast<int>(length)
                         : static_cast<int>(sizeof block);
    const int got = in->Read(offset, block, want);
    if (got <= 0) {
      if (write_error_ == 0) write_error_ = got < 0 ? in->error() : EIO;
      return false;
    }
    if (!Write(block, static_cast<size_t>(got))) return false;
    offset += got;
    length -= got;
  }
  return true;
}

const char* OutputFile::pending_name() const {
  return pending_ >= 0 ? pending[pending_].name : nullptr;
}

bool OutputFile::Flush() {
  if (stream_ == nullptr) return false;
  // A failed read of what was to be copied fails the file too.
  if (write_error_ == 0 && std::fflush(stream_) == 0 && !std::ferror(stream_)) {
    return true;
  }
  if (write_error_ == 0) write_error_ = errno != 0 ? errno : EIO;
  return false;
}

bool OutputFile::Abandon(int error) {
  Discard();
  return Fail(Failure::kWrite, error != 0 ? error : EIO);
}

bool OutputFile::Commit() {
  if (stream_ == nullptr) return false;
  errno = 0;
  const bool written = Flush();
  int cause = write_error_ != 0 ? write_error_ : errno;
  // Standard output stays open for the rest of the command. Other files
  // may report a failed write only when they are closed.
  bool closed = true;
  if (mode_ != Mode::kStandardOutput) closed = std::fclose(stream_) == 0;
  stream_ = nullptr;
  if (written && !closed) cause = errno;
  if (!written || !closed) {
    Discard();
    return Fail(Failure::kWrite, cause != 0 ? cause : EIO);
  }
  // A scratch file stays, to be read back, until the object goes.
  if (mode_ == Mode::kScratch) return true;
  if (mode_ == Mode::kReplace && !Replace(pending_name(), name_)) {
    const int replace_error = errno;
    Discard();
    return Fail(Failure::kReplace, replace_error);
  }
  if (pending_ >= 0) pending[pending_].used = 0;
  pending_ = -1;
  return true;
}

bool OutputFile::CommitCopyOf(const OutputFile& scratch) {
  InputFile made;
  if (!made.Open(scratch.pending_name())) return Abandon(made.error());
  if (!WriteFrom(&made, 0, made.size())) return Abandon(write_error_);
  return Commit();
}

void OutputFile::Report(std::FILE* err, const char* command) const {
  std::fprintf(err, "%s: ", command);
  if (failure_ == Failure::kKept) {
    std::fputs("will not replace ", err);
    PrintPath(err, name_, false);
    std::fputs(": it is the image\n", err);
    return;
  }
  if (error_ == kChanged || error_ == kForeignLink) {
    std::fputs("will not write through ", err);
    PrintPath(err, name_, false);
    std::fputs(error_ == kChanged
                   ? ": it changed while it was being opened\n"
                   : ": it is a symbolic link that another user owns\n",
               err);
    return;
  }
  std::fputs(failure_ == Failure::kWrite ? "cannot write " : "cannot create ",
             err);
  PrintPath(err, name_, false);
  const char* reason = error_ == kBlockDevice ? "it is a block device"
                       : error_ == kNoReader  ? "no process reads the FIFO"
                       : error_ == kSystemLink
                           ? "it is a link to a file under /dev or /proc"
                           : std::strerror(error_);
  std::fprintf(err, ": %s\n", reason);
}

bool OutputFile::Fail(Failure failure, int error) {
  failure_ = failure;
  error_ = error;
  return false;
}

void OutputFile::Discard() {
  if (stream_ != nullptr && mode_ != Mode::kStandardOutput) {
    std::fclose(stream_);
  }
  stream_ = nullptr;
  Release(&pending_);
}

bool OutputFile::CreateScratch(const char* tag) {
  Discard();
  failure_ = Failure::kNone;
  error_ = 0;
  write_error_ = 0;
  mode_ = Mode::kScratch;
  InstallHandlers();
  char name[kMaxName];
  const int dir = TempDirectory(name, sizeof name);
  std::snprintf(name + dir, sizeof name - dir, "%s", tag);
  name_ = tag;
  const int slot = FreeSlot();
  const int fd = dir > 0 && slot >= 0 ? CreateTemp(name, slot, true) : -1;
  if (fd < 0) return Fail(Failure::kCreate, errno != 0 ? errno : EIO);
  pending_ = slot;
  name_ = pending[slot].name;
  return OpenStream(fd);
}

bool StandardInputIsAFile() {
#ifdef _WIN32
  return false;
#else
  struct stat info;
  return fstat(STDIN_FILENO, &info) == 0 && S_ISREG(info.st_mode) &&
         lseek(STDIN_FILENO, 0, SEEK_CUR) == 0;
#endif
}

int SpoolStandardInput(OutputFile* spool, int64_t limit) {
  if (!spool->CreateScratch("stdin")) return spool->error();
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);
#endif
  int64_t total = 0;
  for (;;) {
    const size_t got = std::fread(block, 1, sizeof block, stdin);
    if (got == 0) break;
    total += static_cast<int64_t>(got);
    if (total > limit) return OutputFile::kTooLarge;
    if (!spool->Write(block, got)) break;
  }
  if (std::ferror(stdin)) return errno != 0 ? errno : EIO;
  // Commit reports a failed write as well as a failed close.
  return spool->Commit() ? 0 : spool->error();
}
