#include "settings/Form2.h"

#include <QShowEvent>
#include <functional>

#include "toolkit/Toolkit.h"
#include "toolkit/Widgets.h"

namespace {
const char* const ChannelParameters[] = {"Задержка яркость/цветность", "Яркость", "Контрастность",
                                         "Цветовая насыщенность", "АРУ", "VTR", "Замещение"};

QTreeWidgetItem* Node(QTreeWidget* tree, QTreeWidgetItem* parent, const char* text) {
  auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree);
  item->setText(0, QString::fromUtf8(text));
  return item;
}

QPushButton* StepButton(QWidget* parent, const char* caption, int left) {
  auto* button = new QPushButton(caption, parent);
  button->setFont(DesignFont("MS Sans Serif", 16, true));
  Place(button, left, 80, 25, 25);
  return button;
}
}  // namespace

TForm2::TForm2()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
  setWindowTitle("Settings");
  setFont(DefaultDesignFont());

  TreeView1 = new QTreeWidget(this);
  TreeView1->setHeaderHidden(true);
  TreeView1->setIndentation(19);
  TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Place(TreeView1, 0, 8, 241, 329);
  for (const char* logo : {"Логотип1", "Логотип2"}) {
    auto* group = Node(TreeView1, nullptr, logo);
    Node(TreeView1, group, "Положение по горизонтали");
    Node(TreeView1, group, "Положение по вертикали");
    Node(TreeView1, group, "Выбор логотипа");
  }
  Node(TreeView1, nullptr, "Задержка по строке");
  for (int channel = 1; channel <= 4; ++channel) {
    const std::string heading = "Настройки канала " + std::to_string(channel);
    auto* group = Node(TreeView1, nullptr, heading.c_str());
    for (const char* parameter : ChannelParameters) Node(TreeView1, group, parameter);
  }

  GroupBox1 = new QGroupBox(QString::fromUtf8("Настройки"), this);
  Place(GroupBox1, 248, 8, 369, 185);
  CheckBox1 = new QCheckBox(GroupBox1);
  Place(CheckBox1, 16, 32, 97, 17);
  Label1 = new QLabel(GroupBox1);
  Place(Label1, 80, 56);
  Edit6 = new QLineEdit(GroupBox1);
  Edit6->setReadOnly(true);
  Edit6->setEnabled(false);
  Place(Edit6, 272, 56, 34, 21);
  BitBtn3 = StepButton(GroupBox1, "-", 48);
  TrackBar1 = new QSlider(Qt::Horizontal, GroupBox1);
  TrackBar1->setRange(0, 10);
  TrackBar1->setTickPosition(QSlider::TicksBelow);
  TrackBar1->setTickInterval(1);
  TrackBar1->setSingleStep(0);
  TrackBar1->setPageStep(2);
  Place(TrackBar1, 71, 80, 241, 40);
  BitBtn2 = StepButton(GroupBox1, "+", 312);
  Label2 = new QLabel(QString::fromUtf8("Включение режима автоматического замещения отсутствующего"), GroupBox1);
  Place(Label2, 16, 88);
  Label3 = new QLabel(QString::fromUtf8("входного сигнала сигналом встроенного генератора цветных полос "), GroupBox1);
  Place(Label3, 10, 112);
  Button2 = new QPushButton(QString::fromUtf8("Значение по умолчанию"), GroupBox1);
  Place(Button2, 136, 152, 129, 20);

  move(79, 5);
  FixClientSize(this, 623, 341);
}

QTreeWidgetItem* TForm2::NodeAt(int absoluteIndex) const {
  int index = 0;
  QTreeWidgetItem* found = nullptr;
  std::function<void(QTreeWidgetItem*)> visit = [&](QTreeWidgetItem* item) {
    if (found) return;
    if (index++ == absoluteIndex) {
      found = item;
      return;
    }
    for (int i = 0; i < item->childCount(); ++i) visit(item->child(i));
  };
  for (int i = 0; i < TreeView1->topLevelItemCount(); ++i) visit(TreeView1->topLevelItem(i));
  return found;
}

int TForm2::AbsoluteIndex(const QTreeWidgetItem* node) const {
  for (int i = 0; i < NodeCount; ++i)
    if (NodeAt(i) == node) return i;
  return -1;
}

void TForm2::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) Guarded([this] { FormShow(); });
}

void TForm2::FormShow() {
  for (QWidget* editor : std::initializer_list<QWidget*>{CheckBox1, Edit6, BitBtn2, BitBtn3, TrackBar1, Button2,
                                                          Label1, Label2, Label3})
    editor->hide();
  for (int group : {0, 4, 9, 17, 25, 33}) NodeAt(group)->setExpanded(false);
}
