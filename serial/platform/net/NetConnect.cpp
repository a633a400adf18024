#include "serial/platform/net/NetConnect.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "toolkit/Toolkit.h"

namespace {
using Clock = std::chrono::steady_clock;

// The resolver's result, shared with a resolver thread that may still be asking when the opener has
// given up.
struct TResolution {
  std::mutex Mutex;
  std::condition_variable Done;
  bool Finished = false;
  uint32_t Error = 0;
  std::vector<TNetEndpoint> Endpoints;
};

uint32_t ResolveByDeadline(const TNetAddress& address, Clock::time_point deadline,
                           std::vector<TNetEndpoint>& endpoints) {
  if (IsNumericHost(address.Host)) return ResolveEndpoints(address.Host, address.Port, true, endpoints);
  // A resolver can take far longer than the limit (no name server answering); it cannot be cancelled,
  // so it is left to finish alone.
  auto resolution = std::make_shared<TResolution>();
  std::thread([resolution, host = address.Host, port = address.Port] {
    std::vector<TNetEndpoint> found;
    const uint32_t error = ResolveEndpoints(host, port, false, found);
    std::lock_guard lock(resolution->Mutex);
    resolution->Error = error;
    resolution->Endpoints = std::move(found);
    resolution->Finished = true;
    resolution->Done.notify_all();
  }).detach();
  std::unique_lock lock(resolution->Mutex);
  if (!resolution->Done.wait_until(lock, deadline, [&] { return resolution->Finished; }))
    return NetError::TimedOut();
  endpoints = std::move(resolution->Endpoints);
  return resolution->Error;
}
}  // namespace

uint32_t ConnectByDeadline(const TNetAddress& address, Clock::time_point deadline, TNetSocket& socket) {
  std::vector<TNetEndpoint> endpoints;
  if (uint32_t error = ResolveByDeadline(address, deadline, endpoints)) return error;
  uint32_t error = NetError::TimedOut();
  for (const TNetEndpoint& endpoint : endpoints) {
    if (Clock::now() >= deadline) return NetError::TimedOut();
    // The first refusal is as good a reason as the last; the last is what the operator would try again.
    error = socket.Connect(endpoint, deadline);
    if (error == 0) return 0;
  }
  return error;
}

void RunBesideTheWindow(const std::function<void()>& work) {
  struct TDone {
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Finished = false;
  };
  auto done = std::make_shared<TDone>();
  const bool throughToolkit = ToolkitInstalled();
  std::thread worker([&work, done, throughToolkit] {
    work();
    {
      std::lock_guard lock(done->Mutex);
      done->Finished = true;
    }
    done->Changed.notify_all();
    if (throughToolkit) Toolkit().WakeWaiters();
  });
  if (throughToolkit) {
    Toolkit().WaitOutside([&] {
      std::lock_guard lock(done->Mutex);
      return done->Finished;
    });
  } else {
    std::unique_lock lock(done->Mutex);
    done->Changed.wait(lock, [&] { return done->Finished; });
  }
  worker.join();
}
