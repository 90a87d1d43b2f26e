#pragma once
// The update check's questions, asked on the window's thread while the
// check's thread waits for the answer; the updater is started detached and
// the main window closes as its own Close would.

#include <QPointer>
#include <QWidget>
#include <condition_variable>
#include <mutex>

#include "app/CUpdate.h"

class QtUpdateHost : public UpdateHost {
 public:
  explicit QtUpdateHost(QWidget* window) : window_(window) {}
  int Ask(const std::string& text, unsigned flags) override;
  bool StartUpdater(const std::string& program, const std::string& folder) override;
  void EndProgram() override;
  // The window closes: a question still waiting is answered "No", so the
  // check's thread ends and can be joined.
  void Closing();

 private:
  QPointer<QWidget> window_;
  std::mutex lock_;
  std::condition_variable answered_;
  bool closing_ = false;
};
