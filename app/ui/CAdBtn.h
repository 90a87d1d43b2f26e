#pragma once
// The information button of the main window: items (a text and a link each)
// that change every few seconds, from showinfo/<language>.ini, which a
// thread of its own refreshes from the update server at start-up.

#include <QLabel>
#include <QTimer>
#include <atomic>
#include <memory>
#include <thread>

class UpdateNetwork;

class CAdBtn : public QLabel {
  Q_OBJECT
 public:
  explicit CAdBtn(QWidget* parent = nullptr);
  ~CAdBtn() override;

  // Starts the download thread; without a server nothing is fetched and the
  // items already on disk are shown.
  void StartDownload(const std::string& server, std::unique_ptr<UpdateNetwork> net);
  // Waits for the download thread (closing, and tests).
  void WaitForDownload();
  // Shows the next item; the timer calls it.
  void ShowNextItem();
  int ItemIndex() const { return index_; }
  int Period() const { return timer_.interval(); }
  bool Cycling() const { return timer_.isActive(); }

 signals:
  void Downloaded(bool fetched);

 private:
  QString ItemsFile() const;
  QTimer timer_;
  int index_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
};
