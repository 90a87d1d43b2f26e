#pragma once
// What the project windows say about paths they did not add. Normally a box
// at once; while files handed over by the file manager are added, the words
// are held instead, so that the sender is answered at once and the user gets
// one summary for the whole hand-over rather than a box per path.

#include <string>
#include <vector>

#include "foundation/ShowMessage.h"

// Shows `text`, or holds it while a HeldAddReports is alive (window thread).
void ReportNotAdded(const std::string& text, unsigned flags = msgbox::kInfoOk);

class HeldAddReports {
 public:
  HeldAddReports();
  ~HeldAddReports();
  HeldAddReports(const HeldAddReports&) = delete;
  HeldAddReports& operator=(const HeldAddReports&) = delete;
  // What was held so far, in order; the hold stays.
  std::vector<std::string> Take();
  void Hold(const std::string& text) { held_.push_back(text); }

 private:
  std::vector<std::string> held_;
  HeldAddReports* outer_;
};
