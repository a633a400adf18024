#include "settings/Form2.h"

#include <QCloseEvent>
#include <QPointer>
#include <QShowEvent>
#include <functional>

#include "link/LinkOperations.h"
#include "link/LinkState.h"
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
  // Where the design's face is missing, a face of its width: the usual wider substitute cuts the
  // explanation of the substitution at the group box's edge.
  QFont font = DefaultDesignFont();
  font.setFamilies({"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arial"});
  setFont(font);

  TreeView1 = new QTreeWidget(this);
  TreeView1->setHeaderHidden(true);
  TreeView1->setIndentation(19);
  TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // The selection stays as visible when the tree has lost the focus to the editing controls.
  QPalette palette = TreeView1->palette();
  for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
    palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
  TreeView1->setPalette(palette);
  Place(TreeView1, 0, 8, 241, 329);
  for (const char* logo : {"Логотип1", "Логотип2"}) {
    auto* group = Node(TreeView1, nullptr, logo);
    Node(TreeView1, group, "Положение по горизонтали");
    Node(TreeView1, group, "Положение по вертикали");
    Node(TreeView1, group, "Выбор логотипа");
  }
  Node(TreeView1, nullptr, "Задержка по строке");
  for (int channel = 1; channel <= ChannelCount; ++channel) {
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
  palette = Edit6->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
    palette.setColor(group, QPalette::Base, palette.color(group, QPalette::Button));
  Edit6->setPalette(palette);
  Place(Edit6, 272, 56, 34, 21);
  BitBtn3 = StepButton(GroupBox1, "-", 48);
  TrackBar1 = new QSlider(Qt::Horizontal, GroupBox1);
  TrackBar1->setTickPosition(QSlider::TicksBelow);
  TrackBar1->setSingleStep(0);  // the arrow keys do not move it
  TrackBar1->setPageStep(2);
  SetSliderRange(10);
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

  QObject::connect(TreeView1, &QTreeWidget::currentItemChanged, this, [this] { Guarded([this] { TreeView1Change(); }); });
  // Only the operator's clicks: the window's own setting of the box writes through its reading.
  QObject::connect(CheckBox1, &QCheckBox::clicked, this, [this] { Guarded([this] { CheckBox1Click(); }); });
  QObject::connect(BitBtn2, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn2Click(); }); });
  QObject::connect(BitBtn3, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn3Click(); }); });
  QObject::connect(Button2, &QPushButton::clicked, this, [this] { Guarded([this] { Button2Click(); }); });
  // Moving the slider sends nothing; the next step starts from where it stands.
  QObject::connect(TrackBar1, &QSlider::valueChanged, this, [this](int position) {
    if (displayed_) param_.Position = position;
  });
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

uint8_t TForm2::Unit() const { return unit_ < 0 ? LinkState.Address : uint8_t(unit_); }

void TForm2::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) Guarded([this] { FormShow(); });
}

void TForm2::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  Guarded([this] { FormClose(); });
}

void TForm2::FormShow() {
  for (QWidget* editor : std::initializer_list<QWidget*>{CheckBox1, Edit6, BitBtn2, BitBtn3, TrackBar1, Button2,
                                                          Label1, Label2, Label3})
    editor->hide();
  for (int group : {0, 4, 9, 17, 25, 33}) NodeAt(group)->setExpanded(false);
  presented_ = -1;
  displayed_ = false;
}

void TForm2::FormClose() {
  // Closing in the middle of one of the window's exchanges must not take register mode from it: its
  // results would not be stored and its writes would carry zeros.
  if (!LinkOperationRunning()) LinkState.RegisterMode = false;
}

void TForm2::TreeView1Change() {
  QTreeWidgetItem* item = TreeView1->currentItem();
  if (!item) return;
  PresentKind(AbsoluteIndex(item));
  // The reading starts from the message loop: run from inside the tree's own mouse or key handling, its
  // waits would let a second click reach the tree while the first is still being handled.
  static const int selection = 0;
  QPointer<TForm2> self(this);
  Toolkit().Post([self] {
    RunLinkOperation(&selection, [self] {
      if (self) self->ReadSelectedNode();
    });
  });
}

void TForm2::ShowForUnit(int address) {
  const bool changed = Unit() != address || unit_ < 0;
  unit_ = address;
  setWindowTitle(QString::fromUtf8("Settings — № %1").arg(address));
  if (!isVisible()) {
    show();  // only the tree and the empty group box
    return;
  }
  // The values on screen are the old unit's; the node is read again from the new one.
  if (changed && presented_ >= 0) TreeView1Change();
}

void TForm2::PresentKind(int index) {
  const TSettingsNodeKind kind = SettingsTreeKinds[index];
  displayed_ = false;
  presented_ = kind == nkGroup ? -1 : index;
  const QString text = NodeAt(index)->text(0);
  if (kind == nkGroup) {
    for (QWidget* editor : std::initializer_list<QWidget*>{Button2, CheckBox1, Label2, Label3})
      editor->hide();
    CheckBox1->setText(QString());
    for (QWidget* editor : std::initializer_list<QWidget*>{Edit6, BitBtn2, BitBtn3, TrackBar1, Label1})
      editor->hide();
    return;
  }
  if (IsSwitch(kind)) {
    CheckBox1->setText(text);
    CheckBox1->show();
    for (QWidget* editor : std::initializer_list<QWidget*>{Edit6, BitBtn2, BitBtn3, TrackBar1, Label1, Button2})
      editor->hide();
    Label2->setVisible(kind == nkSubstitutionCheckBox);
    Label3->setVisible(kind == nkSubstitutionCheckBox);
  } else {
    for (QWidget* editor : std::initializer_list<QWidget*>{Button2, BitBtn3, BitBtn2, TrackBar1, Edit6, Label1})
      editor->show();
    Label1->setText(text);
    Label1->adjustSize();
    for (QWidget* editor : std::initializer_list<QWidget*>{CheckBox1, Label2, Label3}) editor->hide();
    Edit6->clear();
    SetSliderRange(0);
  }
  UpdateEnabled();
}

void TForm2::PresentValues() {
  displayed_ = true;
  if (IsSwitch(param_.Kind)) {
    if (!param_.ValueRead) SetCheckedQuietly(false);
  } else {
    const bool described = param_.ValueRead && param_.DescriptorRead;
    SetSliderRange(described ? param_.Scale().Top() : 0);
    param_.Position = described ? param_.Scale().PositionOf(param_.CurrentValue) : 0;
    ShowValue();
  }
  UpdateEnabled();
}

void TForm2::ShowValue() {
  if (!displayed_) return;
  TrackBar1->setValue(param_.Position);
  Edit6->setText(param_.ValueRead ? QString::number(param_.CurrentValue) : QString());
}

void TForm2::SetSliderRange(int top) {
  TrackBar1->setRange(0, top);
  // Ticks at the two ends only, as marks placed by hand.
  TrackBar1->setTickInterval(top > 0 ? top : 1);
}

void TForm2::SetCheckedQuietly(bool checked) {
  const QSignalBlocker quiet(CheckBox1);
  CheckBox1->setChecked(checked);
}

void TForm2::UpdateEnabled() {
  const bool known = displayed_ && param_.ValueRead;
  const bool described = known && param_.DescriptorRead;
  const bool steppable = described && param_.Scale().Steppable();
  CheckBox1->setEnabled(known);
  TrackBar1->setEnabled(steppable);
  BitBtn2->setEnabled(steppable && !plusWaiting_);
  BitBtn3->setEnabled(steppable && !minusWaiting_);
  Button2->setEnabled(described);
}

void TForm2::EnableStepButtons() {
  // A click still waiting for the link keeps its button: its own write has not gone out yet.
  plusWaiting_ = plusQueued_ > 0;
  minusWaiting_ = minusQueued_ > 0;
  UpdateEnabled();
}
