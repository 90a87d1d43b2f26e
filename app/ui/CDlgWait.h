#pragma once
// The wait window of work that runs in the background (adding files to a
// project): the file being worked on, and Cancel. It closes by itself once
// the work is over; a cancel asks the work to stop and waits for it.

#include <QDialog>
#include <functional>
#include <string>

class CFileManager;
class QLabel;
class QPushButton;
class QTimer;

class CDlgWait : public QDialog {
  Q_OBJECT
 public:
  struct Work {
    std::function<bool()> busy;                // false once the work is over
    std::function<std::string()> currentFile;  // what it works on now
    std::function<void()> stop;                // asks it to stop
  };
  CDlgWait(Work work, const QString& caption, int periodMs, QWidget* parent);
  // The additions of a data project.
  CDlgWait(CFileManager* manager, int periodMs, QWidget* parent);
  bool Cancelled() const { return cancelled_; }
  // Looks at the work now: closes when it is over.
  void Poll() { Tick(); }

 protected:
  void reject() override;  // Escape and the close button cancel too

 private:
  void Tick();
  Work work_;
  QLabel* text_;
  QPushButton* cancel_;
  QTimer* timer_;
  bool cancelled_ = false;
};
