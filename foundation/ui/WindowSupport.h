#pragma once
// Small things every window of the program shares: language texts as
// QStrings, the skin colour and bitmaps, running device work off the window
// thread, calling back onto it, and the file dialogs (which tests replace).

#include <QColor>
#include <QEventLoop>
#include <QImage>
#include <QMetaObject>
#include <QPixmap>
#include <QRegion>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QWidget>
#include <memory>
#include <optional>
#include <thread>
#include <type_traits>

#include "foundation/LangText.h"

QString Tr(const char* section, int key);
QString ErrorText(int code);
QColor SkinColour();
// Skin/<name>, or Skin/<language>/<name> when `language` is set; a null
// pixmap when the file is missing.
QPixmap SkinBitmap(const QString& name, bool language = false);
// The region of a window of `size` shaped by a shape bitmap: every pure white
// pixel of `shape` is cut away, the rest stays. A window larger or smaller
// than the bitmap keeps each cut pixel at the same distance from its nearest
// corner, so rounded corners stay round when the window is resized. A null
// bitmap gives the whole rectangle.
QRegion ShapeRegion(const QImage& shape, QSize size);
// A message or question window: a title and a close button, no minimise or
// maximise buttons (a question answered later is a question forgotten).
void SetMessageFrame(QWidget* box);
// The order names are shown in, in the project tree and the list alike:
// case does not matter (it only breaks ties), as in file managers.
bool ShownBefore(const QString& a, const QString& b);
// Fills a widget's background with the skin colour and gives labels the
// program's light text colour.
void ApplySkinPalette(QWidget* widget);
constexpr QRgb kLabelColour = 0xFFDCE1EE;  // RGB(220,225,238)

// Runs `work` on a thread of its own and returns its result. The window keeps
// painting meanwhile, but takes no input, so no command can start twice.
template <class Work>
auto RunOffWindowThread(Work work) -> decltype(work()) {
  using Result = decltype(work());
  QEventLoop loop;
  std::conditional_t<std::is_void_v<Result>, bool, std::optional<Result>> result{};
  std::thread worker([&] {
    if constexpr (std::is_void_v<Result>) {
      work();
    } else {
      result = work();
    }
    QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
  });
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  worker.join();
  if constexpr (!std::is_void_v<Result>) return *result;
}

// Runs `call` on the thread of `context` and waits for it (the synchronous
// hand-over a worker uses to reach a window).
template <class Call>
auto OnThreadOf(QObject* context, Call call) -> decltype(call()) {
  if (QThread::currentThread() == context->thread()) return call();
  using Result = decltype(call());
  if constexpr (std::is_void_v<Result>) {
    QMetaObject::invokeMethod(context, call, Qt::BlockingQueuedConnection);
  } else {
    Result r{};
    QMetaObject::invokeMethod(context, [&] { r = call(); }, Qt::BlockingQueuedConnection);
    return r;
  }
}

// The file dialogs of the windows. Filters are in the program's own
// "Name(*.x)|*.x||" form.
class FileChooser {
 public:
  virtual ~FileChooser() = default;
  virtual QString OpenFile(QWidget* parent, const QString& title, const QString& filter) = 0;
  // Files and folders to add to a project.
  virtual QStringList OpenFilesAndFolders(QWidget* parent, const QString& title, const QString& filter) = 0;
  virtual QString SaveFile(QWidget* parent, const QString& title, const QString& filter,
                           const QString& defaultName, const QString& defaultSuffix) = 0;
};

class DialogFileChooser : public FileChooser {
 public:
  QString OpenFile(QWidget* parent, const QString& title, const QString& filter) override;
  QStringList OpenFilesAndFolders(QWidget* parent, const QString& title, const QString& filter) override;
  QString SaveFile(QWidget* parent, const QString& title, const QString& filter, const QString& defaultName,
                   const QString& defaultSuffix) override;
};

// "Name(*.x)|*.x|Other(*.y)|*.y||" -> "Name(*.x);;Other(*.y)" for Qt dialogs.
QString QtFilter(const QString& filter);

// The chooser the windows use; a DialogFileChooser until another is set.
FileChooser* Files();
void SetFileChooser(std::shared_ptr<FileChooser> chooser);
