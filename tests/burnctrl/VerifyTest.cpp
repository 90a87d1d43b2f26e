// The read-back after a burn: what the write watcher digests, how the
// verdict names the first bad sector, how audio is lined up, and what
// happens when the disc goes, the read-back is stopped, or several
// recorders verify at once.

#include <gtest/gtest.h>

#include <thread>

#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "BurnCtrl/Verify.h"
#include "BurnCtrl/interfaces/KestrineRecorder.h"
#include "CDevCmdRW.h"
#include "DataSource_Image.h"
#include "ImageLayout.h"
#include "VirtualRecorder.h"
#include "burnctrl/BurnTestSupport.h"

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct Drive {
  int index;
  std::string state;
  Drive(int idx, const ScratchFolder& dir, const std::string& name, const std::string& medium,
        const VirtualFaults& faults = {})
      : index(idx), state(dir / name) {
    std::string error;
    EXPECT_TRUE(VirtualRecorder::Create(state, medium, &error)) << error;
    auto v = std::make_unique<VirtualRecorder>();
    EXPECT_TRUE(v->Open(state, &error)) << error;
    EXPECT_TRUE(v->SetFaults(faults, &error)) << error;
    AddRecorder(std::make_shared<KestrineRecorder>(std::make_unique<CDevCmdRW>(std::move(v), idx)));
  }
  ~Drive() { RemoveRecorder(index); }
  CDevCmdRW& Device() const { return *FindRecorder(index)->Device(); }
};

WriteParam Params(int trackMode, int blockType) {
  WriteParam wp;
  wp.WriteType = 1;
  wp.TrackMode = uint8_t(trackMode);
  wp.DataBlockType = uint8_t(blockType);
  wp.BufE = 1;
  return wp;
}

// Writes `count` sectors of `size` bytes (2048 data, 2352 audio) from LBA 0
// in blocks of 16 and closes the disc: a burn in its simplest form.
int WriteTrack(CDevCmdRW& d, uint32_t count, uint32_t size, uint32_t seed) {
  if (d.SetWriteParam(size == 2048 ? Params(4, 8) : Params(0, 0)) != DEV_OK) return result::kBeginFailed;
  for (uint32_t at = 0; at < count; at += 16) {
    const uint32_t n = std::min<uint32_t>(16, count - at);
    const std::vector<uint8_t> data = PatternBytes(size_t(n) * size, seed + at);
    if (d.Write(at, data.data(), n * size, n) != DEV_OK) return result::kWriteFailed;
  }
  if (d.SynCache() != DEV_OK || d.CloseSession(2, 0) != DEV_OK) return result::kWriteFailed;
  return result::kSuccess;
}

}  // namespace

TEST(Verify, TheRecordKeepsTheLastWriteOfASectorAndLeavesTheLeadInOut) {
  WrittenRecord r;
  const std::vector<uint8_t> a = PatternBytes(4 * 2048, 1), b = PatternBytes(2048, 2);
  r.Add(0, a.data(), 4 * 2048, 4);
  r.Add(4, a.data(), 2 * 2048, 2);  // runs on
  r.Add(2, b.data(), 2048, 1);      // written again
  r.Add(uint32_t(-150), a.data(), 2 * 2048, 2);
  const std::vector<uint8_t> raw = PatternBytes(2 * 2448, 3);
  r.Add(100, raw.data(), 2 * 2448, 2);  // raw sectors with their subchannel
  const auto runs = r.Runs();
  ASSERT_EQ(2u, runs.size());
  EXPECT_EQ(0u, runs[0].start);
  EXPECT_EQ(6u, runs[0].digests.size());
  EXPECT_EQ(SectorDigest(b.data(), 2048), runs[0].digests[2]);
  EXPECT_EQ(SectorDigest(a.data(), 2048), runs[0].digests[4]);
  EXPECT_EQ(2352u, runs[1].sectorSize);
  EXPECT_EQ(SectorDigest(raw.data() + 2448, 2352), runs[1].digests[1]) << "the subchannel is not on the disc's data";
  EXPECT_EQ(8u, r.Sectors());
  EXPECT_NE(SectorDigest(a.data(), 2048), SectorDigest(a.data() + 2048, 2048));
}

TEST(Verify, ASpoiledOrUnreadableDataSectorIsTheVerdictsFirstBadSector) {
  ScratchFolder dir;
  VirtualFaults spoil;
  spoil.corruptAt = 40;
  Drive good(61, dir, "good.vdisc", "cd-r"), bad(62, dir, "bad.vdisc", "cd-r", spoil);
  for (const Drive* d : {&good, &bad}) {
    WriteRecording rec(&d->Device());
    ASSERT_EQ(result::kSuccess, WriteTrack(d->Device(), 100, 2048, 5));
    const VerifyOutcome o = VerifyWritten(d->Device(), rec.Record(), {});
    if (d == &good) {
      EXPECT_EQ(VerifyOutcome::kVerified, o.state) << VerifyText(o);
      EXPECT_EQ(100u, o.sectors);
      continue;
    }
    EXPECT_EQ(VerifyOutcome::kMismatch, o.state) << VerifyText(o);
    EXPECT_EQ(39, o.firstBad);
    EXPECT_EQ(1, o.track);
    EXPECT_FALSE(o.audio);
    EXPECT_EQ("verification failed: sector 39 (00:02:39) differs from what was written, track 1", VerifyText(o));

    // The owner is asked of the first bad sector only; an unreadable
    // sector before it becomes the verdict.
    VirtualRecorder control;
    std::string error;
    ASSERT_TRUE(control.Open(d->state, &error)) << error;
    VirtualFaults f;
    f.unreadable = {{20, 21}};
    ASSERT_TRUE(control.SetFaults(f, &error)) << error;
    VerifyOptions options;
    std::vector<uint32_t> asked;
    options.ownerOf = [&](uint32_t lba) {
      asked.push_back(lba);
      return std::string("a/b.txt");
    };
    const VerifyOutcome u = VerifyWritten(d->Device(), rec.Record(), options);
    EXPECT_EQ(VerifyOutcome::kUnreadable, u.state);
    EXPECT_EQ(20, u.firstBad);
    EXPECT_EQ(std::vector<uint32_t>{20}, asked);
    EXPECT_EQ("verification failed: sector 20 (00:02:20) cannot be read, track 1, file a/b.txt", VerifyText(u));
  }
}

TEST(Verify, AudioIsLinedUpWithinFiveSectorsAndWhatLinesUpNowhereIsNotComparable) {
  ScratchFolder dir;
  Drive d(63, dir, "audio.vdisc", "cd-r");
  WriteRecording rec(&d.Device());
  ASSERT_EQ(result::kSuccess, WriteTrack(d.Device(), 200, 2352, 9));
  EXPECT_EQ(VerifyOutcome::kVerified, VerifyWritten(d.Device(), rec.Record(), {}).state);

  // What a drive that reads three sectors late sees: the record says each
  // sector was sent three sectors earlier than the disc gives it back.
  auto shifted = [&](int shift, int spoilAt) {
    auto r = std::make_unique<WrittenRecord>();
    for (uint32_t at = 0; at < 200; at += 16) {
      const uint32_t n = std::min<uint32_t>(16, 200 - at);
      std::vector<uint8_t> data = PatternBytes(size_t(n) * 2352, 9 + at);
      for (uint32_t i = 0; i < n; ++i) {
        const int64_t lba = int64_t(at + i) - shift;
        if (lba < 0 || lba >= 200) continue;
        if (lba == spoilAt) data[size_t(i) * 2352 + 7] ^= 1;
        r->Add(uint32_t(lba), data.data() + size_t(i) * 2352, 2352, 1);
      }
    }
    return r;
  };
  for (int shift : {3, -5}) {
    SCOPED_TRACE(shift);
    const VerifyOutcome o = VerifyWritten(d.Device(), *shifted(shift, -1), {});
    EXPECT_EQ(VerifyOutcome::kVerified, o.state) << VerifyText(o);
    ASSERT_EQ(1u, o.tracks.size());
    EXPECT_EQ(shift, o.tracks[0].shift);
    EXPECT_TRUE(o.tracks[0].audio);
  }
  const VerifyOutcome spoiled = VerifyWritten(d.Device(), *shifted(2, 100), {});
  EXPECT_EQ(VerifyOutcome::kMismatch, spoiled.state) << VerifyText(spoiled);
  EXPECT_EQ(100, spoiled.firstBad);
  EXPECT_TRUE(Has(VerifyText(spoiled), "audio track 1"));

  // Six sectors off is beyond the search: not comparable, never a mismatch.
  const VerifyOutcome far = VerifyWritten(d.Device(), *shifted(6, -1), {});
  EXPECT_FALSE(far.Failed()) << VerifyText(far);
  EXPECT_EQ(VerifyOutcome::kNotVerified, far.state);
  ASSERT_EQ(1u, far.tracks.size());
  EXPECT_EQ(TrackVerdict::kNotComparable, far.tracks[0].state);
}

TEST(Verify, ADiscGoneAfterTheBurnLeavesItASuccessNotVerified) {
  ScratchFolder dir;
  Drive d(64, dir, "gone.vdisc", "dvd-r");
  VerifyOutcome o;
  const int r = BurnAndVerify(
      d.index,
      [&] {
        const int w = WriteTrack(d.Device(), 64, 2048, 1);
        (void)d.Device().Eject(true);
        return w;
      },
      {}, &o);
  EXPECT_EQ(result::kSuccess, r);
  EXPECT_EQ(VerifyOutcome::kNotVerified, o.state);
  EXPECT_EQ(0u, VerifyText(o).find("not verified: ")) << VerifyText(o);

  // A burn that fails is not read back, and its own result stands.
  ASSERT_EQ(DEV_OK, d.Device().Eject(false));
  EXPECT_EQ(result::kWriteFailed, BurnAndVerify(d.index, [] { return int(result::kWriteFailed); }, {}, &o));
  EXPECT_FALSE(o.Failed());
}

TEST(Verify, AStoppedReadBackEndsAtOnceAndSaysSo) {
  ScratchFolder dir;
  Drive d(65, dir, "stop.vdisc", "dvd-r");
  VerifyOptions options;
  options.block = 8;
  int blocks = 0;
  options.progress = [&](const VerifyProgress& p) {
    ++blocks;
    EXPECT_TRUE(GetVerifyStatus(d.index).running);
    EXPECT_EQ(128u, p.total);
    if (blocks == 2) EXPECT_EQ(result::kSuccess, AbortWrite(d.index));  // the drive's stop reaches the read-back
  };
  VerifyOutcome o;
  EXPECT_EQ(result::kVerifyStopped,
            BurnAndVerify(d.index, [&] { return WriteTrack(d.Device(), 128, 2048, 3); }, options, &o));
  EXPECT_EQ(VerifyOutcome::kStopped, o.state);
  EXPECT_EQ(2, blocks);
  EXPECT_FALSE(GetVerifyStatus(d.index).running);
}

TEST(Verify, SeveralRecordersVerifyAtOnceEachItsOwnDisc) {
  ScratchFolder dir;
  VirtualFaults spoil;
  spoil.corruptAt = 77;
  Drive a(66, dir, "a.vdisc", "dvd-r"), b(67, dir, "b.vdisc", "dvd-r", spoil);
  VerifyOutcome oa, ob;
  int ra = 0, rb = 0;
  std::thread ta([&] { ra = BurnAndVerify(a.index, [&] { return WriteTrack(a.Device(), 300, 2048, 4); }, {}, &oa); });
  std::thread tb([&] { rb = BurnAndVerify(b.index, [&] { return WriteTrack(b.Device(), 300, 2048, 4); }, {}, &ob); });
  ta.join();
  tb.join();
  EXPECT_EQ(result::kSuccess, ra) << VerifyText(oa);
  EXPECT_EQ(VerifyOutcome::kVerified, oa.state);
  EXPECT_EQ(result::kVerifyFailed, rb);
  EXPECT_EQ(76, ob.firstBad);
}

// The burn setting of the session-at-once writer: the disc is read back and
// a spoiled sector fails the job, its outcome told to the caller.
TEST(Verify, TheSessionAtOnceSettingReadsTheDiscBackAndFailsASpoiledOne) {
  ScratchFolder dir;
  WriteBytes(dir, "data.iso", PatternBytes(400 * 2048, 6));
  const std::string cue = dir.Write("data.cue", "FILE \"data.iso\" BINARY\r\n  TRACK 01 MODE1/2048\r\n    INDEX 01 00:00:00\r\n");
  for (const bool spoil : {false, true}) {
    SCOPED_TRACE(spoil);
    VirtualFaults f;
    if (spoil) f.corruptAt = 123;
    ScratchFolder discs;
    Drive d(68, discs, "sao.vdisc", "cd-r", f);
    ImageLayout layout;
    std::string why;
    ASSERT_TRUE(ReadImageLayout(cue, layout, &why)) << why;
    DataSource_Image source(std::move(layout));
    ASSERT_TRUE(source.Load()) << source.GetLastError();
    AtOnceOptions options;
    options.what = cue;
    options.verify = true;
    std::vector<VerifyOutcome> told;
    options.verified = [&](const VerifyOutcome& o) { told.push_back(o); };
    const int r = BurnSessionAtOnce(d.index, source, options);
    ASSERT_EQ(1u, told.size());
    if (!spoil) {
      EXPECT_EQ(result::kSuccess, r) << LastJobError(d.index);
      EXPECT_EQ(VerifyOutcome::kVerified, told[0].state) << VerifyText(told[0]);
      EXPECT_EQ(400u, told[0].sectors);
      continue;
    }
    EXPECT_EQ(result::kVerifyFailed, r);
    EXPECT_EQ(VerifyOutcome::kMismatch, told[0].state);
    EXPECT_TRUE(Has(LastJobError(d.index), "differs from what was written")) << LastJobError(d.index);
  }
}
