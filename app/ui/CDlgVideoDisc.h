#pragma once
// The project window of the video disc modes (Video CD, Super Video CD,
// DVD-Video): the videos with their
// thumbnails, play times and paths, the size estimate against the disc's
// capacity, the conversion options and the volume label. The items live in
// CVideoDiscProject; this window shows them and forwards the commands.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QRadioButton>
#include <QStringList>
#include <QWidget>
#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "jobs/CVideoDiscProject.h"

class RecorderService;

class CDlgVideoDisc : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kThumbnail = 60;
  // What the window shows differently per kind of disc.
  struct KindLook {
    int kind;
    QColor banner;
    int captionKey;      // "UIText" key of the banner's text
    double capacityMB;   // what the capacity bar measures against
  };
  static const KindLook* Look(int kind);

  explicit CDlgVideoDisc(int kind, QWidget* parent = nullptr);
  ~CDlgVideoDisc() override;

  // Stores the kind, sets its default label and colours the banner.
  void SetMode(int kind);
  int Mode() const { return project_.Mode(); }

  // ---- adding (a worker behind the wait window; folders are searched)
  bool AddPaths(const QStringList& paths, int periodMs = 50);
  void AddFiles();
  void RemoveSelected();
  void Clear();

  // ---- project files
  bool LoadProject(const QString& path);
  bool SaveProject(const QString& path);
  bool IsEmpty() const { return project_.ItemCount() == 0; }
  bool IsModified() const { return modified_; }
  QString ProjectPath() const { return projectPath_; }
  // Shows the items as the project holds them (after a burn left failed ones out).
  void RefreshList();

  // ---- burning (on the burn thread)
  int PrepareVideoDisc(const std::atomic<bool>* stop);
  int CleanUpVideoDisc() { return project_.CleanUpVideoDisc(); }
  QString WritingCaption() const { return QString::fromStdString(project_.GetWritingItemCaption()); }
  int BurnProgress() const { return project_.GetBurnProgress(); }
  QString LastError() const { return QString::fromStdString(project_.LastError()); }

  CVideoDiscProject& Project() { return project_; }
  QListWidget* List() const { return list_; }
  QLabel* TotalLabel() const { return total_; }
  QProgressBar* CapacityBar() const { return capacity_; }
  QCheckBox* ReencodeBox() const { return reencode_; }
  QLineEdit* LabelEdit() const { return label_; }
  QRadioButton* NtscButton() const { return ntsc_; }
  QRadioButton* WideButton() const { return wide_; }

 signals:
  void ProjectChanged();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void UpdateTotals();
  void ApplyOptions();
  void Changed();
  void MakeThumbnails(const std::atomic<bool>* cancel);
  QIcon ThumbnailOf(const std::string& source);

  CVideoDiscProject project_;
  bool modified_ = false;
  QString projectPath_;
  bool adding_ = false;
  std::vector<std::string> thumbnails_;  // JPEG files made for the list, deleted with the window
  std::map<std::string, std::string> jpegs_;  // source → its thumbnail ("" when none could be made)

  QLabel* banner_;
  QListWidget* list_;
  QLabel* total_;
  QProgressBar* capacity_;
  QCheckBox* reencode_;
  QRadioButton* ntsc_;
  QRadioButton* pal_;
  QRadioButton* narrow_;
  QRadioButton* wide_;
  QLineEdit* label_;
};
