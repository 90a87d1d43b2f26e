#pragma once
// The progress window of one burn: a caption, a status line, one or two bars
// and Cancel. The owner drives it from its own timer; the window itself only
// counts the elapsed time in its title and asks before it cancels.

#include <QDialog>
#include <QElapsedTimer>
#include <cstdint>
#include <string>

class QCheckBox;
class QHBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

class CDlgProgress1 : public QDialog {
  Q_OBJECT
 public:
  explicit CDlgProgress1(QWidget* parent = nullptr);

  // Both bars, only the first (the window shrinks to four tenths of its
  // height), or none (two thirds).
  void SetDisplay(bool firstBar, bool secondBar);
  void SetCaption(const QString& text);
  void SetStatus(const QString& text);
  void SetPos(int first, int second);
  void ShowExtraButton(const QString& text);
  // The question Cancel asks first (a burn's, unless set).
  void SetCancelQuestion(const std::string& text) { cancelQuestion_ = text; }
  // The burn's figures: bytes written of the total, the speed in bytes per
  // second with the medium's 1× (for the "×" figure), the seconds left (-1
  // while unknown) and the buffer fill (-1 when the recorder has none).
  void SetFigures(uint64_t written, uint64_t total, double bytesPerSecond, double unitSpeed, int64_t secondsLeft,
                  int bufferPercent);
  void StopTimer();
  // Closes the window as finished (not cancelled).
  void CloseWithOk() { done(QDialog::Accepted); }

  QString Caption() const;
  QString Status() const;
  int FirstPos() const;
  int SecondPos() const;
  bool FirstBarShown() const { return first_; }
  bool SecondBarShown() const { return second_; }
  QPushButton* CancelButton() const { return cancel_; }
  uint64_t WrittenBytes() const { return shownWritten_; }
  uint64_t TotalBytes() const { return shownTotal_; }
  int64_t SecondsLeft() const { return shownLeft_; }
  int BufferPercent() const { return shownBuffer_; }
  QString WrittenText() const;
  QString SpeedText() const;
  QString TimeLeftText() const;
  QString BufferText() const;
  QProgressBar* FirstBar() const { return bar1_; }

 signals:
  void ExtraClicked();

 protected:
  void reject() override;  // Cancel, Escape and the close box ask first

 private:
  void Tick();
  // The constructor's parts: the grid of figures, and the row of buttons.
  void BuildFigures();
  QHBoxLayout* BuildButtons();

  QLabel* caption_;
  QLabel* status_;
  QWidget* figures_;
  QLabel* written_;
  QLabel* speed_;
  QLabel* timeLeft_;
  QLabel* buffer_;
  uint64_t shownWritten_ = 0, shownTotal_ = 0;
  int64_t shownLeft_ = -1;
  int shownBuffer_ = -1;
  QProgressBar* bar1_;
  QProgressBar* bar2_;
  QPushButton* extra_;
  QCheckBox* check_;
  QPushButton* cancel_;
  QTimer* timer_;
  QElapsedTimer started_;
  int fullHeight_ = 190;
  bool first_ = true, second_ = true;
  std::string cancelQuestion_;
};
