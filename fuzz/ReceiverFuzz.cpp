// The reply receiver against any bytes the units may send, in any pieces, at any time, during each kind of
// exchange the program runs, on the virtual clock with the real port object on the simulated line. The
// harness, not the port's event thread, hands the received bytes over, in batches the input picks (the
// event thread's own delivery is tested with the serial tests; a hand-over per byte across threads would
// also make a run a hundred times slower). Whatever arrives:
// - every byte the units sent is read exactly once, in order, and none is made up;
// - a reply counts from its request and is complete at N + 11 bytes (N its byte 8); from then on each byte
//   acts on it again, as long as its status was not an error outside a register exchange;
// - results come only from bytes of the reply that completed, and change at no other time;
// - an error status outside a register exchange shows its box, once, and the reply is not used;
// - a probe times out exactly when nothing came back to it, and only outside the poll says so.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "link/Frame.h"
#include "link/Link.h"
#include "tests/support/VirtualRig.h"

namespace {

enum TExchange {
  exPollProbe,       // the poll's probe of an address
  exProbe,           // a probe outside the poll
  exReadValue,       // select and a one-byte read, as a panel reads a switch
  exReadDescriptor,  // select and a four-byte read, as the settings window reads a value's range
  exSwitchWrite,     // select and write, as a switch writes back
  exSettingsWrite,   // select, then a bare write whose reply re-enables the step buttons
  exSetAddress,      // the new address to the unaddressed unit
  exLast = exSetAddress
};

// The link state as the receiver found it when it was handed a batch.
struct TSnapshot {
  uint8_t Command;
  bool RegisterMode;
  uint8_t Value;
};

// What the receiver must do, in terms of replies rather than counters.
struct TModel {
  int Position = 0;  // bytes of the current reply so far
  int Length = 0;    // its N, once byte 8 has come
  bool Rejected = false;
  std::array<uint8_t, RxBufferSize + 1> Buffer{};
  uint8_t CurrentValue = 0, Minimum = 0, Maximum = 0, Default = 0, Step = 0;
  bool StepPending = false, ReadAnswered = false;
  int StepCalls = 0, AcceptCalls = 0;
  std::vector<std::string> StatusBoxes;

  void NewReply() {
    Position = 0;
    Rejected = false;
  }
  void Take(uint8_t byte, const TSnapshot& s) {
    ++Position;
    if (Position <= RxBufferSize) Buffer[Position] = byte;
    if (Position == FrameStatusOffset + 1 && !s.RegisterMode &&
        (byte == statusDeviceFault || byte == statusNotSupported)) {
      Rejected = true;
      StatusBoxes.push_back(byte == statusDeviceFault ? TextDeviceFault : TextNotSupported);
    }
    if (Position == FrameLengthOffset + 1) Length = byte;
    if (Position > FrameLengthOffset + 1 && Position >= Length + FrameOverhead && !Rejected) Use(s);
  }
  void Use(const TSnapshot& s) {
    constexpr int data = FrameDataOffset + 1;
    if (s.Command == cmdWrite && StepPending) {
      StepPending = false;
      ++StepCalls;
    }
    // A reply with fewer data bytes than asked for holds no value.
    if (s.Command == cmdRead && s.RegisterMode && Length >= s.Value) {
      if (s.Value == 1) {
        CurrentValue = Buffer[data];
        ReadAnswered = true;
      } else if (s.Value == 4) {
        Minimum = Buffer[data];
        Maximum = Buffer[data + 1];
        Default = Buffer[data + 2];
        Step = Buffer[data + 3];
        ReadAnswered = true;
      }
    }
    if (s.Command == cmdSetAddress) ++AcceptCalls;
  }
};

struct TRun {
  FuzzedDataProvider* In = nullptr;
  std::vector<uint8_t> Sent;  // every byte the units put on the line, in line order
  size_t Read = 0;            // how many of them the receiver has been handed
  TModel Model;
  int Calls = 0;
  bool InHandler = false;
  bool PollAfterBatch = false, ActivateAfterBatch = false;
  std::set<int64_t> Polls;  // when the harness looks at the port next
  std::vector<std::string> Boxes;
  std::vector<bool> BoxWhileScanning;
};

TLinkRig* Rig = nullptr;
TRun Run;

std::string Results(const TLinkState& s) {
  return "CurrentValue " + std::to_string(s.CurrentValue) + ", descriptor " + std::to_string(s.Minimum) + " " +
         std::to_string(s.Maximum) + " " + std::to_string(s.Default) + " " + std::to_string(s.Step);
}

void CheckAgainstModel(const char* when) {
  const TLinkState& s = LinkState;
  const TModel& m = Run.Model;
  FUZZ_CHECK(s.CurrentValue == m.CurrentValue && s.Minimum == m.Minimum && s.Maximum == m.Maximum &&
                 s.Default == m.Default && s.Step == m.Step,
             when << ": " << Results(s) << " where the replies give CurrentValue " << int(m.CurrentValue)
                  << ", descriptor " << int(m.Minimum) << " " << int(m.Maximum) << " " << int(m.Default) << " "
                  << int(m.Step));
  FUZZ_CHECK(Rig->StepButtonsEnabled == m.StepCalls, when << ": step buttons enabled " << Rig->StepButtonsEnabled
                                                           << " times, not " << m.StepCalls);
  FUZZ_CHECK(Rig->AddressAccepted == m.AcceptCalls,
             when << ": address accepted " << Rig->AddressAccepted << " times, not " << m.AcceptCalls);
}

void PollAt(int64_t timeUs);

// Hands `count` of the waiting bytes to the receiver, watching it against the model.
void Deliver(TCustomComPort* sender, int32_t count) {
  TLinkState& s = LinkState;
  TModel& m = Run.Model;
  if (s.RxCount != m.Position) {
    FUZZ_CHECK(s.RxCount == 0, "RxCount went from " << m.Position << " to " << s.RxCount << " between batches");
    m.NewReply();
  }
  FUZZ_CHECK(s.ReplyRejected == m.Rejected, "ReplyRejected is " << s.ReplyRejected << " before a batch");
  m.StepPending = s.StepPending;    // the settings window sets it before its write
  m.ReadAnswered = s.ReadAnswered;  // every read request clears it
  CheckAgainstModel("before a batch");
  FUZZ_CHECK(Run.Read + size_t(count) <= Run.Sent.size(),
             "the port offers " << count << " bytes, " << Run.Sent.size() - Run.Read << " were sent");
  const TSnapshot snapshot{s.Command, s.RegisterMode, s.Value};
  for (int32_t i = 0; i < count; ++i) m.Take(Run.Sent[Run.Read + i], snapshot);

  Run.InHandler = true;
  ComPort1RxChar(sender, count);
  Run.InHandler = false;
  Run.Read += size_t(count);
  ++Run.Calls;
  if (Run.ActivateAfterBatch) LinkState.RegisterMode = false;
  if (Run.PollAfterBatch) PollAt(Rig->Tk.NowUs());
  Run.ActivateAfterBatch = Run.PollAfterBatch = false;

  FUZZ_CHECK(s.RxCount == m.Position, "RxCount " << s.RxCount << " after a batch, " << m.Position << " bytes came");
  for (int k = 1; k <= std::min(m.Position, RxBufferSize); ++k)
    FUZZ_CHECK(s.RxBuffer[k] == m.Buffer[k], "RxBuffer position " << k << " does not hold the byte received");
  FUZZ_CHECK(s.ReplyRejected == m.Rejected, "ReplyRejected is " << s.ReplyRejected << " after a batch");
  FUZZ_CHECK(!s.ReplyTimedOut, "a batch left ReplyTimedOut set");
  FUZZ_CHECK(s.StepPending == m.StepPending, "StepPending is " << s.StepPending << " after a batch");
  FUZZ_CHECK(s.ReadAnswered == m.ReadAnswered, "ReadAnswered is " << s.ReadAnswered << " after a batch");
  CheckAgainstModel("after a batch");
}

// The receiver is handed what the port holds whenever something reaches the line, in batches the input
// chooses: all of it, or some now and the rest with a later byte or a little later. Bytes that arrive
// while a batch is still open (its message box showing) wait for the batch to end, as the port's own
// event delivery would make them.
void Poll();

// Looks at the port at `timeUs`.
void PollAt(int64_t timeUs) {
  if (!Run.Polls.empty() && *Run.Polls.begin() <= timeUs) return;  // an earlier look comes first anyway
  Run.Polls.insert(timeUs);
  Rig->Tk.At(timeUs, Poll);
}

void PollWhenTheLineMoves() {
  if (const int64_t due = Rig->Bus.NextDueUs(); due >= 0) PollAt(due);
}

void Poll() {
  const int64_t now = Rig->Tk.NowUs();
  while (!Run.Polls.empty() && *Run.Polls.begin() <= now) Run.Polls.erase(Run.Polls.begin());
  if (Run.InHandler) {
    Run.PollAfterBatch = true;
    return;
  }
  FuzzedDataProvider& in = *Run.In;
  if (const int32_t waiting = Rig->Port.PendingInputCount(); waiting > 0) {
    int32_t now = waiting;
    if (in.ConsumeBool()) {
      now = in.ConsumeIntegralInRange<int32_t>(0, waiting - 1);
      PollAt(Rig->Tk.NowUs() + in.PickValueInArray<int64_t>({1, 100, 260, 1000, 5000, 70'000}));
    }
    if (now > 0) Deliver(&Rig->Port, now);
    // More came while the batch's message box was open: they are the next batch.
    if (now == waiting && Rig->Port.PendingInputCount() > 0) PollAt(Rig->Tk.NowUs());
  }
  PollWhenTheLineMoves();
}

int64_t PickDelayUs(FuzzedDataProvider& in) {
  return in.PickValueInArray<int64_t>({0, 0, 100, 1000, 2000, 20'000, 59'000, 60'000, 61'000, 120'000, 249'000,
                                       250'000, 251'000, 400'000});
}

std::vector<uint8_t> SomeBytes(FuzzedDataProvider& in, size_t most) {
  return in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, most));
}

// What the units put on the line for one request: nothing, a well-formed reply with any status and data,
// or any bytes; late or at once, in pieces, with stray bytes before or after.
TReplyPlan Reply(const TWireFrame& request) {
  FuzzedDataProvider& in = *Run.In;
  TReplyPlan plan;
  const uint8_t form = in.ConsumeIntegral<uint8_t>();
  if (form < 0x20) return plan;
  plan.DelayUs = PickDelayUs(in);
  if (form & 1) {
    const uint8_t status = in.PickValueInArray<uint8_t>({0, 0, 0, statusDeviceFault, statusNotSupported, 0x42});
    plan.Bytes = BuildFrame(request.Address, request.Command, SomeBytes(in, 6), status);
  } else {
    plan.Bytes = SomeBytes(in, 100);
  }
  for (int k = in.ConsumeIntegralInRange(0, 3), after = 0; k > 0; --k) {
    after += in.ConsumeIntegralInRange(1, 12);
    plan.Splits.push_back({size_t(after), PickDelayUs(in)});
  }
  if (form & 2) plan.StrayBefore = SomeBytes(in, 4);
  if (form & 4) {
    plan.StrayAfter = SomeBytes(in, 90);
    plan.StrayAfterGapUs = PickDelayUs(in);
  }
  PollAt(request.EndUs + plan.DelayUs);  // the first byte comes then, or later if the line is busy
  Run.Sent.insert(Run.Sent.end(), plan.StrayBefore.begin(), plan.StrayBefore.end());
  Run.Sent.insert(Run.Sent.end(), plan.Bytes.begin(), plan.Bytes.end());
  Run.Sent.insert(Run.Sent.end(), plan.StrayAfter.begin(), plan.StrayAfter.end());
  return plan;
}

// The operator brings the main window to the front, which ends a register exchange's mode.
void ActivateMainWindow() {
  if (Run.InHandler) {  // no click reaches the main window past a modal box
    Run.ActivateAfterBatch = true;
    return;
  }
  LinkState.RegisterMode = false;
}

void Probe(uint8_t address, bool scanning) {
  LinkState.RegisterMode = false;
  LinkState.Scanning = scanning;
  const int callsBefore = Run.Calls;
  const size_t boxesBefore = Run.Boxes.size();
  ProbeDevice(address);
  // Any batch since the request stopped the reply timer or cleared what its expiry set; but what came
  // back is this address's answer only when, as far as it came, it is an identify reply from it.
  const TLinkState& st = LinkState;
  const bool ownAnswer = st.RxCount <= FrameCommandOffset || (st.RxBuffer[FrameAddressOffset + 1] == address &&
                                                              st.RxBuffer[FrameCommandOffset + 1] == cmdIdentify);
  const bool anything = Run.Calls > callsBefore, answered = anything && ownAnswer;
  FUZZ_CHECK(LinkState.ReplyTimedOut == !answered,
             "after a probe " << (answered ? "that was answered" : "that nothing answered") << ", ReplyTimedOut is "
                              << LinkState.ReplyTimedOut);
  size_t notConnected = 0;
  for (size_t i = boxesBefore; i < Run.Boxes.size(); ++i) notConnected += Run.Boxes[i] == TextNotConnected;
  // An answer that came only after the time-out clears the flag, but the box has been shown by then. A
  // foreign reply stops the reply timer: no box for it.
  const size_t least = !anything && !scanning ? 1 : 0, most = scanning ? 0 : 1;
  FUZZ_CHECK(notConnected >= least && notConnected <= most,
             notConnected << " \"not connected\" boxes after a " << (scanning ? "poll's " : "") << "probe");
  LinkState.Scanning = false;
}

void RunExchange(TExchange kind, uint8_t address, uint8_t code, uint8_t value) {
  TLinkState& s = LinkState;
  switch (kind) {
    case exPollProbe:
    case exProbe:
      Probe(address, kind == exPollProbe);
      return;
    case exReadValue:
    case exReadDescriptor:
      s.RegisterMode = true;
      s.Address = address;
      s.Register = code;
      s.Value = kind == exReadValue ? 1 : 4;
      ReadRegister();
      break;
    case exSwitchWrite:
      s.RegisterMode = true;
      s.Address = address;
      s.Register = code;
      s.WriteCount = 1;
      s.Value = value;
      WriteRegister();
      break;
    case exSettingsWrite:
      s.StepPending = true;
      s.RegisterMode = true;
      s.Address = address;
      s.Register = code;
      s.WriteCount = 1;
      s.Value = value;
      RunCommand(cmdSelect);
      SendCommand(cmdWrite);
      break;
    case exSetAddress:
      s.RegisterMode = false;
      RunCommand(cmdSetAddress);
      break;
  }
  s.RegisterMode = false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static TLinkRig rig;
  Rig = &rig;
  // The port reports no received bytes itself here; the harness hands them over (see Poll). Its event
  // thread waits for a break, which the simulated line never shows. The link's own look at the port
  // when the reply timer runs out goes through the same checked hand-over.
  rig.Port.Close();
  rig.Port.SetEvents(MakeEvents({evBreak}));
  rig.Port.OnRxChar = [](TCustomComPort* sender, int32_t count) {
    if (Run.InHandler) return;  // the link itself does not look inside a batch
    Deliver(sender, count);
  };
  rig.Port.Open();
  rig.Bus.Script = [](const TWireFrame& request) -> std::optional<TReplyPlan> { return Reply(request); };
  rig.Tk.OnMessage = [](const TVirtualToolkit::TMessageRecord& box) {
    Run.Boxes.push_back(box.Text);
    Run.BoxWhileScanning.push_back(LinkState.Scanning);
  };
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  Run = TRun{};
  Run.In = &in;
  ResetLinkState();
  // Results from before, which only a completed reply may replace.
  LinkState.CurrentValue = Run.Model.CurrentValue = 0xA5;
  LinkState.Minimum = Run.Model.Minimum = 0x11;
  LinkState.Maximum = Run.Model.Maximum = 0x22;
  LinkState.Default = Run.Model.Default = 0x33;
  LinkState.Step = Run.Model.Step = 0x44;
  Rig->StepButtonsEnabled = Rig->AddressAccepted = 0;
  Rig->Tk.ClearMessages();
  Rig->Bus.ClearTrace();
  Rig->Tk.OperatorDelayUs = in.PickValueInArray<int64_t>({0, 0, 5000, 300'000});

  for (int n = in.ConsumeIntegralInRange(1, 3); n > 0; --n) {
    const auto kind = TExchange(in.ConsumeIntegralInRange<int>(0, exLast));
    const uint8_t address = in.ConsumeIntegralInRange<uint8_t>(0, 16);
    const uint8_t code = in.ConsumeIntegral<uint8_t>();
    const uint8_t value = in.ConsumeIntegral<uint8_t>();
    if (in.ConsumeBool()) Rig->Tk.After(PickDelayUs(in), ActivateMainWindow);
    RunExchange(kind, address, code, value);
    Rig->Tk.RunFor(PickDelayUs(in));
  }
  Rig->Tk.RunUntilIdle();

  FUZZ_CHECK(Run.Read == Run.Sent.size(), "the receiver read " << Run.Read << " of the " << Run.Sent.size()
                                                                 << " bytes the units sent");
  FUZZ_CHECK(Rig->Port.PendingInputCount() == 0, "bytes left unread in the port");
  size_t onLine = 0;
  for (const auto& f : Rig->Bus.Trace())
    if (f.Direction == TTraceDirection::tdUnitsToHost) onLine += f.Bytes.size();
  FUZZ_CHECK(onLine == Run.Sent.size(), "the line carried " << onLine << " bytes, the units sent " << Run.Sent.size());
  std::vector<std::string> statusBoxes;
  for (size_t i = 0; i < Run.Boxes.size(); ++i) {
    const std::string& text = Run.Boxes[i];
    if (text == TextNotConnected) {
      FUZZ_CHECK(!Run.BoxWhileScanning[i], "\"not connected\" shown during the poll");
    } else {
      FUZZ_CHECK(text == TextDeviceFault || text == TextNotSupported, "unexpected box: " << text);
      statusBoxes.push_back(text);
    }
  }
  FUZZ_CHECK(statusBoxes == Run.Model.StatusBoxes,
             statusBoxes.size() << " status boxes shown, the replies call for " << Run.Model.StatusBoxes.size());
  CheckAgainstModel("at the end");
  // What the run allocated goes now, so libFuzzer's leak check sees a balanced run.
  Run = TRun{};
  Rig->Bus.ClearTrace();
  Rig->Tk.ClearMessages();
  ResetLinkState();
  return 0;
}
