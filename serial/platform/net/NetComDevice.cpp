#include "serial/platform/net/NetComDevice.h"

#include <algorithm>

#include "serial/platform/SystemErrors.h"

using Clock = std::chrono::steady_clock;
using namespace ComPortOption;

namespace {
constexpr int ReadRounds = 64;          // per wake-up, so a flooding server cannot hold the lock for ever
constexpr uint32_t WriteChunk = 4096;  // data bytes encoded per send

// Modem-state bits of NOTIFY-MODEMSTATE are those of GetCommModemStatus; each change is a line event.
struct TModemLine {
  uint8_t Bit;
  uint32_t Event;
};
constexpr TModemLine ModemLines[] = {{0x10, ComApi::EV_CTS}, {0x20, ComApi::EV_DSR}, {0x40, ComApi::EV_RING},
                                     {0x80, ComApi::EV_RLSD}};

struct TLineError {
  uint8_t Bit;
  uint32_t Flag;
};
constexpr TLineError LineErrors[] = {{0x02, ComApi::CE_OVERRUN}, {0x04, ComApi::CE_RXPARITY},
                                     {0x08, ComApi::CE_FRAME}, {0x10, ComApi::CE_BREAK}};

int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return int(std::clamp<int64_t>(left.count(), 0, 1 << 30));
}
}  // namespace

TNetComDevice::TNetComDevice(std::unique_ptr<TNetSocket> socket, TNetProtocol protocol,
                             std::chrono::milliseconds answerLimit)
    : TStreamComDevice(TNetSocket::NewEvent(), TNetSocket::NewEvent()),
      socket_(std::move(socket)),
      telnet_(protocol == TNetProtocol::Rfc2217),
      answerLimit_(answerLimit),
      options_({Telnet::OptionBinary, Telnet::OptionSuppressGoAhead, Telnet::OptionComPort},
               {Telnet::OptionBinary, Telnet::OptionSuppressGoAhead}) {}

TNetComDevice::~TNetComDevice() {
  bool open;
  {
    TLock lock(mutex_);
    open = IsOpenLocked();
  }
  if (open) CloseHandle();
}

bool TNetComDevice::ComPortAgreedLocked() const {
  return options_.Local(Telnet::OptionComPort) == TTelnetOptions::TState::Yes;
}

bool TNetComDevice::AwaitServerLocked(TLock& lock, Clock::time_point deadline, uint32_t& error) {
  if (!IsOpenLocked()) {
    error = SystemError::BadHandle;
    return false;
  }
  if (HungUpLocked()) {
    error = HangupErrorLocked();
    return false;
  }
  const int left = MillisecondsUntil(deadline);
  if (left <= 0) {
    error = NetError::TimedOut();
    return false;
  }
  WaitForStreamLocked(lock, !outgoing_.empty(), left);
  FlushOutgoingLocked();
  return true;
}

bool TNetComDevice::Negotiate(Clock::time_point deadline, uint32_t& error) {
  TLock lock(mutex_);
  error = 0;
  if (!telnet_) return true;
  SendLocked(options_.Offer());
  NoteBinaryLocked();
  while (options_.Local(Telnet::OptionComPort) == TTelnetOptions::TState::WantYes &&
         AwaitServerLocked(lock, deadline, error)) {
  }
  if (HungUpLocked()) {
    error = HangupErrorLocked();
    return false;
  }
  // A server that has not answered by now gets no settings: they fail when they are made.
  error = 0;
  return true;
}

// Settings

bool TNetComDevice::SetCommState(const TDcb& dcb) {
  TLock lock(mutex_);
  if (!UsableLocked()) return false;
  if (HungUpLocked()) return Fail(HangupErrorLocked());
  if (telnet_) {
    if (!ComPortAgreedLocked()) return Fail(NetError::NotSupported());
    std::vector<TComPortRequest> requests;
    if (!ComPortRequestsForDcb(dcb, requests)) return Fail(SystemError::InvalidArgument);
    TComPortExchange exchange(std::move(requests));
    exchange_ = &exchange;
    SendLocked(exchange.Encoded());
    const Clock::time_point deadline = Clock::now() + answerLimit_;
    uint32_t error = 0;
    while (exchange.Outcome() == TComPortExchange::TOutcome::Waiting && AwaitServerLocked(lock, deadline, error)) {
    }
    exchange_ = nullptr;
    if (exchange.Outcome() == TComPortExchange::TOutcome::Refused) return Fail(SystemError::InvalidArgument);
    if (exchange.Outcome() == TComPortExchange::TOutcome::Waiting) return Fail(error);
  }
  NoteLineSettingsLocked(dcb);
  return true;
}

bool TNetComDevice::GetCommModemStatus(uint32_t& modemStatus) {
  TLock lock(mutex_);
  if (!UsableLocked()) return false;
  modemStatus = modemState_ & 0xF0;
  return true;
}

// What the server sends

void TNetComDevice::Data(const uint8_t* bytes, size_t count) { AcceptLocked(bytes, count); }

void TNetComDevice::Negotiation(uint8_t verb, uint8_t option) {
  SendLocked(options_.Receive(verb, option));
  NoteBinaryLocked();
  if (option == Telnet::OptionComPort) WakeTransfersLocked();  // an open may be waiting for the answer
}

void TNetComDevice::Subnegotiation(uint8_t option, const std::vector<uint8_t>& body) {
  if (option != Telnet::OptionComPort || body.empty() || body[0] < ServerOffset) return;
  const uint8_t command = uint8_t(body[0] - ServerOffset);
  const std::vector<uint8_t> value(body.begin() + 1, body.end());
  if (command == NotifyModemState && value.size() == 1) {
    NoteModemStateLocked(value[0]);
  } else if (command == NotifyLineState && value.size() == 1) {
    NoteLineStateLocked(value[0]);
  } else if (exchange_ && exchange_->Answer(command, value)) {
    WakeTransfersLocked();
  }
}

void TNetComDevice::NoteBinaryLocked() {
  // Only a server that has refused binary mode is taken to speak the text form of Telnet; one that has not
  // answered yet (or never does) passes bytes as they are, as serial device servers do.
  decoder_.SetBinary(options_.Remote(Telnet::OptionBinary) != TTelnetOptions::TState::No);
  binaryOut_ = options_.Local(Telnet::OptionBinary) != TTelnetOptions::TState::No;
}

void TNetComDevice::NoteModemStateLocked(uint8_t state) {
  for (const TModemLine& line : ModemLines)
    if ((state ^ modemState_) & line.Bit) RaiseLocked(line.Event);
  modemState_ = state;
}

void TNetComDevice::NoteLineStateLocked(uint8_t state) {
  uint32_t errors = 0;
  for (const TLineError& e : LineErrors)
    if (state & e.Bit) errors |= e.Flag;
  if (!errors) return;
  AddErrorsLocked(errors);
  if (errors & ComApi::CE_BREAK) RaiseLocked(ComApi::EV_BREAK);
  RaiseLocked(ComApi::EV_ERR);
}

// The stream

void TNetComDevice::SendLocked(const std::vector<uint8_t>& bytes) {
  outgoing_.insert(outgoing_.end(), bytes.begin(), bytes.end());
  FlushOutgoingLocked();
}

void TNetComDevice::FlushOutgoingLocked() {
  while (!outgoing_.empty() && IsOpenLocked() && !HungUpLocked()) {
    uint32_t error = 0;
    const int64_t n = socket_->Send(outgoing_.data(), outgoing_.size(), error);
    if (n == 0) return;
    if (n < 0) {
      HangUpLocked(error);
      return;
    }
    outgoing_.erase(outgoing_.begin(), outgoing_.begin() + n);
  }
}

TStreamComDevice::TStreamWait TNetComDevice::WaitStream(bool forWrite, TPlatformEvent& wake,
                                                        TPlatformEvent* stop, int timeoutMs) {
  return socket_->Wait(forWrite, wake, stop, timeoutMs);
}

bool TNetComDevice::EventIsSet(TPlatformEvent& event) { return TNetSocket::EventIsSet(event); }

void TNetComDevice::ReadStreamLocked() {
  if (!IsOpenLocked() || HungUpLocked()) return;
  uint8_t buffer[4096];
  for (int round = 0; round < ReadRounds; ++round) {
    uint32_t error = 0;
    const int64_t n = socket_->Receive(buffer, sizeof buffer, error);
    if (n == 0) break;
    if (n < 0) {
      HangUpLocked(error);
      break;
    }
    if (telnet_)
      decoder_.Feed(buffer, size_t(n), *this);
    else
      AcceptLocked(buffer, size_t(n));
  }
  FlushOutgoingLocked();
}

int64_t TNetComDevice::WriteStreamLocked(const uint8_t* bytes, uint32_t count, uint32_t& error) {
  FlushOutgoingLocked();
  if (HungUpLocked()) {
    error = HangupErrorLocked();
    return -1;
  }
  if (!outgoing_.empty()) return 0;
  if (!telnet_) {
    const int64_t n = socket_->Send(bytes, count, error);
    if (n < 0) HangUpLocked(error);
    return n;
  }
  const uint32_t take = std::min(count, WriteChunk);
  const bool binary = binaryOut_;
  std::vector<uint8_t> encoded;
  encoded.reserve(take * 2);
  Telnet::AppendData(encoded, bytes, take, binary);
  const int64_t sent = socket_->Send(encoded.data(), encoded.size(), error);
  if (sent <= 0) {
    if (sent < 0) HangUpLocked(error);
    return sent;
  }
  // Which data bytes went out whole; one cut in the middle of its encoding (a doubled 255) has its rest
  // sent before anything else, so it counts as written.
  size_t position = 0;
  int64_t written = 0;
  for (uint32_t i = 0; i < take && position < size_t(sent); ++i) {
    const size_t length = Telnet::EncodedLength(bytes[i], binary);
    if (position + length > size_t(sent))
      outgoing_.insert(outgoing_.end(), encoded.begin() + sent, encoded.begin() + position + length);
    position += length;
    ++written;
  }
  return written;
}

bool TNetComDevice::StreamStatusLocked(uint32_t& unread, uint32_t& unsent, uint32_t& errors, uint32_t& error) {
  // Only the server's data counts, so what has arrived is decoded first.
  ReadStreamLocked();
  unread = 0;
  unsent = uint32_t(outgoing_.size());
  errors = 0;
  return true;
}

uint32_t TNetComDevice::FlushStreamLocked(bool input, bool output) {
  // The server's own queues are emptied too; its answer is not waited for, as a purge changes nothing
  // that could be refused.
  if (telnet_ && ComPortAgreedLocked() && !HungUpLocked()) {
    const uint8_t which = input && output ? PurgeBoth : input ? PurgeReceive : PurgeTransmit;
    SendLocked(Telnet::Subnegotiation(Telnet::OptionComPort, {PurgeData, which}));
  }
  return 0;
}

uint32_t TNetComDevice::CloseStreamLocked() { return socket_->Close(); }
