#pragma once
// A report list that highlights whole rows or a single selected column, with
// its own text and background colours. Alt and a click starts editing the
// row's label; every key press and plain click is reported to the parent
// with notification code 4096.

#include <QTreeWidget>

#include "controls/PavaneExport.h"

class PAVANE_EXPORT CListCtrlEx : public QTreeWidget {
  Q_OBJECT
 public:
  static constexpr int kNotifyCode = 4096;

  explicit CListCtrlEx(QWidget* parent = nullptr);

  bool SetFullRowSel(bool on);
  bool GetFullRowSel() const { return fullRow_; }
  // Fails for a column index that is not below the number of columns.
  bool SetColSel(int column);
  int GetColSel() const { return selColumn_; }
  void SetExtendHighlight(bool on) { extend_ = on; viewport()->update(); }
  // Keep showing the selection while another window has the focus.
  void SetShowSelAlways(bool on) { showSelAlways_ = on; viewport()->update(); }

  void SetTextColor(quint32 c);
  void SetTextBkColor(quint32 c);
  void SetBkColor(quint32 c);
  quint32 TextColor() const { return text_; }
  quint32 TextBkColor() const { return textBk_; }
  quint32 BkColor() const { return bk_; }

  // In header (visual) order.
  QRect GetCellRect(int row, int visualColumn) const;
  int GetTrueColumnWidth(int visualColumn) const;
  QString GetTrueItemText(int row, int visualColumn) const;
  // Row and visual column at a point of the viewport; false when none.
  bool HitTestRowCol(const QPoint& point, int* row, int* visualColumn) const;

  // Whether a row is drawn highlighted.
  bool RowHighlighted(int row) const;
  // Where the box of a checkable cell is drawn, and where a click toggles it.
  QRect CheckRect(const QModelIndex& cell) const;

 signals:
  void Notify(int code);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  bool fullRow_ = true;
  bool extend_ = true;
  bool showSelAlways_ = false;
  int selColumn_ = 0;  // 0: none; otherwise the column index + 1
  quint32 text_ = 0, textBk_ = 0xFFFFFF, bk_ = 0xFFFFFF;
};
