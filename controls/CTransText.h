#pragma once
// A text drawn over whatever lies beneath it, from a 256-byte buffer.

#include <QByteArray>
#include <QLabel>
#include <QPixmap>

#include "controls/PavaneExport.h"

class PAVANE_EXPORT CTransText : public QLabel {
  Q_OBJECT
 public:
  static constexpr int kBufferSize = 256;

  explicit CTransText(QWidget* parent = nullptr);

  // Keeps at most the first 256 bytes of the text.
  void SetText(const QByteArray& text);
  void SetText(const char* text, int length);
  void SetFontColor(quint32 colour) { colour_ = colour; update(); }
  const QByteArray& Buffer() const { return buffer_; }
  quint32 FontColor() const { return colour_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QByteArray buffer_;
  QPixmap background_;
  bool captured_ = false;
  bool capturing_ = false;
  bool scheduled_ = false;
  quint32 colour_ = 0xFFFFFF;
};
