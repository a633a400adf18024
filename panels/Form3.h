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

  // Sizes the line to its text and keeps it whole: the window keeps its design width while the text fits
  // and grows with it (the progress bar too) when a long port name would not, up to the screen's width,
  // moving left where it would run off the screen.
  void FitText();

  static constexpr int DesignWidth = 446;
  static constexpr int DesignHeight = 113;
  static constexpr QPoint DesignPosition{328, 287};
};
