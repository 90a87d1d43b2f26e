#pragma once
// Message boxes. The core asks through this interface; the console front
// prints, the desktop program shows a dialog.

#include <memory>
#include <string>

namespace msgbox {
// Box flags used across the program (icon and buttons).
constexpr unsigned kInfoOk = 0x40;
constexpr unsigned kInfoOkCancel = 0x41;
constexpr unsigned kInfoYesNo = 0x44;
constexpr unsigned kQuestionOkCancel = 0x21;
constexpr unsigned kQuestionYesNoCancel = 0x23;
constexpr unsigned kQuestionYesNo = 0x24;
constexpr unsigned kQuestionRetryCancel = 0x25;
// Something failed: the error icon.
constexpr unsigned kErrorOk = 0x10;
constexpr unsigned kErrorOkCancel = 0x11;
// Buttons a box returns.
constexpr int kOk = 1, kCancel = 2, kRetry = 4, kYes = 6, kNo = 7;
}  // namespace msgbox

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Shows `text` with the box flags and returns the button chosen.
  virtual int Show(const std::string& text, unsigned flags) = 0;
};

// Prints to standard error and answers with the box's default button
// (OK, Yes or Retry), as a script running unattended would want.
class ConsoleMessageSink : public MessageSink {
 public:
  int Show(const std::string& text, unsigned flags) override;
};

// The sink every ShowMessage goes to; the console one until another is set.
void SetMessageSink(std::shared_ptr<MessageSink> sink);
int ShowMessage(const std::string& text, unsigned flags);
