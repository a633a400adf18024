#include "serial/platform/posix/PosixDeviceWatch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <filesystem>

namespace fs = std::filesystem;

namespace {
constexpr uint32_t FolderEvents = IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_DELETE | IN_MOVED_FROM |
                                  IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

bool IsFolder(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
}  // namespace

TPosixDeviceWatch::TPosixDeviceWatch(std::string devicePath, std::function<void()> changed)
    : path_(fs::path(devicePath).lexically_normal().string()), changed_(std::move(changed)) {
  inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  stop_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (!Valid()) return;
  Arm();
  thread_ = std::thread([this] { Run(); });
}

TPosixDeviceWatch::~TPosixDeviceWatch() {
  if (thread_.joinable()) {
    const uint64_t one = 1;
    while (::write(stop_, &one, sizeof one) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  if (inotify_ >= 0) ::close(inotify_);
  if (stop_ >= 0) ::close(stop_);
}

void TPosixDeviceWatch::Arm() {
  for (const auto& w : watched_) inotify_rm_watch(inotify_, w.Descriptor);
  watched_.clear();
  auto watch = [this](const fs::path& folder, const std::string& name) {
    const int descriptor = inotify_add_watch(inotify_, folder.c_str(), FolderEvents);
    if (descriptor >= 0) watched_.push_back({descriptor, name});
  };
  // The nearest folder on the way to the device that exists, and the name in it that leads on.
  auto nearest = [this](fs::path& entry) {
    entry = path_;
    fs::path folder = entry.parent_path();
    while (!folder.empty() && !IsFolder(folder) && folder != folder.root_path()) {
      entry = folder;
      folder = folder.parent_path();
    }
    return folder.empty() ? fs::path(".") : folder;
  };
  fs::path entry;
  fs::path folder = nearest(entry);
  // A folder made just after the one watched (udev makes serial/ and by-id/ at once) says nothing to a watch
  // that came too late for it: until the way stays the same while its watch begins, watch anew.
  for (int round = 0; round < 8; ++round) {
    const size_t before = watched_.size();
    watch(folder, entry.filename().string());
    fs::path again;
    const fs::path now = nearest(again);
    if (now == folder) break;
    if (watched_.size() > before) {
      inotify_rm_watch(inotify_, watched_.back().Descriptor);
      watched_.pop_back();
    }
    folder = now;
    entry = again;
  }
  // A link that leads to a device file elsewhere: that file's mode and group change there.
  std::error_code error;
  if (fs::is_symlink(path_, error)) {
    const fs::path target = fs::canonical(path_, error);
    if (!error && target.parent_path() != fs::path(path_).parent_path())
      watch(target.parent_path(), target.filename().string());
  }
}

bool TPosixDeviceWatch::Drain() {
  bool concerned = false;
  alignas(inotify_event) char buffer[sizeof(inotify_event) + NAME_MAX + 1];
  for (;;) {
    const ssize_t n = ::read(inotify_, buffer, sizeof buffer);
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      for (const auto& w : watched_) {
        if (w.Descriptor != event->wd) continue;
        // The folder itself went or moved, or the watch ended: the way to the device must be found anew.
        if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) concerned = true;
        if (event->len > 0 && w.Name == event->name) concerned = true;
      }
      at += ssize_t(sizeof(inotify_event) + event->len);
    }
  }
  return concerned;
}

void TPosixDeviceWatch::Run() {
  for (;;) {
    pollfd fds[2] = {{inotify_, POLLIN, 0}, {stop_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) {
      if (fds[0].revents) return;  // the notification descriptor itself failed: nothing more will come
      continue;
    }
    if (Drain()) {
      Arm();
      changed_();
    }
  }
}
