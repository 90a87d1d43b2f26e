// Burns onto virtual recorders of every writable medium, read back by
// independent readers.

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "BurnCtrl/Results.h"
#include "BurnCtrl/interfaces/KestrineRecorder.h"
#include "BurnTestSupport.h"
#include "DevDeque.h"
#include "VirtualRecorder.h"
#include "authoring/CAnaly_UDF.h"

namespace {

constexpr int kIndex = 5;

struct VirtualDrive {
  std::string state;
  std::shared_ptr<KestrineRecorder> rec;
  VirtualDrive(const ScratchFolder& dir, const std::string& medium) : state(dir / (medium + ".vdisc")) {
    std::string error;
    EXPECT_TRUE(VirtualRecorder::Create(state, medium, &error)) << error;
    Open();
  }
  void Open() {
    std::string error;
    auto dev = DevDeque::OpenDrive("virtual:" + state, kIndex, &error);
    EXPECT_TRUE(dev) << error;
    rec = std::make_shared<KestrineRecorder>(std::move(dev));
    AddRecorder(rec);
  }
  ~VirtualDrive() {
    ResetBurn(kIndex);
    RemoveRecorder(kIndex);
  }
  std::string Export(const ScratchFolder& dir) const {
    VirtualRecorder v;
    std::string error, out = dir / "export.iso";
    EXPECT_TRUE(v.Open(state, &error)) << error;
    EXPECT_TRUE(v.ExportIso(out, &error)) << error;
    return out;
  }
  uint32_t LastTrackStart() const {
    rec::DiscInfo di;
    rec::TrackInfo ti;
    EXPECT_EQ(rec->ReadDiscInfo(di), 0u);
    int last = di.lastTrackLastSession;
    if (rec->ReadTrackInfo(last, ti) != 0 || ti.blank) {
      EXPECT_EQ(rec->ReadTrackInfo(--last, ti), 0u);
    }
    return ti.trackStart;
  }
};

// Compares without printing whole file contents on a mismatch.
void ExpectSameContent(const std::string& got, const std::string& want, const std::string& what) {
  EXPECT_TRUE(got == want) << what << ": " << got.size() << " bytes read back, " << want.size()
                           << " expected; first bytes \"" << got.substr(0, 24) << "\"";
}

bool IsCdMedium(const std::string& m) { return m.rfind("cd", 0) == 0; }
bool IsOverwritableMedium(const std::string& m) { return m == "dvd+rw" || m == "dvd-ram" || m == "bd-re"; }

// Every file of `files` (disc path, content) must come out of the image
// through 7zz byte for byte.
void Expect7zzSees(const std::string& image, const std::vector<std::pair<std::string, std::string>>& files) {
  ScratchFolder out;
  int st = 0;
  std::string log = RunTool("7zz x -y -o" + out.path() + " " + image, &st);
  ASSERT_EQ(st, 0) << log;
  for (const auto& [path, content] : files) ExpectSameContent(ReadWholeFile(out / path), content, path);
}

// The files of the UDF session at `start` of an image, read through the
// volume's own allocation, not through what the burn meant to write.
std::map<std::string, std::string> UdfSessionFiles(const std::string& image, uint32_t start) {
  std::map<std::string, std::string> files;
  UdfImageSource source(image);
  CAnaly_UDF udf;
  EXPECT_TRUE(udf.Open(&source, start, CAnaly_UDF::kImport)) << udf.LastError();
  struct Collect : UdfWalkListener {
    UdfImageSource* src;
    std::map<std::string, std::string>* files;
    bool Entry(const UdfEntry& e) override {
      if (e.folder) return true;
      std::string data;
      for (const auto& [sector, bytes] : e.sectors) {
        std::vector<uint8_t> buf(((bytes + 2047) / 2048) * 2048);
        src->ReadSectors(sector, uint32_t(buf.size() / 2048), buf.data());
        data.append(reinterpret_cast<char*>(buf.data()), size_t(bytes));
      }
      (*files)[e.Path()] = data;
      return true;
    }
  } collect;
  collect.src = &source;
  collect.files = &files;
  EXPECT_TRUE(udf.Walk(&collect)) << udf.LastError();
  return files;
}

}  // namespace

class EveryMedium : public ::testing::TestWithParam<std::string> {};

TEST_P(EveryMedium, ADataProjectComesBackWholeAndTheDiscInfoFollows) {
  const std::string medium = GetParam();
  ScratchFolder dir;
  std::string a = dir.Write("src/Docs/a.txt", "first file\n");
  std::vector<uint8_t> big = PatternBytes(700000, 11);
  std::string b = WriteBytes(dir, "src/b.bin", big);
  StagedProject project({dir / "src/Docs", b});
  VirtualDrive drive(dir, medium);

  bool blank = false, writable = false;
  int type = 0;
  uint64_t freeBefore = 0, freeAfter = 0;
  ASSERT_EQ(GetDiscInfoEx(kIndex, &blank, &writable, &type, &freeBefore), result::kSuccess);
  EXPECT_TRUE(blank);
  EXPECT_TRUE(writable);
  EXPECT_GT(freeBefore, 100000000u);

  ASSERT_EQ(WriteCd(kIndex, project.root(), "MEDIA", 0, false, false, false), result::kSuccess);
  EXPECT_EQ(GetDriveStatus(kIndex).percent, 100);
  ASSERT_EQ(GetDiscInfoEx(kIndex, &blank, &writable, &type, &freeAfter), result::kSuccess);
  EXPECT_FALSE(blank);
  if (!IsOverwritableMedium(medium)) {
    EXPECT_EQ(freeAfter, 0u) << "a disc burnt closed has no room left";
  }

  ScratchFolder out;
  std::string image = drive.Export(out);
  Expect7zzSees(image, {{"Docs/a.txt", "first file\n"}, {"b.bin", std::string(big.begin(), big.end())}});
  int st = 0;
  if (IsCdMedium(medium)) {
    std::string joliet = RunTool("isoinfo -J -x '/Docs/a.txt;1' -i " + image, &st);
    EXPECT_EQ(joliet, "first file\n");
  } else {
    std::string info = RunTool("udfinfo " + image, &st);
    EXPECT_EQ(st, 0) << info;
    EXPECT_NE(info.find("label=MEDIA"), std::string::npos) << info;
  }
}

INSTANTIATE_TEST_SUITE_P(Burn, EveryMedium,
                         ::testing::Values("cd-r", "cd-rw", "dvd-r", "dvd-rw", "dvd+r", "dvd+rw", "dvd-ram",
                                           "dvd-r-dl", "dvd+r-dl", "bd-r", "bd-re"),
                         [](const auto& info) {
                           std::string n = info.param;
                           for (char& c : n) c = (c == '-') ? '_' : (c == '+') ? 'P' : c;
                           return n;
                         });

class Multisession : public ::testing::TestWithParam<std::string> {};

TEST_P(Multisession, ThreeSessionsShowEveryFileAndAClosedDiscRefusesMore) {
  const std::string medium = GetParam();
  ScratchFolder dir;
  VirtualDrive drive(dir, medium);
  std::vector<std::pair<std::string, std::string>> all;
  for (int s = 1; s <= 3; ++s) {
    std::string name = "s" + std::to_string(s) + ".txt";
    std::string content = "session " + std::to_string(s) + " " + std::string(size_t(s) * 3000, char('a' + s));
    StagedProject project({dir.Write("src" + std::to_string(s) + "/" + name, content)});
    all.emplace_back(name, content);
    ASSERT_EQ(WriteCd(kIndex, project.root(), "MULTI", 0, false, true, false), result::kSuccess) << "session " << s;
  }
  const uint32_t last = drive.LastTrackStart();
  ScratchFolder out;
  std::string image = drive.Export(out);
  if (IsCdMedium(medium)) {
    for (const auto& [name, content] : all)
      ExpectSameContent(RunTool("isoinfo -J -T " + std::to_string(last) + " -x '/" + name + ";1' -i " + image), content,
                        name);
    std::string listing = RunTool("xorriso -indev " + image + " -load sbsector " + std::to_string(last) + " -ls /");
    for (const auto& f : all) EXPECT_NE(listing.find(f.first), std::string::npos) << listing;
  } else if (medium == "dvd+rw" || medium == "dvd-rw") {
    // The anchor at 256 leads readers to the newest session.
    Expect7zzSees(image, all);
  } else {
    int st = 0;
    std::string info = RunTool("udfinfo --startblock=" + std::to_string(last) + " " + image, &st);
    EXPECT_EQ(st, 0) << info;
    std::map<std::string, std::string> files = UdfSessionFiles(image, last);
    for (const auto& [name, content] : all) ExpectSameContent(files[name], content, name);
  }
  // Closing: a burn without the multisession flag, then nothing more.
  StagedProject closing({dir.Write("last/z.txt", "z")});
  ASSERT_EQ(WriteCd(kIndex, closing.root(), "MULTI", 0, false, false, false), result::kSuccess);
  if (!IsOverwritableMedium(medium) && medium != "dvd-rw") {
    EXPECT_EQ(WriteCd(kIndex, closing.root(), "MULTI", 0, false, true, false), result::kDiscClosed);
  }
}

INSTANTIATE_TEST_SUITE_P(Burn, Multisession,
                         ::testing::Values("cd-r", "dvd+r", "dvd-r", "dvd-rw", "bd-r", "dvd+rw"),
                         [](const auto& info) {
                           std::string n = info.param;
                           for (char& c : n) c = (c == '-') ? '_' : (c == '+') ? 'P' : c;
                           return n;
                         });

TEST(VirtualBurn, WavTracksComeBackSampleForSample) {
  ScratchFolder dir;
  std::vector<std::vector<uint8_t>> pcm = {PatternBytes(2352 * 150 + 1000, 21), PatternBytes(2352 * 40, 22)};
  std::vector<std::string> wavs;
  for (size_t i = 0; i < pcm.size(); ++i) {
    uint8_t h[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0,
                     0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 'd', 'a', 't', 'a'};
    uint32_t n = uint32_t(pcm[i].size());
    std::memcpy(h + 40, &n, 4);
    std::string body(reinterpret_cast<char*>(h), 44);
    body.append(pcm[i].begin(), pcm[i].end());
    wavs.push_back(dir.Write("t" + std::to_string(i) + ".wav", body));
  }
  VirtualDrive drive(dir, "cd-r");
  ASSERT_EQ(WriteAudioCd(kIndex, false, wavs), result::kSuccess);
  for (size_t i = 0; i < pcm.size(); ++i) {
    rec::TrackInfo ti;
    ASSERT_EQ(drive.rec->ReadTrackInfo(int(i + 1), ti), 0u);
    EXPECT_LT(ti.trackMode, 4) << "track " << i + 1 << " is not audio";
    const uint32_t sectors = uint32_t((pcm[i].size() + 2351) / 2352);
    std::vector<uint8_t> raw(size_t(sectors) * 2352);
    ASSERT_EQ(drive.rec->ReadCD_All(raw.data(), uint32_t(raw.size()), sectors, ti.trackStart), 0u);
    EXPECT_TRUE(std::memcmp(raw.data(), pcm[i].data(), pcm[i].size()) == 0) << "track " << i + 1 << " differs";
    EXPECT_TRUE(std::all_of(raw.begin() + long(pcm[i].size()), raw.end(), [](uint8_t b) { return b == 0; }))
        << "the end of track " << i + 1 << " must be silence";
  }
  // The disc as BIN and CUE, burnt again as an image: the same tracks.
  std::string cue = dir / "copy.cue";
  {
    VirtualRecorder v;
    std::string error;
    ASSERT_TRUE(v.Open(drive.state, &error)) << error;
    ASSERT_TRUE(v.ExportBinCue(cue, &error)) << error;
  }
  ScratchFolder second;
  VirtualDrive copy(second, "cd-r");
  ASSERT_EQ(WriteImageToCD(kIndex, cue, false), result::kSuccess);
  for (size_t i = 0; i < pcm.size(); ++i) {
    rec::TrackInfo ti;
    ASSERT_EQ(copy.rec->ReadTrackInfo(int(i + 1), ti), 0u);
    const uint32_t sectors = uint32_t((pcm[i].size() + 2351) / 2352);
    std::vector<uint8_t> raw(size_t(sectors) * 2352);
    ASSERT_EQ(copy.rec->ReadCD_All(raw.data(), uint32_t(raw.size()), sectors, ti.trackStart), 0u);
    EXPECT_TRUE(std::memcmp(raw.data(), pcm[i].data(), pcm[i].size()) == 0) << "copied track " << i + 1 << " differs";
  }
  ScratchFolder other;
  VirtualDrive dvd(other, "dvd+r");
  EXPECT_EQ(WriteAudioCd(kIndex, false, wavs), result::kAudioNeedsCd);
}

TEST(VirtualBurn, RewritableDiscsAreErasedAndOthersRefused) {
  for (std::string medium : {"cd-rw", "dvd-rw", "dvd+rw", "dvd-ram", "bd-re", "dvd+r"}) {
    SCOPED_TRACE(medium);
    ScratchFolder dir;
    VirtualDrive drive(dir, medium);
    StagedProject project({dir.Write("src/x.txt", "erase me")});
    ASSERT_EQ(WriteCd(kIndex, project.root(), "ERASE", 0, false, false, false), result::kSuccess);
    bool blank = true, writable = false;
    int type = 0;
    if (medium == "dvd+r") {
      EXPECT_EQ(BlankDisc(kIndex), result::kCannotErase);
      continue;
    }
    EXPECT_EQ(BlankDisc(kIndex), result::kSuccess);
    ASSERT_EQ(GetDiscInfo(kIndex, &blank, &writable, &type), result::kSuccess);
    EXPECT_TRUE(blank);
    StagedProject again({dir.Write("src2/y.txt", "again")});
    EXPECT_EQ(WriteCd(kIndex, again.root(), "AGAIN", 0, false, false, false), result::kSuccess);
  }
}

TEST(VirtualBurn, ADriveThatFailsItsWritesGivesWriteFailed) {
  ScratchFolder dir;
  VirtualDrive drive(dir, "dvd+r");
  RemoveRecorder(kIndex);  // its state would be saved over the faults
  drive.rec.reset();
  {
    VirtualRecorder v;
    std::string error;
    ASSERT_TRUE(v.Open(drive.state, &error)) << error;
    VirtualFaults f;
    f.writeFailAt = 3;
    f.writeFailCount = 1000;
    ASSERT_TRUE(v.SetFaults(f, &error)) << error;
  }
  drive.Open();
  StagedProject project({WriteBytes(dir, "src/p.bin", PatternBytes(3 << 20, 31))});
  EXPECT_EQ(WriteCd(kIndex, project.root(), "FAIL", 0, false, false, false), result::kWriteFailed);
  bool blank = false, writable = false;
  int type = 0;
  ASSERT_EQ(GetDiscInfo(kIndex, &blank, &writable, &type), result::kSuccess);
}
