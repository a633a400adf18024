#include "tests/panels/PanelRig.h"

#include <QLabel>
#include <QTest>
#include <algorithm>
#include <cstdio>

#include "link/Frame.h"

std::string Describe(const TWireFrame& f) {
  if (f.Kind != TTraceKind::tkFrame || !f.CrcOk) return "bad " + f.Hex();
  char word[32];
  const auto& d = f.Data;
  if (f.Command == cmdSelect && d.size() == 4 && d[1] == 0 && d[2] == 0 && d[3] == 0)
    std::snprintf(word, sizeof word, "sel %d %02X", f.Address, d[0]);
  else if (f.Command == cmdRead && d.size() == 1)
    std::snprintf(word, sizeof word, "rd %d %d", f.Address, d[0]);
  else if (f.Command == cmdWrite && d.size() == 1)
    std::snprintf(word, sizeof word, "wr %d %02X", f.Address, d[0]);
  else if (f.Command == cmdSetAddress && d.size() == 1)
    std::snprintf(word, sizeof word, "addr %d %d", f.Address, d[0]);
  else if (f.Command == cmdIdentify && d.empty())
    std::snprintf(word, sizeof word, "id %d", f.Address);
  else
    return "? " + f.Hex();
  return word;
}

std::vector<std::string> Describe(const std::vector<TWireFrame>& requests) {
  std::vector<std::string> words;
  for (const auto& f : requests) words.push_back(Describe(f));
  return words;
}

std::vector<std::string> PollReads(int address) {
  static const uint8_t order[12] = {0x4E, 0x6E, 0x8E, 0xAE, 0x4C, 0x6C, 0x8C, 0xAC, 0x4C, 0x6C, 0x8C, 0xAC};
  std::vector<std::string> words;
  char word[16];
  for (uint8_t code : order) {
    std::snprintf(word, sizeof word, "sel %d %02X", address, code);
    words.push_back(word);
    words.push_back("rd " + std::to_string(address) + " 1");
  }
  return words;
}

std::vector<std::string> PollWords(const std::vector<int>& found) {
  std::vector<std::string> words;
  for (int a = 1; a <= PolledAddressCount; ++a) {
    words.push_back("id " + std::to_string(a));
    if (std::find(found.begin(), found.end(), a) == found.end()) continue;
    const auto reads = PollReads(a);
    words.insert(words.end(), reads.begin(), reads.end());
  }
  return words;
}

int PanelsOnMainWindow(TProgramRig& rig) {
  int count = 0;
  for (auto* child : rig.Form1().ClientArea->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (!qobject_cast<QLabel*>(child)) ++count;
  return count;
}

void TPanelRig::StartOnCom1() {
  WriteFileBytes("COM.ini", "COM1\r\n");
  Start();
}

std::vector<TWireFrame> TPanelRig::RequestsSince(size_t mark) {
  auto all = Bus.Requests();
  return {all.begin() + std::min(mark, all.size()), all.end()};
}

std::vector<std::string> TPanelRig::Click(int address, int n) {
  const size_t mark = Mark();
  PressAndRelease(Indicator(address, n));
  Tk.RunUntilIdle();
  return WordsSince(mark);
}

std::vector<std::string> TPanelRig::Release(int address, int n, Qt::MouseButton button) {
  const size_t mark = Mark();
  QTest::mouseRelease(Indicator(address, n), button);
  Tk.RunUntilIdle();
  return WordsSince(mark);
}

std::vector<std::string> TPanelRig::ClickButton(int address, int b) {
  const size_t mark = Mark();
  Button(address, b)->click();
  Tk.RunUntilIdle();
  return WordsSince(mark);
}

void TPanelRig::PressAndRelease(TIndicator* indicator) {
  QTest::mousePress(indicator, Qt::LeftButton);
  QTest::mouseRelease(indicator, Qt::LeftButton);
}
