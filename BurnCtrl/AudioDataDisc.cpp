#include "BurnCtrl/AudioDataDisc.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "ImageLayout.h"
#include "SafeFile.h"
#include "authoring/CFileManager.h"
#include "authoring/TrackImageBuilder.h"

namespace audiodisc {

namespace {

class UnreadableSources : public TrackSourceListener {
 public:
  void SourceUnreadable(const std::string& path) override {
    if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(path);
  }
  std::vector<std::string> paths;
};

std::string Listed(const std::vector<std::string>& paths) {
  std::string s;
  for (const std::string& p : paths) s += (s.empty() ? "" : ", ") + p;
  return s;
}

}  // namespace

FilesVolume::FilesVolume() = default;
FilesVolume::~FilesVolume() = default;

bool FilesVolume::Build(const AudioDiscFiles& files, uint32_t start, std::string* why) {
  job_ = TempFile("bcd");
  if (!job_.ok()) return *why = "no temporary file can be made for the data session's layout", false;
  CFileManager writer;
  writer.SetMode(CFileManager::kModeData);
  writer.SetDiscOptions(files.discOptions);
  if (!writer.SaveDataProject(files.stagingRoot, job_.path(), files.label, why, Existing::kReplace)) return false;
  track_ = MakeDataTrackLayout(DataTrackFormat::kIso9660);
  if (!track_->BuildTrack(job_.path(), files.stagingRoot, start)) return *why = track_->LastError(), false;
  // A file that vanished before the layout would be missing from a disc
  // that says nothing of it.
  if (!track_->SkippedSources().empty())
    return *why = "these files cannot be read: " + Listed(track_->SkippedSources()), false;
  return true;
}

uint32_t FilesVolume::Sectors() const { return track_ ? track_->GetTrackLength() : 0; }

bool FilesVolume::Save(const std::string& path, std::string* why) {
  if (!track_) return *why = "the data session is not laid out", false;
  UnreadableSources unreadable;
  track_->SetSourceListener(&unreadable);
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return *why = path + ": " + safefile::ErrorText(errno), false;
  constexpr uint32_t kBatch = 256;
  std::vector<uint8_t> batch(size_t(kBatch) * kSectorSize);
  bool ok = true;
  const uint32_t total = track_->GetTrackLength();
  for (uint32_t done = 0; ok && done < total;) {
    const uint32_t n = std::min(kBatch, total - done);
    track_->GetSectors(batch.data(), n);
    ok = safefile::WriteAll(fd, batch.data(), size_t(n) * kSectorSize);
    done += n;
  }
  const int err = errno;
  if (::close(fd) != 0 && ok) return *why = path + ": " + safefile::ErrorText(errno), false;
  track_->SetSourceListener(nullptr);
  if (!ok) return *why = path + ": " + safefile::ErrorText(err), false;
  if (!unreadable.paths.empty()) return *why = "these files could not be read: " + Listed(unreadable.paths), false;
  return true;
}

bool PlanMixedModeDisc(const AudioDisc& disc, const std::string& isoPath, int32_t isoSectors, ImageLayout* layout,
                       std::vector<std::string>* notices, std::string* why) {
  if (disc.tracks.size() > 98)
    return *why = "a mixed-mode CD holds at most 98 audio tracks: track 1 is its data", false;
  AudioDisc sound = disc;
  sound.files = AudioDiscFiles();
  ImageLayout audio;
  if (!PlanAudioDisc(sound, &audio, notices, why)) return false;
  // A data track is at least the 4 seconds of any CD track.
  const int32_t dataTrack = std::max(isoSectors + kDataPostgap, int32_t(kMinTrackFrames));
  const int32_t shift = dataTrack + kAudioPregapAfterData;

  ImageLayout& out = *layout;
  out = ImageLayout();
  out.files.push_back(isoPath);
  out.files.insert(out.files.end(), audio.files.begin(), audio.files.end());
  out.extents.push_back({0, isoSectors, 0, 0, 2048});
  out.extents.push_back({isoSectors, dataTrack - isoSectors, -1, 0, 2048});
  out.extents.push_back({dataTrack, kAudioPregapAfterData, -1, 0, 2352});
  for (ImageExtent e : audio.extents) {
    e.lba += shift;
    if (e.file >= 0) ++e.file;
    out.extents.push_back(e);
  }
  DiscTrack data;
  data.number = 1;
  data.start = 0;
  data.size = data.recorded = dataTrack;
  data.mode = cdsector::Mode::Mode1;
  data.closed = true;
  out.tracks.push_back(data);
  ImageTrackNotes dataNotes;
  out.notes.push_back(dataNotes);
  for (size_t i = 0; i < audio.tracks.size(); ++i) {
    DiscTrack t = audio.tracks[i];
    ++t.number;
    t.start += shift;
    for (int32_t& at : t.indexes) at += shift;
    out.tracks.push_back(t);
    ImageTrackNotes n = audio.NotesOf(i);
    // The first audio track's pre-gap follows the data track; the other
    // tracks keep their pauses.
    n.index0 = i == 0 ? dataTrack : n.index0 + shift;
    for (int32_t& at : n.indexes) at += shift;
    out.notes.push_back(n);
  }
  if (!audio.cdText.empty()) {
    AudioDisc numbered = sound;
    numbered.tracks.insert(numbered.tracks.begin(), AudioDiscTrack());
    out.cdText = CdTextPacks(numbered, nullptr);
    const size_t packs = out.cdText.size() / 18;
    if (packs > size_t(kMaxCdTextPacks))
      return *why = "the CD-Text needs " + std::to_string(packs) + " packs, and a disc holds " +
                    std::to_string(kMaxCdTextPacks) + ": shorten the titles and names",
             false;
  }
  out.catalog = audio.catalog;
  out.fromSheet = true;
  return true;
}

}  // namespace audiodisc
