#include "BurnCtrl/AudioDisc.h"

#include <algorithm>
#include <cctype>

#include "DevTypes.h"
#include "ImageLayout.h"
#include "WavReader.h"

namespace audiodisc {

namespace {

constexpr int kRawSector = 2352;

std::string Seconds(int frames) {
  const int tenths = (frames * 10 + kFramesPerSecond / 2) / kFramesPerSecond;
  return std::to_string(tenths / 10) + (tenths % 10 ? "." + std::to_string(tenths % 10) : "") + " s";
}

std::string TrackName(size_t i) { return "track " + std::to_string(i + 1); }

}  // namespace

std::string NormalIsrc(const std::string& typed) {
  std::string code;
  for (char c : typed)
    if (c != '-') code.push_back(char(std::toupper(static_cast<unsigned char>(c))));
  return IsValidIsrc(code) ? code : std::string();
}

bool ValidMcn(const std::string& mcn) { return IsValidMcn(mcn); }

std::string CdTextBytes(const std::string& utf8, bool* lossy) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    const uint8_t b = uint8_t(utf8[i]);
    uint32_t code = b;
    size_t length = 1;
    const size_t more = b >= 0xF0 && b < 0xF8 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 && b < 0xE0 ? 1 : 0;
    if (more > 0) {
      uint32_t c = b & (0x3F >> more);
      bool good = true;
      for (size_t k = 1; good && k <= more; ++k) {
        if (i + k >= utf8.size() || (uint8_t(utf8[i + k]) & 0xC0) != 0x80) good = false;
        else c = (c << 6) | (uint8_t(utf8[i + k]) & 0x3F);
      }
      if (good) code = c, length = more + 1;
    }
    i += length;
    if (code < 0x20 || code == 0x7F) {
      out.push_back(' ');
    } else if (code <= 0xFF) {
      out.push_back(char(code));
    } else {
      out.push_back('?');
      if (lossy) *lossy = true;
    }
  }
  return out;
}

std::vector<uint8_t> CdTextPacks(const AudioDisc& disc, std::vector<std::string>* notices) {
  // Types as the packs number them: 0 title, 1 performer, 2 songwriter, 3 composer.
  std::vector<std::vector<std::string>> texts(4, std::vector<std::string>(disc.tracks.size() + 1));
  bool any = false;
  auto put = [&](size_t type, size_t track, const std::string& text, const std::string& what) {
    bool lossy = false;
    texts[type][track] = CdTextBytes(text, &lossy);
    any = any || !text.empty();
    if (lossy && notices)
      notices->push_back(what + " \"" + text + "\" has characters CD-Text cannot hold (ISO 8859-1); they are written as \"?\"");
  };
  put(0, 0, disc.title, "the disc's title");
  put(1, 0, disc.performer, "the disc's performer");
  for (size_t i = 0; i < disc.tracks.size(); ++i) {
    const AudioDiscTrack& t = disc.tracks[i];
    put(0, i + 1, t.title, "the title of " + TrackName(i));
    put(1, i + 1, t.performer, "the performer of " + TrackName(i));
    put(2, i + 1, t.songwriter, "the songwriter of " + TrackName(i));
    put(3, i + 1, t.composer, "the composer of " + TrackName(i));
  }
  if (!any) return {};
  return BuildCdTextPacks(texts);
}

bool PlanAudioDisc(const AudioDisc& disc, ImageLayout* layout, std::vector<std::string>* notices, std::string* why) {
  *layout = ImageLayout();
  if (disc.tracks.empty()) return *why = "the audio CD has no track", false;
  if (disc.tracks.size() > 99) return *why = "an audio CD holds at most 99 tracks", false;
  if (!disc.mcn.empty() && !ValidMcn(disc.mcn))
    return *why = "the catalogue number " + disc.mcn + " is not 13 digits", false;
  layout->catalog = disc.mcn;
  int32_t at = 0;
  for (size_t i = 0; i < disc.tracks.size(); ++i) {
    const AudioDiscTrack& t = disc.tracks[i];
    ImageTrackNotes notes;
    if (!t.isrc.empty()) {
      notes.isrc = NormalIsrc(t.isrc);
      if (notes.isrc.empty())
        return *why = "the ISRC " + t.isrc + " of " + TrackName(i) +
                      " is not a code of the form CC-XXX-YY-NNNNN (country, owner, year, number)",
               false;
    }
    if (t.pauseFrames < 0 || t.pauseFrames > kMaxPauseFrames)
      return *why = "the pause before " + TrackName(i) + " is " + Seconds(t.pauseFrames) +
                    "; a pause is 0 to 10 seconds",
             false;
    if (i == 0 && t.pauseFrames != 0 && t.pauseFrames != kFirstPregap && notices)
      notices->push_back("the first track's pause is always the 2 seconds every audio CD begins with");
    WavInfo wav;
    std::string bad;
    if (!ReadWavInfo(t.wav, wav, &bad)) return *why = t.wav + ": " + bad, false;
    if (wav.dataSize == 0) return *why = t.wav + " holds no sound for " + TrackName(i), false;
    const int32_t sectors = int32_t((wav.dataSize + kRawSector - 1) / kRawSector);
    int32_t size = sectors;
    if (size < kMinTrackFrames) {
      size = kMinTrackFrames;
      if (notices)
        notices->push_back(TrackName(i) + " is " + Seconds(sectors) +
                           " long; it is filled out with silence to the 4 seconds a CD track lasts at least");
    }
    notes.index0 = at;
    if (i > 0) at += t.pauseFrames;
    notes.flags = uint8_t((t.preEmphasis ? 0x1 : 0) | (t.copyPermitted ? 0x2 : 0));
    layout->files.push_back(t.wav);
    ImageExtent sound{at, sectors, int(i), wav.dataOffset, kRawSector};
    sound.tailBytes = uint32_t(wav.dataSize % kRawSector);
    layout->extents.push_back(sound);
    DiscTrack d;
    d.number = int(i + 1);
    d.start = at;
    d.size = d.recorded = size;
    d.mode = cdsector::Mode::Audio;
    d.closed = true;
    d.flags = notes.flags;
    layout->tracks.push_back(d);
    layout->notes.push_back(notes);
    at += size;
  }
  layout->cdText = CdTextPacks(disc, notices);
  const size_t packs = layout->cdText.size() / 18;
  if (packs > size_t(kMaxCdTextPacks))
    return *why = "the CD-Text needs " + std::to_string(packs) + " packs, and a disc holds " +
                  std::to_string(kMaxCdTextPacks) + ": shorten the titles and names",
           false;
  layout->fromSheet = true;
  return true;
}

}  // namespace audiodisc
