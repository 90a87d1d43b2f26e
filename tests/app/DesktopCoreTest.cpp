// The plain parts behind the desktop windows: the hand-over messages, the
// virtual recorders the windows burn on, the speed list and the image view.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "BurnCtrl/Results.h"
#include "app/HandOver.h"
#include "app/ImageTracks.h"
#include "foundation/LangText.h"
#include "foundation/ProfileIni.h"
#include "app/SpeedList.h"
#include "support/VirtualRecorders.h"
#include "app/CommandLayerRecorders.h"
#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/interfaces/KestrineRecorder.h"
#include "DevDeque.h"
#include "VirtualRecorder.h"
#include "authoring/CFileManager.h"
#include "support/TestFolders.h"

namespace {

int State(const std::string& file, const char* key) { return ini::GetInt(file, "Disc", key, -1); }
void Set(const std::string& file, const char* key, const std::string& v) { ini::WriteString(file, "Disc", key, v); }

}  // namespace

TEST(HandOver, RoundTripsMessagesThatArriveInPieces) {
  std::string stream = handover::Encode(102, "/home/a b/ü.txt") + handover::Encode(103, "/x");
  std::string buffer;
  uint32_t command = 0;
  std::string path;
  // Byte by byte: nothing is decoded before a message is complete.
  size_t i = 0;
  for (; i < 10; ++i) {
    buffer += stream[i];
    ASSERT_EQ(handover::Decode(&buffer, &command, &path), 0) << "after " << i + 1 << " bytes";
  }
  buffer += stream.substr(i);
  ASSERT_EQ(handover::Decode(&buffer, &command, &path), 1);
  EXPECT_EQ(command, 102u);
  EXPECT_EQ(path, "/home/a b/ü.txt");
  ASSERT_EQ(handover::Decode(&buffer, &command, &path), 1);
  EXPECT_EQ(command, 103u);
  EXPECT_EQ(path, "/x");
  EXPECT_TRUE(buffer.empty());
}

TEST(HandOver, RefusesLengthsAndBytesThatCannotBeAPath) {
  uint32_t command;
  std::string path;
  std::string empty = handover::Encode(102, "");
  EXPECT_EQ(handover::Decode(&empty, &command, &path), -1);
  std::string huge = std::string("\x66\0\0\0", 4) + std::string("\x01\x00\x01\x00", 4);  // 65537 bytes
  EXPECT_EQ(handover::Decode(&huge, &command, &path), -1);
  std::string zero = handover::Encode(102, std::string("a\0b", 3));
  EXPECT_EQ(handover::Decode(&zero, &command, &path), -1);
}

TEST(DriveEntries, LetterGivesTheIndexAndMediaHaveTheirNames) {
  EXPECT_EQ(DriveIndexOfEntry("D: VARNEX Virtual"), 3);
  EXPECT_EQ(DriveIndexOfEntry("z: x"), 25);
  EXPECT_EQ(DriveIndexOfEntry("[Image file]"), -1);
  EXPECT_EQ(DriveIndexOfEntry("D"), -1);
  EXPECT_EQ(MediumName(4884), "DVD-RW");
  EXPECT_EQ(MediumName(66), "BD-R");
  EXPECT_EQ(MediumName(12345), "");
  EXPECT_TRUE(medium::IsErasable(medium::kBdRe));
  EXPECT_FALSE(medium::IsErasable(medium::kDvdPlusR));
}

TEST(VirtualRecorders, AppendsSessionsUntilTheDiscIsClosed) {
  ScratchFolder dir;
  dir.Write("project/a.txt", std::string(5000, 'a'));
  VirtualRecorders recorders;
  const std::string state = dir / "disc.vdisc";
  int drive = recorders.AddRecorder(state, medium::kCdR);
  ASSERT_EQ(drive, 3);
  ASSERT_EQ(recorders.Drives().size(), 1u);

  // The staging folder of a data project with one file.
  const std::string root = dir.Mkdir("staging");
  CFileManager manager;
  manager.SetStagingRoot(root);
  ASSERT_TRUE(manager.AddPath(nullptr, nullptr, dir / "project/a.txt", root));

  DiscInfo info;
  ASSERT_EQ(recorders.GetDiscInfoEx(3, &info), result::kSuccess);
  EXPECT_TRUE(info.blank);
  ASSERT_EQ(recorders.WriteCd(3, root, "FIRST", true, false), result::kSuccess);
  const int first = State(state, "Used");
  EXPECT_GT(first, 16);
  EXPECT_EQ(recorders.GetDriveProgress(3), 100);
  ASSERT_EQ(recorders.GetDiscInfoEx(3, &info), result::kSuccess);
  EXPECT_FALSE(info.blank);
  EXPECT_TRUE(info.writable);

  ASSERT_EQ(recorders.WriteCd(3, root, "SECOND", false, false), result::kSuccess);
  EXPECT_GT(State(state, "Used"), first);
  EXPECT_EQ(State(state, "Closed"), 1);
  // The second session's volume starts where the first one ended.
  std::string data = ReadWholeFile(state + ".data");
  ASSERT_GE(data.size(), size_t(first + 17) * 2048);
  EXPECT_EQ(data.substr(size_t(first + 16) * 2048 + 1, 5), "CD001");

  EXPECT_EQ(recorders.WriteCd(3, root, "THIRD", false, false), result::kDoesNotFit);
  EXPECT_EQ(recorders.BlankDisc(3), result::kCannotErase);  // a CD-R
}

TEST(VirtualRecorders, FaultsTraysAndErasing) {
  ScratchFolder dir;
  dir.Write("f.txt", "x");
  const std::string root = dir.Mkdir("staging");
  CFileManager manager;
  manager.SetStagingRoot(root);
  ASSERT_TRUE(manager.AddPath(nullptr, nullptr, dir / "f.txt", root));
  VirtualRecorders recorders;
  const std::string state = dir / "rw.vdisc";
  recorders.AddRecorder(state, medium::kCdRw);

  Set(state, "FailWrite", "2");
  EXPECT_EQ(recorders.WriteCd(3, root, "A", true, false), result::kSuccess);
  EXPECT_EQ(recorders.WriteCd(3, root, "B", true, false), result::kWriteFailed);
  EXPECT_EQ(recorders.WriteCd(3, root, "C", true, false), result::kSuccess);

  Set(state, "NotReady", "2");
  EXPECT_NE(recorders.TestUnitReady(3), 0);
  EXPECT_NE(recorders.TestUnitReady(3), 0);
  EXPECT_EQ(recorders.TestUnitReady(3), 0);

  recorders.Eject(3, true);
  EXPECT_NE(recorders.TestUnitReady(3), 0);
  DiscInfo info;
  EXPECT_EQ(recorders.GetDiscInfoEx(3, &info), result::kNotReady);
  EXPECT_EQ(recorders.WriteCd(3, root, "D", true, false), result::kNotReady);
  recorders.Eject(3, false);

  EXPECT_EQ(recorders.BlankDisc(3), result::kSuccess);
  ASSERT_EQ(recorders.GetDiscInfoEx(3, &info), result::kSuccess);
  EXPECT_TRUE(info.blank);
  EXPECT_EQ(ReadWholeFile(state + ".data").size(), 0u);

  // With a stand-by user the opened tray comes back with a blank disc.
  recorders.WriteCd(3, root, "E", false, false);
  Set(state, "ReloadBlank", "1");
  recorders.Eject(3, true);
  EXPECT_NE(recorders.TestUnitReady(3), 0);
  EXPECT_EQ(recorders.TestUnitReady(3), 0);
  ASSERT_EQ(recorders.GetDiscInfoEx(3, &info), result::kSuccess);
  EXPECT_TRUE(info.blank);
}

TEST(VirtualRecorders, DamagedArgumentsAndStateFilesAreRefused) {
  ScratchFolder dir;
  VirtualRecorders recorders;
  EXPECT_EQ(recorders.AddRecorder(""), -1);
  EXPECT_EQ(recorders.AddRecorder(dir.path()), -1);  // a folder, not a state file
  EXPECT_EQ(recorders.AddRecorderFromArgument("virtual:" + (dir / "x.vdisc") + ":dvd+rw"), 3);
  DiscInfo info;
  ASSERT_EQ(recorders.GetDiscInfoEx(3, &info), result::kSuccess);
  EXPECT_EQ(info.mediumType, medium::kDvdPlusRw);
  EXPECT_EQ(recorders.GetDiscInfoEx(9, &info), result::kNoSuchDrive);
  EXPECT_EQ(recorders.WriteImageToCD(3, dir / "missing.iso", false), result::kSourceMissing);
}

TEST(SpeedList, FactorsFollowTheDriveOrTheFallbacks) {
  ScratchFolder dir;
  VirtualRecorders recorders;
  const std::string cd = dir / "cd.vdisc", dvd = dir / "dvd.vdisc", odd = dir / "odd.vdisc";
  recorders.AddRecorder(cd, medium::kCdR);
  recorders.AddRecorder(dvd, medium::kDvdR);
  recorders.AddRecorder(odd, medium::kCdR);
  Set(cd, "Speeds", "none");
  Set(dvd, "Speeds", "5540,2770");
  Set(odd, "Speeds", "176,528,7040,17776,17952");  // 1X, 3X, 40X, 101X, 102X
  int unit = 0;
  EXPECT_EQ(WriteSpeedFactors(recorders, 3, &unit), (std::vector<int>{4, 8, 12}));
  EXPECT_EQ(unit, kCdUnitSpeed);
  EXPECT_EQ(WriteSpeedFactors(recorders, 4, &unit), (std::vector<int>{2, 4}));
  EXPECT_EQ(unit, kDvdUnitSpeed);
  EXPECT_EQ(WriteSpeedFactors(recorders, 5, &unit), (std::vector<int>{40}));
  Set(dvd, "Speeds", "none");
  EXPECT_EQ(WriteSpeedFactors(recorders, 4, &unit), (std::vector<int>{1}));
  EXPECT_TRUE(WriteSpeedFactors(recorders, 0, &unit).empty());  // the image device
  // A pressed CD is still a CD: its speeds count in CD units.
  const std::string pressed = dir / "pressed.vdisc";
  const int pressedDrive = recorders.AddRecorder(pressed, medium::kCdRom);
  WriteSpeedFactors(recorders, uint8_t(pressedDrive), &unit);
  EXPECT_EQ(unit, kCdUnitSpeed);
}

TEST(ImageView, ReadsTracksAndFoldersAndSurvivesDamage) {
  ScratchFolder dir;
  dir.Write("src/Docs/a.txt", "alpha");
  dir.Write("src/top.txt", "top");
  const std::string root = dir.Mkdir("staging");
  CFileManager manager;
  manager.SetStagingRoot(root);
  ASSERT_TRUE(manager.AddPath(nullptr, nullptr, dir / "src/Docs", root));
  ASSERT_TRUE(manager.AddPath(nullptr, nullptr, dir / "src/top.txt", root));
  VirtualRecorders recorders;
  const std::string iso = dir / "out.iso";
  ASSERT_EQ(recorders.SetImageFile(0, iso), result::kSuccess);
  ASSERT_EQ(recorders.WriteCd(0, root, "VIEW", false, false), result::kSuccess);

  std::vector<ImageTrack> tracks;
  std::string error;
  ASSERT_TRUE(ReadImageTracks(iso, &tracks, &error));
  ASSERT_EQ(tracks.size(), 1u);
  EXPECT_TRUE(tracks[0].iso);
  EXPECT_FALSE(tracks[0].audio);
  std::vector<ImageDirEntry> entries;
  ASSERT_TRUE(ListIsoFolder(iso, "/", &entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "Docs");
  EXPECT_TRUE(entries[0].folder);
  ASSERT_TRUE(ListIsoFolder(iso, "/docs", &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "a.txt");
  EXPECT_EQ(entries[0].size, 5u);
  EXPECT_FALSE(ListIsoFolder(iso, "/nothing", &entries));

  // Cut short, or with a root folder pointing past the end: refused, no crash.
  std::string bytes = ReadWholeFile(iso);
  std::ofstream(dir / "short.iso", std::ios::binary) << bytes.substr(0, 20 * 2048);
  EXPECT_FALSE(ListIsoFolder(dir / "short.iso", "/", &entries));
  std::string bad = bytes;
  bad[16 * 2048 + 156 + 10] = '\xff';
  bad[16 * 2048 + 156 + 11] = '\xff';
  bad[16 * 2048 + 156 + 12] = '\xff';
  std::ofstream(dir / "bad.iso", std::ios::binary) << bad;
  EXPECT_FALSE(ListIsoFolder(dir / "bad.iso", "/", &entries));
  std::ofstream(dir / "tiny.iso", std::ios::binary) << "not an image";
  EXPECT_FALSE(ReadImageTracks(dir / "tiny.iso", &tracks, &error));
  EXPECT_FALSE(error.empty());
}

// The command layer behind the same interface: a virtual recorder of the
// device library, burnt and read back through the calls the windows make.
TEST(CommandLayerRecorders, BurnsAndErasesThroughTheCommandLayer) {
  ScratchFolder dir;
  const std::string state = dir / "layer.vdisc";
  std::string error;
  ASSERT_TRUE(VirtualRecorder::Create(state, "cd-rw", &error)) << error;
  const int index = FirstFreeRecorderIndex(3);
  std::unique_ptr<CDevCmdRW> dev = DevDeque::OpenDrive("virtual:" + state, index, &error);
  ASSERT_TRUE(dev) << error;
  AddRecorder(std::make_shared<KestrineRecorder>(std::move(dev)));
  CommandLayerRecorders layer;
  const uint8_t drive = uint8_t(index);
  bool listed = false;
  for (const DriveEntry& e : layer.Drives())
    if (e.index == drive) listed = e.recorder && DriveIndexOfEntry(e.text) == index;
  EXPECT_TRUE(listed);

  dir.Write("src/a.txt", std::string(3000, 'a'));
  const std::string root = dir.Mkdir("staging");
  CFileManager manager;
  manager.SetStagingRoot(root);
  ASSERT_TRUE(manager.AddPath(nullptr, nullptr, dir / "src/a.txt", root));

  ASSERT_EQ(layer.TestUnitReady(drive), 0);
  DiscInfo info;
  ASSERT_EQ(layer.GetDiscInfoEx(drive, &info), result::kSuccess);
  EXPECT_EQ(info.mediumType, medium::kCdRw);
  EXPECT_TRUE(info.blank);
  std::vector<int> speeds;
  int current = 0;
  EXPECT_TRUE(layer.ReadWriteSpeeds(drive, &speeds, &current));
  // The virtual CD recorder lists 48x down to 4x (in kB/s, 176 per x).
  EXPECT_EQ(speeds, (std::vector<int>{8448, 7040, 5632, 4224, 2816, 1408, 704}));
  EXPECT_NE(std::find(speeds.begin(), speeds.end(), current), speeds.end()) << "current speed " << current;
  EXPECT_FALSE(WriteSpeedFactors(layer, drive, nullptr).empty());

  ASSERT_EQ(layer.WriteCd(drive, root, "LAYER", true, false), result::kSuccess);
  ASSERT_EQ(layer.GetDiscInfoEx(drive, &info), result::kSuccess);
  EXPECT_FALSE(info.blank);
  EXPECT_TRUE(info.writable);
  layer.ResetBurn(drive);
  ASSERT_EQ(layer.BlankDisc(drive), result::kSuccess);
  ASSERT_EQ(layer.GetDiscInfoEx(drive, &info), result::kSuccess);
  EXPECT_TRUE(info.blank);

  // The image target takes a data project as an ISO 9660 file.
  const std::string iso = dir / "layer.iso";
  ASSERT_EQ(layer.SetImageFile(0, iso), result::kSuccess);
  ASSERT_EQ(layer.WriteCd(0, root, "IMAGE", false, false), result::kSuccess);
  std::vector<ImageDirEntry> entries;
  ASSERT_TRUE(ListIsoFolder(iso, "/", &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "a.txt");
  RemoveRecorder(index);
  RemoveRecorder(0);

  // "virtual:PATH:MEDIUM" makes the disc when it is not there yet.
  ASSERT_TRUE(OpenVirtualRecorder("virtual:" + (dir / "made.vdisc") + ":dvd+rw", &error)) << error;
  const int made = FirstFreeRecorderIndex(3) - 1;
  ASSERT_EQ(layer.GetDiscInfoEx(uint8_t(made), &info), result::kSuccess);
  EXPECT_EQ(info.mediumType, medium::kDvdPlusRw);
  RemoveRecorder(made);
  EXPECT_FALSE(OpenVirtualRecorder("virtual:", &error));
}

// A BD-R whose burn broke off is unfinished: not blank, not writable, no
// room, and on it only what was written before the break (not the whole
// disc, which its open track would otherwise claim).
TEST(CommandLayerRecorders, ADiscABrokenBurnLeftOpenIsUnfinished) {
  ScratchFolder dir;
  const std::string state = dir / "broken.vdisc";
  std::string error;
  ASSERT_TRUE(VirtualRecorder::Create(state, "bd-r", &error)) << error;
  std::ofstream(state, std::ios::app) << "fault-write 3 1000 3 12 0 0\n";  // every write from the third fails
  ASSERT_TRUE(OpenVirtualRecorder("virtual:" + state, &error)) << error;
  const int drive = FirstFreeRecorderIndex(3) - 1;
  dir.Write("src/a.txt", std::string(300000, 'a'));
  const std::string root = dir.Mkdir("staging");
  CFileManager manager;
  manager.SetStagingRoot(root);
  ASSERT_TRUE(manager.AddPath(nullptr, nullptr, dir / "src/a.txt", root));
  CommandLayerRecorders layer;
  EXPECT_NE(layer.WriteCd(uint8_t(drive), root, "BROKEN", false, false), result::kSuccess);
  layer.ResetBurn(uint8_t(drive));
  DiscInfo info;
  ASSERT_EQ(layer.GetDiscInfoEx(uint8_t(drive), &info), result::kSuccess);
  EXPECT_EQ(info.state, medium::DiscState::kUnfinished);
  EXPECT_FALSE(info.blank);
  EXPECT_FALSE(info.writable);
  EXPECT_EQ(info.freeBytes, 0u);
  EXPECT_LT(info.usedBytes, uint64_t(64) << 20) << info.usedBytes;
  EXPECT_EQ(DiscRefusal(info), LoadErrorText(result::kSessionUnfinished));
  RemoveRecorder(drive);
}

#include <cstdlib>

#include "BurnCtrl/interfaces/RegisteredDrives.h"

// The window's poll sees recorders that were registered or removed while it runs.
TEST(CommandLayerRecorders, FollowsDrivesThatComeAndGo) {
  ScratchFolder dir;
  const char* old = std::getenv("VARNEX_PROGRAM_DIR");
  std::string saved = old ? old : "";
  setenv("VARNEX_PROGRAM_DIR", dir.path().c_str(), 1);  // the settings go to the scratch folder
  std::string error;
  ASSERT_TRUE(VirtualRecorder::Create(dir / "first.vdisc", "cd-r", &error)) << error;
  ASSERT_TRUE(VirtualRecorder::Create(dir / "second.vdisc", "dvd+r", &error)) << error;
  ASSERT_TRUE(RegisterDrive("virtual:" + (dir / "first.vdisc"), &error)) << error;

  auto listed = [](const std::vector<DriveEntry>& drives, const std::string& name) {
    for (const DriveEntry& e : drives)
      if (e.text.find(name) != std::string::npos) return true;
    return false;
  };
  CommandLayerRecorders layer;
  EXPECT_TRUE(listed(layer.Drives(), "first.vdisc"));
  ASSERT_TRUE(RegisterDrive("virtual:" + (dir / "second.vdisc"), &error)) << error;
  std::vector<DriveEntry> both = layer.Drives();
  EXPECT_TRUE(listed(both, "first.vdisc"));
  EXPECT_TRUE(listed(both, "second.vdisc"));
  ASSERT_TRUE(UnregisterDrive("virtual:" + (dir / "first.vdisc"), &error)) << error;
  std::vector<DriveEntry> after = layer.Drives();
  EXPECT_FALSE(listed(after, "first.vdisc"));
  ASSERT_TRUE(listed(after, "second.vdisc"));
  for (const DriveEntry& e : after) {
    if (e.text.find("second.vdisc") == std::string::npos) continue;
    DiscInfo info;
    EXPECT_EQ(layer.GetDiscInfoEx(e.index, &info), result::kSuccess);  // the moved drive answers
  }
  ASSERT_TRUE(UnregisterDrive("virtual:" + (dir / "second.vdisc"), &error));
  layer.Drives();
  if (old) setenv("VARNEX_PROGRAM_DIR", saved.c_str(), 1);
  else unsetenv("VARNEX_PROGRAM_DIR");
}

// ---- sizes and the burn's speed

#include "app/BurnRate.h"
#include "foundation/SizeText.h"

TEST(SizeText, CarriesAUnitWithThreeDigits) {
  EXPECT_EQ(FormatSize(0), "0 B");
  EXPECT_EQ(FormatSize(1023), "1023 B");
  EXPECT_EQ(FormatSize(1024), "1.00 KB");
  EXPECT_EQ(FormatSize(512 * 1024), "512 KB");
  EXPECT_EQ(FormatSize(uint64_t(359847) * 2048), "703 MB");
  EXPECT_EQ(FormatSize(uint64_t(2295104) * 2048), "4.38 GB");
  EXPECT_EQ(FormatSize(12900000), "12.3 MB");
}

TEST(BurnRate, SpeedAndTimeLeftFromTimedReadings) {
  BurnRate rate;
  EXPECT_EQ(rate.BytesPerSecond(), 0);
  EXPECT_EQ(rate.SecondsLeft(1000), -1);
  rate.Add(0, 0);
  rate.Add(500, 0);
  EXPECT_EQ(rate.SecondsLeft(1000), -1) << "nothing written yet";
  rate.Add(1000, 1'000'000);
  EXPECT_DOUBLE_EQ(rate.BytesPerSecond(), 1'000'000.0);
  EXPECT_EQ(rate.SecondsLeft(10'000'000), 9);
  // Only the latest readings count: a drive that speeds up shows it.
  for (int64_t t = 2000; t <= 10000; t += 1000) rate.Add(t, 1'000'000 + uint64_t(t - 1000) * 4);
  EXPECT_NEAR(rate.BytesPerSecond(), 4000.0, 1e-9);
  // A count that goes back (the next copy) starts afresh.
  rate.Add(11000, 10);
  EXPECT_EQ(rate.BytesPerSecond(), 0);
  EXPECT_EQ(rate.SecondsLeft(100), -1);
}

TEST(BurnRate, OneTimesIsTheMediumsOwnSpeed) {
  EXPECT_DOUBLE_EQ(UnitSpeed(medium::kCdR), 153600.0);
  EXPECT_DOUBLE_EQ(UnitSpeed(medium::kDvdPlusR), 1385000.0);
  EXPECT_DOUBLE_EQ(UnitSpeed(medium::kBdRe), 4500000.0);
  // The family decides, whatever the recording mode or density.
  EXPECT_DOUBLE_EQ(UnitSpeed(medium::kDdcdR), 153600.0);
  EXPECT_DOUBLE_EQ(UnitSpeed(medium::kBdRRrm), 4500000.0);
  EXPECT_DOUBLE_EQ(UnitSpeed(medium::kDvdRwUnknown), 1385000.0);
}
