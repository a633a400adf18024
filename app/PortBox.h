#pragma once
// The port box of "Выбор Com-порта". Its drop-down shows beside each name what the device is (maker,
// product, serial number) in a quieter colour; the edit text, which goes into "COM.ini", is only ever the
// name. The box keeps its design width while its text fits and grows, with its dialog, when a long name
// (a /dev/serial/by-id/... path) would not.
#include <QString>

#include "app/PortList.h"

class QComboBox;
class QWidget;

void AddPortsToList(QComboBox& box, const TPortListing& ports);
void KeepPortTextWhole(QWidget& dialog, QComboBox& box);

// What the drop-down shows beside a name.
QString PortItemDescription(const QComboBox& box, int index);
