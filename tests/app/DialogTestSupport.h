#pragma once
// What the dialog tests do as the operator: bring a window to the front, type into a field, press a
// button with the mouse.
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "tests/panels/PanelRig.h"

// The window manager makes the window the active one, as when the operator clicks into it.
inline void Activate(QWidget* window) { QApplication::setActiveWindow(window); }

// Key by key, as a keyboard with any layout types it (Cyrillic included).
inline void Type(QLineEdit* field, const QString& text) {
  field->setFocus();
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(field, &press);
    QApplication::sendEvent(field, &release);
  }
}

inline void Press(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
