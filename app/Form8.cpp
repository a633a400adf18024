#include "app/Form8.h"

#include "app/PortBox.h"
#include "toolkit/Widgets.h"

TForm8::TForm8()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint) {
  setWindowTitle(QString::fromUtf8("Выбор Com-порта"));
  setFont(DefaultDesignFont());
  Label1 = new QLabel(QString::fromUtf8("Порт"), this);
  Place(Label1, 16, 27);
  ComboBox1 = new QComboBox(this);
  ComboBox1->setEditable(true);
  ComboBox1->setInsertPolicy(QComboBox::NoInsert);  // a typed name is used, not added to the list
  Place(ComboBox1, 64, 24, 81, 21);
  BitBtn1 = new QPushButton(QString::fromUtf8("Выбрать"), this);
  Place(BitBtn1, 64, 64, 75, 20);
  move(537, 308);
  FixClientSize(this, 191, 95);
  KeepPortTextWhole(*this, *ComboBox1);
}
