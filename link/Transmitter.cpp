// Sending requests: every command is one checksummed frame, written whole, followed by a fixed wait in
// which replies, time-outs and clicks are handled.
#include "link/Frame.h"
#include "link/LinkBinding.h"
#include "serial/ComPort.h"
#include "toolkit/Toolkit.h"

namespace {

// Runs the message loop until the timer's own handler has stopped it. ProcessMessages blocks while
// nothing is pending, so the line being quiet costs no CPU. Bytes that reached the port within the wait
// belong to it, even when a busy machine has not delivered their event yet.
void WaitFor(TTimer& timer) {
  timer.SetEnabled(true);
  while (timer.Enabled()) Toolkit().ProcessMessages();
  ReceiveWaitingBytes();
}

uint8_t DataLengthOf(uint8_t command) {
  switch (command) {
    case cmdSelect:
      return 4;
    case cmdWrite:
    case cmdRead:
    case cmdSetAddress:
      return 1;
    default:
      return 0;
  }
}

}  // namespace

void SendCommand(uint8_t command) {
  auto& link = Bound();
  TLinkState& s = LinkState;
  s.Command = command;
  link.ComPort1->Open();  // nothing when already open
  s.RxCount = 0;
  // A rejected reply must not block the dispatch of the replies to later requests.
  s.ReplyRejected = false;
  uint8_t p = 0;
  s.DataLength = DataLengthOf(command);

  std::vector<uint8_t> data;
  switch (command) {
    case cmdSelect:
      data.assign(4, 0);
      if (s.RegisterMode) data[0] = s.Register;
      break;
    case cmdWrite:
      if (s.RegisterMode) {
        s.DataLength = s.WriteCount;
        if (s.WriteCount == 1) p = s.Value;
      }
      break;
    case cmdRead:
      if (s.RegisterMode) p = s.Value;
      s.ReadAnswered = false;
      break;
    case cmdSetAddress:
      p = uint8_t(link.Hooks.NewAddress ? link.Hooks.NewAddress() : 0);
      s.Address = 0;
      break;
    default:
      break;
  }
  if (s.DataLength == 1)
    data.assign(1, p);
  else
    data.resize(s.DataLength, 0);

  s.TxFrame = BuildFrame(s.Address, command, data);
  s.CrcLow = s.TxFrame[s.DataLength + 9];
  s.CrcHigh = s.TxFrame[s.DataLength + 10];
  WriteFrame();
  // A running reply timer keeps counting from the earlier request that has had no byte yet.
  link.Timer1->SetEnabled(true);
}

// One Write for the whole frame: written a byte at a time, a frame could reach the line in pieces on a
// busy machine, and a unit drops a frame that pauses.
void WriteFrame() {
  auto& port = *Bound().ComPort1;
  const auto& frame = LinkState.TxFrame;
  int32_t written = 0;
  while (written < int32_t(frame.size())) {
    const int32_t n = port.Write(frame.data() + written, int32_t(frame.size()) - written);
    // No write time limit is set, so a short write means the device stopped taking bytes.
    if (n <= 0) throw EComPort(CError_WriteFailed);
    written += n;
  }
}

void RunCommand(uint8_t command) {
  SendCommand(command);
  WaitFor(*Bound().Timer4);
}

void ReadRegister() {
  RunCommand(cmdSelect);
  RunCommand(cmdRead);
}

void WriteRegister() {
  RunCommand(cmdSelect);
  RunCommand(cmdWrite);
}

void ProbeDevice(uint8_t address) {
  LinkState.Address = address;
  SendCommand(cmdIdentify);
  WaitFor(*Bound().Timer2);
}
