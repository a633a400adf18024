#pragma once
// The settings window of one unit: the tree of its parameters on the left, the controls that edit the
// selected one on the right.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTreeWidget>
#include <QWidget>

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

  // The node at a depth-first position over the whole tree (0 to 40).
  QTreeWidgetItem* NodeAt(int absoluteIndex) const;
  int AbsoluteIndex(const QTreeWidgetItem* node) const;
  static constexpr int NodeCount = 41;

 protected:
  void showEvent(QShowEvent* event) override;
};
