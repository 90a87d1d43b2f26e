#pragma once
// Shared helpers of the device library tests: a scratch folder, a recorder on
// a virtual disc, and short ways to state the sense a command must give.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "CDevCmdRW.h"
#include "VirtualRecorder.h"

namespace ktest {

class ScratchDir {
 public:
  ScratchDir() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/kestrine-test-XXXXXX";
    if (mkdtemp(tmpl.data())) path_ = tmpl;
    EXPECT_FALSE(path_.empty()) << "cannot make a scratch folder like " << tmpl;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline std::unique_ptr<CDevCmdRW> OpenVirtual(const std::string& state) {
  auto r = std::make_unique<VirtualRecorder>();
  std::string error;
  EXPECT_TRUE(r->Open(state, &error)) << error;
  return std::make_unique<CDevCmdRW>(std::move(r), 3);
}

inline std::unique_ptr<CDevCmdRW> NewVirtual(const ScratchDir& dir, const std::string& medium,
                                             const std::string& name = "disc.vdisc") {
  std::string error;
  EXPECT_TRUE(VirtualRecorder::Create(dir / name, medium, &error)) << error;
  return OpenVirtual(dir / name);
}

// "5/21/02" for the last failed command of a device.
inline std::string SenseOf(const CDevCmdROM& d) {
  return SenseCodes(d.GetLastSense());
}

inline std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = uint8_t(x >> 16);
  }
  return v;
}

inline WriteParam DataTrackParams(int writeType, bool multi, int trackMode = 4, int blockType = 8) {
  WriteParam wp;
  wp.WriteType = writeType;
  wp.TrackMode = uint8_t(trackMode);
  wp.DataBlockType = uint8_t(blockType);
  wp.BufE = 1;
  wp.MultiSession = multi ? 1 : 0;
  return wp;
}

// Runs a command-line and returns its exit status; output in `out`.
inline int Shell(const std::string& command, std::string* out = nullptr) {
  std::string cmd = command + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  int status = pclose(p);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace ktest
