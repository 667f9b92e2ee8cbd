#include "tests/test_util.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace d88test {

namespace fs = std::filesystem;

std::string ReadText(const std::string& path) {
  std::ifstream in(fs::u8path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

std::string Printed(const std::function<void(std::FILE*)>& write) {
  std::FILE* stream = std::tmpfile();
  if (stream == nullptr) std::abort();
  write(stream);
  std::rewind(stream);
  std::string text;
  for (int c; (c = std::fgetc(stream)) != EOF;) text += static_cast<char>(c);
  std::fclose(stream);
  return text;
}

TempDir::TempDir() {
#ifdef _WIN32
  static std::atomic<int> count{0};
  for (;;) {
    const fs::path path = fs::temp_directory_path() /
                          ("d88test-" + std::to_string(GetCurrentProcessId()) +
                           "-" + std::to_string(count++));
    if (fs::create_directory(path)) {
      path_ = path.u8string();
      return;
    }
  }
#else
  std::string pattern = (fs::temp_directory_path() / "d88test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  path_ = pattern;
#endif
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(fs::u8path(path_), ignored);
}

std::vector<std::string> TempDir::List() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(fs::u8path(path_))) {
    names.push_back(entry.path().filename().u8string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

#ifdef _WIN32
// One argument as the C runtime's parser reads it back.
std::wstring Quote(const std::wstring& arg) {
  std::wstring quoted = L"\"";
  int backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

HANDLE CreateOutput(const std::string& path) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileW(fs::u8path(path).wstring().c_str(), GENERIC_WRITE,
                     FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Windows programs end lines with CR LF; the tests compare lines.
std::string ToLf(const std::string& text) {
  std::string lf;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' || i + 1 >= text.size() || text[i + 1] != '\n') {
      lf += text[i];
    }
  }
  return lf;
}

// Runs the command with its output in the two files; returns its exit
// status, -1 if it did not end by itself.
int Spawn(const std::string& binary, const std::vector<std::string>& args,
          const std::string& dir, const std::string& out_path,
          const std::string& err_path) {
  // Absolute before the child's directory changes the current drive.
  std::wstring line = Quote(fs::absolute(fs::u8path(binary)).wstring());
  for (const std::string& arg : args) {
    line += L" " + Quote(fs::u8path(arg).wstring());
  }
  const HANDLE out = CreateOutput(out_path);
  const HANDLE err = CreateOutput(err_path);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process = {};
  // Wine has been seen to fail a start now and then: one more try, and the
  // system's error in the command's standard error if that fails too.
  bool started = false;
  for (int attempt = 0; attempt < 2 && !started; ++attempt) {
    if (attempt > 0) Sleep(200);
    started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0,
                             nullptr, fs::u8path(dir).wstring().c_str(),
                             &startup, &process) != 0;
  }
  const DWORD start_error = started ? 0 : GetLastError();
  CloseHandle(out);
  CloseHandle(err);
  if (!started) {
    std::ofstream(fs::u8path(err_path), std::ios::app)
        << "cannot start the command: error " << start_error << "\n";
    return -1;
  }
  DWORD code = 0;
  // A command that hangs is ended, so that it fails the test.
  const DWORD waited = WaitForSingleObject(process.hProcess, 60000);
  if (waited != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
    std::ofstream(fs::u8path(err_path), std::ios::app)
        << "the command was ended: wait result " << waited << "\n";
    code = static_cast<DWORD>(-1);
  } else {
    GetExitCodeProcess(process.hProcess, &code);
  }
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return code == static_cast<DWORD>(-1) ? -1 : static_cast<int>(code);
}
#else
int Spawn(const std::string& binary, const std::vector<std::string>& args,
          const std::string& dir, const std::string& out_path,
          const std::string& err_path) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(binary.c_str()));
  for (const std::string& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        chdir(dir.c_str()) != 0) {
      _exit(127);
    }
    close(out);
    close(err);
    alarm(60);  // survives exec: a hang fails the test instead of the run
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  int wait_status = 0;
  if (pid < 0 || waitpid(pid, &wait_status, 0) != pid) return -1;
  return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
}

// Lines end in LF already.
std::string ToLf(const std::string& text) { return text; }
#endif

}  // namespace

CommandResult RunCommand(const std::string& binary,
                         const std::vector<std::string>& args,
                         const std::string& dir,
                         const std::string& stdout_path) {
  TempDir capture;
  const std::string out_path =
      stdout_path.empty() ? capture.File("stdout") : stdout_path;
  const std::string err_path = capture.File("stderr");
  const int status = Spawn(binary, args, dir, out_path, err_path);
  return {status, stdout_path.empty() ? ToLf(ReadText(out_path)) : "",
          ToLf(ReadText(err_path))};
}

#ifndef _WIN32
std::string UserRunner(const std::string& binary) {
  const std::vector<std::string> user = AsOrdinaryUser();
  return user.empty() ? binary : user[0];
}

std::vector<std::string> AsUser(const std::string& binary,
                                std::vector<std::string> args) {
  const std::vector<std::string> user = AsOrdinaryUser();
  args.insert(args.begin(), binary);
  if (!user.empty()) args.insert(args.begin(), user.begin() + 1, user.end());
  return args;
}

FifoReader::FifoReader(const std::string& path) : path_(path) {
  // Opened without waiting for a writer, before any command starts.
  if (mkfifo(path.c_str(), 0644) != 0) return;
  fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  if (fd_ < 0) return;
  read_ = std::async(std::launch::async, [fd = fd_] {
    std::string bytes;
    char block[4096];
    // Until a writer has come and gone: poll says POLLHUP only after one.
    for (int waited = 0; waited < 10000;) {
      pollfd ready = {fd, POLLIN, 0};
      if (poll(&ready, 1, 100) == 0) {
        waited += 100;
        continue;
      }
      const ssize_t got = read(fd, block, sizeof block);
      if (got > 0) {
        bytes.append(block, static_cast<size_t>(got));
      } else if ((ready.revents & POLLHUP) != 0) {
        break;
      } else {
        waited += 100;
        usleep(100000);
      }
    }
    return bytes;
  });
}

FifoReader::~FifoReader() { Read(); }

std::string FifoReader::Read() {
  const std::string bytes = read_.valid() ? read_.get() : "";
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  return bytes;
}

std::vector<std::string> AsOrdinaryUser() {
  if (geteuid() != 0) return {};
  return {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup",
          "--clear-groups"};
}
#endif

}  // namespace d88test
