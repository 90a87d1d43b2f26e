#pragma once
// Discs to copy, made on virtual recorders the way a recorder would write
// them (track at once, sessions left open or closed), and the ways a copy
// is compared with its source: the BIN/CUE and ISO exports of both.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "BurnMana_SAO.h"
#include "CDevCmdRW.h"
#include "DataSource.h"
#include "VirtualRecorder.h"
#include "kestrine/KestrineTestUtil.h"

namespace copytest {

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A drive whose commands pass a hook first: stops and faults at a chosen
// command, without any wait.
class HookTransport : public ScsiTransport {
 public:
  HookTransport(std::unique_ptr<ScsiTransport> inner, std::function<void(ScsiCommand&)> before)
      : inner_(std::move(inner)), before_(std::move(before)) {}
  bool Execute(ScsiCommand& c) override {
    if (before_) before_(c);
    return inner_->Execute(c);
  }
  std::string Path() const override { return inner_->Path(); }

 private:
  std::unique_ptr<ScsiTransport> inner_;
  std::function<void(ScsiCommand&)> before_;
};

inline std::unique_ptr<CDevCmdRW> OpenHooked(const std::string& state, std::function<void(ScsiCommand&)> before) {
  auto r = std::make_unique<VirtualRecorder>();
  std::string error;
  EXPECT_TRUE(r->Open(state, &error)) << error;
  return std::make_unique<CDevCmdRW>(std::make_unique<HookTransport>(std::move(r), std::move(before)), 4);
}

// One track written track at once from its sectors (2048 bytes each for
// data, 2352 for audio); the track is closed, and the session too when
// `closeSession` (left open for another when `multi`).
inline void WriteTaoTrack(CDevCmdRW& d, const std::vector<uint8_t>& sectors, bool audio, int blockType, bool multi,
                          bool closeSession) {
  WriteParam wp = ktest::DataTrackParams(1, multi, audio ? 0 : 4, audio ? 0 : blockType);
  ASSERT_EQ(DEV_OK, d.SetWriteParam(wp)) << ktest::SenseOf(d);
  long nwa = 0;
  ASSERT_EQ(DEV_OK, d.GetNextWriteAdd(nwa)) << ktest::SenseOf(d);
  const uint32_t size = audio ? 2352 : 2048;
  const uint32_t count = uint32_t(sectors.size() / size);
  for (uint32_t done = 0; done < count; done += 16) {
    uint32_t n = std::min<uint32_t>(16, count - done);
    ASSERT_EQ(DEV_OK, d.Write(uint32_t(nwa) + done, sectors.data() + size_t(done) * size, n * size, n))
        << ktest::SenseOf(d);
  }
  DISC_INFO di;
  ASSERT_EQ(DEV_OK, d.ReadDiscInfo(di));
  ASSERT_EQ(DEV_OK, d.CloseTrack(di.LastTrackLastSession)) << ktest::SenseOf(d);
  if (closeSession) {
    ASSERT_EQ(DEV_OK, d.CloseSession()) << ktest::SenseOf(d);
  }
}

inline std::vector<uint8_t> Pcm(size_t sectors, uint32_t seed) { return ktest::Pattern(sectors * 2352, seed); }

// An ISO 9660 image of a few files made by genisoimage; empty when the tool is missing.
inline std::vector<uint8_t> MakeIso(const ktest::ScratchDir& dir, const std::string& name, uint32_t seed) {
  std::string tree = dir / (name + "-tree");
  std::filesystem::create_directories(tree + "/docs");
  auto a = ktest::Pattern(300000 + seed, seed);
  std::ofstream(tree + "/docs/a.bin", std::ios::binary).write(reinterpret_cast<const char*>(a.data()), std::streamsize(a.size()));
  std::ofstream(tree + "/readme.txt") << "disc " << name << "\n";
  std::string out;
  if (ktest::Shell("genisoimage -quiet -J -V " + name + " -o " + (dir / (name + ".iso")) + " " + tree, &out) != 0) {
    ADD_FAILURE() << "genisoimage: " << out;
    return {};
  }
  std::string iso = ReadText(dir / (name + ".iso"));
  return std::vector<uint8_t>(iso.begin(), iso.end());
}

// Writes every session of `source` onto `target` as the copy does: one
// session-at-once burn each, the last closed when `close`. "" on success.
inline std::string CopySessions(DataSource& source, CDevCmdRW& target, bool close) {
  for (int s = 1; s <= source.GetSessionNum(); ++s) {
    BurnMana_SAO mana(&source, &target, s, !(close && s == source.GetSessionNum()), -150);
    if (int r = mana.BurnBegin(); r != BURN_OK) return "begin " + std::to_string(r) + ": " + mana.GetLastError();
    if (!mana.Burn()) return "burn: " + mana.GetLastError();
    if (int r = mana.BurnEnd(); r != BURN_OK) return "end " + std::to_string(r) + ": " + mana.GetLastError();
    if (mana.GetBurnProgress() != 100) return "progress ended at " + std::to_string(mana.GetBurnProgress());
  }
  return "";
}

struct Exported {
  std::string bin, cue, iso;
};

// The disc of a virtual recorder as BIN/CUE (the FILE line made neutral) and,
// when it holds data, as an ISO image.
inline Exported Export(const std::string& state, const std::string& base) {
  VirtualRecorder r;
  std::string error;
  Exported e;
  if (!r.Open(state, &error)) {
    ADD_FAILURE() << error;
    return e;
  }
  if (!r.ExportBinCue(base + ".cue", &error)) ADD_FAILURE() << error;
  e.bin = ReadText(base + ".bin");
  e.cue = ReadText(base + ".cue");
  size_t file = e.cue.find("FILE \"");
  if (file != std::string::npos) e.cue.erase(file, e.cue.find('\n', file) - file);
  if (r.ExportIso(base + ".iso", &error)) e.iso = ReadText(base + ".iso");
  return e;
}

}  // namespace copytest
