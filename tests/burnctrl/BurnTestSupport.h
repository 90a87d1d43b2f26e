#pragma once
// Shared by the burn tests: recorders that fail on purpose, staging a
// project, running a tool, and a private temporary folder to show that a
// burn leaves nothing behind.

#include <cstring>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <set>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/FileDiscRecorder.h"
#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/interfaces/KestrineRecorder.h"
#include "DevDeque.h"
#include "VirtualRecorder.h"
#include "authoring/CFileManager.h"
#include "authoring/StagingFolder.h"
#include "support/TestFolders.h"

// A disc in a file whose drive misbehaves on request.
class FaultyRecorder : public FileDiscRecorder {
 public:
  using FileDiscRecorder::FileDiscRecorder;
  // The Nth write (counted from 1) and the `failTimes` after it fail with
  // `sense`; `failBigOnly` limits the failures to writes of more than 16
  // sectors.
  int failAt = 0, failTimes = 1;
  bool failBigOnly = false;
  rec::Sense sense{3, 0x0C, 0, 4};
  // TEST UNIT READY answers `notReadySense` this many times.
  std::atomic<int> notReadyPolls{0};
  rec::Sense notReadySense{2, 4, 1, 4};
  std::atomic<int> writes{0}, failedWrites{0};
  // Answer every write from the Nth on with "long write in progress".
  int longWriteFrom = 0;
  int longWriteCount = 0;
  // Commands the drive refuses with `commandSense`; with `onceWritten` only
  // after the first write went through (a burn's end, not its begin).
  std::set<Command> refuse;
  bool onceWritten = false;
  rec::Sense commandSense{3, 0x0C, 0, 4};
  // Called on the writer's thread before the Nth write (counted from 1).
  std::function<void(int n)> onWrite;

  // The Nth write waits at a gate until the test opens it, so that a test
  // acts while a burn is certainly under way, whatever the machine's load.
  void GateWrite(int n) { gateAt_ = n; }
  // Waits until a write stands at the gate; false when the gate was given
  // up because the burn ended without reaching it.
  bool WaitAtGate() {
    std::unique_lock<std::mutex> hold(gateLock_);
    gateCv_.wait(hold, [&] { return atGate_ || gateGivenUp_; });
    return atGate_;
  }
  void OpenGate() {
    std::lock_guard<std::mutex> hold(gateLock_);
    gateOpen_ = true;
    gateCv_.notify_all();
  }
  void GiveUpGate() {
    std::lock_guard<std::mutex> hold(gateLock_);
    gateGivenUp_ = gateOpen_ = true;
    gateCv_.notify_all();
  }

 protected:
  uint32_t BeforeWrite(uint32_t, uint32_t sectors) override {
    int n = ++writes;
    if (onWrite) onWrite(n);
    if (gateAt_ && n == gateAt_) {
      std::unique_lock<std::mutex> hold(gateLock_);
      atGate_ = true;
      gateCv_.notify_all();
      gateCv_.wait(hold, [&] { return gateOpen_; });
    }
    if (longWriteFrom && n >= longWriteFrom && longWriteCount != 0) {
      if (longWriteCount > 0) --longWriteCount;
      ++failedWrites;
      return Refuse(2, 4, 8);
    }
    if (failAt && n >= failAt && n < failAt + failTimes && (!failBigOnly || sectors > 16)) {
      ++failedWrites;
      return Refuse(sense.key, sense.asc, sense.ascq);
    }
    return 0;
  }
  uint32_t BeforeCommand(Command c) override {
    if (refuse.count(c) && (!onceWritten || writes > failedWrites))
      return Refuse(commandSense.key, commandSense.asc, commandSense.ascq);
    return 0;
  }
  uint32_t BeforeReady() override {
    if (notReadyPolls > 0) {
      --notReadyPolls;
      return Refuse(notReadySense.key, notReadySense.asc, notReadySense.ascq);
    }
    return 0;
  }

 private:
  int gateAt_ = 0;
  std::mutex gateLock_;
  std::condition_variable gateCv_;
  bool atGate_ = false, gateOpen_ = false, gateGivenUp_ = false;
};

// A drive in the device list for the length of a test.
template <class R>
struct ListedDrive {
  std::shared_ptr<R> drive;
  int index;
  ListedDrive(std::shared_ptr<R> d) : drive(std::move(d)), index(drive->GetDeviceID()) { AddRecorder(drive); }
  ~ListedDrive() {
    ResetBurn(index);
    RemoveRecorder(index);
  }
  R* operator->() const { return drive.get(); }
};

// A staging root holding the given sources at its top.
class StagedProject {
 public:
  explicit StagedProject(const std::vector<std::string>& paths) : root_(MakeStagingRoot()) {
    manager_.SetStagingRoot(root_);
    for (const std::string& p : paths) EXPECT_TRUE(manager_.AddPath(nullptr, nullptr, p, root_)) << p;
  }
  ~StagedProject() { RemoveTree(root_); }
  const std::string& root() const { return root_; }

 private:
  std::string root_;
  CFileManager manager_;
};

inline std::string RunTool(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int st = pclose(p);
  if (status) *status = WEXITSTATUS(st);
  return out;
}

inline bool HaveTool(const std::string& name) { return RunTool("command -v " + name).find('/') != std::string::npos; }

inline std::vector<uint8_t> PatternBytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  uint32_t x = seed * 2654435761u + 12345;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = uint8_t(x >> 16);
  }
  return v;
}

inline std::string WriteBytes(const ScratchFolder& dir, const std::string& rel, const std::vector<uint8_t>& data) {
  return dir.Write(rel, std::string(data.begin(), data.end()));
}

// A virtual recorder with a fresh blank `medium` in `dir`, listed as drive
// `index` while it lives.
struct ListedVirtualRecorder {
  std::string state;
  int index;
  std::shared_ptr<KestrineRecorder> rec;
  ListedVirtualRecorder(const ScratchFolder& dir, const std::string& medium, int driveIndex)
      : state(dir / (medium + ".vdisc")), index(driveIndex) {
    std::string error;
    EXPECT_TRUE(VirtualRecorder::Create(state, medium, &error)) << error;
    auto dev = DevDeque::OpenDrive("virtual:" + state, index, &error);
    EXPECT_TRUE(dev) << error;
    rec = std::make_shared<KestrineRecorder>(std::move(dev));
    AddRecorder(rec);
  }
  ~ListedVirtualRecorder() {
    ResetBurn(index);
    RemoveRecorder(index);
  }
};

// A CD WAV (44.1 kHz, 16-bit stereo) of the given samples.
inline std::string WriteCdWav(const ScratchFolder& dir, const std::string& name, const std::vector<uint8_t>& pcm) {
  uint8_t h[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0,
                   0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 'd', 'a', 't', 'a'};
  const uint32_t n = uint32_t(pcm.size());
  std::memcpy(h + 40, &n, 4);
  const uint32_t riff = n + 36;
  std::memcpy(h + 4, &riff, 4);
  std::string body(reinterpret_cast<char*>(h), 44);
  body.append(pcm.begin(), pcm.end());
  return dir.Write(name, body);
}
