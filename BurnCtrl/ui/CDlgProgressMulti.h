#pragma once
// The progress window of one project written to several recorders at once:
// one row per recorder with its state, percentage, copy counter and the item
// being written, the prompt for the next blank disc between copies, and
// Cancel for all. The project is prepared once (the caller's preparation,
// on a worker of its own), then every recorder writes its copies; a 100 ms
// timer shows how far each has got. The window closes when no recorder is
// writing any more.

#include <QDialog>
#include <QElapsedTimer>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "BurnCtrl/BurnMultiRun.h"

class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;

class CDlgProgressMulti : public QDialog {
  Q_OBJECT
 public:
  // Project kinds, as the drive set's burn is chosen.
  enum Kind { kAudioCd = 0, kDataDisc = 1, kDataOrImage = 2, kVideoCd = 3, kSuperVideoCd = 4, kDvdVideo = 5 };

  explicit CDlgProgressMulti(QWidget* parent = nullptr);
  ~CDlgProgressMulti() override;

  // ",3,4,5,": the drives to write on (1 to 25); `names` labels their rows
  // ("D: VENDOR PRODUCT"); a drive without a name is shown by its letter.
  void SetDriveSet(const QString& text, const std::map<int, QString>& names = {});
  void SetProject(int kind, int copies);
  // Prepares the project once before any recorder writes (converting audio,
  // authoring video); 1, or the failure that stops the burn before it starts.
  // `stop` is set when the user cancels meanwhile.
  void SetPrepare(std::function<int(const std::atomic<bool>& stop)> prepare) { prepare_ = std::move(prepare); }
  void SetBurn(BurnMultiRun::BurnOne burn, BurnMultiRun::Hooks hooks = {});

  // Stops every recorder without asking (the program is being closed); the
  // window closes once they have stopped.
  void Stop();

  // 1 when every recorder wrote every copy; else the first failure.
  int Result() const { return result_; }
  // One line per recorder that did not finish, naming it ("" when all did).
  QString Summary() const { return summary_; }
  QString DriveSetText() const;
  QTreeWidget* List() const { return list_; }
  QPushButton* CancelButton() const { return cancel_; }
  bool Preparing() const { return preparing_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void reject() override;  // Cancel, Escape and the close box: ask, then stop every recorder

 private:
  void Begin();
  void Poll();
  void Finish();
  QString RowName(int drive) const;

  QLabel* driveSet_;
  QLabel* status_;
  QTreeWidget* list_;
  QPushButton* cancel_;
  QTimer* timer_;
  QElapsedTimer started_;

  std::vector<int> drives_;
  std::map<int, QString> names_;
  int kind_ = kDataDisc, copies_ = 1;
  std::function<int(const std::atomic<bool>&)> prepare_;
  BurnMultiRun::BurnOne burn_;
  BurnMultiRun::Hooks hooks_;
  std::unique_ptr<BurnMultiRun> run_;
  std::thread preparer_;
  std::atomic<bool> preparing_{false}, stop_{false};
  std::atomic<int> prepared_{1};
  bool begun_ = false, cancelled_ = false, finished_ = false;
  int result_ = 0;
  QString summary_;
};
