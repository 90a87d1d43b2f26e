#include "app/ui/CAdBtn.h"

#include <algorithm>

#include "app/UpdateFiles.h"
#include "app/UpdateNetwork.h"
#include "foundation/LangText.h"
#include "foundation/ProfileIni.h"
#include "foundation/ProgramDir.h"

CAdBtn::CAdBtn(QWidget* parent) : QLabel(parent) {
  setProperty("id", 1147);
  setOpenExternalLinks(true);
  connect(&timer_, &QTimer::timeout, this, &CAdBtn::ShowNextItem);
}

CAdBtn::~CAdBtn() {
  stop_ = true;
  WaitForDownload();
}

QString CAdBtn::ItemsFile() const {
  return QString::fromStdString(GetWritableDir() + "showinfo/" + GetLanguageFile() + ".ini");
}

void CAdBtn::StartDownload(const std::string& server, std::unique_ptr<UpdateNetwork> net) {
  ShowNextItem();
  if (server.empty() || !net || thread_.joinable()) return;
  const std::string language = GetLanguageFile();
  const std::string folder = GetWritableDir();
  thread_ = std::thread([this, server, language, folder, net = std::move(net)] {
    bool fetched = DownloadShowInfo(*net, server, language, folder, &stop_) == DownloadResult::Ok;
    if (stop_) return;
    // The items are read on the window's thread.
    QMetaObject::invokeMethod(this, [this, fetched] {
      timer_.stop();
      index_ = 0;
      ShowNextItem();
      emit Downloaded(fetched);
    }, Qt::QueuedConnection);
  });
}

void CAdBtn::WaitForDownload() {
  if (thread_.joinable()) thread_.join();
}

void CAdBtn::ShowNextItem() {
  const std::string file = ItemsFile().toStdString();
  int count = std::atoi(ini::GetString(file, "Info Set", "Count", "0").c_str());
  if (count <= 0) {
    clear();
    timer_.stop();
    return;
  }
  index_ = index_ % count + 1;
  const std::string n = std::to_string(index_);
  QString text = QString::fromStdString(ini::GetString(file, "Info Set", "Info" + n + "_str", ""));
  QString link = QString::fromStdString(ini::GetString(file, "Info Set", "Info" + n + "_link", ""));
  // The items come from the network: only web links open anything.
  if (!link.startsWith("http://", Qt::CaseInsensitive) && !link.startsWith("https://", Qt::CaseInsensitive))
    link.clear();
  setText(link.isEmpty() ? text.toHtmlEscaped()
                         : QString("<a style=\"color:#8cc8ff\" href=\"%1\">%2</a>").arg(link.toHtmlEscaped(), text.toHtmlEscaped()));
  int period = std::atoi(ini::GetString(file, "Info Set", "Time", "3500").c_str());
  if (!timer_.isActive()) timer_.start(std::max(500, period));
}
