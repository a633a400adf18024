#pragma once
// A panel's image button: titles, auxiliary input or settings.
#include <QPushButton>
#include <functional>
#include <string>

class TPanelButton : public QPushButton {
 public:
  explicit TPanelButton(QWidget* parent);

  int Tag = 0;
  std::function<void(TPanelButton* Sender)> OnClick;

  // Loads the bitmap file into a new image, copies it into the button's glyph and frees it. A file that
  // is missing or not a bitmap raises EInOutError and leaves the glyph as it was.
  void LoadGlyph(const std::string& fileName);
  const std::string& GlyphFile() const { return glyphFile_; }
  // The same, but a picture that cannot be loaded is replaced by `caption` written on the button, so the
  // button still tells what it is; returns the error's text then, else an empty string.
  std::string ShowGlyph(const std::string& fileName, const char* caption);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  // A caption reads whole: the button's font, made smaller when the caption would not fit its face.
  void FitCaption();

  std::string glyphFile_;
};

// Texts of the image errors.
std::string CannotOpenFileText(const std::string& fileName);

// What a panel's buttons show: the titles (1) or auxiliary-input (2) button its state, the settings
// button (3) the unit's number; each also says it in its tooltip and accessible name ("№ 3, Титры: вкл"),
// the switch buttons taking the unit from their Tag. Each returns the error's text when the picture could not be loaded (the
// button then carries a caption instead), else an empty string.
std::string ShowSwitchButton(TPanelButton& button, int number, bool on);
std::string ShowSettingsButton(TPanelButton& button, int address);
extern const char* const TextSettingsButton;
