#include "toolkit/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#include <process.h>
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include "toolkit/Exceptions.h"

std::function<void(const std::string&)> AtomicFileBeforeRename;

namespace {

#ifdef _WIN32
int OpenNew(const char* path) {
  return ::_open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}
int WriteSome(int fd, const char* p, size_t n) { return ::_write(fd, p, unsigned(n)); }
int Flush(int fd) { return ::_commit(fd); }
int CloseFile(int fd) { return ::_close(fd); }
int ProcessId() { return ::_getpid(); }
// The errors are reported as the C library's numbers, whose texts the message carries; a system error
// number read as one of those would name the wrong reason (5, access denied, reads as an I/O error).
int ErrnoFromSystemError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL:
      return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
      return EINVAL;
    default:
      return EIO;
  }
}
bool ReplaceWith(const std::string& temporary, const std::string& path, int& error) {
  if (::MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  error = ErrnoFromSystemError(::GetLastError());
  return false;
}
void FlushDirectoryOf(const std::string&) {}
#else
int OpenNew(const char* path) { return ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644); }
ssize_t WriteSome(int fd, const char* p, size_t n) { return ::write(fd, p, n); }
int Flush(int fd) { return ::fsync(fd); }
int CloseFile(int fd) { return ::close(fd); }
int ProcessId() { return int(::getpid()); }
bool ReplaceWith(const std::string& temporary, const std::string& path, int& error) {
  if (::rename(temporary.c_str(), path.c_str()) == 0) return true;
  error = errno;
  return false;
}
// The rename itself lives in the directory; without this a crash may still bring back the old file.
void FlushDirectoryOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}
#endif

[[noreturn]] void Fail(const std::string& path, int error) {
  throw EInOutError(path + ": " + std::strerror(error), error);
}

// "<path>.orvel-<pid>-<8 hex>.tmp": the process id tells a later start whether the writer still runs,
// and the form is one no other program is likely to use.
constexpr char TemporaryMark[] = ".orvel-";
constexpr char TemporaryEnd[] = ".tmp";
constexpr size_t RandomDigits = 8;

std::string TemporaryNameFor(const std::string& path) {
  static std::mt19937_64 random{std::random_device{}()};
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, "%s%d-%08llx%s", TemporaryMark, ProcessId(),
                static_cast<unsigned long long>(random() & 0xFFFFFFFFu), TemporaryEnd);
  return path + suffix;
}

// The writer's process id if `name` is one of our temporary names, else 0.
long WriterOf(const std::string& name) {
  const size_t endLength = sizeof TemporaryEnd - 1, markLength = sizeof TemporaryMark - 1;
  if (name.size() <= endLength || name.compare(name.size() - endLength, endLength, TemporaryEnd) != 0) return 0;
  const size_t mark = name.rfind(TemporaryMark);
  if (mark == std::string::npos || mark == 0) return 0;
  const std::string middle = name.substr(mark + markLength, name.size() - endLength - mark - markLength);
  const size_t dash = middle.find('-');
  if (dash == std::string::npos || dash == 0 || dash > 9 || middle.size() - dash - 1 != RandomDigits) return 0;
  long pid = 0;
  for (size_t i = 0; i < dash; ++i) {
    if (middle[i] < '0' || middle[i] > '9') return 0;
    pid = pid * 10 + (middle[i] - '0');
  }
  for (size_t i = dash + 1; i < middle.size(); ++i)
    if (!((middle[i] >= '0' && middle[i] <= '9') || (middle[i] >= 'a' && middle[i] <= 'f'))) return 0;
  return pid;
}

#ifdef _WIN32
bool WriterGone(long pid) {
  if (DWORD(pid) == ::GetCurrentProcessId()) return true;
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
  if (!process) return ::GetLastError() == ERROR_INVALID_PARAMETER;  // no such process
  const bool ended = ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  ::CloseHandle(process);
  return ended;
}
#else
// A killed process whose parent has not collected it yet still holds its id, but writes nothing more.
bool Zombie(long pid) {
#ifdef __linux__
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
  std::FILE* f = std::fopen(path, "r");
  if (!f) return false;
  char text[512] = {};
  const size_t n = std::fread(text, 1, sizeof text - 1, f);
  std::fclose(f);
  text[n] = '\0';
  // The state follows the command name, which is in parentheses and may hold anything.
  const char* close = std::strrchr(text, ')');
  return close && close[1] == ' ' && close[2] == 'Z';
#else
  return false;
#endif
}

bool WriterGone(long pid) {
  if (pid == long(::getpid())) return true;
  // EPERM: it runs, as another user; only "no such process" means gone.
  return (::kill(pid_t(pid), 0) != 0 && errno == ESRCH) || Zombie(pid);
}
#endif

}  // namespace

void WriteFileReplacing(const std::string& path, const std::string& content) {
  const std::string temporary = TemporaryNameFor(path);
  int fd = OpenNew(temporary.c_str());
  if (fd < 0) Fail(path, errno);
  auto abandon = [&](int error) {
    CloseFile(fd);
    std::remove(temporary.c_str());
    Fail(path, error);
  };
  const char* p = content.data();
  size_t left = content.size();
  while (left > 0) {
    auto n = WriteSome(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      abandon(errno);
    }
    p += n;
    left -= size_t(n);
  }
  if (Flush(fd) != 0) abandon(errno);
  if (CloseFile(fd) != 0) {
    int error = errno;
    std::remove(temporary.c_str());
    Fail(path, error);
  }
  try {
    if (AtomicFileBeforeRename) AtomicFileBeforeRename(temporary);
  } catch (...) {
    std::remove(temporary.c_str());
    throw;
  }
  int error = 0;
  if (!ReplaceWith(temporary, path, error)) {
    std::remove(temporary.c_str());
    Fail(path, error);
  }
  FlushDirectoryOf(path);
}

std::vector<std::string> RemoveStaleTemporaryFiles(const std::string& directory) {
  namespace fs = std::filesystem;
  std::vector<std::string> removed;
  std::error_code listing;
  for (fs::directory_iterator it(directory, listing), end; !listing && it != end; it.increment(listing)) {
    const std::string name = it->path().filename().string();
    const long pid = WriterOf(name);
    std::error_code entry;
    // Only plain files: a directory or a link by such a name is not something we wrote.
    if (pid <= 0 || !fs::is_regular_file(it->symlink_status(entry)) || entry || !WriterGone(pid)) continue;
    if (fs::remove(it->path(), entry)) removed.push_back(name);
  }
  return removed;
}
