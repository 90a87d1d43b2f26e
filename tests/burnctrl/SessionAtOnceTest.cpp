// Images of several sessions written a session at once: each session with
// its own cue sheet and lead-in (its CD-Text speaking of its own tracks),
// the disc left open between them, read back through the recorder's
// commands; and a recorder that cannot write so refused before it writes.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "BurnCtrl/Results.h"
#include "BurnCtrl/SessionAtOnce.h"
#include "DataSource_Image.h"
#include "DevTypes.h"
#include "ImageLayout.h"
#include "kestrine/KestrineTestUtil.h"

using ktest::ScratchDir;

namespace {

constexpr int32_t kSectors = 1000;  // of the BIN: tracks of 375, 300 and 325 sectors

const char* const kTwoSessions =
    "TITLE \"Album\"\n"
    "PERFORMER \"Band\"\n"
    "FILE \"a.bin\" BINARY\n"
    "  TRACK 01 AUDIO\n"
    "    TITLE \"One\"\n"
    "    ISRC USABC2600001\n"
    "    INDEX 01 00:00:00\n"
    "    INDEX 02 00:02:00\n"
    "  TRACK 02 AUDIO\n"
    "    TITLE \"Two\"\n"
    "    INDEX 01 00:05:00\n"
    "REM SESSION 02\n"
    "  TRACK 03 AUDIO\n"
    "    TITLE \"Three\"\n"
    "    PERFORMER \"P3\"\n"
    "    FLAGS DCP\n"
    "    ISRC GBXYZ2600017\n"
    "    INDEX 01 00:09:00\n";

struct Image {
  std::vector<uint8_t> bin;
  ImageLayout layout;
};

Image MakeImage(const ScratchDir& dir, const std::string& sheet) {
  Image image;
  image.bin = ktest::Pattern(size_t(2352) * kSectors, 9);
  std::ofstream(dir / "a.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(image.bin.data()), std::streamsize(image.bin.size()));
  std::ofstream(dir / "a.cue") << sheet;
  std::string why;
  EXPECT_TRUE(ReadImageLayout(dir / "a.cue", image.layout, &why)) << why;
  return image;
}

// A recorder whose feature list says it cannot write a CD a session at once.
class NoSessionAtOnce : public ScsiTransport {
 public:
  explicit NoSessionAtOnce(std::unique_ptr<ScsiTransport> inner) : inner_(std::move(inner)) {}
  bool Execute(ScsiCommand& c) override {
    const bool ok = inner_->Execute(c);
    if (c.cdb[0] != 0x46 || !c.data) return ok;
    for (uint32_t off = 8; off + 4 < c.dataLength; off += 4 + c.data[off + 3])
      if (c.data[off] == 0x00 && c.data[off + 1] == 0x2E) c.data[off + 4] &= uint8_t(~0x20);
    return ok;
  }
  std::string Path() const override { return inner_->Path(); }

 private:
  std::unique_ptr<ScsiTransport> inner_;
};

FS_CDTEXT_INFO Texts(const std::vector<uint8_t>& packs) {
  FS_CDTEXT_INFO text;
  EXPECT_TRUE(ParseCdTextPacks(packs.data(), packs.size(), text));
  return text;
}

}  // namespace

TEST(SessionAtOnceSessions, EachSessionHasItsCueSheetAndLeadInAndTheDiscStaysOpenBetween) {
  ScratchDir dir;
  Image image = MakeImage(dir, kTwoSessions);
  ASSERT_EQ(2, image.layout.sessions);
  DataSource_Image source(image.layout);
  ASSERT_TRUE(source.Load()) << source.GetLastError();
  {
    auto target = ktest::NewVirtual(dir, "cd-r");
    std::string why;
    int sessionsBegun = 0;
    AtOnceJob job;
    job.watch = [&](BurnMana_SAO* running, int, int) { sessionsBegun += running ? 1 : 0; };
    ASSERT_EQ(result::kSuccess, WriteAtOnce(target.get(), source, job, &why)) << why;
    EXPECT_EQ(2, sessionsBegun);
  }
  auto d = ktest::OpenVirtual(dir / "disc.vdisc");
  SessionInfo sessions;
  ASSERT_EQ(DEV_OK, d->GetSessionInfo(sessions)) << ktest::SenseOf(*d);
  ASSERT_EQ(2u, sessions.Sessions.size());
  ASSERT_EQ(2u, sessions.Sessions[0].Data.size());
  // The first session gapless, as the sheet has it; the second behind the
  // first's lead-out and its own lead-in and pre-gap.
  EXPECT_EQ(0, TocAddressToLba(sessions.Sessions[0].Data[0].Addr));
  EXPECT_EQ(375, TocAddressToLba(sessions.Sessions[0].Data[1].Addr));
  EXPECT_EQ(675, TocAddressToLba(sessions.Sessions[0].LeadOut));
  ASSERT_EQ(1u, sessions.Sessions[1].Data.size());
  EXPECT_EQ(3, sessions.Sessions[1].Data[0].TrackNo);
  const int32_t third = 675 + 11400;
  EXPECT_EQ(third, TocAddressToLba(sessions.Sessions[1].Data[0].Addr));
  EXPECT_EQ(0x12, sessions.Sessions[1].Data[0].AdrCtrl) << "copy permitted";
  EXPECT_EQ(third + 325, TocAddressToLba(sessions.Sessions[1].LeadOut));

  // READ TOC format 5 gives the first lead-in's texts: the disc's and its own tracks'.
  std::vector<uint8_t> packs;
  ASSERT_EQ(DEV_OK, d->ReadCdTextPacks(packs)) << ktest::SenseOf(*d);
  FS_CDTEXT_INFO first = Texts(packs);
  EXPECT_STREQ("Album", first.Tracks[0].szTitle);
  EXPECT_STREQ("One", first.Tracks[1].szTitle);
  EXPECT_STREQ("Two", first.Tracks[2].szTitle);
  EXPECT_STREQ("", first.Tracks[3].szTitle) << "track 3 is not in the first session";
  // The second lead-in carries the texts of track 3.
  VirtualRecorder r;
  std::string error;
  ASSERT_TRUE(r.Open(dir / "disc.vdisc", &error)) << error;
  ASSERT_EQ(1u, r.Model().laterCdText.size());
  EXPECT_EQ(2, r.Model().laterCdText[0].first);
  FS_CDTEXT_INFO second = Texts(r.Model().laterCdText[0].second);
  EXPECT_STREQ("Album", second.Tracks[0].szTitle);
  EXPECT_STREQ("Three", second.Tracks[3].szTitle);
  EXPECT_STREQ("P3", second.Tracks[3].szArtist);
  EXPECT_STREQ("", second.Tracks[1].szTitle);
  EXPECT_TRUE(r.Model().finalized) << "the last session closes the disc";
  EXPECT_EQ((std::vector<int32_t>{150}), r.Model().tracks[0].indexes);
  // A TOC file has no sessions: such a disc is exported as a CUE sheet.
  EXPECT_FALSE(r.ExportBinToc(dir / "out.toc", &error));
  EXPECT_NE(std::string::npos, error.find("export it with --cue")) << error;
  EXPECT_FALSE(std::ifstream(dir / "out.toc").good());

  // READ SUB-CHANNEL: the ISRCs of both sessions.
  std::string code;
  ASSERT_EQ(DEV_OK, d->ReadTrackIsrc(1, code));
  EXPECT_EQ("USABC2600001", code);
  ASSERT_EQ(DEV_OK, d->ReadTrackIsrc(3, code));
  EXPECT_EQ("GBXYZ2600017", code);

  // The samples: either side of the joint of session 1, the second
  // session's first and last sectors, and its pre-gap silent.
  const std::vector<std::pair<int32_t, int32_t>> where = {{374, 374}, {375, 375}, {third, 675}, {third + 324, 999}};
  for (const auto& [lba, from] : where) {
    std::vector<uint8_t> got(2352);
    ASSERT_EQ(DEV_OK, d->ReadCD_Audio(got.data(), 2352, 1, uint32_t(lba))) << lba << " " << ktest::SenseOf(*d);
    EXPECT_EQ(0, std::memcmp(got.data(), image.bin.data() + size_t(from) * 2352, 2352)) << "sector " << lba;
  }
}

TEST(SessionAtOnceSessions, ARecorderThatCannotWriteSoIsRefusedBeforeTheFirstSession) {
  ScratchDir dir;
  Image image = MakeImage(dir, kTwoSessions);
  DataSource_Image source(image.layout);
  ASSERT_TRUE(source.Load()) << source.GetLastError();
  std::string error;
  ASSERT_TRUE(VirtualRecorder::Create(dir / "disc.vdisc", "cd-r", &error)) << error;
  {
    auto recorder = std::make_unique<VirtualRecorder>();
    ASSERT_TRUE(recorder->Open(dir / "disc.vdisc", &error)) << error;
    CDevCmdRW target(std::make_unique<NoSessionAtOnce>(std::move(recorder)), 3);
    std::string why;
    EXPECT_EQ(result::kTargetNotWritable, WriteAtOnce(&target, source, AtOnceJob(), &why));
    EXPECT_NE(std::string::npos, why.find("cannot write a CD a session at once")) << why;
  }
  VirtualRecorder r;
  ASSERT_TRUE(r.Open(dir / "disc.vdisc", &error)) << error;
  EXPECT_TRUE(r.Model().tracks.empty()) << "nothing was written";
  EXPECT_EQ(0, r.Model().closedSessions);
}

TEST(SessionAtOnceSessions, ALaterSessionsTextsNameItsOwnTracks) {
  // Packs of a lead-in whose session begins at track 5, read independently:
  // the disc's texts (track 0), then tracks 5 and 6, and the size
  // information naming 5 to 6.
  const std::vector<uint8_t> packs = BuildCdTextPacks({{"Album", "Five", "Six"}, {"", "P5", ""}}, 5);
  std::vector<int> titleTracks;
  for (size_t at = 0; at + 18 <= packs.size(); at += 18) {
    if (packs[at] == 0x80) titleTracks.push_back(packs[at + 1]);
    if (packs[at] == 0x8F && packs[at + 1] == 0) {
      EXPECT_EQ(5, packs[at + 5]) << "first track";
      EXPECT_EQ(6, packs[at + 6]) << "last track";
    }
  }
  // "Album\0Five\0Six\0" fills two packs; the second begins inside "Six".
  EXPECT_EQ((std::vector<int>{0, 6}), titleTracks);
  FS_CDTEXT_INFO text = Texts(packs);
  EXPECT_STREQ("Album", text.Tracks[0].szTitle);
  EXPECT_STREQ("Five", text.Tracks[5].szTitle);
  EXPECT_STREQ("Six", text.Tracks[6].szTitle);
  EXPECT_STREQ("P5", text.Tracks[5].szArtist);
  EXPECT_STREQ("", text.Tracks[1].szTitle);
  // A first session's packs read as before.
  FS_CDTEXT_INFO plain = Texts(BuildCdTextPacks({{"Album", "One", "Two"}}));
  EXPECT_STREQ("Two", plain.Tracks[2].szTitle);
}
