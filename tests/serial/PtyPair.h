#pragma once
// A pseudo-terminal pair: the port opens the slave path, the test holds the master end.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class TPtyPair {
 public:
  TPtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
      char name[128];
      if (ptsname_r(master_, name, sizeof name) == 0) SlavePath = name;
    }
  }
  ~TPtyPair() { CloseMaster(); }
  TPtyPair(const TPtyPair&) = delete;
  TPtyPair& operator=(const TPtyPair&) = delete;

  bool Valid() const { return master_ >= 0 && !SlavePath.empty(); }
  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

  bool Send(const std::vector<uint8_t>& bytes) {
    return write(master_, bytes.data(), bytes.size()) == ssize_t(bytes.size());
  }
  // What the port wrote, waiting up to `seconds` for `count` bytes.
  std::vector<uint8_t> Take(size_t count, double seconds = 5.0) {
    std::vector<uint8_t> got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (got.size() < count) {
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, int(left.count())) <= 0) break;
      uint8_t buffer[256];
      ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - got.size()));
      if (n <= 0) break;
      got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }

  std::string SlavePath;

 private:
  int master_ = -1;
};
