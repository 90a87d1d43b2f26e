#include "DevDeque.h"

#include <cctype>

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

DevDeque::DevDeque(DevDeque&& other) noexcept {
  std::lock_guard<std::mutex> hold(other.lock_);
  items_ = std::move(other.items_);
  names_ = std::move(other.names_);
  retired_ = std::move(other.retired_);
  problems_ = std::move(other.problems_);
}

std::unique_ptr<CDevCmdRW> DevDeque::Reuse(const std::string& name, int index) {
  for (size_t i = 0; i < previous_.size(); ++i)
    if (previous_[i] && previousNames_[i] == name && previous_[i]->GetDeviceID() == index)
      return std::move(previous_[i]);
  return nullptr;
}

void DevDeque::Build(const std::vector<std::string>& local, const std::vector<std::string>& registered) {
  std::lock_guard<std::mutex> hold(lock_);
  previous_ = std::move(items_);
  previousNames_ = std::move(names_);
  items_.clear();
  names_.clear();
  problems_.clear();
  auto add = [&](std::unique_ptr<CDevCmdRW> d, const std::string& name) {
    items_.push_back(std::move(d));
    names_.push_back(name);
  };
  std::unique_ptr<CDevCmdRW> image = Reuse("", 0);
  add(image ? std::move(image) : std::make_unique<CDevCmdRW>(), "");  // index 0: the image-file device
  int next = 3;
  for (const std::string& path : local) {
    if (next >= 26) break;
    std::string why;
    std::unique_ptr<CDevCmdRW> d = Reuse(path, next);
    if (!d) d = OpenDrive(path, next, &why);
    if (d) {
      add(std::move(d), path);
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
    int index = isRemote ? remote : next;
    std::unique_ptr<CDevCmdRW> d = Reuse(drive, index);
    if (!d) d = OpenDrive(drive, index, &why);
    if (d) {
      add(std::move(d), drive);
      (isRemote ? remote : next)++;
    } else {
      problems_.push_back(why);
    }
  }
  for (auto& gone : previous_)
    if (gone) retired_.push_back(std::move(gone));
  previous_.clear();
  previousNames_.clear();
}

CDevCmdRW* DevDeque::GetDevice(int index) const {
  std::lock_guard<std::mutex> hold(lock_);
  for (const auto& d : items_)
    if (d->GetDeviceID() == index) return d.get();
  return nullptr;
}

CDevCmdRW* DevDeque::GetDequeItem(int position) const {
  std::lock_guard<std::mutex> hold(lock_);
  if (position < 0 || position >= int(items_.size())) return nullptr;
  return items_[size_t(position)].get();
}

std::string DevDeque::DriveLetter(int index) {
  if (index < 0) return "";
  if (index == 0) return "[";
  if (index < kFirstRemoteIndex) return std::string(1, char('A' + index)) + ":";
  return "#" + std::to_string(index) + ":";
}

int DevDeque::IndexOfLabel(const std::string& label) {
  size_t b = label.find_first_not_of(' ');
  if (b == std::string::npos) return -1;
  const char first = label[b];
  if (first == '[') return 0;
  if (first == '#') {
    int index = 0;
    size_t i = b + 1;
    for (; i < label.size() && label[i] >= '0' && label[i] <= '9' && index < 1000; ++i) index = index * 10 + (label[i] - '0');
    return i > b + 1 && index >= kFirstRemoteIndex && index < 256 ? index : -1;
  }
  const char c = char(std::toupper(uint8_t(first)));
  return c >= 'A' && c <= 'Z' ? c - 'A' : -1;
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
