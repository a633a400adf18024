#pragma once
// The settings window of one unit: the tree of its parameters on the left, the controls that edit the
// selected one on the right.
//
// Every exchange of the window is an operation on the link queue, run after whatever the operator or a
// poll started before it. So the window keeps its own copy of what its controls stand for (the unit, the
// register, the value and its descriptor) and puts it into the link state when its operation runs: an
// indicator click in between reads and selects other registers of the same link state.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTreeWidget>
#include <QWidget>

#include "link/RegisterMap.h"
#include "settings/ParameterScale.h"

class TForm2 : public QWidget {
 public:
  TForm2();
  QTreeWidget* TreeView1;
  QGroupBox* GroupBox1;
  QCheckBox* CheckBox1;
  QLabel* Label1;
  QLineEdit* Edit6;
  QPushButton* BitBtn3;  // "-"
  QSlider* TrackBar1;
  QPushButton* BitBtn2;  // "+"
  QLabel* Label2;
  QLabel* Label3;
  QPushButton* Button2;

  // Shown: only the tree and the empty group box, with every group collapsed.
  void FormShow();
  // Closed: an abandoned exchange leaves register mode, unless one is still running.
  void FormClose();
  // The selected node changed: its controls at once, empty and disabled, and its reading as a link
  // operation that replaces a reading still waiting for the link.
  void TreeView1Change();
  // The operator ticked or cleared the check box: the new state goes to the unit.
  void CheckBox1Click();
  void BitBtn2Click();  // "+"
  void BitBtn3Click();  // "-"
  void Button2Click();  // "Значение по умолчанию"

  // The settings button of a unit's panel: the window talks to that unit from now on, says so in its
  // caption, and reads the node it shows again when the unit changed.
  void ShowForUnit(int address);
  // The reply to a write: "+" and "-" take clicks again.
  void EnableStepButtons();
  // The unit the window talks to.
  uint8_t Unit() const;

  // The node at a depth-first position over the whole tree (0 to 40).
  QTreeWidgetItem* NodeAt(int absoluteIndex) const;
  int AbsoluteIndex(const QTreeWidgetItem* node) const;
  static constexpr int NodeCount = SettingsTreeNodeCount;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // What the editing controls stand for, as the last reading of the node left it.
  struct TParameter {
    int Index = -1;
    TSettingsNodeKind Kind = nkGroup;
    uint8_t Address = 0;
    uint8_t Register = 0;
    uint8_t CurrentValue = 0;
    uint8_t Minimum = 0, Maximum = 0, Default = 0, Step = 0;
    bool ValueRead = false;
    bool DescriptorRead = false;
    int Position = 0;  // the slider's, also while the controls show another node
    TParameterScale Scale() const { return {Minimum, Maximum, Step}; }
  };

  static bool IsSwitch(TSettingsNodeKind kind) { return kind == nkCheckBox || kind == nkSubstitutionCheckBox; }

  // The link operations.
  void ReadSelectedNode();
  void WriteSwitch(const TParameter& parameter, bool on);
  // A step clicked (+1 up, -1 down): its button is disabled until a write is answered after it has run.
  void QueueStep(int direction);
  void StepBy(int direction);
  void WriteDefault();

  // The controls of a node's kind, with nothing read yet: empty and disabled.
  void PresentKind(int index);
  // The controls filled from `param_` once its reading is done.
  void PresentValues();
  void ShowValue();
  void SetSliderRange(int top);
  void SetCheckedQuietly(bool checked);
  void UpdateEnabled();

  TParameter param_;
  int presented_ = -1;     // the node whose controls are shown; -1 for none
  bool displayed_ = false;  // and they show param_, read for that node
  bool plusWaiting_ = false, minusWaiting_ = false;  // clicked, and no write answered since
  int plusQueued_ = 0, minusQueued_ = 0;             // clicks still waiting for the link
  int unit_ = -1;           // -1: the address in the link state
};
