#pragma once
// The toolkit services on a simulated clock, for tests: timers fire in virtual time, message processing
// runs what is due and then moves the clock to the next event, and message boxes are recorded and
// acknowledged as a scripted operator would. The clock moves only once every simulated device has had
// its pending events taken up by the worker threads, so a run is the same every time.
//
// On the real clock instead, the same services serve a program without windows (the checks on a real
// port): the clock follows the system's, and a wait blocks until the next timer is due or a worker
// thread hands something over.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "toolkit/SyncQueue.h"
#include "toolkit/Toolkit.h"

// Something that lives on the virtual clock, such as a simulated serial device.
class TVirtualSource {
 public:
  virtual ~TVirtualSource() = default;
  // The earliest virtual time, in microseconds, at which it has something to do; negative for nothing.
  virtual int64_t NextDueUs() = 0;
  // Does what is due at `nowUs`.
  virtual void RunDue(int64_t nowUs) = 0;
  // True once every event it has raised has been taken up by the thread waiting on it.
  virtual bool Quiescent() = 0;
};

// The virtual clock has nothing more to do, yet the caller is still waiting for something.
class EVirtualStall : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TVirtualToolkit : public TToolkit {
 public:
  struct TMessageRecord {
    std::string Text;
    std::string Caption;
    TMessageKind Kind;
    int64_t TimeUs;
  };

  enum class TClock { Simulated, Real };
  explicit TVirtualToolkit(TClock clock = TClock::Simulated);
  ~TVirtualToolkit() override;

  // TToolkit
  std::unique_ptr<TTimer> CreateTimer() override;
  void ProcessMessages() override;
  void MessageBox(const std::string& text, const std::string& caption, TMessageKind kind) override;
  void Synchronize(const std::function<void()>& method) override;
  void SendMessage(const std::function<void(const std::function<void()>& reply)>& procedure) override;
  void Post(const std::function<void()>& method) override;
  void WaitServing(const std::function<bool()>& done) override;
  void WakeWaiters() override;
  // The world outside runs in real time: the virtual clock stands still meanwhile.
  void WaitOutside(const std::function<bool()>& done) override;

  // The clock.
  int64_t NowUs() const { return realTime_ ? std::max(nowUs_, RealUs()) : nowUs_; }
  double NowMs() const { return NowUs() / 1000.0; }

  // Sources tell the toolkit from any thread that their state changed (an event was taken up, say).
  void AddSource(TVirtualSource* source);
  void RemoveSource(TVirtualSource* source);
  void SourceChanged();

  // An operator action at a virtual time, run from the message loop like a click.
  void At(int64_t timeUs, std::function<void()> action);
  void After(int64_t delayUs, std::function<void()> action) { At(NowUs() + delayUs, std::move(action)); }

  // Runs the loop until the clock reaches `timeUs` (or for `us`), handling everything due on the way.
  void RunUntilTime(int64_t timeUs);
  void RunFor(int64_t us) { RunUntilTime(nowUs_ + us); }
  // Runs until nothing at all is scheduled any more; fails after `limitUs` of virtual time.
  void RunUntilIdle(int64_t limitUs = 600'000'000);

  // Message boxes shown so far, and how the scripted operator answers them.
  const std::vector<TMessageRecord>& Messages() const { return messages_; }
  void ClearMessages() { messages_.clear(); }
  // How long the operator takes to press OK; the loop runs meanwhile, as under a real modal box.
  int64_t OperatorDelayUs = 0;
  // Called when a box opens, before the operator answers it.
  std::function<void(const TMessageRecord&)> OnMessage;

  // Real seconds a worker thread may take to pick up an event before the run is declared hung.
  double SettleTimeoutSeconds = 20.0;

 private:
  class TVirtualTimer;
  struct TAction {
    int64_t DueUs;
    uint64_t Order;
    std::function<void()> Run;
  };

  int64_t RealUs() const;
  // On the real clock, brings the loop's time up to the system's.
  void Tick();
  uint64_t Changes();
  // Moves the clock to `timeUs` (negative: no time), on the real clock by waiting for it, or for a change
  // after `seen`, whichever comes first.
  void AdvanceTo(int64_t timeUs, uint64_t seen);
  void Settle();
  // Settles, then runs a queued request or one thing due now; false when nothing was.
  bool RunSomethingDue();
  bool RunOneDue();
  int64_t NextEventUs();

  const bool realTime_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  int64_t nowUs_ = 0;
  uint64_t order_ = 0;
  TSyncQueue queue_;
  std::vector<TVirtualTimer*> timers_;
  std::vector<TAction> actions_;
  std::vector<TVirtualSource*> sources_;
  std::vector<TMessageRecord> messages_;

  std::mutex changeMutex_;
  std::condition_variable changed_;
  uint64_t changes_ = 0;
};
