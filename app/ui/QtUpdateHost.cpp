#include "app/ui/QtUpdateHost.h"

#include <QMetaObject>
#include <memory>
#include <optional>

#include "foundation/ShowMessage.h"

int QtUpdateHost::Ask(const std::string& text, unsigned flags) {
  auto answer = std::make_shared<std::optional<int>>();
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (closing_ || !window_) return msgbox::kNo;
  }
  QMetaObject::invokeMethod(window_, [this, answer, text, flags] {
    int button = ShowMessage(text, flags);
    std::lock_guard<std::mutex> guard(lock_);
    *answer = button;
    answered_.notify_all();
  }, Qt::QueuedConnection);
  std::unique_lock<std::mutex> guard(lock_);
  answered_.wait(guard, [&] { return answer->has_value() || closing_; });
  return answer->has_value() ? **answer : msgbox::kNo;
}

bool QtUpdateHost::StartUpdater(const std::string& program, const std::string& folder) {
  return StartDetached(program, folder);
}

void QtUpdateHost::EndProgram() {
  std::lock_guard<std::mutex> guard(lock_);
  if (closing_ || !window_) return;
  QMetaObject::invokeMethod(window_, [w = window_] { if (w) w->close(); }, Qt::QueuedConnection);
}

void QtUpdateHost::Closing() {
  std::lock_guard<std::mutex> guard(lock_);
  closing_ = true;
  answered_.notify_all();
}
