#pragma once
// Message boxes of the desktop program. A box asked for from a worker thread
// is shown on the window thread, and the worker waits for the answer.

#include "foundation/ShowMessage.h"

class QtMessageSink : public MessageSink {
 public:
  int Show(const std::string& text, unsigned flags) override;
};
