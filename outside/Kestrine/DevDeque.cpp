#include "DevDeque.h"

#include "ImageFileDevice.h"
#include "IscsiTransport.h"
#include "SgioTransport.h"
#include "VirtualRecorder.h"

namespace {
std::function<std::vector<std::string>()>& Source() {
  static std::function<std::vector<std::string>()> source;
  return source;
}
}  // namespace

DevDeque& DevDeque::Instance() {
  static DevDeque deque = [] {
    DevDeque d;
    d.Refresh();
    return d;
  }();
  return deque;
}

void DevDeque::SetRegisteredDriveSource(std::function<std::vector<std::string>()> source) {
  Source() = std::move(source);
}

void DevDeque::Refresh() {
  std::vector<std::string> registered;
  if (Source()) registered = Source()();
  Build(SgioTransport::Enumerate(), registered);
}

void DevDeque::Build(const std::vector<std::string>& local, const std::vector<std::string>& registered) {
  items_.clear();
  problems_.clear();
  items_.push_back(std::make_unique<CDevCmdRW>());  // index 0: the image-file device
  int next = 3;
  for (const std::string& path : local) {
    if (next >= 26) break;
    std::string why;
    if (auto d = OpenDrive(path, next, &why)) {
      items_.push_back(std::move(d));
      ++next;
    } else {
      problems_.push_back(why);
    }
  }
  int remote = 26;
  for (const std::string& drive : registered) {
    bool isRemote = drive.rfind("iscsi://", 0) == 0;
    if (!isRemote && next >= 26) {
      problems_.push_back(drive + ": no free drive letter");
      continue;
    }
    if (isRemote && remote > 255) break;
    std::string why;
    if (auto d = OpenDrive(drive, isRemote ? remote : next, &why)) {
      items_.push_back(std::move(d));
      (isRemote ? remote : next)++;
    } else {
      problems_.push_back(why);
    }
  }
}

CDevCmdRW* DevDeque::GetDevice(int index) const {
  for (const auto& d : items_)
    if (d->GetDeviceID() == index) return d.get();
  return nullptr;
}

CDevCmdRW* DevDeque::GetDequeItem(int position) const {
  if (position < 0 || position >= int(items_.size())) return nullptr;
  return items_[size_t(position)].get();
}

std::string DevDeque::DriveLetter(int index) {
  if (index == 0) return "[";
  if (index < 26) return std::string(1, char('A' + index)) + ":";
  return "#" + std::to_string(index) + ":";
}

std::unique_ptr<CDevCmdRW> DevDeque::OpenDrive(const std::string& drive, int index, std::string* error) {
  std::unique_ptr<ScsiTransport> t;
  if (drive.rfind("virtual:", 0) == 0) {
    auto v = std::make_unique<VirtualRecorder>();
    if (!v->Open(drive.substr(8), error)) return nullptr;
    t = std::move(v);
  } else if (drive.rfind("image:", 0) == 0) {
    auto d = std::make_unique<CDevCmdRW>();
    if (!d->SetImageFile(drive.substr(6).c_str())) {
      if (error) *error = d->GetLastOpenError();
      return nullptr;
    }
    return d;
  } else if (drive.rfind("iscsi://", 0) == 0) {
    t = std::make_unique<IscsiTransport>(drive);
  } else if (drive.rfind("/dev/", 0) == 0) {
    auto s = std::make_unique<SgioTransport>();
    if (!s->Open(drive, error)) return nullptr;
    t = std::move(s);
  } else {
    if (error) *error = "\"" + drive + "\" names no drive (use /dev/srN, virtual:FILE, image:FILE or iscsi://HOST/TARGET/LUN)";
    return nullptr;
  }
  return std::make_unique<CDevCmdRW>(std::move(t), index);
}
