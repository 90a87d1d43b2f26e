#include "foundation/ui/WindowSupport.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QListView>
#include <QTreeView>

#include "foundation/ProgramDir.h"
#include "foundation/Skin.h"

QString Tr(const char* section, int key) { return QString::fromStdString(LoadLangText(section, key)); }
QString ErrorText(int code) { return QString::fromStdString(LoadErrorText(code)); }

QColor SkinColour() {
  uint32_t c = ReadSkinColour();
  return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

QPixmap SkinBitmap(const QString& name, bool language) {
  QString path = QString::fromStdString(GetProgramDir()) + "Skin/";
  if (language) path += QString::fromStdString(GetLanguageSubdir());
  path += name;
  QPixmap pixmap;
  pixmap.load(path);
  return pixmap;
}

QRegion ShapeRegion(const QImage& shape, QSize size) {
  QRegion region(QRect(QPoint(0, 0), size));
  if (shape.isNull()) return region;
  const QImage rgb = shape.convertToFormat(QImage::Format_RGB32);
  const int w = rgb.width(), h = rgb.height();
  // Pixels of the right and bottom halves keep their distance from the right
  // and bottom edges of the window.
  auto mapX = [&](int x) { return x < w / 2 ? x : size.width() - (w - x); };
  auto mapY = [&](int y) { return y < h / 2 ? y : size.height() - (h - y); };
  QRegion cut;
  for (int y = 0; y < h; ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
    for (int x = 0; x < w;) {
      if ((line[x] & 0xFFFFFF) != 0xFFFFFF) {
        ++x;
        continue;
      }
      int end = x;
      while (end < w && (line[end] & 0xFFFFFF) == 0xFFFFFF && (end < w / 2) == (x < w / 2)) ++end;
      const int left = mapX(x), right = mapX(end - 1);
      cut += QRect(left, mapY(y), right - left + 1, 1);
      x = end;
    }
  }
  return region.subtracted(cut);
}

void ApplySkinPalette(QWidget* widget) {
  QPalette pal = widget->palette();
  const QColor skin = SkinColour();
  pal.setColor(QPalette::Window, skin);
  pal.setColor(QPalette::WindowText, QColor::fromRgb(kLabelColour));
  pal.setColor(QPalette::Button, skin.lighter(150));
  pal.setColor(QPalette::ButtonText, QColor::fromRgb(kLabelColour));
  pal.setColor(QPalette::Disabled, QPalette::WindowText, skin.lighter(220));
  widget->setPalette(pal);
  widget->setAutoFillBackground(true);
}

QString QtFilter(const QString& filter) {
  QStringList parts = filter.split('|');
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].isEmpty()) break;
    QString name = parts[i];
    QString patterns = parts[i + 1];
    patterns.replace(';', ' ');
    // The pattern list is what the dialog filters by; keep the name readable.
    int paren = name.indexOf('(');
    out << (paren >= 0 ? name.left(paren).trimmed() : name.trimmed()) + " (" + patterns.simplified() + ")";
  }
  return out.join(";;");
}

QString DialogFileChooser::OpenFile(QWidget* parent, const QString& title, const QString& filter) {
  return QFileDialog::getOpenFileName(parent, title, QString(), QtFilter(filter));
}

namespace {
// The plain Qt file dialog, taught to accept folders as well as files: Open
// with folders selected takes them instead of entering the first one.
class FileAndFolderDialog : public QFileDialog {
 public:
  using QFileDialog::QFileDialog;
  QStringList chosen;

  void accept() override {
    QStringList picked;
    auto* model = findChild<QFileSystemModel*>();
    for (auto* view : findChildren<QAbstractItemView*>()) {
      if (!view->isVisible() || !view->selectionModel() || !model) continue;
      for (const QModelIndex& index : view->selectionModel()->selectedIndexes())
        if (index.column() == 0) picked << model->filePath(index);
    }
    picked.removeDuplicates();
    if (!picked.isEmpty()) {
      chosen = picked;
      done(QDialog::Accepted);
      return;
    }
    QFileDialog::accept();
    chosen = selectedFiles();
  }
};
}  // namespace

QStringList DialogFileChooser::OpenFilesAndFolders(QWidget* parent, const QString& title, const QString& filter) {
  FileAndFolderDialog dialog(parent, title, QString(), QtFilter(filter));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.chosen;
}

QString DialogFileChooser::SaveFile(QWidget* parent, const QString& title, const QString& filter,
                                    const QString& defaultName, const QString& defaultSuffix) {
  QFileDialog dialog(parent, title, QString(), QtFilter(filter));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(defaultSuffix);
  dialog.selectFile(defaultName);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

namespace {
std::shared_ptr<FileChooser>& Chooser() {
  static std::shared_ptr<FileChooser> chooser = std::make_shared<DialogFileChooser>();
  return chooser;
}
}  // namespace

FileChooser* Files() { return Chooser().get(); }
void SetFileChooser(std::shared_ptr<FileChooser> chooser) {
  Chooser() = chooser ? std::move(chooser) : std::make_shared<DialogFileChooser>();
}

bool ShownBefore(const QString& a, const QString& b) {
  const int folded = a.compare(b, Qt::CaseInsensitive);
  return folded != 0 ? folded < 0 : a < b;
}

void SetMessageFrame(QWidget* box) {
  box->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
}
