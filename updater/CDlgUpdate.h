#pragma once
// The updater's window: what is being fetched or put in place, how many of
// how many, the progress, and Cancel. The work runs on a worker thread of
// UpdateJob; the window reads its progress with a timer.

#include <QDialog>
#include <QTimer>
#include <thread>

#include "app/UpdateJob.h"

class QLabel;
class QProgressBar;
class QPushButton;

class CDlgUpdate : public QDialog {
  Q_OBJECT
 public:
  explicit CDlgUpdate(UpdateJob& job, QWidget* parent = nullptr);
  ~CDlgUpdate() override;

  // Installs at once when files are waiting, otherwise downloads first.
  void Begin();
  UpdateJob::Outcome Outcome() const { return outcome_; }
  bool Finished() const { return finished_; }

  QLabel* StatusText() const { return status_; }
  QLabel* CounterText() const { return counter_; }
  QLabel* PercentText() const { return percent_; }
  QProgressBar* Progress() const { return bar_; }
  QPushButton* CancelButton() const { return cancel_; }
  // Shows the job's progress; the timer calls it.
  void ShowProgress();

 signals:
  // The work has ended (the window then closes).
  void WorkEnded(int outcome);

 public slots:
  void reject() override;  // Escape and Cancel

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void RunPhase(bool install);
  void PhaseEnded(bool install, UpdateJob::Outcome outcome);
  void End(UpdateJob::Outcome outcome);

  UpdateJob& job_;
  QLabel* status_;
  QLabel* counter_;
  QLabel* percent_;
  QProgressBar* bar_;
  QPushButton* cancel_;
  QTimer timer_;
  std::thread worker_;
  bool cancelled_ = false;
  bool finished_ = false;
  UpdateJob::Outcome outcome_ = UpdateJob::Outcome::NothingToDo;
};
