#pragma once
// A round-square lamp of the switch matrix: its brush shows on (lime) or off (red); presses and releases
// of any mouse button go to the handlers bound to it.
#include <QColor>
#include <QWidget>
#include <functional>

class QMouseEvent;

// The tooltip of an indicator whose state the unit did not report.
extern const char* const TextStateUnknown;

// Colours as the program counts them: low byte red, then green, then blue.
using TColor = uint32_t;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clGray = 0x808080;  // a state the unit did not report: neither on nor off
QColor ToQColor(TColor color);

class TIndicator : public QWidget {
 public:
  explicit TIndicator(QWidget* parent);

  int Tag = 0;
  TColor BrushColor() const { return brush_; }
  void SetBrushColor(TColor color);
  // The state as read: lime for on, red for off; or grey, with the reason as its tooltip, when the unit
  // did not report it.
  void ShowState(bool on);
  void ShowUnknown();

  std::function<void(TIndicator* Sender, Qt::MouseButton Button)> OnMouseDown;
  std::function<void(TIndicator* Sender, Qt::MouseButton Button)> OnMouseUp;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  TColor brush_ = 0xFFFFFF;
};
