#include "panels/Poll.h"

#include <QFrame>
#include <QLabel>
#include <vector>

#include "link/Frame.h"
#include "link/Link.h"
#include "link/LinkOperations.h"
#include "link/RegisterMap.h"
#include "panels/DeferredErrors.h"
#include "panels/Form3.h"
#include "panels/Indicator.h"
#include "panels/PanelButton.h"
#include "panels/Switching.h"
#include "panels/UnitPanels.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Toolkit.h"
#include "toolkit/Widgets.h"

const char* const TextPolling = "Подождите, идет опрос устройств, подключенных к ";
const char* const TextAddressNotSet = "Адрес устройства не задан.\r\nЗадайте адрес устройства от 1 до 16.";
const char* const TextNoUnitAnswers =
    "Ни одно устройство не отвечает, проверьте соединительные\r\n"
    "кабеля и наличие питания.\r\n"
    "Если устройство подключено, то для продолжения\r\n"
    "работы выберите нужный COM-порт.";
const char* const TextUnitNotReadOne = "Не удалось прочитать состояние устройства ";
const char* const TextUnitsNotReadMany = "Не удалось прочитать состояние устройств ";
const char* const TextUnreadIndicators =
    "Индикаторы, состояние которых неизвестно, показаны серым.\r\n"
    "Повторите опрос: «Добавить устройство в систему».";

namespace {

TForm3* form3 = nullptr;
TPanelsHost host;
bool pollActive = false;

constexpr int PanelWidth = 91;
constexpr int PanelHeight = 278;
constexpr int PanelTop = 15;
constexpr int FirstPanelLeft = 80;
constexpr int RowTop[6] = {0, 60, 92, 122, 152, 182};
constexpr int ButtonTop[4] = {0, 211, 242, 4};

void SetPollActive(bool active) {
  if (pollActive == active) return;
  pollActive = active;
  if (host.PollActiveChanged) host.PollActiveChanged(active);
}

QWidget* CreatePanel(int left) {
  auto* panel = new QFrame(host.MainClient);
  panel->setFrameShape(QFrame::Panel);
  panel->setFrameShadow(QFrame::Raised);
  panel->setGeometry(left, PanelTop, PanelWidth, PanelHeight);
  // The panel has no colour of its own (clNone); it is drawn dark, so the yellow channel captions read.
  panel->setAutoFillBackground(true);
  QPalette palette = panel->palette();
  palette.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
  panel->setPalette(palette);
  panel->show();
  return panel;
}

// Returns false when some of the unit's registers could not be read.
bool BuildUnit(int a, TDeferredErrors& problems) {
  TUnitPanel& unit = UnitPanels[a];
  bool unread = false;
  ++FoundCount;
  FoundUnits[FoundCount] = a;

  const int left = FirstPanelLeft + (FoundCount - 1) * PanelWidth;
  unit.Panel = CreatePanel(left);
  host.SetMainWidth(left + PanelWidth + 7);

  // A status file that cannot be read leaves the values as they were: all off at program start.
  problems.Try([&] { LoadStatusValues(a, unit.StatusValues); });

  for (int k = 1; k <= ChannelCount; ++k) {
    auto* caption = new QLabel(QString("K%1").arg(k), unit.Panel);
    QFont font = caption->font();
    font.setPointSize(9);
    caption->setFont(font);
    QPalette palette = caption->palette();
    palette.setColor(QPalette::WindowText, ToQColor(clYellow));
    caption->setPalette(palette);
    Place(caption, 6 + 22 * (k - 1), 40);
    caption->show();
    unit.ChannelLabels[k] = caption;
  }

  for (int n = 1; n <= IndicatorCount; ++n) {
    const int row = IndicatorRow(n);
    const int channel = IndicatorChannel(n);
    LinkState.WriteCount = 1;
    auto* indicator = new TIndicator(unit.Panel);
    indicator->Tag = IndicatorTag(a, n);
    indicator->setGeometry(2 + 22 * (channel - 1), RowTop[row], 22, 22);
    indicator->SetBrushColor(clRed);
    indicator->show();
    unit.Indicators[n] = indicator;
    bool on;
    bool unknown = false;
    if (row <= irLogo2) {
      LinkState.RegisterMode = true;
      LinkState.Register = IndicatorRegisters[n];
      LinkState.Value = 1;
      ReadRegister();
      LinkState.RegisterMode = false;
      // A read without reply leaves another register's value behind: the state is unknown, not that.
      unknown = !LinkState.ReadAnswered;
      on = !unknown && (LinkState.CurrentValue & *IndicatorBitMask(n)) != 0;
    } else {
      on = unit.Status(StatusPositionOfIndicator(n)) == 1;
    }
    unit.IndicatorPressed[n] = on;
    unit.IndicatorOn[n] = on;
    unit.IndicatorUnknown[n] = unknown;
    if (unknown) {
      indicator->ShowUnknown();
      unread = true;
    } else if (on) {
      indicator->SetBrushColor(clLime);
    }
    indicator->OnMouseDown = IndicatorMouseDown;
    indicator->OnMouseUp = IndicatorMouseUp;
  }

  for (int b = pbTitles; b <= pbSettings; ++b) {
    auto* button = new TPanelButton(unit.Panel);
    button->Tag = ButtonTag(a, b);
    button->setGeometry(4, ButtonTop[b], 85, 30);
    button->show();
    unit.Buttons[b] = button;
    if (b == pbSettings) {
      problems.Note(ShowSettingsButton(*button, a));
    } else {
      // Titles and the auxiliary input come back as the file left them, and go to the unit again.
      const bool on = unit.Status(b == pbTitles ? spTitlesButton : spAuxButton) != 0;
      problems.Note(ShowSwitchButton(*button, b, on));
      unit.ButtonOn[b] = on;
      if (on) WriteSelectedChannels(unit, b == pbTitles ? irTitles : irAuxInput, 1);
    }
    button->OnClick = PanelButtonClick;
  }
  return !unread;
}

std::string UnreadUnitsText(const std::vector<int>& units) {
  std::string list;
  for (int a : units) list += (list.empty() ? "№ " : ", № ") + std::to_string(a);
  return std::string(units.size() == 1 ? TextUnitNotReadOne : TextUnitsNotReadMany) + list + ".\r\n" +
         TextUnreadIndicators;
}

}  // namespace

void BindPanels(TForm3& form, TPanelsHost newHost) {
  form3 = &form;
  host = std::move(newHost);
}

const TPanelsHost& PanelsHost() { return host; }

void UnbindPanels() {
  form3 = nullptr;
  host = TPanelsHost{};
  pollActive = false;
}

void DestroyPanels() {
  for (int i = 1; i <= FoundCount; ++i) delete UnitPanels[FoundUnits[i]].Panel.data();
}

bool PollActive() { return pollActive; }

void RescanBus(std::function<void()> betweenSteps) {
  // A poll inside a poll would destroy panels the running one is still filling.
  if (pollActive) return;
  SetPollActive(true);
  RunLinkOperation([betweenSteps = std::move(betweenSteps)] {
    struct TEnd {
      ~TEnd() { SetPollActive(false); }
    } end;
    DestroyPanels();
    if (betweenSteps) betweenSteps();
    PollUnits();
  });
}

void PollUnits() {
  TForm3& form = *form3;
  // What went wrong while a unit's panel was built: the poll goes on with what it could read, and the
  // operator is told once the poll window has closed.
  TDeferredErrors problems;
  std::vector<int> unreadUnits;
  // However the poll ends, its window goes away and the link is out of scanning mode: a failure must not
  // leave the program believing a poll still runs.
  struct TPollEnd {
    TForm3& Form;
    ~TPollEnd() {
      if (Form.isVisible()) {
        Form.hide();
        Form.ProgressBar1->setValue(0);
      }
      LinkState.RegisterMode = false;
      LinkState.Scanning = false;
    }
  } end{form};

  form.StaticText1->setText(QString::fromUtf8(TextPolling) + QString::fromLocal8Bit(host.PortName().c_str()));
  form.FitText();
  form.show();
  host.SetMainWidth(80);
  LinkState.Scanning = true;
  LinkState.ReplyTimedOut = false;
  FoundCount = 0;
  for (int a = 1; a <= PolledAddressCount; ++a) {
    // A reply still on its way (a unit slower than the pacing wait) must not pass for this address's.
    WaitForQuietLine();
    ProbeDevice(uint8_t(a));
    form.ProgressBar1->setValue(a);
    if (LinkState.ReplyTimedOut) continue;
    if (!BuildUnit(a, problems)) unreadUnits.push_back(a);
  }
  form.hide();
  form.ProgressBar1->setValue(0);
  problems.Report();
  if (!unreadUnits.empty())
    Toolkit().MessageBox(UnreadUnitsText(unreadUnits), CaptionInformation, TMessageKind::mkInformation);
  if (FoundCount == 0) {
    ProbeDevice(0);
    if (!LinkState.ReplyTimedOut) {
      Toolkit().MessageBox(TextAddressNotSet, CaptionInformation, TMessageKind::mkInformation);
      if (host.ShowAddressDialog) host.ShowAddressDialog();
    } else {
      Toolkit().MessageBox(TextNoUnitAnswers, CaptionInformation, TMessageKind::mkInformation);
    }
  } else {
    if (host.SavePortName) host.SavePortName();
    if (host.ClosePortDialog) host.ClosePortDialog();
  }
}
