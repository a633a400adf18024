#include "tests/settings/SettingsRig.h"

#include <QTest>
#include <cstdio>

namespace {
std::string Word(const char* format, int address, int value) {
  char word[32];
  std::snprintf(word, sizeof word, format, address, value);
  return word;
}

std::string Shown(QWidget* widget, const std::string& text) { return (widget->isEnabled() ? "" : "~") + text; }
}  // namespace

TSettingsRig::TSettingsRig(std::initializer_list<int> units) {
  for (int a : units) AddUnit(uint8_t(a));
  StartOnCom1();
  OpenSettings(*units.begin());
}

void TSettingsRig::SetValue(int address, uint8_t code, uint8_t value, TSimDescriptor descriptor) {
  Sim(address).SetRegister(code, value);
  Sim(address).SetDescriptor(code, descriptor);
}

TWords TSettingsRig::Select(int index) {
  const size_t mark = Mark();
  Settings().TreeView1->setCurrentItem(Settings().NodeAt(index));
  Tk.RunUntilIdle();
  return WordsSince(mark);
}

TWords TSettingsRig::Press(QAbstractButton* button) {
  const size_t mark = Mark();
  QTest::mouseClick(button, Qt::LeftButton);
  Tk.RunUntilIdle();
  return WordsSince(mark);
}

std::string TSettingsRig::Screen() {
  TForm2& f = Settings();
  std::vector<std::string> shown;
  if (f.CheckBox1->isVisible())
    shown.push_back(Shown(f.CheckBox1, (f.CheckBox1->isChecked() ? "[x] " : "[ ] ") + f.CheckBox1->text().toStdString()));
  if (f.Label2->isVisible() && f.Label3->isVisible()) shown.push_back("explained");
  if (f.Label1->isVisible()) shown.push_back(f.Label1->text().toStdString());
  if (f.Edit6->isVisible()) shown.push_back("[" + f.Edit6->text().toStdString() + "]");
  if (f.BitBtn3->isVisible()) shown.push_back(Shown(f.BitBtn3, "-"));
  if (f.TrackBar1->isVisible())
    shown.push_back(Shown(f.TrackBar1, std::to_string(f.TrackBar1->minimum()) + ".." +
                                          std::to_string(f.TrackBar1->maximum()) + "@" +
                                          std::to_string(f.TrackBar1->value())));
  if (f.BitBtn2->isVisible()) shown.push_back(Shown(f.BitBtn2, "+"));
  if (f.Button2->isVisible()) shown.push_back(Shown(f.Button2, "default"));
  std::string line;
  for (auto& s : shown) line += (line.empty() ? "" : " ") + s;
  return line;
}

std::vector<int> TSettingsRig::Gaps(size_t mark) {
  std::vector<int> gaps;
  const auto frames = RequestsSince(mark);
  for (size_t i = 1; i < frames.size(); ++i) gaps.push_back(int((frames[i].StartUs - frames[i - 1].StartUs) / 1000));
  return gaps;
}

TWords ValueRead(int address, uint8_t code) {
  return {Word("sel %d %02X", address, code), Word("rd %d %d", address, 1), Word("sel %d %02X", address, code + 1),
          Word("rd %d %d", address, 4)};
}

TWords SwitchRead(int address, uint8_t code) {
  const std::string sel = Word("sel %d %02X", address, code);
  return {sel, sel, Word("rd %d %d", address, 1)};
}

TWords operator+(TWords a, const TWords& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
