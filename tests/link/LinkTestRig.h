#pragma once
// The link on the virtual clock, watched from outside: every receive event with the count it carried and
// where the receiver stood afterwards, the virtual times of the hooks, and the receive count at which each
// message box opened. A test may also hold received bytes back and hand them over in larger batches.
#include <cstdint>
#include <functional>
#include <tuple>
#include <vector>

#include "link/Link.h"
#include "link/LinkState.h"
#include "tests/support/VirtualRig.h"

class TWatchedLinkRig : public TLinkRig {
 public:
  struct TRxEvent {
    int64_t TimeUs;
    int32_t Count;    // what the port handed to the receiver
    int32_t RxCount;  // after the receiver ran, with the results as they stood then
    uint8_t CurrentValue;
    uint8_t Minimum, Maximum, Default, Step;
  };
  struct THookCall {
    int64_t TimeUs;
    int32_t RxCount;
  };

  TWatchedLinkRig() {
    TLinkHooks hooks;
    hooks.EnableStepButtons = [this] {
      ++StepButtonsEnabled;
      StepCalls.push_back({Tk.NowUs(), LinkState.RxCount});
    };
    hooks.AddressAccepted = [this] {
      ++AddressAccepted;
      AcceptCalls.push_back({Tk.NowUs(), LinkState.RxCount});
    };
    hooks.NewAddress = [this] { return NewAddress; };
    BindLink(Port, *Timer1, *Timer2, *Timer4, hooks);
    Port.OnRxChar = [this](TCustomComPort* sender, int32_t count) {
      // Bytes not read now stay in the port's input queue and come again with the next event.
      if (HandOver && !HandOver(count)) return;
      ComPort1RxChar(sender, count);
      const TLinkState& s = LinkState;
      Events.push_back(
          {Tk.NowUs(), count, s.RxCount, s.CurrentValue, s.Minimum, s.Maximum, s.Default, s.Step});
    };
    Tk.OnMessage = [this](const TVirtualToolkit::TMessageRecord&) {
      MessageRxCounts.push_back(LinkState.RxCount);
    };
  }

  // The base closes the port, and closing serves the events still on their way; the handlers set here
  // use this object's members, which are gone by then.
  ~TWatchedLinkRig() override {
    Port.OnRxChar = nullptr;
    Tk.OnMessage = nullptr;
  }

  // Decides, from the number of bytes waiting, whether the receiver gets them now; all at once when unset.
  std::function<bool(int32_t waiting)> HandOver;

  std::vector<TRxEvent> Events;
  std::vector<THookCall> StepCalls;
  std::vector<THookCall> AcceptCalls;
  std::vector<int32_t> MessageRxCounts;

  // A register exchange as every caller sets it up.
  void SetUpRead(uint8_t address, uint8_t code, uint8_t count) {
    LinkState.RegisterMode = true;
    LinkState.Address = address;
    LinkState.Register = code;
    LinkState.Value = count;
  }
  // The receive count after the first event that left CurrentValue (or Minimum) at `value`; 0 if none did.
  int32_t RxCountWhenCurrentValueBecame(uint8_t value) const {
    for (const auto& e : Events)
      if (e.CurrentValue == value) return e.RxCount;
    return 0;
  }
  int32_t RxCountWhenMinimumBecame(uint8_t value) const {
    for (const auto& e : Events)
      if (e.Minimum == value) return e.RxCount;
    return 0;
  }
  void SetUpWrite(uint8_t address, uint8_t code, uint8_t value) {
    LinkState.RegisterMode = true;
    LinkState.Address = address;
    LinkState.Register = code;
    LinkState.WriteCount = 1;
    LinkState.Value = value;
  }
};

// Where byte k (0 based) of a frame that went out in one burst ends, at 38400 baud.
inline int64_t ByteEndUs(const TWireFrame& frame, int k) {
  return frame.StartUs + (int64_t(k + 1) * 10 * 1'000'000 * 2 + 38400) / (2 * 38400);
}

// Every field of the link state, for comparing a snapshot with the state later.
inline auto LinkFields(const TLinkState& s) {
  return std::tie(s.Address, s.Register, s.WriteCount, s.Value, s.Command, s.DataLength, s.CurrentValue,
                  s.Minimum, s.Maximum, s.Default, s.Step, s.StepPending, s.RegisterMode, s.Scanning,
                  s.ReplyTimedOut, s.ReplyRejected, s.TxFrame, s.RxBuffer, s.RxCount, s.RxRemaining, s.CrcLow,
                  s.CrcHigh);
}
