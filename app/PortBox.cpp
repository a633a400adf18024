#include "app/PortBox.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QPainter>
#include <QScreen>
#include <QStyledItemDelegate>

namespace {

constexpr int DescriptionRole = Qt::UserRole + 1;
constexpr int DescriptionGap = 16;

// Paints the name as any item, then the description after it, dimmed.
class TPortItemDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    const QString description = index.data(DescriptionRole).toString();
    if (description.isEmpty()) return;
    QStyleOptionViewItem item(option);
    initStyleOption(&item, index);
    const int left = item.rect.left() + NameWidth(item) + DescriptionGap;
    QRect area(left, item.rect.top(), item.rect.right() - left, item.rect.height());
    painter->save();
    QColor colour = item.palette.color(option.state & QStyle::State_Selected ? QPalette::HighlightedText
                                                                              : QPalette::Text);
    colour.setAlphaF(0.65f);
    painter->setPen(colour);
    painter->setFont(item.font);
    painter->drawText(area, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, description);
    painter->restore();
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const QString description = index.data(DescriptionRole).toString();
    if (!description.isEmpty())
      size.rwidth() += DescriptionGap + option.fontMetrics.horizontalAdvance(description);
    return size;
  }

 private:
  static int NameWidth(const QStyleOptionViewItem& item) {
    // The text starts after the item's own margin, which the style puts on either side of it.
    const QStyle* style = item.widget ? item.widget->style() : nullptr;
    const int margin = style ? style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, item.widget) + 1 : 3;
    return margin + item.fontMetrics.horizontalAdvance(item.text);
  }
};

// The box's width for its text: the text itself plus the frame, the arrow and the edit's own margins.
int WidthForText(const QComboBox& box, const QString& text) {
  QStyleOptionComboBox option;
  option.initFrom(&box);
  option.editable = true;
  const QSize contents(box.fontMetrics().horizontalAdvance(text) + 6, box.fontMetrics().height());
  return box.style()->sizeFromContents(QStyle::CT_ComboBox, &option, contents, &box).width();
}

void Fit(QWidget& dialog, QComboBox& box, int designBoxWidth, int designDialogWidth) {
  int width = std::max(designBoxWidth, WidthForText(box, box.currentText()));
  if (const QScreen* screen = dialog.screen())
    width = std::min(width, screen->availableGeometry().width() - box.x() - 40);
  width = std::max(width, designBoxWidth);
  if (width != box.width()) box.resize(width, box.height());
  const int dialogWidth = std::max(designDialogWidth, box.x() + width + 16);
  if (dialogWidth != dialog.width()) dialog.setFixedSize(dialogWidth, dialog.height());
  const int index = box.findText(box.currentText());
  box.setToolTip(index >= 0 ? PortItemDescription(box, index) : QString());
}

}  // namespace

void AddPortsToList(QComboBox& box, const TPortListing& ports) {
  int widest = 0;
  for (size_t i = 0; i < ports.Names.size(); ++i) {
    const QString description =
        QString::fromUtf8(i < ports.Descriptions.size() ? ports.Descriptions[i].c_str() : "");
    box.addItem(QString::fromLocal8Bit(ports.Names[i].c_str()));
    const int index = box.count() - 1;
    box.setItemData(index, description, DescriptionRole);
    box.setItemData(index, description, Qt::AccessibleDescriptionRole);
    box.setItemData(index, description, Qt::ToolTipRole);
  }
  for (int i = 0; i < box.count(); ++i) {
    QStyleOptionViewItem option;
    option.initFrom(box.view());
    option.font = box.view()->font();
    option.fontMetrics = QFontMetrics(option.font);
    widest = std::max(widest, box.itemDelegate()->sizeHint(option, box.model()->index(i, 0)).width());
  }
  // The drop-down may be wider than the box, so every name and description reads whole.
  box.view()->setMinimumWidth(widest + box.view()->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 8);
}

void KeepPortTextWhole(QWidget& dialog, QComboBox& box) {
  box.setItemDelegate(new TPortItemDelegate(&box));
  const int designBoxWidth = box.width();
  const int designDialogWidth = dialog.width();
  QObject::connect(&box, &QComboBox::editTextChanged, &box,
                   [&dialog, &box, designBoxWidth, designDialogWidth] {
                     Fit(dialog, box, designBoxWidth, designDialogWidth);
                   });
}

QString PortItemDescription(const QComboBox& box, int index) {
  return box.itemData(index, DescriptionRole).toString();
}
