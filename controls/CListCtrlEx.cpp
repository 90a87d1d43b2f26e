#include "controls/CListCtrlEx.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

CListCtrlEx::CListCtrlEx(QWidget* parent) : QTreeWidget(parent) {
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  const QPalette pal = QApplication::palette();
  text_ = pavane::ToColorRef(pal.color(QPalette::Text));
  textBk_ = bk_ = pavane::ToColorRef(pal.color(QPalette::Base));
}

bool CListCtrlEx::SetFullRowSel(bool on) {
  fullRow_ = on;
  viewport()->update();
  return true;
}

bool CListCtrlEx::SetColSel(int column) {
  if (column < 0 || column >= columnCount()) return false;
  selColumn_ = column + 1;
  viewport()->update();
  return true;
}

void CListCtrlEx::SetTextColor(quint32 c) {
  text_ = c;
  viewport()->update();
}
void CListCtrlEx::SetTextBkColor(quint32 c) {
  textBk_ = c;
  viewport()->update();
}
void CListCtrlEx::SetBkColor(quint32 c) {
  bk_ = c;
  QPalette pal = palette();
  pal.setColor(QPalette::Base, pavane::FromColorRef(c));
  setPalette(pal);
}

QRect CListCtrlEx::GetCellRect(int row, int visualColumn) const {
  QTreeWidgetItem* it = topLevelItem(row);
  int logical = header()->logicalIndex(visualColumn);
  if (!it || logical < 0) return {};
  return visualRect(indexFromItem(it, logical));
}

int CListCtrlEx::GetTrueColumnWidth(int visualColumn) const {
  int logical = header()->logicalIndex(visualColumn);
  return logical < 0 ? 0 : header()->sectionSize(logical);
}

QString CListCtrlEx::GetTrueItemText(int row, int visualColumn) const {
  QTreeWidgetItem* it = topLevelItem(row);
  int logical = header()->logicalIndex(visualColumn);
  return it && logical >= 0 ? it->text(logical) : QString();
}

bool CListCtrlEx::HitTestRowCol(const QPoint& point, int* row, int* visualColumn) const {
  QModelIndex index = indexAt(point);
  if (!index.isValid()) return false;
  *row = index.row();
  *visualColumn = header()->visualIndex(index.column());
  return true;
}

bool CListCtrlEx::RowHighlighted(int row) const {
  QTreeWidgetItem* it = topLevelItem(row);
  if (!it) return false;
  return it->isSelected() && (hasFocus() || showSelAlways_);
}

QRect CListCtrlEx::CheckRect(const QModelIndex& cell) const {
  // Laid out as the item delegate lays it out to take the click.
  QStyleOptionViewItem item;
  initViewItemOption(&item);
  item.rect = visualRect(cell);
  item.features = QStyleOptionViewItem::HasCheckIndicator;
  item.text = cell.data().toString();
  if (!item.text.isEmpty()) item.features |= QStyleOptionViewItem::HasDisplay;
  item.checkState = cell.data(Qt::CheckStateRole).value<Qt::CheckState>();
  return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &item, this);
}

void CListCtrlEx::drawRow(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const bool highlighted = RowHighlighted(index.row());
  QRect rowRect = option.rect;
  if (extend_) rowRect.setRight(viewport()->width());
  p->fillRect(rowRect, pavane::FromColorRef(textBk_));
  const QColor highlight = palette().color(QPalette::Highlight);
  if (highlighted) {
    if (selColumn_ == 0) p->fillRect(rowRect, highlight);
    else p->fillRect(visualRect(index.sibling(index.row(), selColumn_ - 1)), highlight);
  }
  QFontMetrics fm(font());
  const int inset = 2 * fm.horizontalAdvance(QLatin1Char('x'));
  for (int v = 0; v < header()->count(); ++v) {
    int logical = header()->logicalIndex(v);
    if (header()->isSectionHidden(logical)) continue;
    QRect cell = visualRect(index.sibling(index.row(), logical));
    if (cell.isNull()) continue;
    bool cellLit = highlighted && (selColumn_ == 0 || selColumn_ - 1 == logical);
    p->setPen(cellLit ? palette().color(QPalette::HighlightedText) : pavane::FromColorRef(text_));
    QRect textRect = cell.adjusted(inset, 0, -inset, 0);
    QVariant icon = index.sibling(index.row(), logical).data(Qt::DecorationRole);
    if (icon.canConvert<QIcon>() && !icon.value<QIcon>().isNull()) {
      icon.value<QIcon>().paint(p, QRect(cell.left() + 2, cell.top() + (cell.height() - 16) / 2, 16, 16));
      textRect.setLeft(cell.left() + 20);
    }
    const QVariant check = index.sibling(index.row(), logical).data(Qt::CheckStateRole);
    if (check.isValid()) {
      const QRect box = CheckRect(index.sibling(index.row(), logical));
      QStyleOptionViewItem indicator(option);
      indicator.rect = box;
      indicator.state &= ~(QStyle::State_On | QStyle::State_Off | QStyle::State_NoChange);
      indicator.state |= check.value<Qt::CheckState>() == Qt::Checked ? QStyle::State_On : QStyle::State_Off;
      style()->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &indicator, p, this);
      textRect.setLeft(box.right() + 4);
    }
    int align = headerItem()->textAlignment(logical);
    Qt::Alignment h = (align & Qt::AlignRight) ? Qt::AlignRight : (align & Qt::AlignHCenter) ? Qt::AlignHCenter : Qt::AlignLeft;
    QString text = fm.elidedText(index.sibling(index.row(), logical).data().toString(), Qt::ElideRight, textRect.width());
    p->drawText(textRect, h | Qt::AlignVCenter | Qt::TextSingleLine, text);
  }
}

void CListCtrlEx::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && (event->modifiers() & Qt::AltModifier)) {
    QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid()) {
      QTreeWidgetItem* it = itemFromIndex(index);
      it->setFlags(it->flags() | Qt::ItemIsEditable);
      editItem(it, 0);
    }
    return;
  }
  QTreeWidget::mousePressEvent(event);
  emit Notify(kNotifyCode);
}

void CListCtrlEx::keyPressEvent(QKeyEvent* event) {
  QTreeWidget::keyPressEvent(event);
  emit Notify(kNotifyCode);
}

void CListCtrlEx::focusInEvent(QFocusEvent* event) {
  QTreeWidget::focusInEvent(event);
  if (fullRow_) viewport()->update();
}

void CListCtrlEx::focusOutEvent(QFocusEvent* event) {
  QTreeWidget::focusOutEvent(event);
  if (fullRow_) viewport()->update();
}
