#pragma once
// A switch is disabled while its operation runs, and Qt then hands the keyboard focus to the next widget.
// For an operator on the keyboard the focus must come back when the switch is enabled again, unless the
// operator has moved it meanwhile. Installed on a widget, this does that.
class QWidget;

void KeepFocusThroughBusy(QWidget* widget);
