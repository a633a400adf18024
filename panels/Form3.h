#pragma once
// The poll window: a line naming the port being polled and the progress over the addresses.
#include <QLabel>
#include <QProgressBar>
#include <QWidget>

class TForm3 : public QWidget {
 public:
  TForm3();
  QLabel* StaticText1;
  QProgressBar* ProgressBar1;
};
