#pragma once
// A list box whose horizontal scroll range follows its widest line.

#include <QListWidget>

#include "controls/PavaneExport.h"

class PAVANE_EXPORT CHListBox : public QListWidget {
  Q_OBJECT
 public:
  explicit CHListBox(QWidget* parent = nullptr);

  // The index of the new line, or -1. An index of -1 appends.
  int InsertString(int index, const QString& text);
  // The number of lines left, or -1 for an index out of range.
  int DeleteString(int index);
  void ResetContent();

  int Widest() const { return widest_; }
  int HorizontalExtent() const { return extent_; }
  bool HorizontalBarShown() const { return horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOn; }

 private:
  int TextWidth(const QString& text) const;
  void SetExtent(int extent);

  int widest_ = 0;
  int extent_ = 0;
};
