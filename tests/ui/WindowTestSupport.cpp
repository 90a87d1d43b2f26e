#include "WindowTestSupport.h"

#include <QDir>
#include <algorithm>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

#include "foundation/LangText.h"

namespace wt {

namespace {
QTemporaryDir& Scratch() {
  static QTemporaryDir dir(QDir::tempPath() + "/varnex-window-tests-XXXXXX");
  return dir;
}

bool CopyTree(const QString& from, const QString& to) {
  QDir source(from);
  if (!source.exists()) return false;
  QDir().mkpath(to);
  for (const QFileInfo& e : source.entryInfoList(QDir::NoDotAndDotDot | QDir::AllEntries)) {
    QString target = to + "/" + e.fileName();
    if (e.isDir() ? !CopyTree(e.filePath(), target) : !QFile::copy(e.filePath(), target)) return false;
  }
  return true;
}
}  // namespace

QString MakeProgramFolder() {
  QString folder = Scratch().path() + "/program";
  QDir().mkpath(folder);
  CopyTree(QStringLiteral(VARNEX_BIN_DIR) + "/Lang", folder + "/Lang");
  CopyTree(QStringLiteral(VARNEX_BIN_DIR) + "/Skin", folder + "/Skin");
  CopyTree(QStringLiteral(VARNEX_BIN_DIR) + "/Tamsin", folder + "/Tamsin");
  CopyTree(QStringLiteral(VARNEX_BIN_DIR) + "/TamsinEx", folder + "/TamsinEx");
  qputenv("VARNEX_PROGRAM_DIR", (folder + "/").toUtf8());
  // The tests' program folder is a portable copy: its own files stay in it.
  WriteFile(folder + "/portable", "");
  qputenv("XDG_CONFIG_HOME", (Scratch().path() + "/config").toUtf8());
  qputenv("XDG_CACHE_HOME", (Scratch().path() + "/cache").toUtf8());
  qputenv("XDG_DATA_HOME", (Scratch().path() + "/data").toUtf8());
  qputenv("XDG_RUNTIME_DIR", (Scratch().path() + "/runtime").toUtf8());
  QDir().mkpath(Scratch().path() + "/runtime");
  QFile::setPermissions(Scratch().path() + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  return folder;
}

QString NewTempFolder(const QString& name) {
  static int serial = 0;
  QString folder = Scratch().path() + QString("/%1-%2").arg(name).arg(++serial);
  QDir().mkpath(folder);
  return folder;
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString LangText(const char* section, int key) { return QString::fromStdString(LoadLangText(section, key)); }

int RecordingSink::Show(const std::string& text, unsigned flags) {
  if (onShow) onShow(text);
  std::lock_guard<std::mutex> l(lock_);
  shown_.emplace_back(text, flags);
  // A question asked over and over means a loop: end it rather than hang.
  if (std::count_if(shown_.begin(), shown_.end(), [&](const auto& s) { return s.first == text; }) > 20)
    return (flags & 0x0F) == 0 ? msgbox::kOk : msgbox::kCancel;
  if (!answers_.empty()) {
    int a = answers_.front();
    answers_.pop_front();
    return a;
  }
  switch (flags & 0x0F) {
    case 3: case 4: return msgbox::kYes;
    case 5: return msgbox::kRetry;
    default: return msgbox::kOk;
  }
}

void RecordingSink::Answer(std::vector<int> answers) {
  std::lock_guard<std::mutex> l(lock_);
  answers_.assign(answers.begin(), answers.end());
}

std::vector<std::string> RecordingSink::Texts() {
  std::lock_guard<std::mutex> l(lock_);
  std::vector<std::string> out;
  for (auto& s : shown_) out.push_back(s.first);
  return out;
}

bool RecordingSink::Saw(const QString& text) {
  if (text.isEmpty()) return false;
  for (const std::string& s : Texts())
    if (QString::fromStdString(s).contains(text)) return true;
  return false;
}

unsigned RecordingSink::FlagsOf(const QString& text) {
  std::lock_guard<std::mutex> l(lock_);
  for (auto it = shown_.rbegin(); it != shown_.rend(); ++it)
    if (QString::fromStdString(it->first).contains(text)) return it->second;
  return 0;
}

int RecordingSink::Count() {
  std::lock_guard<std::mutex> l(lock_);
  return int(shown_.size());
}

void RecordingSink::Clear() {
  std::lock_guard<std::mutex> l(lock_);
  shown_.clear();
  answers_.clear();
  onShow = nullptr;
}

QStringList ScriptedFiles::OpenFilesAndFolders(QWidget*, const QString&, const QString&) {
  QStringList out = next;
  next.clear();
  return out;
}

RecordingSink& Sink() {
  static auto sink = std::make_shared<RecordingSink>();
  static bool installed = (SetMessageSink(sink), true);
  (void)installed;
  return *sink;
}

ScriptedFiles& Chooser() {
  static auto chooser = std::make_shared<ScriptedFiles>();
  static bool installed = (SetFileChooser(chooser), true);
  (void)installed;
  return *chooser;
}

RecordingPower& PowerLog() {
  static auto power = std::make_shared<RecordingPower>();
  static bool installed = (SetPowerControl(power), true);
  (void)installed;
  return *power;
}

}  // namespace wt
