#pragma once
// The port selection dialog: the ports found at start, or any name typed in. "Выбрать" moves the program
// to the chosen port: a different name is remembered, opened and polled; the same one is reopened.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <string>

class TCustomComPort;

class TForm8 : public QWidget {
 public:
  TForm8();
  QLabel* Label1;
  QComboBox* ComboBox1;
  QPushButton* BitBtn1;

  // The main window's port; set by the application before the first showing.
  TCustomComPort* ComPort1 = nullptr;

  void BitBtn1Click();

 private:
  void ChoosePort(const std::string& name);
};
