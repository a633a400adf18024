// Receiving replies: bytes are counted from the moment the request went out; the length byte at offset 8
// tells where the reply ends. The status byte is examined only outside a register exchange.
#include "link/Frame.h"
#include "link/LinkBinding.h"
#include "serial/ComPort.h"
#include "toolkit/Toolkit.h"

const char* const TextDeviceFault = "Устройство неисправно";
const char* const TextNotSupported = "Команда не поддерживается";
const char* const TextNotConnected = "Устройство не подключено";
const char* const CaptionError = "Error";
const char* const CaptionInformation = "Information";

namespace {
int receiving = 0;  // ComPort1RxChar is on the stack (a message box it opened runs the loop)
}

bool ReceiveWaitingBytes() {
  auto& port = *Bound().ComPort1;
  // Inside the receiver the batch being read is already counted: taking bytes here would leave it reading
  // bytes that are gone, and block.
  if (receiving || !port.Connected() || !port.OnRxChar) return false;
  int32_t waiting = 0;
  try {
    waiting = port.PendingInputCount();
  } catch (const EComPort&) {
    return false;  // a device that cannot say is reported by the next transfer
  }
  if (waiting <= 0) return false;
  port.OnRxChar(&port, waiting);
  return true;
}

void ComPort1RxChar(TCustomComPort* Sender, int32_t Count) {
  auto& link = Bound();
  TLinkState& s = LinkState;
  struct TDepth {
    TDepth() { ++receiving; }
    ~TDepth() { --receiving; }
  } depth;
  link.Timer1->SetEnabled(false);
  s.ReplyTimedOut = false;
  for (int32_t i = 0; i < Count; ++i) {
    ++s.RxCount;
    uint8_t byte = 0;
    link.ComPort1->Read(&byte, 1);
    // Bytes past the buffer (a reply longer than any this program asks for, or stray bytes) are counted
    // but not kept: what a reply is used for lies in its first 13 bytes.
    if (s.RxCount <= RxBufferSize) s.RxBuffer[s.RxCount] = byte;
    if (!s.RegisterMode && s.RxCount == FrameStatusOffset + 1) {
      if (byte == statusDeviceFault) {
        s.ReplyRejected = true;
        Toolkit().MessageBox(TextDeviceFault, CaptionError, TMessageKind::mkError);
      } else if (byte == statusNotSupported) {
        s.ReplyRejected = true;
        Toolkit().MessageBox(TextNotSupported, CaptionInformation, TMessageKind::mkInformation);
      }
    }
    if (s.RxCount == FrameLengthOffset + 1) s.RxRemaining = byte + 3;
    if (s.RxRemaining > 0) --s.RxRemaining;
    if (s.RxCount > FrameLengthOffset + 1 && s.RxRemaining == 0 && !s.ReplyRejected) DispatchReply();
  }
}

void DispatchReply() {
  auto& link = Bound();
  TLinkState& s = LinkState;
  constexpr int data = FrameDataOffset + 1;  // buffer position of the first data byte
  if (s.Command == cmdWrite && s.StepPending) {
    s.StepPending = false;
    if (link.Hooks.EnableStepButtons) link.Hooks.EnableStepButtons();
  }
  // A reply that carries fewer data bytes than were asked for holds no value: what would be taken from it
  // is its checksum and bytes left over from earlier replies.
  if (s.Command == cmdRead && s.RegisterMode && s.RxBuffer[FrameLengthOffset + 1] >= s.Value) {
    if (s.Value == 1) {
      s.CurrentValue = s.RxBuffer[data];
      s.ReadAnswered = true;
    } else if (s.Value == 4) {
      s.Minimum = s.RxBuffer[data];
      s.Maximum = s.RxBuffer[data + 1];
      s.Default = s.RxBuffer[data + 2];
      s.Step = s.RxBuffer[data + 3];
      s.ReadAnswered = true;
    }
  }
  if (s.Command == cmdSetAddress && link.Hooks.AddressAccepted) link.Hooks.AddressAccepted();
  s.ReplyRejected = false;
}

void Timer1Timer() {
  auto& link = Bound();
  TLinkState& s = LinkState;
  link.Timer1->SetEnabled(false);
  // A reply that reached the port in time is no time-out, however late a busy machine reports it.
  if (ReceiveWaitingBytes()) return;
  if (s.RegisterMode) return;  // a time-out inside a register exchange passes silently
  s.ReplyTimedOut = true;
  if (!s.Scanning) Toolkit().MessageBox(TextNotConnected, CaptionInformation, TMessageKind::mkInformation);
}

void Timer2Timer() { Bound().Timer2->SetEnabled(false); }

void Timer4Timer() { Bound().Timer4->SetEnabled(false); }
