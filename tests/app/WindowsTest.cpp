// The program's windows as they stand before the first showing: which exist, in which order, and how the
// main window, its menu, its row captions, its port and its timers are set up.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStyleOptionButton>
#include <algorithm>
#include <vector>

#include "link/Link.h"
#include "tests/support/ProgramRig.h"
#include "tests/support/TestApplication.h"
#include "tests/support/UnitLineSettings.h"

namespace {

// Records the top-level windows in the order they come into being: a widget receives its Create event
// from inside its own constructor.
class TWindowCreationOrder : public QObject {
 public:
  std::vector<QWidget*> Windows;

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Create && object->isWidgetType()) {
      auto* widget = static_cast<QWidget*>(object);
      if (!widget->parentWidget()) Windows.push_back(widget);
    }
    return false;
  }
};

bool FixedSize(const QWidget& w) { return w.minimumSize() == w.maximumSize(); }

TEST(ProgramWindows, AllSixAreCreatedHiddenInTheirFixedOrderWithTheirFrames) {
  TVirtualRig rig;
  EnsureApplication();
  TScratchDirectory scratch;
  TWindowCreationOrder order;
  qApp->installEventFilter(&order);
  TApplicationWindows windows(&rig.Platform);
  qApp->removeEventFilter(&order);

  std::vector<QWidget*> created;
  const std::vector<QWidget*> six{windows.Form1.get(), windows.Form3.get(), windows.Form2.get(),
                                  windows.Form7.get(), windows.Form8.get(), windows.Form9.get()};
  for (QWidget* w : order.Windows)
    if (std::find(six.begin(), six.end(), w) != six.end()) created.push_back(w);
  EXPECT_EQ(created, six) << "main window, poll window, settings, set-address, port dialog, confirmation";
  for (QWidget* w : six) EXPECT_FALSE(w->isVisible()) << w->windowTitle().toStdString();

  // Main window: fixed border, system menu and minimize but no maximize, at its design place and size.
  TForm1& f1 = *windows.Form1;
  EXPECT_EQ(f1.windowTitle().toStdString(), "ORVEL Control");
  EXPECT_TRUE(FixedSize(f1));
  EXPECT_TRUE(f1.windowFlags() & Qt::WindowSystemMenuHint);
  EXPECT_TRUE(f1.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(f1.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(f1.pos(), QPoint(242, 99));
  EXPECT_EQ(f1.Width(), TForm1::DesignWidth);
  EXPECT_EQ(f1.Width(), 809);
  // The design height is the client area's, under the menu.
  EXPECT_EQ(f1.height() - f1.menuBar()->sizeHint().height(), 294);
  EXPECT_EQ(f1.font().family().toStdString(), "MS Sans Serif");
  EXPECT_EQ(f1.font().pixelSize(), 11);

  TForm3& f3 = *windows.Form3;
  EXPECT_EQ(f3.windowTitle(), QString());
  EXPECT_FALSE(f3.windowFlags() & (Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(FixedSize(f3));
  EXPECT_EQ(f3.geometry(), QRect(328, 287, 446, 113));

  TForm2& f2 = *windows.Form2;
  EXPECT_EQ(f2.windowTitle().toStdString(), "Settings");
  EXPECT_TRUE(f2.windowFlags() & Qt::WindowSystemMenuHint);
  EXPECT_TRUE(f2.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(f2.windowFlags() & Qt::WindowMaximizeButtonHint);

  // The set-address dialog is the one sizable window.
  TForm7& f7 = *windows.Form7;
  EXPECT_EQ(f7.windowTitle(), QString());
  EXPECT_FALSE(FixedSize(f7));
  EXPECT_EQ(f7.pos(), QPoint(371, 247));
  // Its label reads whole, with the same margin on the right as on the left.
  EXPECT_GE(f7.Label1->width(), f7.Label1->fontMetrics().horizontalAdvance(f7.Label1->text()));
  EXPECT_LE(f7.Label1->geometry().right() + f7.Label1->x(), f7.width());
  EXPECT_GE(f7.width(), 333);
  EXPECT_EQ(f7.height(), 115);

  TForm8& f8 = *windows.Form8;
  EXPECT_EQ(f8.windowTitle().toStdString(), "Выбор Com-порта");
  EXPECT_TRUE(f8.windowFlags() & Qt::WindowSystemMenuHint);
  EXPECT_FALSE(f8.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(FixedSize(f8));
  EXPECT_EQ(f8.geometry(), QRect(537, 308, 191, 95));
  EXPECT_EQ(f8.ComboBox1->count(), 0) << "the port list is filled at the first showing";

  // The confirmation cannot be closed from its title bar.
  TForm9& f9 = *windows.Form9;
  EXPECT_EQ(f9.windowTitle(), QString());
  EXPECT_FALSE(f9.windowFlags() & (Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(FixedSize(f9));
  EXPECT_EQ(f9.pos(), QPoint(441, 294));
  EXPECT_EQ(f9.Label1->text().toStdString(), "Новый адрес записан");
}

TEST(MainWindow, MenuHoldsItsThreeEntriesInOrderAndTheRowCaptionsStandAtTheirPlaces) {
  TProgramRig rig;
  TForm1& f1 = rig.Form1();

  const auto top = f1.menuBar()->actions();
  ASSERT_EQ(top.size(), 1);
  // The captions as shown; the first letter of each is its mnemonic.
  EXPECT_EQ(top[0]->text().toStdString(), "&Общие настройки");
  EXPECT_EQ(top[0]->menu(), f1.N1);
  const auto entries = f1.N1->actions();
  ASSERT_EQ(entries.size(), 3);
  EXPECT_EQ(entries[0], f1.Com1);
  EXPECT_EQ(entries[1], f1.N2);
  EXPECT_EQ(entries[2], f1.N3);
  EXPECT_EQ(f1.Com1->text().toStdString(), "&Выбор Com-порта");
  EXPECT_EQ(f1.N2->text().toStdString(), "&Задать адрес устройства");
  EXPECT_EQ(f1.N3->text().toStdString(), "&Добавить устройство в систему");
  for (QAction* entry : entries) EXPECT_TRUE(entry->isEnabled());

  struct TRow {
    QLabel* Label;
    const char* Caption;
    int Left, Top;
  };
  const TRow rows[] = {
      {f1.Label2, "Настройки", 0, 16}, {f1.Label3, "прибора", 11, 32}, {f1.Label4, "ГЦП", 19, 76},
      {f1.Label5, "Лого1", 16, 109},   {f1.Label1, "Лого2", 16, 139},  {f1.Label7, "Титры", 13, 168},
      {f1.Label6, "Доп.вход", 7, 200},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.Caption);
    EXPECT_EQ(row.Label->text().toStdString(), row.Caption);
    EXPECT_EQ(row.Label->parentWidget(), f1.ClientArea);
    EXPECT_EQ(row.Label->pos(), QPoint(row.Left, row.Top));
    EXPECT_EQ(row.Label->font().family().toStdString(), "Times New Roman");
    EXPECT_EQ(row.Label->font().pixelSize(), 15);
    EXPECT_TRUE(row.Label->font().bold());
    // Every caption fits in the 80 pixels the window keeps when no unit answers (in the design font or
    // its metric twin Liberation Serif, which the set-up installs).
    EXPECT_LE(row.Label->x() + row.Label->sizeHint().width(), 80);
  }
}

TEST(MainWindow, PortAndTimersStartAsStoredAndReachTheDeviceSoWhenOpened) {
  TProgramRig rig;
  TForm1& f1 = rig.Form1();
  TComPort& port = f1.ComPort1;

  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Port(), "COM1");
  EXPECT_EQ(port.BaudRate(), br38400);
  EXPECT_EQ(port.DataBits(), dbEight);
  EXPECT_EQ(port.Parity().Bits(), prNone);
  EXPECT_FALSE(port.Parity().Check());
  EXPECT_EQ(port.StopBits(), sbOneStopBit);
  EXPECT_EQ(port.FlowControl().ControlDTR(), dtrDisable);
  EXPECT_EQ(port.FlowControl().ControlRTS(), rtsDisable);
  EXPECT_FALSE(port.FlowControl().OutCTSFlow());
  EXPECT_FALSE(port.FlowControl().OutDSRFlow());
  EXPECT_FALSE(port.FlowControl().XonXoffOut());
  EXPECT_FALSE(port.FlowControl().XonXoffIn());
  EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
  EXPECT_EQ(port.Events(), MakeEvents({evRxChar, evTxEmpty, evRxFlag}));
  EXPECT_EQ(port.Timeouts().ReadInterval(), 1);
  EXPECT_EQ(port.Timeouts().ReadTotalMultiplier(), 0);
  EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 0);
  EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 0);
  EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 0);
  EXPECT_EQ(port.Buffer().InputSize(), 1024);
  EXPECT_EQ(port.Buffer().OutputSize(), 1024);
  EXPECT_EQ(port.SyncMethod(), smThreadSync);
  EXPECT_FALSE(port.DiscardNull());
  EXPECT_EQ(port.EventChar(), 0);

  using TRxHandler = void (*)(TCustomComPort*, int32_t);
  ASSERT_TRUE(port.OnRxChar);
  ASSERT_NE(port.OnRxChar.target<TRxHandler>(), nullptr);
  EXPECT_EQ(*port.OnRxChar.target<TRxHandler>(), &ComPort1RxChar);
  EXPECT_FALSE(port.OnRxBuf || port.OnTxEmpty || port.OnRxFlag || port.OnError || port.OnAfterOpen);

  const TTimer* timers[] = {f1.Timer1.get(), f1.Timer2.get(), f1.Timer4.get()};
  const int intervals[] = {250, 250, 60};
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(timers[i]->Enabled()) << i;
    EXPECT_EQ(timers[i]->Interval(), intervals[i]) << i;
  }

  // What the device itself was given when the start-up opened the port.
  WriteFileBytes("COM.ini", "COM1\r\n");
  rig.Start();
  ASSERT_TRUE(port.Connected());
  TSimComDevice* device = rig.Platform.Device("COM1");
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->CommState(), UnitLineBlock());
  EXPECT_EQ(device->CommTimeouts(), UnitLineTimeouts());
  EXPECT_EQ(device->CommMask(), ComApi::EV_RXCHAR | ComApi::EV_TXEMPTY | ComApi::EV_RXFLAG);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(timers[i]->Enabled()) << "after the poll, timer " << i;
}

}  // namespace

// Every label and button text of every window reads whole with the fonts this system has: inside its
// control, and the control inside its window.
TEST(ProgramWindows, EveryTextReadsWholeWithTheFontsAtHand) {
  TVirtualRig rig;
  EnsureApplication();
  TScratchDirectory scratch;
  TApplicationWindows windows(&rig.Platform);
  const std::vector<QWidget*> six{windows.Form1.get(), windows.Form3.get(), windows.Form2.get(),
                                  windows.Form7.get(), windows.Form8.get(), windows.Form9.get()};
  int checked = 0;
  for (QWidget* window : six) {
    for (QWidget* control : window->findChildren<QWidget*>()) {
      QString text;
      int room = 0;
      if (auto* label = qobject_cast<QLabel*>(control)) {
        if (label->wordWrap() || !label->pixmap().isNull()) continue;
        text = label->text();
        room = label->contentsRect().width();
      } else if (auto* button = qobject_cast<QPushButton*>(control)) {
        text = button->text().remove('&');
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = text;
        option.icon = button->icon();
        option.iconSize = button->iconSize();
        room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).width() -
               (button->icon().isNull() ? 0 : button->iconSize().width() + 4);
      }
      if (text.isEmpty() || !control->isVisibleTo(window)) continue;
      SCOPED_TRACE(window->windowTitle().toStdString() + " / " + text.toStdString());
      ++checked;
      int widest = 0;
      for (const QString& line : text.split('\n'))
        widest = std::max(widest, control->fontMetrics().horizontalAdvance(line));
      EXPECT_GE(room, widest);
      const QRect inWindow(control->mapTo(window, QPoint(0, 0)), control->size());
      EXPECT_TRUE(window->rect().contains(inWindow))
          << inWindow.x() << "," << inWindow.y() << " " << inWindow.width() << "x" << inWindow.height()
          << " in " << window->width() << "x" << window->height();
    }
  }
  std::printf("%d texts checked\n", checked);
  EXPECT_GE(checked, 7 + 3 + 2 + 2);  // the row captions, three dialogs' labels and buttons at least
}
