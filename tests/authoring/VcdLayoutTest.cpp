// The control track of Video CDs and Super Video CDs: where the MPEG tracks
// start, what the control files say about them, and that an independent
// ISO 9660 reader lists the folders and tracks.

#include <gtest/gtest.h>

#include <memory>

#include "ByteFields.h"
#include "authoring/CSVCDFile.h"
#include "authoring/CVCDFile.h"
#include "support/RunCommand.h"
#include "support/TestFolders.h"

namespace {

using vcdtpl::kSector;

std::string Bytes(size_t n, char c = 'm') { return std::string(n, c); }

const uint8_t* At(const std::string& image, size_t offset) {
  return reinterpret_cast<const uint8_t*>(image.data()) + offset;
}

}  // namespace

TEST(VcdLayout, TwoItemsOf2324000BytesGiveTheTrackStartsSizesAndDiscEnd) {
  ScratchFolder dir;
  const std::vector<std::string> items{dir.Write("a.mpg", Bytes(2324 * 1000)), dir.Write("b.mpg", Bytes(2324 * 1000))};
  CVCDFile vcd;
  vcd.SetBuildTime(1767225600);
  ASSERT_TRUE(vcd.Prepare("HOLIDAY", 2, items)) << vcd.LastError();
  EXPECT_EQ(vcd.GetTrackStart(1), 1251);
  EXPECT_EQ(vcd.GetTrackStart(2), 1251 + 1090 + 151);
  EXPECT_EQ(vcd.GetRecordedSize(1), (1090u - 30u) * 2048u);
  EXPECT_EQ(vcd.GetDiscEnd(), 3582);
  EXPECT_EQ(vcd.GetControlSectors(), 1100);

  const std::string image = ReadWholeFile(vcd.GetControlImage());
  ASSERT_EQ(image.size(), 1100u * kSector);
  // The volume: the label in a blank-padded field, the disc end as its size.
  EXPECT_EQ(image.substr(16 * kSector + 40, 32), "HOLIDAY" + std::string(25, ' '));
  EXPECT_EQ(bytes::LE32(At(image, 16 * kSector + 80)), 3582u);
  EXPECT_EQ(bytes::BE32(At(image, 16 * kSector + 84)), 3582u);
  // The MPEG folder's records from sector 100, byte 96, 60 bytes each.
  for (int k = 0; k < 2; ++k) {
    const size_t rec = 0x32060 + 60 * size_t(k);
    EXPECT_EQ(image[rec], 60);
    EXPECT_EQ(image.substr(rec + 33, 13), k == 0 ? "AVSEQ01.DAT;1" : "AVSEQ02.DAT;1");
    EXPECT_EQ(bytes::LE32(At(image, rec + 2)), uint32_t(vcd.GetTrackStart(k + 1)));
    EXPECT_EQ(bytes::BE32(At(image, rec + 14)), (1090u - 30u) * 2048u);
    EXPECT_EQ(image.substr(rec + 52, 2), "XA");
  }
  // The entries: one per track, on the disc tracks 2 and 3.
  EXPECT_EQ(image[151 * kSector + 11], 2);
  EXPECT_EQ(image.substr(151 * kSector, 8), "ENTRYVCD");
  EXPECT_EQ(uint8_t(image[151 * kSector + 12]), 0x02);
  EXPECT_EQ(uint8_t(image[151 * kSector + 16]), 0x03);
  // The play sequence, in both places and with its size in both records.
  const size_t psd = 184 * kSector;
  EXPECT_EQ(uint8_t(image[psd]), 0x10);
  EXPECT_EQ(bytes::BE16(At(image, psd + 14)), 2u);  // play item 2: the first MPEG track
  EXPECT_EQ(bytes::BE16(At(image, psd + 16 + 14)), 3u);
  EXPECT_EQ(uint8_t(image[psd + 32]), 0x1F);
  EXPECT_EQ(image.substr(psd, 40), image.substr(945 * kSector, 40));
  EXPECT_EQ(bytes::LE32(At(image, 41124)), 40u);
  EXPECT_EQ(bytes::LE32(At(image, 47384)), 40u);
  EXPECT_EQ(bytes::BE32(At(image, 150 * kSector + 44)), 40u) << "INFO.VCD's play sequence size";
  // The list offset table: list 1 at 0, list 2 at 2 (8-byte units), the rest unused.
  EXPECT_EQ(bytes::BE16(At(image, 152 * kSector + 2)), 0u);
  EXPECT_EQ(bytes::BE16(At(image, 152 * kSector + 4)), 2u);
  EXPECT_EQ(bytes::BE16(At(image, 152 * kSector + 8)), 0xFFFFu);
  EXPECT_EQ(image.substr(152 * kSector, 32 * kSector), image.substr(913 * kSector, 32 * kSector));
}

TEST(VcdLayout, PlayListsLinkEachItemToItsNeighbours) {
  ScratchFolder dir;
  std::vector<std::string> items;
  for (int i = 0; i < 3; ++i) items.push_back(dir.Write("c" + std::to_string(i) + ".mpg", Bytes(5000)));
  CVCDFile vcd;
  ASSERT_TRUE(vcd.Prepare("VCD", 3, items)) << vcd.LastError();
  const std::string image = ReadWholeFile(vcd.GetControlImage());
  const size_t psd = 184 * kSector;
  // Offsets in 8-byte units: list k at (k-1)*2, the end list at 6.
  const uint16_t prev[3] = {0xFFFF, 0, 2}, next[3] = {2, 4, 6};
  for (int k = 0; k < 3; ++k) {
    const uint8_t* list = At(image, psd + 16 * size_t(k));
    EXPECT_EQ(bytes::BE16(list + 2), k + 1) << "list id";
    EXPECT_EQ(bytes::BE16(list + 4), prev[k]) << "previous of list " << k + 1;
    EXPECT_EQ(bytes::BE16(list + 6), next[k]) << "next of list " << k + 1;
    EXPECT_EQ(bytes::BE16(list + 8), 6) << "return goes to the end list";
    // The LOT points at the same place.
    EXPECT_EQ(bytes::BE16(At(image, 152 * kSector + 2 + 2 * size_t(k))), 2 * k);
  }
  EXPECT_EQ(uint8_t(image[psd + 48]), 0x1F);
  // The end list has no id: the LOT lists the three lists and no fourth,
  // and the information file names 3 as the highest id.
  EXPECT_EQ(bytes::BE16(At(image, 152 * kSector + 8)), 0xFFFFu);
  EXPECT_EQ(bytes::BE16(At(image, 150 * kSector + 52)), 3u);
}

TEST(VcdLayout, DatItemsCountRawSectorsAndUnreadableItemsAreRefusedByName) {
  ScratchFolder dir;
  // 44-byte header, ten whole raw sectors and one started: 11 sectors.
  const std::string dat = dir.Write("MUSIC01.dat", Bytes(44 + 2352 * 10 + 1));
  const std::string mpg = dir.Write("x.mpg", Bytes(2324 * 10 + 1));
  CVCDFile vcd;
  ASSERT_TRUE(vcd.Prepare("VCD", 2, {dat, mpg})) << vcd.LastError();
  EXPECT_EQ(vcd.GetTrackSectors(1), 11 + 90);
  EXPECT_EQ(vcd.GetTrackSectors(2), 11 + 90);
  EXPECT_EQ(vcd.GetTrackStart(2), 1251 + 101 + 151);

  const std::string gone = dir / "gone.mpg";
  CVCDFile refused;
  EXPECT_FALSE(refused.Prepare("VCD", 2, {mpg, gone}));
  EXPECT_NE(refused.LastError().find(gone), std::string::npos) << refused.LastError();
  EXPECT_TRUE(refused.GetControlImage().empty()) << "no control image from a refused layout";
  EXPECT_FALSE(refused.Prepare("VCD", 1, {dir.Write("empty.mpg", "")})) << "an empty file is no track";
  EXPECT_FALSE(refused.Prepare("VCD", 1, {dir.path()})) << "a folder is no track";
}

TEST(VcdLayout, ManyTracksKeepEveryDirectoryRecordInsideOneSector) {
  ScratchFolder dir;
  std::vector<std::string> items;
  for (int i = 0; i < 40; ++i) items.push_back(dir.Write("t" + std::to_string(i) + ".mpg", "x"));
  CVCDFile vcd;
  ASSERT_TRUE(vcd.Prepare("VCD", 40, items)) << vcd.LastError();
  const std::string image = ReadWholeFile(vcd.GetControlImage());
  // 32 records fill sector 100 after "." and ".."; the 33rd opens sector 101.
  EXPECT_EQ(image.substr(0x32060 + 31 * 60 + 33, 13), "AVSEQ32.DAT;1");
  EXPECT_EQ(image[0x32060 + 32 * 60], 0) << "the rest of sector 100 stays empty";
  EXPECT_EQ(image.substr(101 * kSector + 33, 13), "AVSEQ33.DAT;1");
  CommandResult r = RunCommand("isoinfo -i " + Quoted(vcd.GetControlImage()) + " -f");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("/MPEGAV/AVSEQ40.DAT;1"), std::string::npos) << r.output;
}

TEST(VcdLayout, SuperVideoCdControlTrackIsPaddedToTheShortestTrackAndListsItsTracks) {
  ScratchFolder dir;
  const std::vector<std::string> items{dir.Write("a.mpg", Bytes(2324 * 750)), dir.Write("b.mpg", Bytes(2324 * 75))};
  CSVCDFile svcd;
  ASSERT_TRUE(svcd.Prepare("SVCD", 2, items)) << svcd.LastError();
  // The control track is four seconds (300 sectors), then the gap of 151.
  EXPECT_EQ(svcd.GetControlSectors(), 300);
  EXPECT_EQ(svcd.GetTrackStart(1), 451);
  EXPECT_EQ(svcd.GetDiscEnd(), 451 + 840 + 151 + 165);
  const std::string image = ReadWholeFile(svcd.GetControlImage());
  ASSERT_EQ(image.size(), 300u * kSector);
  EXPECT_EQ(image.substr(187 * kSector), std::string(113 * kSector, '\0')) << "the padding is empty";
  // A first track that would shorten the control track again is refused.
  CSVCDFile early;
  early.SetFirstTrackStart(364);
  EXPECT_FALSE(early.Prepare("SVCD", 2, items));
  EXPECT_NE(early.LastError().find("before sector 451"), std::string::npos) << early.LastError();
  EXPECT_EQ(image.substr(150 * kSector, 8), "SUPERVCD");
  EXPECT_EQ(image.substr(151 * kSector, 8), "ENTRYVCD");
  EXPECT_EQ(image[151 * kSector + 8], 1) << "Super Video CD 1.0";
  EXPECT_EQ(image.substr(0x32060 + 33, 13), "AVSEQ01.MPG;1");
  EXPECT_EQ(bytes::LE32(At(image, 47384)), 40u);
  // TRACKS.SVD: two tracks, 10 s and 1 s at 75 sectors a second.
  const size_t tracks = 186 * kSector;
  EXPECT_EQ(image.substr(tracks, 8), "TRACKSVD");
  EXPECT_EQ(image[tracks + 10], 2);
  EXPECT_EQ(image.substr(tracks + 11, 6), std::string("\x00\x10\x00\x00\x01\x00", 6));

  CommandResult r = RunCommand("isoinfo -i " + Quoted(svcd.GetControlImage()) + " -f");
  ASSERT_EQ(r.status, 0) << r.output;
  for (const char* want : {"/SVCD/PSD.SVD;1", "/SVCD/TRACKS.SVD;1", "/SVCD/SEARCH.DAT;1", "/MPEG2/AVSEQ02.MPG;1",
                           "/CDI", "/EXT", "/SEGMENT"})
    EXPECT_NE(r.output.find(want), std::string::npos) << want << " missing in\n" << r.output;
}

TEST(VcdLayout, AMissingOrShortTemplateIsReported) {
  ScratchFolder dir;
  const std::string item = dir.Write("a.mpg", "x");
  CVCDFile vcd;
  vcd.SetResourceFolder(dir.path() + "/");
  EXPECT_FALSE(vcd.Prepare("VCD", 1, {item}));
  EXPECT_NE(vcd.LastError().find("resource missing"), std::string::npos) << vcd.LastError();
  dir.Write("2000.dat", Bytes(100 * kSector, 0));
  EXPECT_FALSE(vcd.Prepare("VCD", 1, {item}));
  EXPECT_NE(vcd.LastError().find("damaged"), std::string::npos) << vcd.LastError();
}

namespace {

// An MPEG stream that starts with a sequence header of the given frame rate
// code (3: 25 a second, PAL; 4: 29.97 a second, NTSC) after some padding.
std::string StreamAt(int rateCode) {
  std::string s(5000, '\xFF');
  const char header[] = {0, 0, 1, char(0xB3), 0x16, 0x01, 0x20, char(0x30 | rateCode)};
  s.replace(1000, sizeof header, header, sizeof header);
  return s;
}

}  // namespace

TEST(VcdLayout, PalFlagsFollowEachItemsStreamAndTheChosenSystemForTheRest) {
  ScratchFolder dir;
  std::vector<std::string> items{dir.Write("pal.mpg", StreamAt(3)), dir.Write("ntsc.mpg", StreamAt(4))};
  for (int i = 0; i < 8; ++i) items.push_back(dir.Write("plain" + std::to_string(i) + ".mpg", Bytes(5000)));
  const size_t flags = 150 * kSector + 30;
  for (bool svcd : {false, true}) {
    SCOPED_TRACE(svcd ? "Super Video CD" : "Video CD");
    for (bool pal : {true, false}) {
      std::unique_ptr<CVCDFile> layout = svcd ? std::make_unique<CSVCDFile>() : std::make_unique<CVCDFile>();
      layout->SetPal(pal);
      ASSERT_TRUE(layout->Prepare("V", int(items.size()), items)) << layout->LastError();
      const std::string image = ReadWholeFile(layout->GetControlImage());
      // Item 1 says PAL, item 2 NTSC; items 3 to 10 say nothing and go by the choice.
      EXPECT_EQ(uint8_t(image[flags]), pal ? 0xFD : 0x01);
      EXPECT_EQ(uint8_t(image[flags + 1]), pal ? 0x03 : 0x00);
      EXPECT_EQ(image.substr(flags + 2, 11), std::string(11, '\0')) << "no flags beyond the tenth track";
    }
  }
}
