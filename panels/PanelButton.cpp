#include "panels/PanelButton.h"

#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QStyleOptionButton>

#include "panels/Indicator.h"
#include "panels/KeepFocus.h"
#include "toolkit/DataFiles.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Toolkit.h"

std::string CannotOpenFileText(const std::string& fileName) {
  return "Cannot open file \"" + fileName + "\". No such file or directory";
}

TPanelButton::TPanelButton(QWidget* parent) : QPushButton(parent) {
  setFocusPolicy(Qt::TabFocus);
  KeepFocusThroughBusy(this);
  connect(this, &QPushButton::clicked, this, [this] {
    if (OnClick) Guarded([this] { OnClick(this); });
  });
}

void TPanelButton::LoadGlyph(const std::string& fileName) {
  const QString path = QString::fromStdString(ResolveDataFile(fileName));
  if (!QFile::exists(path)) throw EInOutError(CannotOpenFileText(fileName), 2);
  QImage image;
  if (!image.load(path, "BMP")) throw EInOutError("\"" + fileName + "\": bitmap image is not valid");
  setIcon(QPixmap::fromImage(image));
  setIconSize(image.size());
  glyphFile_ = fileName;
  setFont(QFont());
}

std::string TPanelButton::ShowGlyph(const std::string& fileName, const char* caption) {
  try {
    LoadGlyph(fileName);
    setText(QString());
    return {};
  } catch (const std::exception& e) {
    setIcon(QIcon());
    glyphFile_.clear();
    setText(QString::fromUtf8(caption));
    FitCaption();
    return e.what();
  }
}

void TPanelButton::resizeEvent(QResizeEvent* event) {
  QPushButton::resizeEvent(event);
  if (!text().isEmpty()) FitCaption();
}

void TPanelButton::FitCaption() {
  setFont(QFont());  // the inherited font, in case a narrower caption was shown before
  QStyleOptionButton option;
  initStyleOption(&option);
  const int room = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this).width();
  QFont caption = font();
  // Down to a size still legible; a caption that needs less would be unreadable anyway.
  constexpr int SmallestPixels = 7;
  int pixels = QFontInfo(caption).pixelSize();
  while (pixels > SmallestPixels && QFontMetrics(caption).horizontalAdvance(text()) > room) {
    caption.setPixelSize(--pixels);
  }
  if (caption != font()) setFont(caption);
}

namespace {
struct TSwitchButtonLook {
  const char* OnFile;
  const char* OffFile;
  const char* OnCaption;
  const char* OffCaption;
};
const TSwitchButtonLook SwitchButtonLooks[] = {
    {"Bmp\\TitOn.bmp", "Bmp\\TitOff.bmp", "Титры: вкл", "Титры: выкл"},
    {"Bmp\\AuxOn.bmp", "Bmp\\AuxOff.bmp", "Доп.вход: вкл", "Доп.вход: выкл"},
};

// What the button is for the keyboard and the screen reader: "№ 3, Титры: вкл".
void Describe(TPanelButton& button, int address, const char* what, const char* state) {
  QString text = QString::fromUtf8("№ %1, %2").arg(address).arg(QString::fromUtf8(what));
  if (state) text += ": " + QString::fromUtf8(state);
  button.setToolTip(text);
  button.setAccessibleName(text);
}
}  // namespace

const char* const TextSettingsButton = "Настройки прибора";

std::string ShowSwitchButton(TPanelButton& button, int number, bool on) {
  const TSwitchButtonLook& look = SwitchButtonLooks[number == 1 ? 0 : 1];
  Describe(button, button.Tag / 10, IndicatorRowCaptions[number == 1 ? 4 : 5], on ? TextStateOn : TextStateOff);
  return on ? button.ShowGlyph(look.OnFile, look.OnCaption) : button.ShowGlyph(look.OffFile, look.OffCaption);
}

std::string ShowSettingsButton(TPanelButton& button, int address) {
  Describe(button, address, TextSettingsButton, nullptr);
  return button.ShowGlyph("BMP\\Button" + std::to_string(address) + ".bmp", "Настройки");
}
