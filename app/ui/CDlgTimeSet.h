#pragma once
// Scheduled burning: whether and when the current project of a disc type is
// burnt by itself, on which recorders, and what follows the burn. One page
// per kind of schedule (once, daily, weekly, monthly) is shown at a time.

#include <QDialog>
#include <QStringList>
#include <array>
#include <functional>

class CHListBox;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QRadioButton;
class QStackedWidget;
class QTimeEdit;

// Once: a date and a time.
class CDlgTimeSet1 : public QWidget {
  Q_OBJECT
 public:
  explicit CDlgTimeSet1(QWidget* parent = nullptr);
  QDateEdit* date;
  QTimeEdit* time;
};

// Daily: a time.
class CDlgTimeSet2 : public QWidget {
  Q_OBJECT
 public:
  explicit CDlgTimeSet2(QWidget* parent = nullptr);
  QTimeEdit* time;
};

// Weekly: the days, Monday first, and a time.
class CDlgTimeSet3 : public QWidget {
  Q_OBJECT
 public:
  explicit CDlgTimeSet3(QWidget* parent = nullptr);
  std::array<QCheckBox*, 7> days;
  QTimeEdit* time;
};

// Monthly: the day of the month and a time.
class CDlgTimeSet4 : public QWidget {
  Q_OBJECT
 public:
  explicit CDlgTimeSet4(QWidget* parent = nullptr);
  QComboBox* day;
  QTimeEdit* time;
};

class CDlgTimeSet : public QDialog {
  Q_OBJECT
 public:
  // `recorders` are the main window's recorder entries ("E: vendor ...");
  // `available` says which disc types (0-5) this program can burn.
  CDlgTimeSet(const QStringList& recorders, std::function<bool(int)> available, QWidget* parent = nullptr);

  // The OK button's work: stores the schedule; false when the dialog stays.
  bool TryAccept();

  // The controls, for the window tests.
  QCheckBox* TimingBox() const { return timing_; }
  QComboBox* DiscTypeCombo() const { return discType_; }
  QRadioButton* KindButton(int kind) const { return kinds_[size_t(kind - 1)]; }
  QCheckBox* CloseDiscBox() const { return closeDisc_; }
  QComboBox* AfterBurnCombo() const { return after_; }
  CHListBox* RecorderList() const { return list_; }
  QStackedWidget* Pages() const { return pages_; }
  CDlgTimeSet1* Once() const { return once_; }
  CDlgTimeSet2* Daily() const { return daily_; }
  CDlgTimeSet3* Weekly() const { return weekly_; }
  CDlgTimeSet4* Monthly() const { return monthly_; }
  int Kind() const;

 private:
  void LayOut(QWidget* ok, QWidget* cancel);
  void Load();
  void ShowKind(int kind);
  void EnableControls();
  std::string TimeText() const;

  QCheckBox* timing_;
  QComboBox* discType_;
  std::array<QRadioButton*, 4> kinds_;
  QButtonGroup* kindGroup_;
  QCheckBox* closeDisc_;
  QComboBox* after_;
  CHListBox* list_;
  QStackedWidget* pages_;
  CDlgTimeSet1* once_;
  CDlgTimeSet2* daily_;
  CDlgTimeSet3* weekly_;
  CDlgTimeSet4* monthly_;
  QList<QWidget*> scheduleControls_;
};
