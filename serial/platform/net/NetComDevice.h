#pragma once
// A serial device server's port as a communications device: the stream device over a TCP connection,
// raw or as Telnet with the COM-PORT-OPTION. Line settings go to the server and its answers are checked;
// a raw connection takes them as they are, having nowhere to send them.
#include <chrono>
#include <memory>
#include <vector>

#include "serial/platform/StreamComDevice.h"
#include "serial/platform/net/ComPortOption.h"
#include "serial/platform/net/NetPortName.h"
#include "serial/platform/net/NetSocket.h"
#include "serial/platform/net/Telnet.h"

class TNetComDevice : public TStreamComDevice, private TTelnetDecoder::THandler {
 public:
  // `answerLimit`: how long a change of the line settings waits for the server's answers.
  TNetComDevice(std::unique_ptr<TNetSocket> socket, TNetProtocol protocol, std::chrono::milliseconds answerLimit);
  ~TNetComDevice() override;

  // Telnet: offers the options and waits until the server has taken or refused the COM-PORT-OPTION, or
  // until `deadline` (the settings then fail when they are made). False with the reason when the
  // connection ended meanwhile.
  bool Negotiate(std::chrono::steady_clock::time_point deadline, uint32_t& error);

  bool SetCommState(const TDcb& dcb) override;
  bool GetCommModemStatus(uint32_t& modemStatus) override;

 protected:
  TStreamWait WaitStream(bool forWrite, TPlatformEvent& wake, TPlatformEvent* stop, int timeoutMs) override;
  bool EventIsSet(TPlatformEvent& event) override;
  void ReadStreamLocked() override;
  int64_t WriteStreamLocked(const uint8_t* bytes, uint32_t count, uint32_t& error) override;
  bool StreamStatusLocked(uint32_t& unread, uint32_t& unsent, uint32_t& errors, uint32_t& error) override;
  uint32_t FlushStreamLocked(bool input, bool output) override;
  uint32_t CloseStreamLocked() override;

 private:
  void Data(const uint8_t* bytes, size_t count) override;
  void Negotiation(uint8_t verb, uint8_t option) override;
  void Subnegotiation(uint8_t option, const std::vector<uint8_t>& body) override;

  bool ComPortAgreedLocked() const;
  void NoteBinaryLocked();
  void NoteModemStateLocked(uint8_t state);
  void NoteLineStateLocked(uint8_t state);
  // Control bytes (answers to the server, requests) go out before any more data, whole.
  void SendLocked(const std::vector<uint8_t>& bytes);
  void FlushOutgoingLocked();
  // Waits for the server (reading, and writing while control bytes are pending) until `deadline`;
  // false when the connection ended, the device was closed or the deadline passed, with the reason.
  bool AwaitServerLocked(TLock& lock, std::chrono::steady_clock::time_point deadline, uint32_t& error);

  std::unique_ptr<TNetSocket> socket_;
  const bool telnet_;
  const std::chrono::milliseconds answerLimit_;
  TTelnetDecoder decoder_;
  TTelnetOptions options_;
  std::vector<uint8_t> outgoing_;
  TComPortExchange* exchange_ = nullptr;  // the settings change waiting for its answers
  uint8_t modemState_ = 0;
  bool binaryOut_ = true;
};
