#include "app/ui/QtMessageSink.h"

#include <QApplication>
#include <QMessageBox>

#include "foundation/ui/WindowSupport.h"

namespace {

int ShowBox(const QString& text, unsigned flags) {
  QMessageBox box(QApplication::activeWindow());
  box.setWindowTitle("Varnex");
  SetMessageFrame(&box);
  box.setText(text);
  unsigned icon = flags & 0xF0;
  box.setIcon(icon == 0x20 ? QMessageBox::Question : icon == 0x30 ? QMessageBox::Warning
              : icon == 0x10 ? QMessageBox::Critical : QMessageBox::Information);
  using B = QMessageBox;
  struct Choice { B::StandardButton button; int result; };
  std::vector<Choice> choices;
  switch (flags & 0x0F) {
    case 1: choices = {{B::Ok, msgbox::kOk}, {B::Cancel, msgbox::kCancel}}; break;
    case 3: choices = {{B::Yes, msgbox::kYes}, {B::No, msgbox::kNo}, {B::Cancel, msgbox::kCancel}}; break;
    case 4: choices = {{B::Yes, msgbox::kYes}, {B::No, msgbox::kNo}}; break;
    case 5: choices = {{B::Retry, msgbox::kRetry}, {B::Cancel, msgbox::kCancel}}; break;
    default: choices = {{B::Ok, msgbox::kOk}}; break;
  }
  B::StandardButtons buttons;
  for (const Choice& c : choices) buttons |= c.button;
  box.setStandardButtons(buttons);
  box.setDefaultButton(choices.front().button);
  int pressed = box.exec();
  for (const Choice& c : choices)
    if (pressed == c.button) return c.result;
  // Closed without a button: the box's way out.
  return choices.size() == 1 ? msgbox::kOk : (flags & 0x0F) == 4 ? msgbox::kNo : msgbox::kCancel;
}

}  // namespace

int QtMessageSink::Show(const std::string& text, unsigned flags) {
  QString message = QString::fromStdString(text);
  return OnThreadOf(qApp, [&] { return ShowBox(message, flags); });
}
