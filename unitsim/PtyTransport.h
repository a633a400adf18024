#pragma once
// The pseudo-terminal orvel-unitsim serves on. It keeps a descriptor of the slave side open itself, so the
// terminal stays alive (and the master sees no hang-up) while the program closes and reopens its port; it
// takes no lock on it, so the program's own exclusive open still succeeds.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

class EPty : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TPtyTransport {
 public:
  TPtyTransport();  // throws EPty
  ~TPtyTransport();
  TPtyTransport(const TPtyTransport&) = delete;
  TPtyTransport& operator=(const TPtyTransport&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  int MasterFd() const { return master_; }

  // What the program has written; 0 when nothing is waiting. Throws EPty when the terminal fails.
  size_t Read(uint8_t* buffer, size_t size);
  // Towards the program; false when the terminal's buffer is full and the byte is lost.
  bool Write(uint8_t byte);
  // Whether the line settings the program last chose match the bus: 38400 baud, 8 data bits, no parity,
  // one stop bit.
  bool LineMatches() const;

  // The symbolic link: replaces a symbolic link left there (a stale one from an earlier run, typically),
  // refuses any other file (throws EPty). Removed by
  // RemoveLink or the destructor if it still points at this terminal.
  void CreateLink(const std::string& path);
  void RemoveLink();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
  std::string link_;
};
