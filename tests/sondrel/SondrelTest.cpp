// Saving audio tracks: where a track lies by the table of contents, WAV
// files sample-identical to what was burnt, MP3 files that ffprobe measures
// to the track's length with the disc's CD-Text as tags, and drives whose
// sectors cannot be read, or read differently each time, named by address
// with no file left behind.

#include <gtest/gtest.h>
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "AudioTrackRange.h"
#include "ByteFields.h"
#include "CAuEncode.h"
#include "CDevCmdRW.h"
#include "Id3Tag.h"
#include "VirtualRecorder.h"
#include "media/MediaTestSupport.h"
#include "BurnCtrl/TrackExtract.h"

namespace {

CommandResult Cli(const std::string& args) { return RunCommand(std::string(VARNEX_CLI_PATH) + " " + args); }

// A CD WAV (the plain 44-byte header) of `seconds` whose samples follow a
// pattern of their own for each `seed`, so that tracks cannot be mistaken
// for each other.
std::string MakeCdWav(const ScratchFolder& dir, const std::string& name, double seconds, int seed) {
  const uint32_t frames = uint32_t(seconds * 44100);
  std::string wav(44 + size_t(frames) * 4, '\0');
  uint8_t* h = reinterpret_cast<uint8_t*>(wav.data());
  std::memcpy(h, "RIFF", 4);
  bytes::PutLE32(h + 4, 36 + frames * 4);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  bytes::PutLE32(h + 16, 16);
  bytes::PutLE16(h + 20, 1);
  bytes::PutLE16(h + 22, 2);
  bytes::PutLE32(h + 24, 44100);
  bytes::PutLE32(h + 28, 44100 * 4);
  bytes::PutLE16(h + 32, 4);
  bytes::PutLE16(h + 34, 16);
  std::memcpy(h + 36, "data", 4);
  bytes::PutLE32(h + 40, frames * 4);
  for (uint32_t i = 0; i < frames * 2; ++i) bytes::PutLE16(h + 44 + size_t(i) * 2, uint16_t(i * (seed * 2 + 3) + seed));
  return dir.Write(name, wav);
}

TocData::_Data Track(int no, uint8_t m, uint8_t s, uint8_t f, bool data = false) {
  TocData::_Data t;
  t.AdrCtrl = data ? 0x14 : 0x10;
  t.TrackNo = uint8_t(no);
  t.Addr = {0, m, s, f};
  return t;
}

SessionInfo OneSession(std::vector<TocData::_Data> tracks, TocAddress leadOut) {
  SessionInfo disc;
  disc.FirstSession = disc.LastSession = 1;
  TocData s;
  s.Data = std::move(tracks);
  s.LeadOut = leadOut;
  disc.Sessions.push_back(s);
  return disc;
}

TEST(AudioTrackRange, TracksEndOneSectorBeforeTheNextTrackOrTheLeadOut) {
  SessionInfo disc = OneSession({Track(1, 0, 2, 0), Track(2, 4, 0, 0), Track(3, 7, 30, 0)}, {0, 10, 0, 0});
  AudioTrackRange r;
  std::string why;
  ASSERT_TRUE(FindAudioTrack(disc, 2, r, &why)) << why;
  EXPECT_EQ(r.start, 17850u);
  EXPECT_EQ(r.end, 33599u);
  ASSERT_TRUE(FindAudioTrack(disc, 3, r, &why)) << why;
  EXPECT_EQ(r.end, uint32_t(10 * 60 * 75 - 150 - 1)) << "the last track ends one sector before the lead-out";
  EXPECT_EQ(r.trackTotal, 3);
  EXPECT_EQ(TrackHolding(disc, 33599), 2);
  EXPECT_EQ(TrackHolding(disc, 33600), 3);

  // An unknown lead-out: the next session's first track ends the track.
  TocData second;
  second.Data = {Track(4, 12, 0, 0, true)};
  disc.Sessions[0].LeadOut = {0, 0, 0, 0};
  disc.Sessions.push_back(second);
  disc.LastSession = 2;
  ASSERT_TRUE(FindAudioTrack(disc, 3, r, &why)) << why;
  EXPECT_EQ(r.end, uint32_t(12 * 60 * 75 - 150 - 1));
  EXPECT_FALSE(FindAudioTrack(disc, 4, r, &why));
  EXPECT_NE(why.find("data track"), std::string::npos) << why;
  EXPECT_FALSE(FindAudioTrack(disc, 5, r, &why));
  EXPECT_NE(why.find("no track 5"), std::string::npos) << why;
}

TEST(Id3Tag, TextFramesCarryLatin1AndUtf8TextsAsUtf16) {
  EXPECT_EQ(CdTextToUtf8("Caf\xE9", 160), "Caf\xC3\xA9") << "ISO 8859-1 from the disc";
  EXPECT_EQ(CdTextToUtf8("Caf\xC3\xA9", 160), "Caf\xC3\xA9") << "already UTF-8";
  EXPECT_TRUE(BuildId3v2Tag(AudioTags()).empty());
  AudioTags t;
  t.title = "Hi";
  std::vector<uint8_t> tag = BuildId3v2Tag(t);
  ASSERT_EQ(tag.size(), 10u + 10u + 3u + 4u + 2u);
  EXPECT_EQ(std::string(tag.begin(), tag.begin() + 3), "ID3");
  EXPECT_EQ(tag[9], tag.size() - 10) << "synchsafe size";
  EXPECT_EQ(std::string(tag.begin() + 10, tag.begin() + 14), "TIT2");
  const uint8_t body[] = {1, 0xFF, 0xFE, 'H', 0, 'i', 0, 0, 0};
  EXPECT_EQ(std::memcmp(tag.data() + 20, body, sizeof body), 0);
}

// A drive in front of a virtual disc that spoils one sector: it cannot be
// read, reads differently every time, or reads wrong only the first time.
// It can also hold the reading of a sector until the test lets it go.
class DamagedDrive : public ScsiTransport {
 public:
  enum Damage { kNone, kUnreadable, kUnstable, kOnceWrong };
  DamagedDrive(std::unique_ptr<ScsiTransport> inner, uint32_t sector, Damage damage)
      : inner_(std::move(inner)), sector_(sector), damage_(damage) {}

  bool Execute(ScsiCommand& c) override {
    if (c.opcode() != 0xBE) return inner_->Execute(c);
    const uint32_t lba = bytes::BE32(c.cdb + 2);
    const uint32_t count = (uint32_t(c.cdb[6]) << 16) | (uint32_t(c.cdb[7]) << 8) | c.cdb[8];
    const bool hit = sector_ >= lba && sector_ < lba + count;
    if (hit) Hold();
    if (hit && damage_ == kUnreadable) {
      c.SetSense(3, 0x11, 0x05);  // MEDIUM ERROR: L-EC uncorrectable
      return true;
    }
    bool ok = inner_->Execute(c);
    if (hit && (damage_ == kUnstable || (damage_ == kOnceWrong && reads_ == 0))) {
      uint8_t* s = c.data + size_t(sector_ - lba) * 2352;
      for (int i = 0; i < 2352; ++i) s[i] = uint8_t(s[i] ^ (reads_ * 37 + i + 1));
    }
    if (hit) ++reads_;
    return ok;
  }
  std::string Path() const override { return inner_->Path(); }

  // Reading the sector waits until Release.
  void Gate() { gated_ = true; }
  void WaitUntilHeld() {
    std::unique_lock<std::mutex> g(m_);
    cv_.wait(g, [&] { return held_; });
  }
  void Release() {
    std::lock_guard<std::mutex> g(m_);
    gated_ = false;
    cv_.notify_all();
  }
  int reads() const { return reads_; }

 private:
  void Hold() {
    std::unique_lock<std::mutex> g(m_);
    if (!gated_) return;
    held_ = true;
    cv_.notify_all();
    cv_.wait(g, [&] { return !gated_; });
  }
  std::unique_ptr<ScsiTransport> inner_;
  uint32_t sector_;
  Damage damage_;
  int reads_ = 0;
  std::mutex m_;
  std::condition_variable cv_;
  bool gated_ = false, held_ = false;
};

std::unique_ptr<ScsiTransport> OpenRecorder(const std::string& state) {
  auto r = std::make_unique<VirtualRecorder>();
  std::string error;
  EXPECT_TRUE(r->Open(state, &error)) << error;
  return r;
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Probe(const std::string& file, const std::string& entries) {
  return RunCommand("ffprobe -v error -show_entries " + entries + " -of default=nw=1 " + Quoted(file)).output;
}

// One audio CD for the tests of this file: burnt once onto a virtual CD-R.
class BurntAudioCd : public ::testing::Test {
 protected:
  void SetUp() override {
    tones_ = {MakeCdWav(dir_, "one.wav", 2.5, 1), MakeCdWav(dir_, "two.wav", 3.1, 2)};
    state_ = dir_ / "audio.vdisc";
    ASSERT_EQ(Cli("virtual create --media cd-r " + state_).status, 0);
    CommandResult r = Cli("burn --drive virtual:" + state_ + " --audio " + tones_[0] + " " + tones_[1]);
    ASSERT_EQ(r.status, 0) << r.output;
  }
  AudioTrackRange Range(CDevCmdROM& d, int track) {
    SessionInfo disc;
    AudioTrackRange r;
    std::string why;
    EXPECT_TRUE(ReadDiscSessions(d, disc, &why) && FindAudioTrack(disc, track, r, &why)) << why;
    return r;
  }
  ScratchFolder dir_;
  std::vector<std::string> tones_;
  std::string state_;
};

TEST_F(BurntAudioCd, ARippedWavEqualsTheBurntPcmSampleForSample) {
  CDevCmdRW drive(OpenRecorder(state_), 3);
  for (int track = 1; track <= 2; ++track) {
    SCOPED_TRACE(track);
    AudioTrackRange r = Range(drive, track);
    const std::string out = dir_ / ("rip" + std::to_string(track) + ".wav");
    CAuEncode enc;
    ASSERT_TRUE(enc.Encode(&drive, r.start, r.end, out.c_str())) << enc.LastErrorText();
    EXPECT_EQ(enc.GetEncodeProgress(), CAuEncode::kProgressScale);
    const std::string burnt = WavPcm(tones_[size_t(track - 1)]);
    const std::string ripped = WavPcm(out);
    ASSERT_EQ(ripped.size(), size_t(r.Sectors()) * 2352);
    ASSERT_GE(ripped.size(), burnt.size());
    EXPECT_TRUE(ripped.compare(0, burnt.size(), burnt) == 0) << "the track differs from the WAV that was burnt";
    EXPECT_EQ(ripped.find_first_not_of('\0', burnt.size()), std::string::npos) << "the track's end holds more than silence";
    // An independent reader agrees on the format and the length.
    const std::string p = Probe(out, "stream=sample_rate,channels,codec_name:format=duration");
    EXPECT_NE(p.find("codec_name=pcm_s16le"), std::string::npos) << p;
    EXPECT_NE(p.find("sample_rate=44100"), std::string::npos) << p;
    EXPECT_NE(p.find("channels=2"), std::string::npos) << p;
  }
}

TEST_F(BurntAudioCd, ABadSectorIsNamedByAddressAndNoFileIsLeftOrReplaced) {
  CDevCmdRW plain(OpenRecorder(state_), 3);
  AudioTrackRange r = Range(plain, 2);
  const uint32_t bad = r.start + 100;
  const std::string out = dir_.Write("kept.wav", "the user's own file");
  const std::vector<std::string> before = FilesIn(dir_.path());
  for (auto [damage, error] : {std::pair{DamagedDrive::kUnreadable, CAuEncode::kUnreadable},
                               std::pair{DamagedDrive::kUnstable, CAuEncode::kUnstable}}) {
    SCOPED_TRACE(int(damage));
    CDevCmdRW drive(std::make_unique<DamagedDrive>(OpenRecorder(state_), bad, damage), 3);
    CAuEncode enc;
    enc.SetExisting(Existing::kReplace);  // even when it may be replaced, only a whole track replaces it
    EXPECT_FALSE(enc.Encode(&drive, r.start, r.end, out.c_str()));
    EXPECT_EQ(enc.LastError(), error) << enc.LastErrorText();
    EXPECT_EQ(enc.BadSector(), bad);
    EXPECT_NE(enc.LastErrorText().find("sector " + std::to_string(bad)), std::string::npos) << enc.LastErrorText();
    EXPECT_EQ(ReadWholeFile(out), "the user's own file");
    EXPECT_EQ(FilesIn(dir_.path()), before) << "a partial file stayed behind";
  }
  EXPECT_EQ(ExtractResult(false, CAuEncode::kUnstable), -457);

  // A sector that reads wrongly once and then right twice is saved right.
  auto* once = new DamagedDrive(OpenRecorder(state_), bad, DamagedDrive::kOnceWrong);
  CDevCmdRW drive(std::unique_ptr<ScsiTransport>(once), 3);
  CAuEncode enc;
  const std::string good = dir_ / "good.wav";
  ASSERT_TRUE(enc.Encode(&drive, r.start, r.end, good.c_str())) << enc.LastErrorText();
  const std::string burnt = WavPcm(tones_[1]);
  EXPECT_TRUE(WavPcm(good).compare(0, burnt.size(), burnt) == 0) << "the wrong first read was kept";
  EXPECT_GE(once->reads(), 3);
}

TEST_F(BurntAudioCd, StoppingLeavesNoFileAndTheEncoderCanRunAgain) {
  CDevCmdRW plain(OpenRecorder(state_), 3);
  AudioTrackRange r = Range(plain, 1);
  auto* gate = new DamagedDrive(OpenRecorder(state_), r.start + 60, DamagedDrive::kNone);
  CDevCmdRW drive(std::unique_ptr<ScsiTransport>(gate), 3);
  gate->Gate();
  const std::vector<std::string> before = FilesIn(dir_.path());
  CAuEncode enc;
  const std::string out = dir_ / "stopped.mp3";
  bool ok = true;
  std::thread worker([&] { ok = enc.Encode(&drive, r.start, r.end, out.c_str()); });
  gate->WaitUntilHeld();
  EXPECT_GT(enc.GetEncodeProgress(), 0);
  EXPECT_LT(enc.GetEncodeProgress(), CAuEncode::kProgressScale);
  enc.EncodeStop();
  gate->Release();
  worker.join();
  EXPECT_FALSE(ok);
  EXPECT_EQ(enc.LastError(), CAuEncode::kStopped);
  EXPECT_EQ(FilesIn(dir_.path()), before) << "the stopped file, or its partial one, stayed";
  EXPECT_TRUE(enc.Encode(&drive, r.start, r.end, out.c_str())) << enc.LastErrorText();
}

TEST(SondrelMp3, AnMp3LastsAsLongAsTheTrackAndCarriesTheCdText) {
  ScratchFolder dir;
  const std::string a = MakeCdWav(dir, "a.wav", 3.0, 1), b = MakeTone(dir, "b.wav", 5.3, 44100, 2, 550);
  const std::string state = dir / "pressed.vdisc";
  CommandResult c = Cli("virtual create --media audio --track " + Quoted(a + "::Morning::Ann") + " --track " +
                        Quoted(b + "::Caf\xC3\xA9 Noir::Bo") + " --title " + Quoted("Day Songs") +
                        " --performer Various " + state);
  ASSERT_EQ(c.status, 0) << c.output;
  CDevCmdRW drive(OpenRecorder(state), 3);
  SessionInfo disc;
  AudioTrackRange r;
  std::string why;
  ASSERT_TRUE(ReadDiscSessions(drive, disc, &why) && FindAudioTrack(disc, 2, r, &why)) << why;
  const std::string out = dir / "two.mp3";
  CAuEncode enc;
  ASSERT_TRUE(enc.Encode(&drive, r.start, r.end, out.c_str())) << enc.LastErrorText();
  const std::string p = Probe(out, "format=duration,bit_rate:format_tags=title,artist,album,track:stream=sample_rate,channels");
  double duration = -1;
  size_t at = p.find("duration=");
  if (at != std::string::npos) duration = std::atof(p.c_str() + at + 9);
  EXPECT_NEAR(duration, r.Sectors() / 75.0, 0.1) << p;
  EXPECT_NE(p.find("title=Caf\xC3\xA9 Noir"), std::string::npos) << p;
  EXPECT_NE(p.find("artist=Bo"), std::string::npos) << p;
  EXPECT_NE(p.find("album=Day Songs"), std::string::npos) << p;
  EXPECT_NE(p.find("track=2/2"), std::string::npos) << p;
  EXPECT_NE(p.find("sample_rate=44100"), std::string::npos) << p;
  EXPECT_NE(p.find("channels=2"), std::string::npos) << p;
  size_t br = p.find("bit_rate=");
  ASSERT_NE(br, std::string::npos) << p;
  EXPECT_GE(std::atol(p.c_str() + br + 9), 185000) << "192 kb/s or better: " << p;
}

TEST(CliExtract, ImagesAndVirtualDiscsGiveTheSameTrackAndFilesAreNeverReplacedUnasked) {
  ScratchFolder dir;
  const std::string a = MakeCdWav(dir, "a.wav", 2.0, 3);
  const std::string state = dir / "p.vdisc";
  ASSERT_EQ(Cli("virtual create --media audio --track " + a + "::Only " + state).status, 0);
  ASSERT_EQ(Cli("virtual export --drive virtual:" + state + " --cue " + dir / "p.cue").status, 0);
  CommandResult r = Cli("extract --drive image:" + dir / "p.cue" + " --track 1 -o " + dir / "img.wav");
  ASSERT_EQ(r.status, 0) << r.output;
  r = Cli("extract --drive virtual:" + state + " --track 1 -o " + dir / "vd.wav");
  ASSERT_EQ(r.status, 0) << r.output;
  const std::string pcm = WavPcm(a);
  EXPECT_EQ(ReadWholeFile(dir / "img.wav"), ReadWholeFile(dir / "vd.wav"));
  EXPECT_TRUE(WavPcm(dir / "img.wav").compare(0, pcm.size(), pcm) == 0);

  // An existing file stays unless --replace is given.
  const std::string mine = dir.Write("mine.mp3", "keep me");
  r = Cli("extract --drive virtual:" + state + " --track 1 -o " + mine);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("already exists"), std::string::npos) << r.output;
  EXPECT_EQ(ReadWholeFile(mine), "keep me");
  r = Cli("extract --drive virtual:" + state + " --track 1 --replace -o " + mine);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(Probe(mine, "format_tags=title").find("title=Only"), std::string::npos);

  // No such track; a folder that cannot take the file.
  r = Cli("extract --drive virtual:" + state + " --track 3 -o " + dir / "x.wav");
  EXPECT_NE(r.output.find("-458"), std::string::npos) << r.output;
  r = Cli("extract --drive virtual:" + state + " --track 1 -o " + dir / "no/such/x.wav");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("-905"), std::string::npos) << r.output;
  EXPECT_EQ(access((dir / "x.wav").c_str(), F_OK), -1);
}

TEST(TrackExtract, TargetRulesKeepTheOldFileAndNameTracksSafely) {
  ScratchFolder dir;
  const std::string old = dir.Write("old.mp3", "old");
  std::string why;
  EXPECT_TRUE(TargetCanBeCreated(old, &why)) << why;
  EXPECT_EQ(ReadWholeFile(old), "old") << "testing the target must not delete it";
  EXPECT_FALSE(TargetCanBeCreated(dir / "missing/x.mp3", &why));
  EXPECT_FALSE(TargetCanBeCreated(dir.path(), &why));
  EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"old.mp3"});
  EXPECT_EQ(TrackFileName(3, "", "mp3"), "Track 03.mp3");
  EXPECT_EQ(TrackFileName(12, "A/B\x01", "wav"), "12 A_B_.wav");
}

}  // namespace
