#include "CAuEncode.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <random>

#include "AudioTrackRange.h"
#include "CDevCmdROM.h"
#include "CdDaReader.h"
#include "OutputFile.h"
#include "SafeFile.h"

namespace {

bool EndsWithWav(const std::string& path) {
  if (path.size() < 4) return false;
  std::string ext = path.substr(path.size() - 4);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return ext == ".wav";
}

std::string SectorText(uint32_t lba) {
  // The address as a player shows it, too: minutes, seconds and frames.
  return "sector " + std::to_string(lba) + " (" + MsfText(int64_t(lba) + kMsfOfLbaZero) + ")";
}

}  // namespace

CAuEncode::CAuEncode() = default;
CAuEncode::~CAuEncode() = default;

void CAuEncode::SetMp3Bitrate(int kbps) { bitrate_ = std::clamp(kbps, 128, 320); }
void CAuEncode::SetTags(const AudioTags& tags) { tags_ = tags; }

CAuEncode::Error CAuEncode::LastError() const {
  std::lock_guard<std::mutex> g(lock_);
  return error_;
}
std::string CAuEncode::LastErrorText() const {
  std::lock_guard<std::mutex> g(lock_);
  return errorText_;
}
uint32_t CAuEncode::BadSector() const {
  std::lock_guard<std::mutex> g(lock_);
  return badSector_;
}
AudioTags CAuEncode::UsedTags() const {
  std::lock_guard<std::mutex> g(lock_);
  return usedTags_;
}

bool CAuEncode::Fail(Error e, const std::string& text, uint32_t sector) {
  std::lock_guard<std::mutex> g(lock_);
  error_ = e;
  errorText_ = text;
  badSector_ = sector;
  return false;
}

AudioTags CAuEncode::TagsFromDisc(CDevCmdROM& drive, uint32_t start) {
  AudioTags tags;
  SessionInfo disc;
  if (!ReadDiscSessions(drive, disc, nullptr)) return tags;
  tags.track = TrackHolding(disc, start, &tags.trackTotal);
  if (tags.track == 0) tags.trackTotal = 0;
  auto text = std::make_unique<FS_CDTEXT_INFO>();
  if (tags.track <= 0 || tags.track > 99 || drive.GetCDText(*text) != DEV_OK) return tags;
  const FS_CDTEXT_INFO::Track& t = text->Tracks[tags.track];
  const FS_CDTEXT_INFO::Track& d = text->Tracks[0];
  tags.title = CdTextToUtf8(t.szTitle, sizeof t.szTitle);
  tags.artist = CdTextToUtf8(t.szArtist, sizeof t.szArtist);
  tags.composer = CdTextToUtf8(t.szComposer, sizeof t.szComposer);
  tags.album = CdTextToUtf8(d.szTitle, sizeof d.szTitle);
  tags.albumArtist = CdTextToUtf8(d.szArtist, sizeof d.szArtist);
  if (tags.artist.empty()) tags.artist = tags.albumArtist;
  return tags;
}

bool CAuEncode::Encode(CDevCmdROM* recorder, uint32_t start, uint32_t end, const char* path) {
  struct ClearStop {
    std::atomic<bool>& stop;
    ~ClearStop() { stop.store(false); }
  } clearStop{stop_};
  progress_.store(0);
  {
    std::lock_guard<std::mutex> g(lock_);
    error_ = kNone;
    errorText_.clear();
    badSector_ = 0;
    usedTags_ = AudioTags();
  }
  if (!recorder || !path || !*path) return Fail(kBadRange, "no drive or no file was given");
  if (end < start) return Fail(kBadRange, "the track ends before it starts");
  const uint64_t sectors = uint64_t(end) - start + 1;
  const uint64_t pcmBytes = sectors * CdDaReader::kSectorBytes;
  const std::string target = path;
  const bool wav = EndsWithWav(target);

  std::unique_ptr<AudioSink> sink;
  if (wav) {
    sink = MakeWavSink();
  } else {
    AudioTags tags = tags_ ? *tags_ : TagsFromDisc(*recorder, start);
    {
      std::lock_guard<std::mutex> g(lock_);
      usedTags_ = tags;
    }
    sink = MakeMp3Sink(Mp3Settings{bitrate_}, tags);
  }

  OutputFile out;
  if (!out.Open(target, existing_))
    return Fail(kCannotCreate, "the file cannot be made here: " + out.Error());
  const int fd = out.fd();
  if (!sink->Begin(fd, pcmBytes)) return Fail(kWriteFailed, target + ": " + sink->Error());

  CdDaReader reader(*recorder);
  std::vector<uint8_t> block;
  for (uint64_t done = 0; done < sectors;) {
    const int count = int(std::min<uint64_t>(CdDaReader::kBlockSectors, sectors - done));
    const uint32_t lba = start + uint32_t(done);
    CdDaReader::Outcome o = reader.ReadBlock(lba, count, block, stop_);
    if (o != CdDaReader::kOk) {
      out.Discard();
      const uint32_t bad = reader.BadSector();
      switch (o) {
        case CdDaReader::kStopped: return Fail(kStopped, "stopped; " + target + " was not written");
        case CdDaReader::kNotAudio:
          return Fail(kNotAudio, SectorText(bad) + " is not an audio sector; " + target + " was not written", bad);
        case CdDaReader::kUnstable:
          return Fail(kUnstable,
                      SectorText(bad) + " reads differently every time (a scratch?); " + target + " was not written",
                      bad);
        default:
          return Fail(kUnreadable,
                      SectorText(bad) + " cannot be read (sense " + reader.BadSense() + "); " + target +
                          " was not written",
                      bad);
      }
    }
    if (!sink->Write(block.data(), block.size())) return Fail(kWriteFailed, target + ": " + sink->Error());
    done += uint64_t(count);
    progress_.store(int(done * kProgressScale / sectors));
  }
  if (!sink->End()) return Fail(kWriteFailed, target + ": " + sink->Error());
  if (stop_.load()) return Fail(kStopped, "stopped; " + target + " was not written");
  if (!out.Commit()) return Fail(kWriteFailed, out.Error());
  progress_.store(kProgressScale);
  return true;
}
