#pragma once
// The erase window: a caption and a bar that shows activity, not an amount;
// the owner advances it once a second while the erase runs.

#include <QDialog>
#include <QElapsedTimer>

class QLabel;

class QProgressBar;

class CDlgEProgress : public QDialog {
  Q_OBJECT
 public:
  explicit CDlgEProgress(QWidget* parent = nullptr);
  // One step; after 99 the bar starts again at 1.
  void Advance();
  int Pos() const;
  QString ElapsedText() const;

 protected:
  void reject() override {}  // an erase cannot be stopped half way

 private:
  void ShowElapsed();

  QProgressBar* bar_;
  QLabel* elapsed_;
  QElapsedTimer started_;
};
