#pragma once
// The confirmation that a new address was written; its OK polls the bus again, so the unit gets its panel
// at the new address.
#include <QLabel>
#include <QPushButton>
#include <QWidget>

class TForm9 : public QWidget {
 public:
  TForm9();
  QLabel* Label1;
  QPushButton* BitBtn1;

  void BitBtn1Click();
};
