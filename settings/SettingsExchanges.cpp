// The settings window's exchanges with its unit. Each runs as one link operation; the window's copy of
// the node goes into the link state at its start, so what ran on the link in between does not matter.
#include <QPointer>

#include "link/Frame.h"
#include "link/Link.h"
#include "link/LinkOperations.h"
#include "settings/Form2.h"
#include "toolkit/Toolkit.h"

namespace {

// However an exchange ends, register mode ends with it.
struct TRegisterModeEnd {
  ~TRegisterModeEnd() { LinkState.RegisterMode = false; }
};

// The window's node into the link state, as the exchange's requests and the step arithmetic use it.
template <typename P>
void Load(const P& p) {
  TLinkState& s = LinkState;
  s.Address = p.Address;
  s.Register = p.Register;
  s.WriteCount = 1;
  s.CurrentValue = p.CurrentValue;
  s.Minimum = p.Minimum;
  s.Maximum = p.Maximum;
  s.Default = p.Default;
  s.Step = p.Step;
}

// A reading that did not bring its value back is told once: as the unit's refusal when its reply carried
// one, else as a unit that does not answer.
void ReportUnread() {
  const TLinkState& s = LinkState;
  const uint8_t status = s.RxCount > FrameStatusOffset ? s.RxBuffer[FrameStatusOffset + 1] : 0;
  if (status == statusDeviceFault)
    Toolkit().MessageBox(TextDeviceFault, CaptionError, TMessageKind::mkError);
  else if (status == statusNotSupported)
    Toolkit().MessageBox(TextNotSupported, CaptionInformation, TMessageKind::mkInformation);
  else
    Toolkit().MessageBox(TextNotConnected, CaptionInformation, TMessageKind::mkInformation);
}

}  // namespace

void TForm2::ReadSelectedNode() {
  QTreeWidgetItem* item = TreeView1->currentItem();
  if (!item || !isVisible()) return;
  TLinkState& s = LinkState;
  s.StepPending = true;
  TParameter p;
  p.Index = AbsoluteIndex(item);
  p.Kind = SettingsTreeKinds[p.Index];
  if (p.Kind == nkGroup) return;
  p.Address = Unit();
  p.Register = *SettingsTreeRegisters[p.Index];
  s.Address = p.Address;
  s.Register = p.Register;

  TRegisterModeEnd end;
  s.RegisterMode = true;
  if (IsSwitch(p.Kind)) {
    RunCommand(cmdSelect);
    s.Value = 1;
    ReadRegister();
    p.ValueRead = s.ReadAnswered;
    p.CurrentValue = s.CurrentValue;
  } else {
    s.Value = 1;
    ReadRegister();
    p.ValueRead = s.ReadAnswered;
    p.CurrentValue = s.CurrentValue;
    // Without the value the descriptor has nothing to place on the scale.
    if (p.ValueRead) {
      s.Register = DescriptorRegister(p.Register);
      s.Value = 4;
      ReadRegister();
      s.Register = p.Register;
      p.DescriptorRead = s.ReadAnswered;
      p.Minimum = s.Minimum;
      p.Maximum = s.Maximum;
      p.Default = s.Default;
      p.Step = s.Step;
    }
    s.WriteCount = 1;
  }
  const bool complete = p.ValueRead && (IsSwitch(p.Kind) || p.DescriptorRead);
  // Still in register mode, so the receiver lets the time-out pass: the window tells it once itself.
  if (!complete) WaitForQuietLine();
  s.RegisterMode = false;

  // Selected again meanwhile, or moved to another unit: that reading is waiting and shows its own. Shown
  // anew meanwhile: the window shows only its tree until a node is selected.
  if (TreeView1->currentItem() != item || Unit() != p.Address || presented_ != p.Index || !isVisible()) return;
  param_ = p;
  PresentValues();
  if (IsSwitch(p.Kind) && p.ValueRead && p.CurrentValue <= 1) {
    // The state read goes back to the unit when it changes the box.
    const bool on = p.CurrentValue == 1;
    if (CheckBox1->isChecked() != on) {
      SetCheckedQuietly(on);
      WriteSwitch(p, on);
    }
  }
  if (!complete) ReportUnread();
}

void TForm2::CheckBox1Click() {
  const bool on = CheckBox1->isChecked();
  QPointer<TForm2> self(this);
  RunLinkOperation([self, on] {
    if (self) self->WriteSwitch(self->param_, on);
  });
}

void TForm2::WriteSwitch(const TParameter& parameter, bool on) {
  TLinkState& s = LinkState;
  Load(parameter);
  TRegisterModeEnd end;
  s.RegisterMode = true;
  RunCommand(cmdSelect);
  s.Value = on ? 1 : 0;
  SendCommand(cmdWrite);
  s.RegisterMode = false;
}

void TForm2::BitBtn2Click() { QueueStep(+1); }

void TForm2::BitBtn3Click() { QueueStep(-1); }

void TForm2::QueueStep(int direction) {
  const bool up = direction > 0;
  (up ? plusWaiting_ : minusWaiting_) = true;
  (up ? BitBtn2 : BitBtn3)->setEnabled(false);
  ++(up ? plusQueued_ : minusQueued_);
  QPointer<TForm2> self(this);
  RunLinkOperation([self, direction] {
    if (self) self->StepBy(direction);
  });
}

void TForm2::StepBy(int direction) {
  --(direction > 0 ? plusQueued_ : minusQueued_);
  TParameter& p = param_;
  const TParameterScale scale = p.Scale();
  if (!p.ValueRead || !p.DescriptorRead || !scale.Steppable()) return;
  TLinkState& s = LinkState;
  Load(p);
  TRegisterModeEnd end;
  s.StepPending = true;
  s.RegisterMode = true;
  const bool moves = direction > 0 ? s.CurrentValue < s.Maximum : p.Position > 0;
  if (moves) {
    RunCommand(cmdSelect);
    p.Position = std::clamp(p.Position + direction, 0, scale.Top());
    s.CurrentValue = scale.ValueAt(p.Position);
    p.CurrentValue = s.CurrentValue;
    ShowValue();
  }
  // Also when nothing moved: the unchanged value goes out again, without a select before it.
  s.Value = s.CurrentValue;
  SendCommand(cmdWrite);
  s.RegisterMode = false;
}

void TForm2::Button2Click() {
  QPointer<TForm2> self(this);
  RunLinkOperation([self] {
    if (self) self->WriteDefault();
  });
}

void TForm2::WriteDefault() {
  TParameter& p = param_;
  if (!p.ValueRead || !p.DescriptorRead) return;
  TLinkState& s = LinkState;
  Load(p);
  TRegisterModeEnd end;
  s.RegisterMode = true;
  s.StepPending = true;
  RunCommand(cmdSelect);
  s.Value = s.Default;
  RunCommand(cmdWrite);
  s.CurrentValue = s.Default;
  p.CurrentValue = s.Default;
  p.Position = p.Scale().PositionOf(s.Default);
  ShowValue();
  s.RegisterMode = false;
}
