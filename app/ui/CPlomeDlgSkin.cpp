// The main window's look: the skin, its shape and icon, and the layout that
// follows the window's size.

#include "app/ui/CPlomeDlg.h"

#include <QComboBox>
#include <QEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QScreen>

#include "app/ProjectFileType.h"
#include "app/ui/CAdBtn.h"
#include "app/ui/CPlomeDlgIds.h"
#include "app/ui/CSkinBtn.h"
#include "controls/CSizeGrip.h"
#include "foundation/ProfileIni.h"
#include "foundation/ProgramDir.h"
#include "foundation/ui/WindowSupport.h"

using namespace plome;

void CPlomeDlg::InstallIcon() {
  const QString icon = QString::fromStdString(GetProgramDir()) + "Skin/varnex.png";
  setWindowIcon(QIcon(icon));
  // The desktop entry names the icon "varnex"; it goes beside the user's
  // other icons once, and is never overwritten.
  const XdgDataFolders folders = XdgDataFolders::FromEnvironment();
  const QString target = QString::fromStdString(folders.dataHome) + "/icons/hicolor/256x256/apps/varnex.png";
  if (QFile::exists(target) || !QFile::exists(icon)) return;
  QDir().mkpath(QFileInfo(target).path());
  QFile::copy(icon, target);
}

void CPlomeDlg::ShapeWindow() {
  if (shape_.isNull()) shape_ = QImage(QString::fromStdString(GetProgramDir()) + "Skin/Shape.bmp");
  // A maximised window fills the screen up to its corners.
  if (shape_.isNull() || isMaximized() || isFullScreen()) clearMask();
  else setMask(ShapeRegion(shape_, size()));
}

void CPlomeDlg::LoadSkin() {
  background_ = SkinBitmap("Main.bmp");
  logo_->setPixmap(SkinBitmap("logo.bmp", true));
  auto pair = [this](int id, const QString& name, bool language) {
    if (CSkinBtn* b = Button(id)) b->SetBitmaps(SkinBitmap(name + "_1.bmp", language), SkinBitmap(name + "_2.bmp", language));
  };
  pair(kIdAudio, "BtnAudioCD", true);
  pair(kIdData, "BtnDataCD", true);
  pair(kIdAnalysis, "BtnAnalyseCD", true);
  pair(kIdCopy, "BtnDiscCopy", true);
  pair(kIdMp3, "BtnPlome", false);
  pair(kIdVcd, "BtnVCD", false);
  pair(kIdSvcd, "BtnSVCD", false);
  pair(kIdDvd, "BtnDVD", false);
  pair(kIdRefresh, "Refresh", false);
  pair(kIdSave, "SAVE", false);
  pair(kIdSaveProject, "SAVE", false);
  pair(kIdAdd, "AddFiles", false);
  pair(kIdOpen, "OpenBCD", false);
  pair(kIdNew, "NewBCDFile", false);
  pair(kIdBurn, "Burn", false);
  pair(kIdAnalyCD, "AnalyCD", false);
  pair(kIdAnalySector, "AnalySector", false);
  pair(kIdAnalyDev, "AnalyDev", false);
  pair(kIdAnalyCheck, "AnalyCheck", false);
  pair(kIdErase, "Erase", false);
  pair(kIdEject, "EjectDisc", false);
  pair(kIdLoad, "CloseDisc", false);
  pair(kIdHelp, "Help", false);
  pair(kIdSchedule, "Timingset", false);
  pair(kIdMinimise, "Min", false);
  pair(kIdClose, "Close", false);
  // Text for buttons whose picture is missing.
  for (auto& [id, b] : buttons_)
    if (auto tip = kTips.find(id); tip != kTips.end()) b->setText(Tr("Tip", tip->second).left(6));
  update();
}

void CPlomeDlg::paintEvent(QPaintEvent*) {
  PaintBackground();
  if (painted_) return;
  painted_ = true;
  emit FirstPainted();
  // What needs the recorders waits until the window is on the screen.
  QMetaObject::invokeMethod(this, &CPlomeDlg::StartLoading, Qt::QueuedConnection);
}

void CPlomeDlg::PaintBackground() {
  QPainter p(this);
  if (background_.isNull()) {
    p.fillRect(rect(), SkinColour());
    return;
  }
  // The background is cut in nine: the corners stay as drawn, the header
  // and the status bar stretch sideways, the sides stretch downwards and
  // the middle both ways.
  const int bw = background_.width(), bh = background_.height();
  const int left = std::min(20, bw / 3), right = std::min(20, bw / 3);
  const int top = std::min(kWorkTop, bh / 2), bottom = std::min(kStatusHeight, bh / 4);
  const int xs[4] = {0, left, width() - right, width()};
  const int ys[4] = {0, top, height() - bottom, height()};
  const int sx[4] = {0, left, bw - right, bw};
  const int sy[4] = {0, top, bh - bottom, bh};
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 3; ++col)
      p.drawPixmap(QRect(QPoint(xs[col], ys[row]), QPoint(xs[col + 1] - 1, ys[row + 1] - 1)), background_,
                   QRect(QPoint(sx[col], sy[row]), QPoint(sx[col + 1] - 1, sy[row + 1] - 1)));
}

void CPlomeDlg::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayOutForSize();
  if (initialised_) ShapeWindow();
}

void CPlomeDlg::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && initialised_) ShapeWindow();
}

void CPlomeDlg::LayOutForSize() {
  const int w = width(), h = height();
  title_->setGeometry(200, 8, std::max(120, w - 200 - 160), 32);
  status_->setGeometry(14, h - 25, std::max(200, w - 360), 22);
  activity_->setGeometry(w - 340, h - 22, 16, 16);
  info_->setGeometry(w - 316, h - 25, 196, 22);
  version_->setGeometry(w - 116, h - 25, 104, 22);
  if (sizeGrip_) sizeGrip_->setGeometry(w - 14, h - 14, 14, 14);
  buttons_[kIdHelp]->move(w - 140, 6);
  buttons_[kIdMinimise]->setGeometry(w - 74, 12, 28, 24);
  buttons_[kIdClose]->setGeometry(w - 42, 12, 28, 24);
  // The recorder list takes the room the window gains; the speed list stays
  // at the right edge.
  recorderList_->setGeometry(414, kToolbarY + 5, w - 414 - 156, 26);
  speedList_->setGeometry(w - 148, kToolbarY + 5, 134, 26);
  workArea_->setGeometry(10, kWorkTop, w - 20, h - kWorkTop - kStatusHeight);
  for (QWidget* page : pages_)
    if (page) page->setGeometry(0, 0, workArea_->width(), workArea_->height());
}

void CPlomeDlg::SaveWindowSize() {
  const QSize normal = isMaximized() ? normalGeometry().size() : size();
  ini::WriteString(SettingsFile(), "Windows", "Width", std::to_string(normal.width()));
  ini::WriteString(SettingsFile(), "Windows", "Height", std::to_string(normal.height()));
  ini::WriteString(SettingsFile(), "Windows", "Maximized", isMaximized() ? "1" : "0");
}

void CPlomeDlg::RestoreWindowSize() {
  QSize wanted(ini::GetInt(SettingsFile(), "Windows", "Width", kWidth),
               ini::GetInt(SettingsFile(), "Windows", "Height", kHeight));
  // Never larger than the screen it opens on, and never smaller than the
  // skin unless the screen is (a small screen, or large text scaling).
  QSize smallest(kWidth, kHeight);
  if (QScreen* s = screen()) {
    const QSize room = s->availableGeometry().size();
    smallest = smallest.boundedTo(room);
    wanted = wanted.boundedTo(room);
  }
  setMinimumSize(smallest);
  resize(wanted.expandedTo(smallest));
  // A new window opens in the middle of its screen.
  if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
  if (ini::GetInt(SettingsFile(), "Windows", "Maximized", 0) == 1) setWindowState(windowState() | Qt::WindowMaximized);
}
