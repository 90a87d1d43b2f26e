#include "app/RecorderService.h"

#include "DevDeque.h"
#include "analysis/DiscCheck.h"
#include "analysis/DiscMd5.h"
#include "foundation/LangText.h"
#include "foundation/ResultCodes.h"

std::string MediumName(int type) {
  const char* name = medium::Name(type);
  return name ? name : "";
}

std::string DriveEntryText(const std::string& label, const std::string& name, const std::string& where) {
  std::string shown = where;
  const size_t slash = where.rfind('/');
  if (where.rfind("/dev/", 0) != 0 && slash != std::string::npos && slash + 1 < where.size())
    shown = where.substr(slash + 1);
  std::string text = label;
  if (!name.empty()) text += " " + name;
  if (!shown.empty()) text += "  (" + shown + ")";
  return text;
}

int DriveIndexOfEntry(const std::string& text) {
  // An entry begins with its drive's label: "D:" or, for a remote drive, "#26:".
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return -1;
  const std::string label = text.substr(0, colon + 1);
  if (label.size() != 2 && label[0] != '#') return -1;
  return DevDeque::IndexOfLabel(label);
}

std::string DiscStateText(medium::DiscState state) {
  switch (state) {
    case medium::DiscState::kBlank: return LoadLangText("UIText", 4);
    case medium::DiscState::kAppendable: return LoadLangText("UIText", 1401);
    case medium::DiscState::kUnfinished: return LoadLangText("UIText", 1402);
    case medium::DiscState::kClosed: return LoadLangText("UIText", 1403);
  }
  return {};
}

std::string DiscRefusal(const DiscInfo& disc) {
  if (disc.state == medium::DiscState::kUnfinished) return LoadErrorText(result::kSessionUnfinished);
  if (disc.state == medium::DiscState::kClosed && medium::IsWritable(disc.mediumType))
    return LoadErrorText(result::kDiscClosed);
  return {};
}

CheckReport RecorderService::CheckDisc(CDevCmdROM& drive, const CheckOptions& options) {
  return ::CheckDisc(drive, options);
}

Md5List RecorderService::ChecksumList(CDevCmdROM& drive, const std::function<bool()>& stopped) {
  return MakeMd5List(drive, stopped);
}
