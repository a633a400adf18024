#pragma once
// The main window: the menu, the row captions down the left edge, the serial port and the link's timers.
// The unit panels stand beside the captions, one column per unit.
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <memory>

#include "app/PortList.h"  // the texts of a start without a port
#include "serial/ComPort.h"
#include "toolkit/Toolkit.h"

class TForm7;
class TForm8;

class TForm1 : public QMainWindow {
 public:
  // `platform` is the serial layer the port opens devices on; the system's own when null.
  explicit TForm1(TComPlatform* platform = nullptr);
  ~TForm1() override;

  // The other windows this one shows; set by the application before the first showing.
  TForm7* Form7 = nullptr;
  TForm8* Form8 = nullptr;

  TComPort ComPort1;
  std::unique_ptr<TTimer> Timer1;  // reply time-out, 250 ms
  std::unique_ptr<TTimer> Timer2;  // probe wait, 250 ms
  std::unique_ptr<TTimer> Timer4;  // pacing wait, 60 ms

  QWidget* ClientArea;
  QMenu* N1;
  QAction* Com1;
  QAction* N2;
  QAction* N3;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QLabel* Label5;
  QLabel* Label6;
  QLabel* Label7;

  // The window's width as the layout counts it (the client area's width).
  int Width() const { return width(); }
  void SetWidth(int width);

  // Handlers.
  void FormShow();
  void FormActivate();
  void Com1Click();
  void N2Click();
  void N3Click();


  static constexpr int DesignWidth = 809;
  static constexpr int DesignHeight = 294;

 protected:
  void showEvent(QShowEvent* event) override;
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  bool startupPending_ = false;
};
