#include "controls/CHListBox.h"

#include <QFontMetrics>
#include <QScrollBar>

CHListBox::CHListBox(QWidget* parent) : QListWidget(parent) {
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

int CHListBox::TextWidth(const QString& text) const { return QFontMetrics(font()).horizontalAdvance(text); }

void CHListBox::SetExtent(int extent) {
  extent_ = extent;
  horizontalScrollBar()->setRange(0, std::max(0, extent - viewport()->width()));
}

int CHListBox::InsertString(int index, const QString& text) {
  if (index < -1 || index > count()) return -1;
  int at = index == -1 ? count() : index;
  insertItem(at, text);
  widest_ = std::max(widest_, TextWidth(text));
  SetExtent(widest_ + 3);
  return at;
}

int CHListBox::DeleteString(int index) {
  if (index < 0 || index >= count()) return -1;
  delete takeItem(index);
  // Start from the window's own width: only lines wider than it need a bar.
  int widest = width();
  for (int i = 0; i < count(); ++i) widest = std::max(widest, TextWidth(item(i)->text()));
  widest_ = widest;
  if (widest > width()) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    SetExtent(widest);
  } else {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  }
  return count();
}

void CHListBox::ResetContent() {
  clear();
  widest_ = 0;
  SetExtent(0);
}
