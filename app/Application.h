#pragma once
// The program's windows, created once in their fixed order, and the wiring between them.
#include <memory>

#include "app/Form1.h"
#include "app/Form7.h"
#include "app/Form8.h"
#include "app/Form9.h"
#include "app/PortReconnect.h"
#include "panels/Form3.h"
#include "settings/Form2.h"

class TApplicationWindows {
 public:
  // `platform`: the serial layer the main window's port uses; the system's own when null.
  explicit TApplicationWindows(TComPlatform* platform = nullptr);
  ~TApplicationWindows();

  std::unique_ptr<TForm1> Form1;
  std::unique_ptr<TForm3> Form3;
  std::unique_ptr<TForm2> Form2;
  std::unique_ptr<TForm7> Form7;
  std::unique_ptr<TForm8> Form8;
  std::unique_ptr<TForm9> Form9;
  // Opens the port again and polls when its lost device comes back.
  std::unique_ptr<TPortReconnect> Reconnect;
};
