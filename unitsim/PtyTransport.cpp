#include "unitsim/PtyTransport.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {
std::string Reason(const std::string& what) { return what + ": " + std::strerror(errno); }

void MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return;
  cfmakeraw(&t);
  cfsetispeed(&t, B38400);
  cfsetospeed(&t, B38400);
  t.c_cflag |= CLOCAL | CREAD;
  tcsetattr(fd, TCSANOW, &t);
}
}  // namespace

TPtyTransport::TPtyTransport() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) throw EPty(Reason("posix_openpt"));
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
    const std::string reason = Reason("grantpt/unlockpt");
    close(master_);
    throw EPty(reason);
  }
  const char* name = ptsname(master_);
  if (!name) {
    const std::string reason = Reason("ptsname");
    close(master_);
    throw EPty(reason);
  }
  slavePath_ = name;
  slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (slave_ < 0) {
    const std::string reason = Reason("open " + slavePath_);
    close(master_);
    throw EPty(reason);
  }
  MakeRaw(slave_);
  MakeRaw(master_);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(slave_, F_SETFD, FD_CLOEXEC);
}

TPtyTransport::~TPtyTransport() {
  RemoveLink();
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
}

size_t TPtyTransport::Read(uint8_t* buffer, size_t size) {
  for (;;) {
    const ssize_t n = read(master_, buffer, size);
    if (n >= 0) return size_t(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    throw EPty(Reason("read " + slavePath_));
  }
}

bool TPtyTransport::Write(uint8_t byte) {
  for (;;) {
    const ssize_t n = write(master_, &byte, 1);
    if (n == 1) return true;
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

bool TPtyTransport::LineMatches() const {
  termios t{};
  if (tcgetattr(slave_, &t) != 0) return true;
  return cfgetospeed(&t) == B38400 && (t.c_cflag & CSIZE) == CS8 && !(t.c_cflag & PARENB) &&
         !(t.c_cflag & CSTOPB);
}

void TPtyTransport::CreateLink(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) throw EPty("refusing to replace " + path + ": it is not a symbolic link");
    if (unlink(path.c_str()) != 0) throw EPty(Reason("remove the old link " + path));
  } else if (errno != ENOENT) {
    throw EPty(Reason(path));
  }
  if (symlink(slavePath_.c_str(), path.c_str()) != 0) throw EPty(Reason("symlink " + path));
  link_ = path;
}

void TPtyTransport::RemoveLink() {
  if (link_.empty()) return;
  char target[4096];
  const ssize_t n = readlink(link_.c_str(), target, sizeof target - 1);
  // Someone else may have taken the name over meanwhile: leave theirs alone.
  if (n >= 0 && std::string(target, size_t(n)) == slavePath_) unlink(link_.c_str());
  link_.clear();
}
