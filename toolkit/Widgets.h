#pragma once
// Small helpers to lay windows out by their design values: positions and sizes in pixels from the
// client area's top-left corner, fonts by pixel height.
#include <QFont>
#include <QString>
#include <QWidget>

// Places a widget at its design position; a size of -1 keeps the widget's own (labels size to their text).
inline void Place(QWidget* widget, int left, int top, int width = -1, int height = -1) {
  if (width < 0 || height < 0) {
    widget->adjustSize();
    if (width < 0) width = widget->width();
    if (height < 0) height = widget->height();
  }
  widget->setGeometry(left, top, width, height);
}

inline QFont DesignFont(const QString& family, int pixelHeight, bool bold = false, bool italic = false) {
  QFont font(family);
  font.setPixelSize(pixelHeight);
  font.setBold(bold);
  font.setItalic(italic);
  return font;
}

// The windows' default font.
inline QFont DefaultDesignFont() { return DesignFont("MS Sans Serif", 11); }

// Fixes a top-level window's client area to a size, as a window with a single, fixed border.
inline void FixClientSize(QWidget* window, int width, int height) { window->setFixedSize(width, height); }
