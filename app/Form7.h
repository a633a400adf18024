#pragma once
// The set-address dialog: the operator types the bus address a new unit is to take, and "Записать" sends
// it to the unit that answers at 0.
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

  // The address the request carries: the number in Edit1 as it stood when "Записать" was pressed.
  int NewAddress = 0;

  // The client area's design width: the outer 341 less the frame.
  static constexpr int ClientWidth = 333;

  void FormActivate();
  void BitBtn1Click();

 protected:
  bool event(QEvent* event) override;
};

// The addresses a unit may be given: those the poll looks at.
constexpr int LowestUnitAddress = 1;
constexpr int HighestUnitAddress = 16;
extern const char* const TextAddressOutOfRange;
