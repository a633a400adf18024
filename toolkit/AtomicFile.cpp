#include "toolkit/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <unistd.h>

#include "toolkit/Exceptions.h"

std::function<void(const std::string&)> AtomicFileBeforeRename;

namespace {

[[noreturn]] void Fail(const std::string& path, int error) {
  throw EInOutError(path + ": " + std::strerror(error), error);
}

std::string TemporaryNameFor(const std::string& path) {
  static std::mt19937_64 random{std::random_device{}()};
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".%d.%08llx.tmp", int(::getpid()),
                static_cast<unsigned long long>(random() & 0xFFFFFFFFu));
  return path + suffix;
}

}  // namespace

void WriteFileReplacing(const std::string& path, const std::string& content) {
  const std::string temporary = TemporaryNameFor(path);
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) Fail(path, errno);
  auto abandon = [&](int error) {
    ::close(fd);
    ::unlink(temporary.c_str());
    Fail(path, error);
  };
  const char* p = content.data();
  size_t left = content.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      abandon(errno);
    }
    p += n;
    left -= size_t(n);
  }
  if (::fsync(fd) != 0) abandon(errno);
  if (::close(fd) != 0) {
    int error = errno;
    ::unlink(temporary.c_str());
    Fail(path, error);
  }
  try {
    if (AtomicFileBeforeRename) AtomicFileBeforeRename(temporary);
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    int error = errno;
    ::unlink(temporary.c_str());
    Fail(path, error);
  }
}
