#pragma once
// The serial port object: line settings as properties, opening the device by name, pushing the settings
// into it, the event thread while open, and closing everything again in a fixed order. All behaviour is
// in TCustomComPort; TComPort only publishes it. Every device failure is raised as one EComPort.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serial/ComError.h"
#include "serial/ComSettings.h"
#include "serial/ComTypes.h"
#include "serial/platform/ComPlatform.h"

class TComThread;
class TComNotifyWindow;
class TCustomComPort;

using TNotifyEvent = std::function<void(TCustomComPort* Sender)>;
using TRxCharEvent = std::function<void(TCustomComPort* Sender, int32_t Count)>;
using TRxBufEvent = std::function<void(TCustomComPort* Sender, const void* Buffer, int32_t Count)>;
using TComSignalEvent = std::function<void(TCustomComPort* Sender, bool OnOff)>;
using TComErrorEvent = std::function<void(TCustomComPort* Sender, TComErrors Errors)>;

enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TCustomComPort {
 public:
  // `platform` is the layer the port talks to; the system's own backend when null.
  explicit TCustomComPort(TComPlatform* platform = nullptr);
  virtual ~TCustomComPort();
  TCustomComPort(const TCustomComPort&) = delete;
  TCustomComPort& operator=(const TCustomComPort&) = delete;

  std::string Name;

  void Open();
  void Close();

  // Blocking transfers, on the user-interface thread.
  int32_t Write(const void* buffer, int32_t count);
  int32_t Read(void* buffer, int32_t count);
  int32_t PendingInputCount();
  TComSignals ModemSignals();
  TComErrors LineErrors();
  void AbortTransfers();

  // Loading from the owning window's description: while loading, Connected is only recorded and
  // re-apply hooks do nothing; Loaded ends it (and opens if Connected was recorded True).
  void BeginLoading();
  virtual void Loaded();
  bool Loading() const { return loading_; }

  // Published properties.
  bool Connected() const { return connected_; }
  void SetConnected(bool value);
  TBaudRate BaudRate() const { return baudRate_; }
  void SetBaudRate(TBaudRate value);
  int32_t CustomBaudRate() const { return customBaudRate_; }
  void SetCustomBaudRate(int32_t value);
  const std::string& Port() const { return port_; }
  void SetPort(const std::string& value);
  TComParity& Parity() { return *parity_; }
  void SetParity(const TComParity& value);
  TStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TStopBits value);
  TDataBits DataBits() const { return dataBits_; }
  void SetDataBits(TDataBits value);
  bool DiscardNull() const { return discardNull_; }
  void SetDiscardNull(bool value);
  char EventChar() const { return eventChar_; }
  void SetEventChar(char value);
  TComEvents Events() const { return events_; }
  void SetEvents(TComEvents value) { events_ = value; }
  TComBuffer& Buffer() { return *buffer_; }
  void SetBuffer(const TComBuffer& value);
  TComFlowControl& FlowControl() { return *flowControl_; }
  void SetFlowControl(const TComFlowControl& value);
  TComTimeouts& Timeouts() { return *timeouts_; }
  void SetTimeouts(const TComTimeouts& value);
  TSyncMethod SyncMethod() const { return syncMethod_; }
  void SetSyncMethod(TSyncMethod value);

  TNotifyEvent OnAfterOpen;
  TNotifyEvent OnAfterClose;
  TNotifyEvent OnBeforeOpen;
  TNotifyEvent OnBeforeClose;
  TRxCharEvent OnRxChar;
  TRxBufEvent OnRxBuf;
  TNotifyEvent OnTxEmpty;
  TNotifyEvent OnBreak;
  TNotifyEvent OnRing;
  TComSignalEvent OnCTSChange;
  TComSignalEvent OnDSRChange;
  TComSignalEvent OnRLSDChange;
  TNotifyEvent OnRxFlag;
  TComErrorEvent OnError;
  TNotifyEvent OnRx80Full;
  // The device has gone (an adapter pulled out, the far end of a terminal closed): the port has closed
  // itself, so the next Open opens the device anew. Runs on the user-interface thread.
  TNotifyEvent OnDeviceLost;

  // State that is not published.
  TComPlatform& Platform() { return *platform_; }
  TComDevice* DeviceHandle() { return device_.get(); }
  bool HasEventWorker() const { return hasEventWorker_; }
  // The hidden receiver; exists only while open under smWindowSync.
  TComNotifyWindow* NotifyWindow() { return notifyWindow_.get(); }
  // An event thread exists and has not ended (it ends by itself when its device wait fails).
  bool EventWorkerRunning() const;
  // The open device failed under a transfer or its event wait; the port closes itself (see OnDeviceLost).
  // Stays true while the port is closed, also when it was closed by Close before it could close itself.
  bool DeviceLost() const;
  TThreadPriority WorkerPriority = TThreadPriority::tpNormal;

  // Re-apply hooks (the settings objects call these when a field changes).
  virtual void ApplyLineSettings();
  virtual void ApplyTimeoutSettings();
  virtual void ApplyBufferSizes();

  // The processing of one batch of line events, in the fixed order; run by the event thread's delivery.
  void RunEventHandlers(TComEvents events);
  // One event of a batch (the route of the hidden window under smWindowSync).
  void RunEventHandler(TComEvent event);

 protected:
  // Settings persistence slots; this system never calls them.
  virtual void StoreRegistry(const std::string& key) {}
  virtual void StoreIniFile(const std::string& fileName) {}
  virtual void LoadRegistry(const std::string& key) {}
  virtual void LoadIniFile(const std::string& fileName) {}

  virtual void AcquireDevice();
  virtual void ReleaseDevice();
  virtual void ConfigureDevice();

  virtual void FireAfterClose();
  virtual void FireAfterOpen();
  virtual void FireBeforeClose();
  virtual void FireBeforeOpen();
  virtual void FireRxChar(int32_t count);
  virtual void FireRxBuf(const void* buffer, int32_t count);
  virtual void FireTxEmpty();
  virtual void FireBreak();
  virtual void FireRing();
  virtual void FireRxFlag();
  virtual void FireCTSChange(bool onOff);
  virtual void FireDSRChange(bool onOff);
  virtual void FireError(TComErrors errors);
  virtual void FireRLSDChange(bool onOff);
  virtual void FireRx80Full();

 private:
  friend class TComThread;
  friend class TComNotifyWindow;

  // The device and the hidden receiver are shared with the event thread, so a thread that is still
  // finishing a batch never touches a released object.
  TComDevice& Device(int errorCode);
  void StartEventWorker();
  // True when the thread had ended on a failed wait: its device has gone.
  bool StopEventWorker();
  void ReapRetiredWorkers(bool wait);
  void ReleaseWithoutRaising() noexcept;
  void RunStep(TComEvent event);
  // The lines as the signal events report them: all off when the device cannot tell.
  TComSignals ReportedModemSignals();
  // A device call failed in a way that only a device that has gone fails: close, quietly, and tell.
  void LoseDevice(uint64_t session);
  [[noreturn]] void FailTransfer(int errorCode, uint32_t osError);
  // The error of a failed device call, its number put as the platform names it.
  EComPort SystemError(int errorCode, uint32_t osError) const;

  TComPlatform* platform_;
  std::shared_ptr<TComDevice> device_;
  std::unique_ptr<TComThread> eventWorker_;
  // Threads stopped from inside their own delivery: they end once the handler returns.
  std::vector<std::unique_ptr<TComThread>> retiredWorkers_;
  std::shared_ptr<TComNotifyWindow> notifyWindow_;
  bool hasEventWorker_ = false;
  bool loading_ = false;
  bool connectedRecorded_ = false;
  // Counts the opens, so a close can tell that a handler reopened the port while it waited.
  uint64_t session_ = 0;
  bool deviceLost_ = false;
  // Lets a notice posted by the event thread find out whether the port still exists.
  std::shared_ptr<TCustomComPort*> self_ = std::make_shared<TCustomComPort*>(this);

  bool connected_ = false;
  TBaudRate baudRate_ = br9600;
  int32_t customBaudRate_ = 9600;
  std::string port_ = "COM1";
  std::unique_ptr<TComParity> parity_;
  TStopBits stopBits_ = sbOneStopBit;
  TDataBits dataBits_ = dbEight;
  bool discardNull_ = false;
  char eventChar_ = 0;
  TComEvents events_ = TComEvents::All();
  std::unique_ptr<TComFlowControl> flowControl_;
  std::unique_ptr<TComTimeouts> timeouts_;
  std::unique_ptr<TComBuffer> buffer_;
  TSyncMethod syncMethod_ = smThreadSync;
};

class TComPort : public TCustomComPort {
 public:
  using TCustomComPort::TCustomComPort;
};
