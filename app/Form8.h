#pragma once
// The port selection dialog: the ports found at start, or any name typed in.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

class TForm8 : public QWidget {
 public:
  TForm8();
  QLabel* Label1;
  QComboBox* ComboBox1;
  QPushButton* BitBtn1;
};
