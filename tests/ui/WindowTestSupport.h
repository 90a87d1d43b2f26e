#pragma once
// Shared by the window tests: a private program folder, message boxes that
// answer by themselves and remember what they said, file dialogs that return
// what the test chose, and a power control that only records.

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/ShowMessage.h"
#include "app/ui/PowerControl.h"
#include "foundation/ui/WindowSupport.h"

namespace wt {

// A fresh program folder with the built language files and skin, set as
// VARNEX_PROGRAM_DIR; removed at exit.
QString MakeProgramFolder();
QString NewTempFolder(const QString& name);
bool WriteFile(const QString& path, const QByteArray& bytes);
QByteArray ReadFile(const QString& path);
QString LangText(const char* section, int key);

class RecordingSink : public MessageSink {
 public:
  int Show(const std::string& text, unsigned flags) override;
  // Called with each box's text before it is answered (on the thread that
  // shows it), as a user acts before pressing a button.
  std::function<void(const std::string&)> onShow;
  // Answers for the next boxes, in order; afterwards the first button.
  void Answer(std::vector<int> answers);
  std::vector<std::string> Texts();
  bool Saw(const QString& text);  // a box whose text contains `text`
  unsigned FlagsOf(const QString& text);  // the flags of the last such box; 0 when none
  int Count();
  void Clear();

 private:
  std::mutex lock_;
  std::vector<std::pair<std::string, unsigned>> shown_;
  std::deque<int> answers_;
};

class ScriptedFiles : public FileChooser {
 public:
  QStringList next;  // handed out one per dialog; empty: cancelled
  QString OpenFile(QWidget*, const QString&, const QString&) override { return Take(); }
  QStringList OpenFilesAndFolders(QWidget*, const QString&, const QString&) override;
  QString SaveFile(QWidget*, const QString&, const QString&, const QString& defaultName, const QString&) override {
    lastDefaultName = defaultName;
    return Take();
  }
  QString lastDefaultName;

 private:
  QString Take() { return next.isEmpty() ? QString() : next.takeFirst(); }
};

class RecordingPower : public PowerControl {
 public:
  QStringList calls;
  bool LogOff(QString*) override { calls << "LogOff"; return true; }
  bool Hibernate(QString*) override { calls << "Hibernate"; return true; }
  bool PowerOff(QString*) override { calls << "PowerOff"; return true; }
};

RecordingSink& Sink();
ScriptedFiles& Chooser();
RecordingPower& PowerLog();

}  // namespace wt
