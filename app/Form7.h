#pragma once
// The set-address dialog: the operator types the bus address a new unit is to take.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

class TForm7 : public QWidget {
 public:
  TForm7();
  QLabel* Label1;
  QLineEdit* Edit1;
  QPushButton* BitBtn1;

  void FormActivate();

 protected:
  bool event(QEvent* event) override;
};
