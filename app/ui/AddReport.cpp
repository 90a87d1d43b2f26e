#include "app/ui/AddReport.h"

#include <utility>

namespace {
HeldAddReports* gHolder = nullptr;  // the innermost hold; window thread only
}

void ReportNotAdded(const std::string& text, unsigned flags) {
  if (gHolder) gHolder->Hold(text);
  else ShowMessage(text, flags);
}

HeldAddReports::HeldAddReports() : outer_(gHolder) { gHolder = this; }

HeldAddReports::~HeldAddReports() {
  gHolder = outer_;
  // Words held by an inner hold that nobody took belong to the outer one.
  for (const std::string& text : held_) ReportNotAdded(text);
}

std::vector<std::string> HeldAddReports::Take() { return std::exchange(held_, {}); }
