#pragma once
// A round-square lamp of the switch matrix: its brush shows on (lime) or off (red); presses and releases
// of any mouse button go to the handlers bound to it. The keyboard reaches it with Tab, or with the arrow
// keys from its neighbours in the panel, and Space or Enter switch it as a click does. Its tooltip and
// accessible name say which it is and what it shows: "№ 3, K2, Лого2: вкл".
#include <QColor>
#include <QWidget>
#include <functional>

class QMouseEvent;

// The tooltip of an indicator whose state the unit did not report.
extern const char* const TextStateUnknown;
// The state words of the description.
extern const char* const TextStateOn;
extern const char* const TextStateOff;
extern const char* const TextStateNotRead;

// Colours as the program counts them: low byte red, then green, then blue.
using TColor = uint32_t;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clGray = 0x808080;  // a state the unit did not report: neither on nor off
QColor ToQColor(TColor color);

// The captions of the main window's rows, by indicator row (1 to 5).
extern const char* const IndicatorRowCaptions[6];

class TIndicator : public QWidget {
 public:
  explicit TIndicator(QWidget* parent);

  // Address × 21 + indicator number; set before the state is first shown, so the description names it.
  int Tag = 0;
  TColor BrushColor() const { return brush_; }
  void SetBrushColor(TColor color);
  // The state as read: lime for on, red for off; or grey, with the reason in its tooltip, when the unit
  // did not report it.
  void ShowState(bool on);
  void ShowUnknown();
  // "№ 3, K2, Лого2", from the Tag.
  QString Identity() const;

  std::function<void(TIndicator* Sender, Qt::MouseButton Button)> OnMouseDown;
  std::function<void(TIndicator* Sender, Qt::MouseButton Button)> OnMouseUp;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void Describe();
  // The indicator of the same panel next to this one in the direction of an arrow key; null at the edge.
  TIndicator* Neighbour(int key) const;

  TColor brush_ = 0xFFFFFF;
};
