// The virtual recorder seen through the command layer: the answers a
// recorder gives for each medium and disc state, and its refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "ByteFields.h"
#include "CdSector.h"
#include "KestrineTestUtil.h"

using ktest::NewVirtual;
using ktest::OpenVirtual;
using ktest::Pattern;
using ktest::ScratchDir;
using ktest::SenseOf;

namespace {

// Writes `count` sectors of 2048 bytes from `lba` in blocks of 16.
void WriteData(CDevCmdRW& d, uint32_t lba, uint32_t count, uint32_t seed) {
  for (uint32_t done = 0; done < count; done += 16) {
    uint32_t n = std::min<uint32_t>(16, count - done);
    auto data = Pattern(n * 2048, seed + done);
    ASSERT_EQ(DEV_OK, d.Write(lba + done, data.data(), n * 2048, n)) << "write at " << lba + done << ": " << SenseOf(d);
  }
}

struct MediumCase {
  const char* name;
  int profile;
  uint32_t capacity;
  bool erasable;
};

}  // namespace

TEST(VirtualRecorder, EveryMediumReportsItsProfileCapacityAndBlankState) {
  const MediumCase cases[] = {
      {"cd-r", 9, 359849, false},      {"cd-rw", 10, 359849, true},    {"dvd-r", 17, 2298496, false},
      {"dvd-rw", 20, 2298496, true},   {"dvd+r", 27, 2295104, false},  {"dvd+rw", 26, 2295104, true},
      {"dvd-ram", 18, 2236704, true},  {"dvd-r-dl", 21, 4171712, false}, {"dvd+r-dl", 43, 4173824, false},
      {"bd-r", 65, 12219392, false},   {"bd-re", 67, 11826176, true},
  };
  for (const MediumCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    auto d = NewVirtual(dir, c.name);
    EXPECT_EQ(DEV_OK, d->TestUnitReady());
    EXPECT_EQ(c.profile, d->GetMediumType());
    uint32_t free = 0;
    EXPECT_EQ(DEV_OK, d->GetBlackDiscCapacity(free)) << SenseOf(*d);
    EXPECT_EQ(c.capacity, free);
    DISC_INFO di;
    ASSERT_EQ(DEV_OK, d->ReadDiscInfo(di));
    EXPECT_EQ(c.erasable, di.Erasable);
    if (c.profile == 18) EXPECT_EQ(3, di.DiscStatus) << "DVD-RAM is random-access, always formatted";
    else EXPECT_EQ(0, di.DiscStatus) << "a new disc is blank";
    EXPECT_EQ(DEV_BD, d->GetDevType()) << "the virtual drive writes every medium";
  }
}

TEST(VirtualRecorder, CdrTrackAtOnceSessionsAndTheirTables) {
  ScratchDir dir;
  auto d = NewVirtual(dir, "cd-r");
  // Blank: one session, the invisible track 1 at LBA 0, no table of contents.
  TRACK_INFO ti;
  ASSERT_EQ(DEV_OK, d->ReadTrackInfo(ti, 1));
  EXPECT_TRUE(ti.Blank);
  EXPECT_TRUE(ti.NWA_V);
  EXPECT_EQ(0u, ti.NextWritable);
  EXPECT_EQ(359849u, ti.FreeBlocks);
  uint8_t toc[804];
  EXPECT_EQ(DEV_CHECK_CONDITION, d->ReadToc(toc, sizeof toc, 0, 1));
  EXPECT_EQ("5/24/00", SenseOf(*d));

  ASSERT_EQ(DEV_OK, d->SetWriteParam(ktest::DataTrackParams(1, true)));
  auto block = Pattern(16 * 2048, 1);
  EXPECT_EQ(DEV_CHECK_CONDITION, d->Write(16, block.data(), 16 * 2048, 16)) << "writing past the next writable address";
  EXPECT_EQ("5/21/02", SenseOf(*d));
  WriteData(*d, 0, 300, 10);
  long nwa = -1;
  ASSERT_EQ(DEV_OK, d->GetNextWriteAdd(nwa));
  EXPECT_EQ(300, nwa);
  ASSERT_EQ(DEV_OK, d->CloseTrack(1));
  ASSERT_EQ(DEV_OK, d->CloseSession());

  DISC_INFO di;
  ASSERT_EQ(DEV_OK, d->ReadDiscInfo(di));
  EXPECT_EQ(1, di.DiscStatus) << "appendable after a multisession close";
  EXPECT_EQ(2, di.SessionCount);
  EXPECT_EQ(2, di.FirstTrackLastSession);
  ASSERT_EQ(DEV_OK, d->GetNextWriteAdd(nwa));
  EXPECT_EQ(300 + 11400, nwa) << "the second session starts behind lead-out, lead-in and pre-gap";

  // Format 0: track 1 at 0, lead-out at 300.
  TocData t;
  ASSERT_EQ(DEV_OK, d->GetTocData(t));
  ASSERT_EQ(1, t.TrackCount);
  EXPECT_EQ(0, TocAddressToLba(t.Data[0].Addr));
  EXPECT_TRUE(t.Data[0].IsData());
  EXPECT_EQ(300, TocAddressToLba(t.LeadOut));
  // Format 1: the last complete session.
  ASSERT_EQ(DEV_OK, d->ReadToc(toc, 12, 1, 0));
  EXPECT_EQ(1, toc[3]);
  EXPECT_EQ(1, toc[4 + 2]);

  // Second session, closed for good.
  ASSERT_EQ(DEV_OK, d->SetWriteParam(ktest::DataTrackParams(1, false)));
  WriteData(*d, uint32_t(nwa), 100, 20);
  ASSERT_EQ(DEV_OK, d->CloseTrack(2));
  ASSERT_EQ(DEV_OK, d->CloseSession());
  ASSERT_EQ(DEV_OK, d->ReadDiscInfo(di));
  EXPECT_EQ(2, di.DiscStatus);
  EXPECT_EQ(2, di.SessionCount);
  EXPECT_EQ(DEV_CHECK_CONDITION, d->Write(uint32_t(nwa) + 100, block.data(), 16 * 2048, 16)) << "a closed disc takes nothing";
  EXPECT_EQ("5/21/02", SenseOf(*d));

  // Format 2: both sessions with their A0/A1/A2 points.
  SessionInfo si;
  ASSERT_EQ(DEV_OK, d->GetSessionInfo(si));
  ASSERT_EQ(2u, si.Sessions.size());
  EXPECT_EQ(1, si.Sessions[0].FirstTrack);
  EXPECT_EQ(300, TocAddressToLba(si.Sessions[0].LeadOut));
  EXPECT_EQ(2, si.Sessions[1].FirstTrack);
  EXPECT_EQ(nwa, TocAddressToLba(si.Sessions[1].Data[0].Addr));
  EXPECT_EQ(nwa + 100, TocAddressToLba(si.Sessions[1].LeadOut));

  // Reading back: user data, and the raw sector around it.
  uint8_t sector[2352];
  ASSERT_EQ(DEV_OK, d->ReadCD_10(sector, 2048, 1, 5));
  auto expect = Pattern(16 * 2048, 10);
  EXPECT_EQ(0, std::memcmp(sector, expect.data() + 5 * 2048, 2048));
  ASSERT_EQ(DEV_OK, d->ReadCD_All(sector, 2352, 1, 5));
  EXPECT_EQ(cdsector::Mode::Mode1, cdsector::ModeOf(sector));
  EXPECT_EQ(0x02, sector[13]);
  EXPECT_EQ(0x05, sector[14]) << "header of LBA 5 is 00:02:05";
  EXPECT_EQ(0, std::memcmp(sector + 16, expect.data() + 5 * 2048, 2048));
  EXPECT_EQ(DEV_CHECK_CONDITION, d->ReadCD_10(sector, 2048, 1, 350)) << "between the sessions nothing is recorded";
  EXPECT_EQ(0, d->JudgeFileSystem(0)) << "no file system was written";
}

TEST(VirtualRecorder, DiscSurvivesReopeningAndTheStateFileIsShared) {
  ScratchDir dir;
  {
    auto d = NewVirtual(dir, "dvd+r");
    ASSERT_EQ(DEV_OK, d->SetWriteParam(ktest::DataTrackParams(2, true)));
    ASSERT_EQ(DEV_OK, d->ReserveTrack(100));
    WriteData(*d, 0, 100, 5);
    ASSERT_EQ(DEV_OK, d->CloseTrack(1));
    ASSERT_EQ(DEV_OK, d->CloseSession());
  }
  auto d = OpenVirtual(dir / "disc.vdisc");
  DISC_INFO di;
  ASSERT_EQ(DEV_OK, d->ReadDiscInfo(di));
  EXPECT_EQ(1, di.DiscStatus);
  long nwa = 0;
  ASSERT_EQ(DEV_OK, d->GetNextWriteAdd(nwa));
  EXPECT_EQ(112, nwa) << "the next track starts on the next 16-sector block";
  uint8_t sector[2048];
  ASSERT_EQ(DEV_OK, d->ReadCD_10(sector, 2048, 1, 99));
  EXPECT_EQ(0, std::memcmp(sector, Pattern(4 * 2048, 5 + 96).data() + 3 * 2048, 2048));
  // A second program's view follows the changes of the first.
  auto other = OpenVirtual(dir / "disc.vdisc");
  ASSERT_EQ(DEV_OK, d->SetWriteParam(ktest::DataTrackParams(2, false)));
  WriteData(*d, 112, 32, 9);
  ASSERT_EQ(DEV_OK, d->CloseTrack(2));
  ASSERT_EQ(DEV_OK, d->CloseSession());
  ASSERT_EQ(DEV_OK, other->ReadDiscInfo(di));
  EXPECT_EQ(2, di.DiscStatus);
  EXPECT_EQ(2, di.SessionCount);
}

TEST(VirtualRecorder, WriteOnceMediaRefuseErasingAndRewritableOnesBlankAndFormat) {
  ScratchDir dir;
  auto plusR = NewVirtual(dir, "dvd+r", "plusr.vdisc");
  EXPECT_EQ(DEV_CHECK_CONDITION, plusR->Blank(BLANK_MINIMAL));
  EXPECT_EQ("5/24/00", SenseOf(*plusR));
  EXPECT_EQ(DEV_CHECK_CONDITION, plusR->FormatUnit(0, 0x26, 0));
  EXPECT_EQ("5/30/06", SenseOf(*plusR));

  auto rw = NewVirtual(dir, "dvd-rw", "rw.vdisc");
  ASSERT_EQ(DEV_OK, rw->SetWriteParam(ktest::DataTrackParams(0, false, 5)));
  WriteData(*rw, 0, 64, 1);
  ASSERT_EQ(DEV_OK, rw->CloseTrack(1));
  ASSERT_EQ(DEV_OK, rw->CloseSession());
  DISC_INFO di;
  ASSERT_EQ(DEV_OK, rw->ReadDiscInfo(di));
  EXPECT_EQ(2, di.DiscStatus);
  ASSERT_EQ(DEV_OK, rw->Blank(BLANK_MINIMAL));
  ASSERT_EQ(DEV_OK, rw->ReadDiscInfo(di));
  EXPECT_EQ(0, di.DiscStatus) << "blanked";
  uint32_t cap = 0;
  EXPECT_FALSE(rw->JudgeIsFormated(cap));
  ASSERT_EQ(DEV_OK, rw->FormatUnit(0, 0x15, 16));
  EXPECT_EQ(medium::kDvdRwRo, rw->GetMediumType()) << "quick format gives restricted overwrite";
  EXPECT_TRUE(rw->JudgeIsFormated(cap));
  EXPECT_EQ(2298496u, cap);

  auto plusRw = NewVirtual(dir, "dvd+rw", "plusrw.vdisc");
  EXPECT_FALSE(plusRw->JudgeIsFormated(cap));
  ASSERT_EQ(DEV_OK, plusRw->FormatUnit(0xFFFFFFFF, 0x26, 0));
  EXPECT_TRUE(plusRw->JudgeIsFormated(cap));
  // Overwritable: any address, any order; unwritten sectors read as zeros.
  WriteData(*plusRw, 1000, 16, 3);
  WriteData(*plusRw, 16, 16, 4);
  uint8_t sector[2048];
  ASSERT_EQ(DEV_OK, plusRw->ReadCD_10(sector, 2048, 1, 1001));
  EXPECT_EQ(0, std::memcmp(sector, Pattern(16 * 2048, 3).data() + 2048, 2048));
  ASSERT_EQ(DEV_OK, plusRw->ReadCD_10(sector, 2048, 1, 500));
  EXPECT_TRUE(std::all_of(sector, sector + 2048, [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(DEV_CHECK_CONDITION, plusRw->ReadCD_All(sector, 2352, 1, 0)) << "no raw CD sectors on a DVD";
  EXPECT_EQ("5/64/00", SenseOf(*plusRw));
}

TEST(VirtualRecorder, DualLayerBoundaryIsReadAndSetBeforeWriting) {
  ScratchDir dir;
  auto d = NewVirtual(dir, "dvd+r-dl");
  uint8_t s[8];
  ASSERT_EQ(DEV_OK, d->ReadDVDStruct(s, 8, 0x20));
  EXPECT_EQ(0, s[0] & 0x80);
  EXPECT_EQ(4173824u / 2 / 16 * 16, bytes::BE32(s + 4));
  uint8_t set[8] = {};
  bytes::PutBE32(set + 4, 2000000);
  ASSERT_EQ(DEV_OK, d->SendDVDStruct(set, 8, 0x20));
  ASSERT_EQ(DEV_OK, d->ReadDVDStruct(s, 8, 0x20));
  EXPECT_EQ(2000000u, bytes::BE32(s + 4));
  uint8_t phys[2048];
  ASSERT_EQ(DEV_OK, d->ReadDVDStruct(phys, sizeof phys, 0));
  EXPECT_EQ(14, phys[0] >> 4) << "book type DVD+R DL";
  EXPECT_EQ(0x20, phys[2] & 0x60) << "two layers";
}

TEST(VirtualRecorder, InjectedFaultsAnswerWithTheirSense) {
  ScratchDir dir;
  auto d = NewVirtual(dir, "cd-rw");
  VirtualRecorder control;
  std::string error;
  ASSERT_TRUE(control.Open(dir / "disc.vdisc", &error)) << error;
  VirtualFaults f;
  f.notReadyPolls = 2;
  f.longWritePolls = 1;
  f.writeFailAt = 3;
  f.writeFailCount = 1;
  f.writeKey = 3, f.writeAsc = 0x0C, f.writeAscq = 0x09;
  f.cannotErase = true;
  ASSERT_TRUE(control.SetFaults(f, &error)) << error;

  EXPECT_EQ(DEV_CHECK_CONDITION, d->TestUnitReady());
  EXPECT_EQ("2/04/01", SenseOf(*d));
  EXPECT_EQ(DEV_CHECK_CONDITION, d->TestUnitReady());
  EXPECT_EQ(DEV_CHECK_CONDITION, d->TestUnitReady());
  EXPECT_EQ("2/04/08", SenseOf(*d)) << "then the long write in progress";
  EXPECT_EQ(DEV_OK, d->WaitUntilReady(1, 1000));

  ASSERT_EQ(DEV_OK, d->SetWriteParam(ktest::DataTrackParams(1, false)));
  auto block = Pattern(16 * 2048, 1);
  EXPECT_EQ(DEV_OK, d->Write(0, block.data(), 16 * 2048, 16));
  EXPECT_EQ(DEV_OK, d->Write(16, block.data(), 16 * 2048, 16));
  EXPECT_EQ(DEV_CHECK_CONDITION, d->Write(32, block.data(), 16 * 2048, 16)) << "the third write fails";
  EXPECT_EQ("3/0C/09", SenseOf(*d));
  EXPECT_EQ(DEV_OK, d->Write(32, block.data(), 16 * 2048, 16)) << "and only once";
  EXPECT_EQ(DEV_CHECK_CONDITION, d->Blank(BLANK_MINIMAL));
  EXPECT_EQ("5/20/00", SenseOf(*d)) << "a drive that cannot erase";
}

TEST(VirtualRecorder, WaitUntilReadyGivesUpAfterItsBound) {
  ScratchDir dir;
  auto d = NewVirtual(dir, "cd-r");
  VirtualRecorder control;
  std::string error;
  ASSERT_TRUE(control.Open(dir / "disc.vdisc", &error));
  VirtualFaults f;
  f.notReadyPolls = 1000000;
  ASSERT_TRUE(control.SetFaults(f, &error));
  EXPECT_NE(DEV_OK, d->WaitUntilReady(1, 20));
  EXPECT_EQ("2/04/01", SenseOf(*d));
}

TEST(VirtualRecorder, TrayLockAndSimulatedWriting) {
  ScratchDir dir;
  auto d = NewVirtual(dir, "cd-r");
  ASSERT_EQ(DEV_OK, d->Lock(true));
  EXPECT_EQ(DEV_CHECK_CONDITION, d->Eject(true));
  EXPECT_EQ("5/53/02", SenseOf(*d)) << "removal prevented";
  ASSERT_EQ(DEV_OK, d->Lock(false));
  ASSERT_EQ(DEV_OK, d->Eject(true));
  EXPECT_EQ(DEV_CHECK_CONDITION, d->TestUnitReady());
  EXPECT_EQ("2/3A/02", SenseOf(*d)) << "tray open";
  EXPECT_EQ(medium::kNone, d->GetMediumType());
  ASSERT_EQ(DEV_OK, d->Eject(false));
  EXPECT_EQ(DEV_OK, d->TestUnitReady());

  WriteParam wp = ktest::DataTrackParams(1, false);
  wp.TestWrite = 1;
  ASSERT_EQ(DEV_OK, d->SetWriteParam(wp));
  WriteData(*d, 0, 64, 1);
  ASSERT_EQ(DEV_OK, d->CloseTrack(1));
  ASSERT_EQ(DEV_OK, d->CloseSession());
  DISC_INFO di;
  ASSERT_EQ(DEV_OK, d->ReadDiscInfo(di));
  EXPECT_EQ(0, di.DiscStatus) << "a test write leaves the disc blank";
}

TEST(VirtualRecorder, OneProgramAtATimeMayChangeTheDisc) {
  ScratchDir dir;
  auto a = NewVirtual(dir, "cd-r");
  auto b = OpenVirtual(dir / "disc.vdisc");
  ASSERT_EQ(DEV_OK, a->LockVolumn(true));
  EXPECT_EQ(DEV_BUSY, b->LockVolumn(true));
  ASSERT_EQ(DEV_OK, b->SetWriteParam(ktest::DataTrackParams(1, false)));
  auto block = Pattern(16 * 2048, 1);
  EXPECT_EQ(DEV_CHECK_CONDITION, b->Write(0, block.data(), 16 * 2048, 16));
  EXPECT_EQ("2/04/00", SenseOf(*b));
  EXPECT_EQ(DEV_OK, b->TestUnitReady()) << "reading stays possible";
  ASSERT_EQ(DEV_OK, a->LockVolumn(false));
  EXPECT_EQ(DEV_OK, b->Write(0, block.data(), 16 * 2048, 16));
}

TEST(VirtualRecorder, SessionAtOnceFollowsTheCueSheet) {
  ScratchDir dir;
  auto d = NewVirtual(dir, "cd-r");
  WriteParam wp;
  wp.WriteType = 2;
  ASSERT_EQ(DEV_OK, d->SetWriteParam(wp));
  // Lead-in, track 1 (audio) index 0 at 00:00:00 and index 1 at 00:02:00,
  // track 2 (data) at 00:06:00, lead-out at 00:08:00.
  const uint8_t cue[] = {
      0x01, 0x00, 0x00, 0x01, 0, 0, 0, 0,     // lead-in
      0x01, 0x01, 0x00, 0x00, 0, 0, 0, 0,     // track 1 index 0
      0x01, 0x01, 0x01, 0x00, 0, 0, 2, 0,     // track 1 index 1
      0x41, 0x02, 0x01, 0x10, 0, 0, 6, 0,     // track 2 index 1, Mode 1
      0x41, 0xAA, 0x01, 0x10, 0, 0, 8, 0,     // lead-out
  };
  ASSERT_EQ(DEV_OK, d->SendCueSheet(cue, sizeof cue)) << SenseOf(*d);
  auto audio = Pattern(2352 * 150, 7);
  ASSERT_EQ(DEV_OK, d->Write(uint32_t(-150), audio.data(), 2352 * 150, 150)) << SenseOf(*d);  // pre-gap
  for (int i = 0; i < 300; i += 50) ASSERT_EQ(DEV_OK, d->Write(uint32_t(i), audio.data(), 2352 * 50, 50));
  for (int i = 300; i < 450; i += 50) {
    auto data = Pattern(2048 * 50, uint32_t(i));
    ASSERT_EQ(DEV_OK, d->Write(uint32_t(i), data.data(), 2048 * 50, 50)) << SenseOf(*d);
  }
  DISC_INFO di;
  ASSERT_EQ(DEV_OK, d->ReadDiscInfo(di));
  EXPECT_EQ(2, di.DiscStatus);
  TocData t;
  ASSERT_EQ(DEV_OK, d->GetTocData(t));
  ASSERT_EQ(2, t.TrackCount);
  EXPECT_FALSE(t.Data[0].IsData());
  EXPECT_TRUE(t.Data[1].IsData());
  EXPECT_EQ(300, TocAddressToLba(t.Data[1].Addr));
  EXPECT_EQ(450, TocAddressToLba(t.LeadOut));
  uint8_t raw[2352];
  ASSERT_EQ(DEV_OK, d->ReadCD_All(raw, 2352, 1, 10));
  EXPECT_EQ(0, std::memcmp(raw, audio.data() + 10 * 2352, 2352)) << "audio sectors are raw PCM";
}

TEST(VirtualRecorder, DamagedStateFileIsRefusedWithTheLine) {
  ScratchDir dir;
  std::string error;
  ASSERT_TRUE(VirtualRecorder::Create(dir / "d.vdisc", "cd-r", &error));
  struct Case {
    const char* line;
    const char* reason;
  } cases[] = {
      {"track 1 1 0 abc 0 1 1 0", "damaged line"},
      {"track 1 1 359000 5000 5000 1 1 0", "beyond the end"},
      {"track 1 1 -5 10 10 1 1 0", "damaged line"},
      {"cdtext 0102zz", "damaged line"},
  };
  for (const Case& c : cases) {
    {
      std::ofstream out(dir / "d.vdisc", std::ios::trunc);
      out << "varnex-virtual-recorder 1\nmedia cd-r\nprofile 9\ncapacity 359849\n" << c.line << "\n";
    }
    VirtualRecorder r;
    EXPECT_FALSE(r.Open(dir / "d.vdisc", &error)) << c.line;
    EXPECT_NE(std::string::npos, error.find(c.reason)) << c.line << ": " << error;
  }
  {
    std::ofstream out(dir / "d.vdisc", std::ios::trunc);
    out << "something else\n";
  }
  VirtualRecorder r;
  EXPECT_FALSE(r.Open(dir / "d.vdisc", &error));
  EXPECT_NE(std::string::npos, error.find("not a virtual recorder")) << error;
}

TEST(VirtualRecorder, AReaderClosingLaterDoesNotUndoAWriter) {
  ScratchDir dir;
  std::string error;
  ASSERT_TRUE(VirtualRecorder::Create(dir / "d.vdisc", "cd-r", &error));
  auto reader = OpenVirtual(dir / "d.vdisc");
  DISC_INFO di;
  ASSERT_EQ(DEV_OK, reader->ReadDiscInfo(di));
  {
    auto writer = OpenVirtual(dir / "d.vdisc");
    ASSERT_EQ(DEV_OK, writer->SetWriteParam(ktest::DataTrackParams(1, false)));
    WriteData(*writer, 0, 32, 1);
    WriteData(*writer, 32, 32, 2);
  }  // the writer ends without closing the track: its sectors still count
  reader.reset();
  auto again = OpenVirtual(dir / "d.vdisc");
  long nwa = 0;
  ASSERT_EQ(DEV_OK, again->GetNextWriteAdd(nwa));
  EXPECT_EQ(64, nwa) << "the reader put back the state it had read";
}

TEST(VirtualRecorder, SessionAtOnceWritesMustMatchTheCueSheetsDataForms) {
  ScratchDir dir;
  auto d = NewVirtual(dir, "cd-r");
  WriteParam wp;
  wp.WriteType = 2;
  ASSERT_EQ(DEV_OK, d->SetWriteParam(wp));
  // An audio track announced with a data form, and a form the drive would make up itself.
  const uint8_t mixedUp[] = {0x01, 0x01, 0x01, 0x10, 0, 0, 2, 0, 0x01, 0xAA, 0x01, 0x00, 0, 0, 8, 0};
  EXPECT_EQ(DEV_CHECK_CONDITION, d->SendCueSheet(mixedUp, sizeof mixedUp));
  EXPECT_EQ("5/26/00", SenseOf(*d));
  const uint8_t generated[] = {0x41, 0x01, 0x01, 0x14, 0, 0, 2, 0, 0x41, 0xAA, 0x01, 0x14, 0, 0, 8, 0};
  EXPECT_EQ(DEV_CHECK_CONDITION, d->SendCueSheet(generated, sizeof generated));
  // Raw Mode 1 sectors: 2048-byte blocks do not fit and nothing of them is kept.
  const uint8_t raw[] = {0x41, 0x00, 0x00, 0x11, 0, 0, 0, 0, 0x41, 0x01, 0x00, 0x11, 0, 0, 0, 0,
                         0x41, 0x01, 0x01, 0x11, 0, 0, 2, 0, 0x41, 0xAA, 0x01, 0x11, 0, 0, 4, 0};
  ASSERT_EQ(DEV_OK, d->SendCueSheet(raw, sizeof raw)) << SenseOf(*d);
  auto user = Pattern(2048 * 10, 1);
  EXPECT_EQ(DEV_CHECK_CONDITION, d->Write(uint32_t(-150), user.data(), 2048 * 10, 10));
  EXPECT_EQ("5/64/00", SenseOf(*d));
  std::vector<uint8_t> sector(2352 * 10);
  for (int i = 0; i < 10; ++i) cdsector::Encode(-150 + i, cdsector::Mode::Mode1, user.data(), sector.data() + i * 2352);
  EXPECT_EQ(DEV_OK, d->Write(uint32_t(-150), sector.data(), 2352 * 10, 10)) << "the refused write left the address where it was";
}

// The faults of a dying disc: a sector stored spoiled without an error, reads
// that fail with a medium error, and reads that take their time through the
// pace a test sets instead of a clock.
TEST(VirtualRecorder, DyingDiscFaultsSpoilOneSectorFailReadsAndPaceSlowOnes) {
  for (const char* medium : {"dvd+rw", "cd-rw"}) {
    SCOPED_TRACE(medium);
    ScratchDir dir;
    auto d = NewVirtual(dir, medium);
    VirtualRecorder control;
    std::string error;
    ASSERT_TRUE(control.Open(dir / "disc.vdisc", &error)) << error;
    VirtualFaults f;
    f.corruptAt = 21;  // inside the second block
    f.unreadable = {{40, 41}, {60, 60}};
    f.slowRead = {{10, 19}};
    ASSERT_TRUE(control.SetFaults(f, &error)) << error;
    if (std::string(medium) == "dvd+rw") ASSERT_EQ(DEV_OK, d->FormatUnit(0xFFFFFFFF, 0x26, 0)) << SenseOf(*d);
    ASSERT_EQ(DEV_OK, d->SetWriteParam(ktest::DataTrackParams(1, false)));
    auto data = Pattern(64 * 2048, 7);
    for (uint32_t at = 0; at < 64; at += 16)
      ASSERT_EQ(DEV_OK, d->Write(at, data.data() + at * 2048, 16 * 2048, 16)) << SenseOf(*d);
    if (std::string(medium) == "cd-rw") ASSERT_EQ(DEV_OK, d->CloseSession(2, 0)) << SenseOf(*d);

    std::vector<std::pair<int32_t, bool>> paced;
    VirtualRecorder::SetReadPace([&](int32_t lba, uint32_t, bool slow) { paced.emplace_back(lba, slow); });
    std::vector<uint8_t> back(20 * 2048);
    ASSERT_EQ(DEV_OK, d->ReadCD_10(back.data(), int(back.size()), 20, 0)) << SenseOf(*d);
    EXPECT_EQ(0, std::memcmp(back.data(), data.data(), 20 * 2048)) << "the sectors before the spoiled one";
    ASSERT_EQ(DEV_OK, d->ReadCD_10(back.data(), int(back.size()), 1, 20)) << SenseOf(*d);
    EXPECT_NE(0, std::memcmp(back.data(), data.data() + 20 * 2048, 2048)) << "the 21st sector written is spoiled";
    int changed = 0;
    for (int i = 0; i < 2048; ++i) changed += back[size_t(i)] != data[size_t(20 * 2048 + i)];
    EXPECT_EQ(1, changed) << "one byte changed";
    ASSERT_EQ(DEV_OK, d->ReadCD_10(back.data(), int(back.size()), 19, 21)) << SenseOf(*d);
    EXPECT_EQ(0, std::memcmp(back.data(), data.data() + 21 * 2048, 19 * 2048)) << "one sector only";
    EXPECT_EQ(DEV_CHECK_CONDITION, d->ReadCD_10(back.data(), int(back.size()), 4, 38));
    EXPECT_EQ("3/11/00", SenseOf(*d));
    EXPECT_EQ(DEV_CHECK_CONDITION, d->ReadCD_10(back.data(), int(back.size()), 1, 60));
    EXPECT_EQ(DEV_OK, d->ReadCD_10(back.data(), int(back.size()), 1, 59)) << "next to an unreadable range";
    EXPECT_EQ(DEV_OK, d->ReadCD_10(back.data(), int(back.size()), 1, 42));
    VirtualRecorder::SetReadPace(nullptr);
    ASSERT_GE(paced.size(), 2u);
    EXPECT_EQ(std::make_pair(0, true), paced[0]) << "a read reaching into 10-19 is slow";
    EXPECT_EQ(std::make_pair(20, false), paced[1]);

    // The faults outlive the program that armed them, and the spoiled sector
    // disarmed its own.
    VirtualRecorder again;
    ASSERT_TRUE(again.Open(dir / "disc.vdisc", &error)) << error;
    EXPECT_EQ(0, again.Faults().corruptAt);
    EXPECT_EQ(f.unreadable, again.Faults().unreadable);
    EXPECT_EQ(f.slowRead, again.Faults().slowRead);
  }
}

// Many sectors are read in one go from the store; what comes back must be
// what sector-by-sector reads give: written data, zeros for what was never
// written and past the end of the store, a refusal past the end of a track.
TEST(VirtualRecorder, LongReadsEqualSectorBySectorReads) {
  ScratchDir dir;
  auto rw = NewVirtual(dir, "dvd+rw", "plusrw.vdisc");
  ASSERT_EQ(DEV_OK, rw->FormatUnit(0xFFFFFFFF, 0x26, 0));
  WriteData(*rw, 16, 16, 5);
  WriteData(*rw, 48, 16, 6);  // the store ends at sector 64, with a hole before
  auto oneByOne = [](CDevCmdRW& d, uint32_t lba, uint32_t count) {
    std::vector<uint8_t> all(size_t(count) * 2048);
    for (uint32_t i = 0; i < count; ++i)
      EXPECT_EQ(DEV_OK, d.ReadCD_10(all.data() + size_t(i) * 2048, 2048, 1, lba + i)) << lba + i;
    return all;
  };
  std::vector<uint8_t> run(100 * 2048, 0xEE);
  ASSERT_EQ(DEV_OK, rw->ReadCD_10(run.data(), int(run.size()), 100, 0)) << SenseOf(*rw);
  EXPECT_TRUE(run == oneByOne(*rw, 0, 100));
  EXPECT_EQ(0, std::memcmp(run.data() + 48 * 2048, Pattern(16 * 2048, 6).data(), 16 * 2048));
  EXPECT_TRUE(std::all_of(run.begin() + 64 * 2048, run.end(), [](uint8_t b) { return b == 0; }));
  std::vector<uint8_t> inside(8 * 2048);
  ASSERT_EQ(DEV_OK, rw->ReadCD_10(inside.data(), int(inside.size()), 8, 20)) << "well inside the store";
  EXPECT_EQ(0, std::memcmp(inside.data(), Pattern(16 * 2048, 5).data() + 4 * 2048, 8 * 2048));

  auto r = NewVirtual(dir, "dvd+r", "plusr.vdisc");
  ASSERT_EQ(DEV_OK, r->SetWriteParam(ktest::DataTrackParams(0, false, 5)));
  WriteData(*r, 0, 40, 7);
  ASSERT_EQ(DEV_OK, r->CloseTrack(1));
  ASSERT_EQ(DEV_OK, r->CloseSession());
  std::vector<uint8_t> whole(40 * 2048);
  ASSERT_EQ(DEV_OK, r->ReadCD_10(whole.data(), int(whole.size()), 40, 0)) << SenseOf(*r);
  EXPECT_TRUE(whole == oneByOne(*r, 0, 40));
  std::vector<uint8_t> over(8 * 2048, 0xEE);
  EXPECT_EQ(DEV_CHECK_CONDITION, r->ReadCD_10(over.data(), int(over.size()), 8, 36)) << "past the end of the disc";
  EXPECT_EQ("5/21/00", SenseOf(*r));
  EXPECT_EQ(0, std::memcmp(over.data(), whole.data() + 36 * 2048, 4 * 2048)) << "the sectors before the end";
}

// A disc pressed from an image holds the image sector for sector, in pieces
// of many sectors, the last sector's tail zeros; on a CD every sector is
// whole, with a valid EDC. Something that is no image file is refused, and
// no disc is left in its place.
TEST(VirtualRecorder, APressedDiscHoldsItsImageWhateverItsLength) {
  ScratchDir dir;
  const size_t size = 700 * 2048 + 100;
  const std::vector<uint8_t> image = Pattern(size, 4);
  {
    std::ofstream out(dir / "in.iso", std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()), std::streamsize(size));
  }
  for (const char* medium : {"dvd-rom", "cd-rom"}) {
    SCOPED_TRACE(medium);
    const std::string state = dir / (std::string(medium) + ".vdisc");
    std::string error;
    ASSERT_TRUE(VirtualRecorder::CreatePressedData(state, medium, dir / "in.iso", &error)) << error;
    auto d = OpenVirtual(state);
    std::vector<uint8_t> back(701 * 2048);
    for (uint32_t at = 0; at < 701; at += 32) {
      const uint32_t n = std::min<uint32_t>(32, 701 - at);
      ASSERT_EQ(DEV_OK, d->ReadCD_10(back.data() + size_t(at) * 2048, int(n * 2048), int(n), at)) << SenseOf(*d);
    }
    EXPECT_TRUE(std::equal(image.begin(), image.end(), back.begin())) << "the disc differs from its image";
    EXPECT_TRUE(std::all_of(back.begin() + long(size), back.end(), [](uint8_t b) { return b == 0; }));
    if (std::string(medium) == "cd-rom") {
      uint8_t raw[2352];
      for (uint32_t at : {0u, 255u, 256u, 700u}) {
        ASSERT_EQ(DEV_OK, d->ReadCD_All(raw, 2352, 1, at));
        EXPECT_EQ(0, std::memcmp(raw + 16, back.data() + size_t(at) * 2048, 2048)) << at;
        EXPECT_EQ(cdsector::Edc(raw, 2064), bytes::LE32(raw + 2064)) << at;
      }
    }
  }
  std::string error;
  EXPECT_FALSE(VirtualRecorder::CreatePressedData(dir / "fifo.vdisc", "dvd-rom", "/dev/null", &error));
  EXPECT_FALSE(std::filesystem::exists(dir / "fifo.vdisc"));
}
