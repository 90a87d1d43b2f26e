#include "foundation/ShowMessage.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex g_sinkLock;
std::shared_ptr<MessageSink> g_sink = std::make_shared<ConsoleMessageSink>();
}  // namespace

int ConsoleMessageSink::Show(const std::string& text, unsigned flags) {
  std::fprintf(stderr, "%s\n", text.c_str());
  switch (flags & 0x0F) {
    case 0x3:
    case 0x4:
      return msgbox::kYes;
    case 0x5:
      return msgbox::kRetry;
    default:
      return msgbox::kOk;
  }
}

void SetMessageSink(std::shared_ptr<MessageSink> sink) {
  std::lock_guard<std::mutex> lock(g_sinkLock);
  g_sink = sink ? std::move(sink) : std::make_shared<ConsoleMessageSink>();
}

int ShowMessage(const std::string& text, unsigned flags) {
  std::shared_ptr<MessageSink> sink;
  {
    std::lock_guard<std::mutex> lock(g_sinkLock);
    sink = g_sink;
  }
  return sink->Show(text, flags);
}
