// Images made by other programs, burnt onto virtual CD-Rs: the disc comes out
// as the image describes it (modes, flags, pre-gaps, addresses), checked by
// exporting it again and by the peers that read Video CDs and cue sheets.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <sstream>

#include "BurnCtrl/Results.h"
#include "BurnCtrl/interfaces/KestrineRecorder.h"
#include "BurnTestSupport.h"
#include "ByteFields.h"
#include "DevDeque.h"
#include "VirtualRecorder.h"

namespace {

constexpr int kIndex = 5;

struct BlankCd {
  std::string state;
  std::shared_ptr<KestrineRecorder> rec;
  explicit BlankCd(const ScratchFolder& dir) : state(dir / "cd-r.vdisc") {
    std::string error;
    EXPECT_TRUE(VirtualRecorder::Create(state, "cd-r", &error)) << error;
    auto dev = DevDeque::OpenDrive("virtual:" + state, kIndex, &error);
    EXPECT_TRUE(dev) << error;
    rec = std::make_shared<KestrineRecorder>(std::move(dev));
    AddRecorder(rec);
  }
  ~BlankCd() {
    ResetBurn(kIndex);
    RemoveRecorder(kIndex);
  }
  bool Blank() const {
    rec::DiscInfo di;
    return rec->ReadDiscInfo(di) == 0 && di.discStatus == 0;
  }
  // The disc as BIN and CUE.
  std::string ExportCue(const ScratchFolder& dir) const {
    VirtualRecorder v;
    std::string error, cue = dir / "export.cue";
    EXPECT_TRUE(v.Open(state, &error)) << error;
    EXPECT_TRUE(v.ExportBinCue(cue, &error)) << error;
    return cue;
  }
  uint32_t TrackStart(int track) const {
    rec::TrackInfo ti;
    EXPECT_EQ(rec->ReadTrackInfo(track, ti), 0u);
    return ti.trackStart;
  }
};

// Sector `lba` of a raw BIN.
std::string RawSector(const std::string& bin, int32_t lba) { return bin.substr(size_t(lba) * 2352, 2352); }

// A Video CD (or Super Video CD) of two short clips, as vcdimager writes it.
std::string MakeVideoCdImage(const ScratchFolder& dir, const std::string& kind) {
  const bool svcd = kind == "svcd";
  const std::string size = svcd ? "480x576" : "352x288";
  for (int i = 1; i <= 2; ++i) {
    int st = 0;
    std::string log = RunTool("ffmpeg -loglevel error -y -f lavfi -i testsrc=size=" + size +
                                  ":rate=25 -f lavfi -i sine=frequency=" + std::to_string(300 * i) + " -t " +
                                  std::to_string(i + 1) + " -target pal-" + kind + " " + (dir / ("c" + std::to_string(i) + ".mpg")),
                              &st);
    EXPECT_EQ(st, 0) << log;
  }
  int st = 0;
  std::string log = RunTool("cd " + dir.path() + " && vcdimager -t " + (svcd ? "svcd" : "vcd2") +
                                " -c vi.cue -b vi.bin c1.mpg c2.mpg",
                            &st);
  EXPECT_EQ(st, 0) << log;
  return dir / "vi.cue";
}

// The INDEX 00 and INDEX 01 addresses of each track of a sheet.
std::vector<std::pair<int32_t, int32_t>> SheetIndexes(const std::string& cue) {
  std::vector<std::pair<int32_t, int32_t>> out;
  std::istringstream in(ReadWholeFile(cue));
  std::string word;
  while (in >> word) {
    if (word == "TRACK") out.push_back({-1, -1});
    if (word != "INDEX" || out.empty()) continue;
    int n, m, s, f;
    char c;
    in >> n >> m >> c >> s >> c >> f;
    (n == 0 ? out.back().first : out.back().second) = (m * 60 + s) * 75 + f;
  }
  for (auto& [gap, start] : out)
    if (gap < 0) gap = start;
  return out;
}

// An NRG image (version 1, disc-at-once, 2336-byte Mode 2 sectors) of a raw
// Mode 2 BIN that leaves the pre-gaps out, as such images do; its cue chunk
// keeps every address in BCD minutes, seconds and frames.
std::string BuildNrgWithoutPregaps(const std::string& bin, const std::vector<std::pair<int32_t, int32_t>>& tracks) {
  const int32_t total = int32_t(bin.size() / 2352);
  std::string data, dao;
  auto be32 = [](uint32_t v) {
    std::string s(4, 0);
    bytes::PutBE32(reinterpret_cast<uint8_t*>(&s[0]), v);
    return s;
  };
  auto bcd = [](int v) { return char(((v / 10) << 4) | (v % 10)); };
  auto msf = [&](int32_t lba) {
    const int32_t a = lba + 150;
    return std::string{0, bcd(a / 4500), bcd((a / 75) % 60), bcd(a % 75)};
  };
  std::string cues = std::string{0x41, 0, 0, 0} + msf(-150);
  for (size_t i = 0; i < tracks.size(); ++i) {
    const int32_t end = i + 1 < tracks.size() ? tracks[i + 1].first : total;
    const uint32_t at = uint32_t(data.size());
    for (int32_t l = tracks[i].second; l < end; ++l) data += bin.substr(size_t(l) * 2352 + 16, 2336);
    dao += std::string(12, '\0') + std::string{0x09, 0x20, 0x03, 0, 0, 0} + be32(at) + be32(at) + be32(uint32_t(data.size()));
    const char t = bcd(int(i) + 1);
    cues += std::string{0x41, t, 0, 0} + msf(i == 0 ? -150 : tracks[i].first);
    cues += std::string{0x41, t, 1, 0} + msf(tracks[i].second);
  }
  cues += std::string{0x41, char(0xAA), 1, 0} + msf(total);
  const std::string head = be32(uint32_t(22 + dao.size())) + std::string(16, '\0') + std::string{1, char(tracks.size())};
  const uint32_t chunks = uint32_t(data.size());
  std::string out = data;
  out += "CUES" + be32(uint32_t(cues.size())) + cues;
  out += "DAOI" + be32(uint32_t(head.size() + dao.size())) + head + dao;
  out += "SINF" + be32(4) + be32(uint32_t(tracks.size()));
  out += "END!" + be32(0);
  out += "NERO" + be32(chunks);
  return out;
}

}  // namespace

// A Video CD image of the usual authoring tool (MODE2/2352, FLAGS DCP, INDEX
// 00 pre-gaps) comes back off the disc byte for byte, and its reader lists
// the entries where the image has them.
// A stop asked while nothing ran belonged to the drive's last job: the next
// image written a session at once goes ahead instead of calling the drive
// "not ready".
TEST(ImageBurn, AStopLeftFromTheLastJobDoesNotRefuseTheNextImage) {
  ScratchFolder dir;
  const std::string cue = MakeVideoCdImage(dir, "vcd");
  BlankCd cd(dir);
  ASSERT_EQ(AbortWrite(kIndex), result::kSuccess);
  AbortWrite();
  EXPECT_EQ(WriteImageToCD(kIndex, cue, false), result::kSuccess) << LastJobError(kIndex);
  EXPECT_FALSE(cd.Blank());
}

TEST(ImageBurn, AVideoCdImageIsWrittenAsItStandsAndReadsAsAVideoCd) {
  ScratchFolder dir;
  const std::string cue = MakeVideoCdImage(dir, "vcd");
  BlankCd cd(dir);
  ASSERT_EQ(WriteImageToCD(kIndex, cue, false), result::kSuccess) << LastJobError(kIndex);
  const auto indexes = SheetIndexes(cue);
  ASSERT_EQ(indexes.size(), 3u);
  for (size_t i = 0; i < indexes.size(); ++i)
    EXPECT_EQ(cd.TrackStart(int(i) + 1), uint32_t(indexes[i].second)) << "track " << i + 1;
  rec::TrackInfo ti;
  ASSERT_EQ(cd.rec->ReadTrackInfo(2, ti), 0u);
  EXPECT_EQ(ti.trackMode, 0x04 | 0x02) << "a data track whose copy is permitted (FLAGS DCP)";
  const std::string exported = cd.ExportCue(dir);
  const std::string sheet = ReadWholeFile(exported);
  size_t mode2 = 0;
  for (size_t at = sheet.find("MODE2/2352"); at != std::string::npos; at = sheet.find("MODE2/2352", at + 1)) ++mode2;
  EXPECT_EQ(mode2, 3u) << sheet;
  EXPECT_TRUE(ReadWholeFile(dir / "export.bin") == ReadWholeFile(dir / "vi.bin")) << "the disc differs from the image";
  EXPECT_EQ(SheetIndexes(exported), indexes);
  int st = 0;
  const std::string info = RunTool("vcd-info -B -c " + exported + " -E", &st);
  EXPECT_EQ(st, 0) << info;
  EXPECT_NE(info.find("ENTRY[01]: track#  2"), std::string::npos) << info;
  const std::string rip = RunTool("cd " + dir.path() + " && vcdxrip -c " + exported + " -p 2>&1", &st);
  EXPECT_EQ(st, 0) << rip;

  // The same disc described by a TOC file comes out the same.
  auto msf = [](int32_t n) {
    char b[16];
    std::snprintf(b, sizeof b, "%02d:%02d:%02d", n / 4500, (n / 75) % 60, n % 75);
    return std::string(b);
  };
  std::string toc = "CD_ROM_XA\n";
  const int32_t total = int32_t(ReadWholeFile(dir / "vi.bin").size() / 2352);
  for (size_t i = 0; i < indexes.size(); ++i) {
    const int32_t end = i + 1 < indexes.size() ? indexes[i + 1].first : total;
    toc += "TRACK MODE2_RAW\nCOPY\nDATAFILE \"vi.bin\" #" + std::to_string(int64_t(indexes[i].first) * 2352) + " " +
           msf(end - indexes[i].first) + "\n";
    if (indexes[i].second > indexes[i].first) toc += "START " + msf(indexes[i].second - indexes[i].first) + "\n";
  }
  ScratchFolder again;
  BlankCd second(again);
  ASSERT_EQ(WriteImageToCD(kIndex, dir.Write("vi.toc", toc), false), result::kSuccess) << LastJobError(kIndex) << toc;
  second.ExportCue(again);
  EXPECT_TRUE(ReadWholeFile(again / "export.bin") == ReadWholeFile(dir / "vi.bin")) << toc;
}

// An NRG image of a Super Video CD that leaves out its pre-gaps is written
// with every address of the original disc; only the made-up gap sectors
// differ from the original's.
TEST(ImageBurn, AnNrgImageWithoutItsPregapsKeepsTheOriginalAddresses) {
  ScratchFolder dir;
  const std::string cue = MakeVideoCdImage(dir, "svcd");
  const std::string bin = ReadWholeFile(dir / "vi.bin");
  const auto indexes = SheetIndexes(cue);
  ASSERT_EQ(indexes.size(), 3u);
  ASSERT_LT(indexes[1].first, indexes[1].second) << "the test needs an image with pre-gaps";
  const std::string nrg = dir.Write("svcd.nrg", BuildNrgWithoutPregaps(bin, indexes));
  BlankCd cd(dir);
  ASSERT_EQ(WriteImageToCD(kIndex, nrg, false), result::kSuccess) << LastJobError(kIndex);
  const std::string exported = cd.ExportCue(dir);
  EXPECT_EQ(SheetIndexes(exported), indexes);
  const std::string out = ReadWholeFile(dir / "export.bin");
  ASSERT_EQ(out.size(), bin.size());
  for (size_t i = 0; i < indexes.size(); ++i) {
    const int32_t end = i + 1 < indexes.size() ? indexes[i + 1].first : int32_t(bin.size() / 2352);
    for (int32_t l = indexes[i].second; l < end; ++l)
      ASSERT_TRUE(RawSector(out, l) == RawSector(bin, l)) << "sector " << l << " of track " << i + 1;
  }
  int st = 0;
  const std::string info = RunTool("vcd-info -B -c " + exported + " -E", &st);
  EXPECT_NE(info.find("LSN    " + std::to_string(indexes[1].second)), std::string::npos) << info;
}

// Sheets of other systems and mixed sources: a name in another case, a WAVE
// file, big-endian samples and a cooked Mode 1 track in one image.
TEST(ImageBurn, FilesOfEveryKindGoOntoOneDiscAsTheSheetSays) {
  ScratchFolder dir;
  const std::vector<uint8_t> data = PatternBytes(2048 * 300, 7), pcm1 = PatternBytes(2352 * 200, 8),
                             pcm2 = PatternBytes(2352 * 180, 9);
  WriteBytes(dir, "DATA.ISO", data);
  uint8_t h[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0,
                   0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 'd', 'a', 't', 'a'};
  const uint32_t n = uint32_t(pcm1.size());
  std::memcpy(h + 40, &n, 4);
  std::string wav(reinterpret_cast<char*>(h), 44);
  wav.append(pcm1.begin(), pcm1.end());
  dir.Write("one.wav", wav);
  std::vector<uint8_t> swapped = pcm2;
  for (size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
  WriteBytes(dir, "two.raw", swapped);
  const std::string cue = dir.Write("mixed.cue",
                                    "CATALOG 0123456789012\r\n"
                                    "FILE \"data.iso\" BINARY\r\n  TRACK 01 MODE1/2048\r\n    INDEX 01 00:00:00\r\n"
                                    "FILE \"one.wav\" WAVE\r\n  TRACK 02 AUDIO\r\n    FLAGS DCP PRE\r\n"
                                    "    PREGAP 00:02:00\r\n    INDEX 01 00:00:00\r\n"
                                    "FILE \"two.raw\" MOTOROLA\r\n  TRACK 03 AUDIO\r\n    INDEX 01 00:00:00\r\n");
  BlankCd cd(dir);
  ASSERT_EQ(WriteImageToCD(kIndex, cue, false), result::kSuccess) << LastJobError(kIndex);
  EXPECT_EQ(cd.TrackStart(1), 0u);
  EXPECT_EQ(cd.TrackStart(2), 300u + 150u);
  EXPECT_EQ(cd.TrackStart(3), 300u + 150u + 200u);
  std::vector<uint8_t> user(2048 * 300);
  ASSERT_EQ(cd.rec->ReadCD_Data(0, user.data(), 300), 0u);
  EXPECT_TRUE(user == data) << "the Mode 1 track differs";
  for (const auto& [track, want] : {std::pair<int, const std::vector<uint8_t>*>{2, &pcm1}, {3, &pcm2}}) {
    std::vector<uint8_t> raw(want->size());
    ASSERT_EQ(cd.rec->ReadCD_All(raw.data(), uint32_t(raw.size()), uint32_t(raw.size() / 2352), cd.TrackStart(track)), 0u);
    EXPECT_TRUE(raw == *want) << "audio track " << track << " differs";
  }
  rec::TrackInfo ti;
  ASSERT_EQ(cd.rec->ReadTrackInfo(2, ti), 0u);
  EXPECT_EQ(ti.trackMode & 0x03, 0x03) << "copy permitted and pre-emphasis are kept";
  int st = 0;
  const std::string info = RunTool("cd-info --no-device-info --no-cddb --cue-file " + cd.ExportCue(dir), &st);
  EXPECT_NE(info.find("audio"), std::string::npos) << info;
}

// An image that cannot be written to its end is refused before the disc is
// touched, with a reason that names what is wrong.
TEST(ImageBurn, AnImageThatCannotBeWrittenWholeLeavesTheDiscBlank) {
  ScratchFolder dir;
  WriteBytes(dir, "a.bin", PatternBytes(2352 * 100, 3));
  WriteBytes(dir, "A.BIN", PatternBytes(2352 * 100, 4));
  WriteBytes(dir, "short.bin", PatternBytes(2352 * 10, 5));
  const struct {
    const char* sheet;
    const char* reason;
  } cases[] = {
      {"FILE \"missing.bin\" BINARY\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n", "missing.bin is missing"},
      {"FILE \"short.bin\" BINARY\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n TRACK 02 AUDIO\n INDEX 01 00:01:00\n",
       "runs past the end of its file"},
      {"CATALOG 12345\nFILE \"a.bin\" BINARY\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n", "CUE line 1: CATALOG needs 13 digits"},
      {"FILE \"A.bIn\" BINARY\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n", "both match it"},
  };
  BlankCd cd(dir);
  for (const auto& c : cases) {
    const std::string cue = dir.Write("bad.cue", c.sheet);
    EXPECT_EQ(WriteImageToCD(kIndex, cue, false), result::kNothingDone) << c.sheet;
    EXPECT_NE(LastJobError(kIndex).find(c.reason), std::string::npos) << LastJobError(kIndex);
    EXPECT_TRUE(cd.Blank()) << c.sheet;
  }
  // One file that matches in another case is taken.
  ::unlink((dir / "A.BIN").c_str());
  const std::string cue = dir.Write("windows.cue", "FILE \"A.BIN\" BINARY\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n");
  EXPECT_EQ(WriteImageToCD(kIndex, cue, false), result::kSuccess) << LastJobError(kIndex);
  EXPECT_FALSE(cd.Blank());
}
