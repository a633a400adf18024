#pragma once
// A platform that records every call with its arguments, can be told to fail any call with a given error
// number, and plays a device whose events, input bytes, line errors and modem lines the test scripts.
// It lives on the virtual clock: the clock waits until the event thread has taken up each raised batch.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/platform/ComPlatform.h"
#include "toolkit/VirtualToolkit.h"

class TRecordingComPlatform : public TComPlatform, public TVirtualSource {
 public:
  struct TCall {
    std::string Name;
    std::string Args;
    bool OnWorker;  // made on another thread than the one that created the platform
    std::string Text() const { return Args.empty() ? Name : Name + " " + Args; }
  };

  explicit TRecordingComPlatform(TVirtualToolkit* clock = nullptr);
  ~TRecordingComPlatform() override;

  // The record.
  std::vector<TCall> Calls() const;
  // "Name args" of each call, optionally only those of the creating thread.
  std::vector<std::string> Log(bool creatorThreadOnly = false) const;
  // Only the calls with these names, in order.
  std::vector<std::string> Log(const std::vector<std::string>& names) const;
  int Count(const std::string& name) const;
  void ClearLog();
  TDcb LastState() const;
  TCommTimeouts LastTimeouts() const;

  // The next `times` calls named `call` fail with `error` (-1: every call from now on). ReadFile and
  // WriteFile do their work first, so failing them with ERROR_IO_PENDING reports a started transfer.
  void Fail(const std::string& call, uint32_t error, int times = 1);

  // The scripted device.
  void RaiseEvents(uint32_t mask);  // the next event wait completes with this mask
  void Receive(const std::vector<uint8_t>& bytes);
  std::vector<uint8_t> Written() const;
  void SetModemStatus(uint32_t status);
  void SetLineErrors(uint32_t flags);  // reported once by the next ClearCommError
  size_t InputCount() const;
  // Blocks (real time, bounded) until the event thread sits in its wait with nothing left to take up.
  bool WaitUntilWaiting(double seconds = 10.0);
  // Blocks (real time, bounded) until `name` has been called `count` times in all.
  bool WaitForCall(const std::string& name, int count = 1, double seconds = 10.0);
  // Blocks (real time, bounded) until the event thread has taken every raised batch and not come back.
  bool WaitUntilTaken(double seconds = 10.0);

  // TComPlatform
  std::unique_ptr<TComDevice> CreateFile(const std::string& path, uint32_t access, uint32_t shareMode,
                                         uint32_t creation, uint32_t flags) override;
  std::unique_ptr<TPlatformEvent> CreateEvent(bool manualReset, bool initialState) override;
  uint32_t GetLastError() override;
  void Sleep(uint32_t milliseconds) override;

  // TVirtualSource
  int64_t NextDueUs() override { return -1; }
  void RunDue(int64_t) override {}
  bool Quiescent() override;

 private:
  class TDevice;
  class TEvent;
  class TRecord;
  friend class TDevice;
  friend class TEvent;

  // Records the call; true when it is to fail (the error is then the thread's last error).
  bool Record(const std::string& name, const std::string& args);
  void Changed();

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  TVirtualToolkit* clock_;
  std::thread::id creator_;
  std::vector<TCall> calls_;
  std::map<std::string, std::pair<uint32_t, int>> failures_;

  std::vector<std::string> openPaths_;
  TDcb lastState_{};
  TCommTimeouts lastTimeouts_{};
  std::deque<uint32_t> raised_;
  std::deque<uint8_t> input_;
  std::vector<uint8_t> written_;
  uint32_t modemStatus_ = 0;
  uint32_t lineErrors_ = 0;
  uint32_t mask_ = 0;
  uint64_t maskGeneration_ = 0;
  bool waiterArmed_ = false;  // an event mask is set: a thread will take raised events up
  bool waiting_ = false;      // the thread sits in its wait
  bool busy_ = false;         // the thread has taken a batch and not come back yet
};
