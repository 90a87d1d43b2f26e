#include "jobs/CAudioCDProject.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "BurnCtrl/AudioDataDisc.h"
#include "BurnCtrl/RecorderCommands.h"
#include "BurnCtrl/Results.h"
#include "foundation/LangText.h"
#include "foundation/ShowMessage.h"
#include "authoring/CFileManager.h"
#include "authoring/ProjectFile.h"
#include "authoring/StagingFolder.h"
#include "authoring/SourceCheck.h"
#include "foundation/TempFiles.h"
#include "media/CAVConvert.h"

namespace {

// Sectors per megabyte of CD audio: 1048576 / 2352.
constexpr float kSectorsPerMB = 445.8231201171875f;

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TrackName(int number) {
  char name[32];
  std::snprintf(name, sizeof name, "Track%d.wav", number);
  return name;
}

// Sorted, unique, within [0, count).
std::vector<int> Normalised(std::vector<int> rows, size_t count) {
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  rows.erase(std::remove_if(rows.begin(), rows.end(), [count](int r) { return r < 0 || size_t(r) >= count; }),
             rows.end());
  return rows;
}

}  // namespace

StagedDiscFiles::~StagedDiscFiles() {
  if (!root_.empty()) RemoveTree(root_);
}

void StagedDiscFiles::Refused(const std::string& path, AddRefusal reason) {
  refused_.push_back(path + ": " + LoadLangText("Message", static_cast<int>(reason)));
}

int StagedDiscFiles::Stage(const AudioDataFiles& files, AudioDiscFiles* out, std::vector<std::string>* notices) {
  out->place = files.paths.empty() ? AudioDiscFiles::kNone : files.place;
  if (out->place == AudioDiscFiles::kNone) return result::kSuccess;
  root_ = MakeStagingRoot();
  if (root_.empty()) {
    notices->push_back("no folder can be made for the files of the disc");
    return result::kLayoutFailed;
  }
  CFileManager manager;
  manager.SetStagingRoot(root_);
  manager.SetMode(CFileManager::kModeData);
  manager.SetListener(this);
  for (const std::string& p : files.paths)
    if (!manager.AddPath(nullptr, TreeItem(), p, root_) && refused_.empty()) refused_.push_back(p + ": it is gone");
  manager.SetListener(nullptr);
  if (!refused_.empty()) {
    notices->insert(notices->end(), refused_.begin(), refused_.end());
    return result::kFilesLeftOut;
  }
  out->stagingRoot = root_;
  out->label = files.label.empty() ? "DataCD" : files.label;
  out->discOptions = manager.DiscOptions();
  return result::kSuccess;
}

CAudioCDProject::~CAudioCDProject() { DeleteTempTracks(); }

bool CAudioCDProject::IsSoundFileName(const std::string& path) {
  std::string upper = FileNameOf(path);
  for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
  const size_t dot = upper.rfind('.');
  if (dot == std::string::npos || dot == 0) return false;
  const std::string ext = upper.substr(dot);
  // The five long-standing sound formats, and what music is kept as today: FLAC rips, M4A and
  // Opus.
  for (const char* taken : {".MP3", ".WAV", ".AAC", ".OGG", ".WMA", ".FLAC", ".M4A", ".OPUS"})
    if (ext == taken) return true;
  return false;
}

int CAudioCDProject::ProbeSoundFile(const std::string& path, uint64_t* bytes, uint32_t* sectors,
                                    std::string* duration, AudioTrackRow* row, AudioDiscText* album) {
  *bytes = 0;
  *sectors = 0;
  duration->clear();
  CAVConvert converter;
  std::string text = converter.GetMediaInfo(path);
  // A file without a sound stream (a picture or a video without sound named
  // like a sound file) would convert to nothing.
  if (text.empty() || !converter.LastProbeHadAudio()) return 0;
  const ProbeTags tags = converter.LastProbeTags();
  if (row) {
    row->title = tags.title;
    row->performer = tags.artist;
    row->songwriter = tags.lyricist;
    row->composer = tags.composer;
  }
  if (album) {
    album->title = tags.album;
    album->performer = tags.albumArtist.empty() ? tags.artist : tags.albumArtist;
  }
  const size_t dot = text.find('.');
  if (dot != std::string::npos && dot > 0) text = text.substr(0, dot);
  const float mb = CAVConvert::EstimateSizeMB(CAVConvert::kSoundToWav, text);
  *sectors = uint32_t(mb * kSectorsPerMB);
  *bytes = uint64_t(*sectors) * 2352;
  *duration = text;
  return *sectors != 0 ? 1 : -1;
}

// ---------------------------------------------------------------- adding

void CAudioCDProject::BeginAdd() {
  cancel_ = false;
  limitReached_ = false;
  std::lock_guard<std::mutex> hold(lock_);
  undecodable_.clear();
  currentFile_.clear();
}

CAudioCDProject::AddOutcome CAudioCDProject::AddAudioFile(const std::string& path) {
  if (cancel_) return kCancelled;
  {
    std::lock_guard<std::mutex> hold(lock_);
    currentFile_ = path;
  }
  if (!IsSoundFileName(path)) return kSkipped;
  if (RowCount() >= kMaxTracks) {
    limitReached_ = true;
    cancel_ = true;  // the rest of the operation is not added
    return kLimitReached;
  }
  AudioTrackRow row;
  AudioDiscText album;
  uint32_t sectors = 0;
  if (ProbeSoundFile(path, &row.bytes, &sectors, &row.duration, &row, &album) != 1) {
    std::lock_guard<std::mutex> hold(lock_);
    undecodable_.push_back(path);
    return kUndecodable;
  }
  row.name = FileNameOf(path);
  row.source = path;
  std::lock_guard<std::mutex> hold(lock_);
  // Another add may have filled the last row while this one probed.
  if (rows_.size() >= kMaxTracks) {
    limitReached_ = true;
    cancel_ = true;
    return kLimitReached;
  }
  // The first file with an album names the disc; what the user typed stays.
  if (disc_.title.empty() && disc_.performer.empty() && !album.title.empty()) {
    disc_.title = album.title;
    disc_.performer = album.performer;
  }
  AddRowLocked(std::move(row));
  return kAdded;
}

void CAudioCDProject::AddRowLocked(AudioTrackRow row) { rows_.push_back(std::move(row)); }

void CAudioCDProject::AddAudioFolder(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(dir)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  for (const std::string& name : names) {
    if (cancel_) return;
    const std::string path = base + name;
    if (IsFolder(path))
      AddAudioFolder(path);
    else
      AddAudioFile(path);
  }
}

void CAudioCDProject::AddPaths(const std::vector<std::string>& paths) {
  // Folders first, then the files, as the file dialog hands them over.
  for (const std::string& p : paths)
    if (!cancel_ && IsFolder(p)) AddAudioFolder(p);
  for (const std::string& p : paths)
    if (!cancel_ && !IsFolder(p)) AddAudioFile(p);
}

std::vector<std::string> CAudioCDProject::Undecodable() const {
  std::lock_guard<std::mutex> hold(lock_);
  return undecodable_;
}

std::string CAudioCDProject::CurrentFile() const {
  std::lock_guard<std::mutex> hold(lock_);
  return currentFile_;
}

// ---------------------------------------------------------------- rows

std::vector<AudioTrackRow> CAudioCDProject::Rows() const {
  std::lock_guard<std::mutex> hold(lock_);
  return rows_;
}

size_t CAudioCDProject::RowCount() const {
  std::lock_guard<std::mutex> hold(lock_);
  return rows_.size();
}

uint64_t CAudioCDProject::TotalBytes() const {
  std::lock_guard<std::mutex> hold(lock_);
  uint64_t total = 0;
  for (const AudioTrackRow& r : rows_) total += r.bytes;
  return total;
}

double CAudioCDProject::TotalMB() const { return double(TotalBytes()) * 9.5367431640625e-7; }

int CAudioCDProject::DeleteRows(std::vector<int> rows) {
  std::lock_guard<std::mutex> hold(lock_);
  rows = Normalised(std::move(rows), rows_.size());
  if (rows.empty()) return rows_.empty() ? -1 : 0;
  // From the last to the first, so that earlier indexes stay valid.
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) rows_.erase(rows_.begin() + *it);
  if (rows_.empty()) return -1;
  return std::min(rows.front(), int(rows_.size()) - 1);
}

void CAudioCDProject::Clear() {
  std::lock_guard<std::mutex> hold(lock_);
  rows_.clear();
  disc_ = AudioDiscText();
  dataFiles_ = AudioDataFiles();
  projectPath_.clear();
}

void CAudioCDProject::SetDataFiles(const AudioDataFiles& files) {
  std::lock_guard<std::mutex> hold(lock_);
  dataFiles_ = files;
  if (dataFiles_.paths.empty()) dataFiles_.place = AudioDiscFiles::kNone;
}

AudioDataFiles CAudioCDProject::DataFiles() const {
  std::lock_guard<std::mutex> hold(lock_);
  return dataFiles_;
}

std::vector<int> CAudioCDProject::MoveRowsTo(std::vector<int> rows, int before) {
  std::lock_guard<std::mutex> hold(lock_);
  rows = Normalised(std::move(rows), rows_.size());
  if (rows.empty()) return rows;
  before = std::clamp(before, 0, int(rows_.size()));
  std::vector<AudioTrackRow> moved, kept;
  int insertAt = 0;  // position of `before` among the rows that stay
  for (int i = 0; i < int(rows_.size()); ++i) {
    if (std::binary_search(rows.begin(), rows.end(), i)) {
      moved.push_back(std::move(rows_[size_t(i)]));
    } else {
      if (i < before) ++insertAt;
      kept.push_back(std::move(rows_[size_t(i)]));
    }
  }
  kept.insert(kept.begin() + insertAt, std::make_move_iterator(moved.begin()), std::make_move_iterator(moved.end()));
  rows_ = std::move(kept);
  std::vector<int> now;
  for (size_t i = 0; i < moved.size(); ++i) now.push_back(insertAt + int(i));
  return now;
}

std::vector<int> CAudioCDProject::MoveUp(std::vector<int> rows) {
  rows = Normalised(std::move(rows), RowCount());
  if (rows.empty() || rows.front() == 0) return rows;
  return MoveRowsTo(rows, rows.front() - 1);
}

std::vector<int> CAudioCDProject::MoveDown(std::vector<int> rows) {
  const int count = int(RowCount());
  rows = Normalised(std::move(rows), size_t(count));
  if (rows.empty() || rows.back() == count - 1) return rows;
  // After the row below the last selected one.
  return MoveRowsTo(rows, rows.back() + 2);
}

bool CAudioCDProject::SetRowDetails(int row, const AudioTrackRow& values, std::string* why) {
  std::string isrc;
  if (!values.isrc.empty()) {
    isrc = audiodisc::NormalIsrc(values.isrc);
    if (isrc.empty()) {
      if (why) *why = "\"" + values.isrc + "\" is no ISRC: five letters or digits, then seven digits";
      return false;
    }
  }
  if (values.pauseFrames < 0 || values.pauseFrames > audiodisc::kMaxPauseFrames) {
    if (why) *why = "a pause is 0 to 10 seconds";
    return false;
  }
  std::lock_guard<std::mutex> hold(lock_);
  if (row < 0 || size_t(row) >= rows_.size()) {
    if (why) *why = "there is no row " + std::to_string(row + 1);
    return false;
  }
  AudioTrackRow& r = rows_[size_t(row)];
  r.title = values.title;
  r.performer = values.performer;
  r.songwriter = values.songwriter;
  r.composer = values.composer;
  r.isrc = isrc;
  r.pauseFrames = values.pauseFrames;
  r.preEmphasis = values.preEmphasis;
  r.copyPermitted = values.copyPermitted;
  return true;
}

AudioDiscText CAudioCDProject::DiscText() const {
  std::lock_guard<std::mutex> hold(lock_);
  return disc_;
}

bool CAudioCDProject::SetDiscText(const AudioDiscText& text, std::string* why) {
  if (!text.mcn.empty() && !audiodisc::ValidMcn(text.mcn)) {
    if (why) *why = "\"" + text.mcn + "\" is no catalogue number: it has 13 digits";
    return false;
  }
  std::lock_guard<std::mutex> hold(lock_);
  disc_ = text;
  return true;
}

void CAudioCDProject::SetPauseAfterFirst(int frames) {
  frames = std::clamp(frames, 0, audiodisc::kMaxPauseFrames);
  std::lock_guard<std::mutex> hold(lock_);
  for (size_t i = 1; i < rows_.size(); ++i) rows_[i].pauseFrames = frames;
}

uint64_t CAudioCDProject::EstimatedSectors() const {
  std::lock_guard<std::mutex> hold(lock_);
  uint64_t sectors = rows_.empty() ? 0 : audiodisc::kFirstPregap;
  for (size_t i = 0; i < rows_.size(); ++i) {
    sectors += std::max<uint64_t>(rows_[i].bytes / 2352, audiodisc::kMinTrackFrames);
    if (i > 0) sectors += uint64_t(rows_[i].pauseFrames);
  }
  return sectors;
}

bool CAudioCDProject::FilesBytes(const std::string& path, uint64_t* bytes) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::exists(status)) return false;
  if (std::filesystem::is_regular_file(status)) {
    *bytes += std::filesystem::file_size(path, ec);
    return !ec;
  }
  for (auto it = std::filesystem::recursive_directory_iterator(path, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    if (it->is_regular_file(ec)) *bytes += it->file_size(ec);
  return true;
}

std::string CAudioCDProject::BurnRefusal(uint64_t freeSectors, std::vector<std::string>* notices) const {
  const AudioDisc disc = DiscToWrite(std::vector<std::string>(RowCount()));
  const size_t packs = audiodisc::CdTextPacks(disc, notices).size() / 18;
  if (packs > size_t(audiodisc::kMaxCdTextPacks))
    return "the CD-Text needs " + std::to_string(packs) + " packs, and a disc holds " +
           std::to_string(audiodisc::kMaxCdTextPacks) + ": shorten the titles and names";
  const AudioDataFiles files = DataFiles();
  uint64_t filesSectors = 0;
  if (files.place != AudioDiscFiles::kNone) {
    if (trackAtOnce_) return "track-at-once writes the sound only; an audio CD with files is written a session at once";
    for (const std::string& p : files.paths) {
      uint64_t bytes = 0;
      if (!FilesBytes(p, &bytes)) return p + ": the file or folder for the disc's data is gone";
      filesSectors += (bytes + 2047) / 2048;
    }
    // The sound ends with its lead-out, then come the next session's lead-in
    // and pre-gap; a data track in front of the sound is followed by gaps.
    filesSectors += files.place == AudioDiscFiles::kSessionAfter
                        ? uint64_t(audiodisc::kSecondSessionGap)
                        : uint64_t(audiodisc::kDataPostgap + audiodisc::kAudioPregapAfterData);
  }
  const uint64_t needed = EstimatedSectors() + filesSectors;
  if (freeSectors > 0 && needed > freeSectors) {
    if (filesSectors)
      return "the tracks and the files need " + std::to_string(needed) + " sectors; the disc holds " +
             std::to_string(freeSectors);
    uint64_t pauses = 0;
    for (const AudioDiscTrack& t : disc.tracks) pauses += uint64_t(t.pauseFrames);
    pauses -= disc.tracks.empty() ? 0 : uint64_t(disc.tracks.front().pauseFrames);
    return "the tracks" + std::string(pauses ? " with their pauses" : "") + " last " + std::to_string(needed / 75 / 60) +
           " min " + std::to_string(needed / 75 % 60) + " s; the disc holds " + std::to_string(freeSectors / 75 / 60) +
           " min " + std::to_string(freeSectors / 75 % 60) + " s";
  }
  return {};
}

std::vector<std::string> CAudioCDProject::BurnNotices() const {
  std::lock_guard<std::mutex> hold(lock_);
  return burnNotices_;
}

// ---------------------------------------------------------------- project file

bool CAudioCDProject::SaveAudioProject(const std::string& path, std::string* error, Existing existing) {
  AudioProjectDisc disc;
  {
    std::lock_guard<std::mutex> hold(lock_);
    disc.title = disc_.title;
    disc.performer = disc_.performer;
    disc.mcn = disc_.mcn;
    disc.filesPlace = uint8_t(dataFiles_.place);
    disc.filesLabel = dataFiles_.label;
    disc.files = dataFiles_.paths;
    for (const AudioTrackRow& r : rows_)
      disc.tracks.push_back(AudioProjectTrack{r.source, r.title, r.performer, r.songwriter, r.composer, r.isrc,
                                              uint16_t(r.pauseFrames), r.preEmphasis, r.copyPermitted});
  }
  if (!::SaveAudioProject(path, disc, error, existing)) return false;
  std::lock_guard<std::mutex> hold(lock_);
  projectPath_ = path;
  return true;
}

bool CAudioCDProject::LoadAudioProject(const std::string& path, std::string* error,
                                       std::vector<std::string>* missing) {
  AudioProjectDisc disc;
  if (!::LoadAudioProject(path, &disc, error)) return false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    rows_.clear();
    disc_ = AudioDiscText{disc.title, disc.performer, disc.mcn};
    // Files that are gone stay listed: the burn names them and refuses.
    dataFiles_ = AudioDataFiles{AudioDiscFiles::Place(disc.filesPlace), disc.files, disc.filesLabel};
    if (dataFiles_.paths.empty()) dataFiles_.place = AudioDiscFiles::kNone;
  }
  BeginAdd();
  for (const AudioProjectTrack& kept : disc.tracks) {
    const std::string& source = kept.source;
    if (!IsFile(source)) {
      if (missing) missing->push_back(source);
      continue;
    }
    AudioTrackRow row;
    uint32_t sectors = 0;
    if (ProbeSoundFile(source, &row.bytes, &sectors, &row.duration) != 1) {
      std::lock_guard<std::mutex> hold(lock_);
      undecodable_.push_back(source);
      continue;
    }
    row.name = FileNameOf(source);
    row.source = source;
    row.title = kept.title;
    row.performer = kept.performer;
    row.songwriter = kept.songwriter;
    row.composer = kept.composer;
    row.isrc = kept.isrc;
    row.pauseFrames = std::min<int>(kept.pauseFrames, audiodisc::kMaxPauseFrames);
    row.preEmphasis = kept.preEmphasis;
    row.copyPermitted = kept.copyPermitted;
    std::lock_guard<std::mutex> hold(lock_);
    if (rows_.size() < kMaxTracks) AddRowLocked(std::move(row));
  }
  std::lock_guard<std::mutex> hold(lock_);
  projectPath_ = path;
  return true;
}

// ---------------------------------------------------------------- burning

int CAudioCDProject::PrepareTracks(const KeepGoingQuestion& ask, const std::atomic<bool>* stop,
                                   const TrackProgress& progress) {
  const std::vector<AudioTrackRow> rows = Rows();
  if (rows.empty()) return kEmptyProject;
  DeleteTempTracks();
  const std::string folder = MakeWorkFolder("varnex-audio-");
  if (folder.empty()) return kNoWorkFolder;
  {
    std::lock_guard<std::mutex> hold(lock_);
    workFolder_ = folder + "/";
  }
  std::vector<int> failed;  // row indexes, highest first
  std::string failures;
  int next = 1;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (stop && *stop) break;
    if (progress) progress(int(i), int(rows.size()), rows[i].name);
    // A failed row uses up no number: the tracks stay contiguous.
    const std::string target = folder + "/" + TrackName(next);
    // A source gone or turned into a pipe or a device since it was added is
    // named here; the converter would wait on a pipe for ever.
    if (const std::string why = SourceFileProblem(rows[i].source); !why.empty()) {
      failed.insert(failed.begin(), int(i));
      failures += rows[i].source + ": " + why + "\n";
      continue;
    }
    CAVConvert converter;
    if (converter.Convert(rows[i].source, target, CAVConvert::kSoundToWav, 0, 1, stop)) {
      ++next;
    } else if (!(stop && *stop)) {
      failed.insert(failed.begin(), int(i));
      failures += rows[i].source + ": " + converter.LastError() + "\n";
    }
  }
  if (stop && *stop) {
    DeleteTempTracks();
    return result::kBurnStopped;
  }
  if (next == 1) {
    DeleteTempTracks();
    return kNothingConverted;
  }
  if (failed.empty()) return result::kSuccess;
  if (!ask || !ask(failures)) {
    DeleteTempTracks();
    return kNothingConverted;
  }
  std::lock_guard<std::mutex> hold(lock_);
  // Highest row first, so that earlier deletions do not shift later rows;
  // a row is only removed while it is still the one that failed.
  for (int row : failed)
    if (size_t(row) < rows_.size() && rows_[size_t(row)].source == rows[size_t(row)].source)
      rows_.erase(rows_.begin() + row);
  return result::kSuccess;
}

std::vector<std::string> CAudioCDProject::PreparedTracks() const {
  const std::string folder = WorkFolder();
  std::vector<std::string> tracks;
  if (folder.empty()) return tracks;
  for (int k = 1; k <= int(kMaxTracks); ++k) {
    const std::string path = folder + TrackName(k);
    if (!IsFile(path)) break;
    tracks.push_back(path);
  }
  return tracks;
}

int CAudioCDProject::BurnTracks(int drive, bool testWrite) {
  if (RowCount() == 0) return result::kNothingDone;
  bool blank = false, writable = false;
  int medium = 0;
  const int info = GetDiscInfo(drive, &blank, &writable, &medium);
  if (info != result::kSuccess) return info;
  if (!(medium == medium::kCdR || medium == medium::kCdRw) || !blank) {
    ShowMessage(LoadLangText("Message", 18), msgbox::kInfoOk);
    return result::kNothingDone;
  }
  const std::vector<std::string> tracks = PreparedTracks();
  if (tracks.empty()) return kNothingConverted;
  std::vector<std::string> notices;
  AudioDisc disc = DiscToWrite(tracks);
  StagedDiscFiles staged;
  if (int st = staged.Stage(DataFiles(), &disc.files, &notices); st != result::kSuccess) {
    std::lock_guard<std::mutex> hold(lock_);
    burnNotices_ = std::move(notices);
    return st;
  }
  // A remote recorder is connected around the write by the command layer.
  const int r = WriteAudioDisc(drive, disc, testWrite, &notices);
  std::lock_guard<std::mutex> hold(lock_);
  burnNotices_ = std::move(notices);
  return r;
}

AudioDisc CAudioCDProject::DiscToWrite(const std::vector<std::string>& wavs) const {
  AudioDisc disc;
  disc.trackAtOnce = trackAtOnce_;
  std::lock_guard<std::mutex> hold(lock_);
  disc.title = disc_.title;
  disc.performer = disc_.performer;
  disc.mcn = disc_.mcn;
  disc.files.place = dataFiles_.place;
  // The prepared WAVs follow the rows one for one once the rows that failed
  // to convert are gone.
  for (size_t i = 0; i < wavs.size() && i < rows_.size(); ++i) {
    const AudioTrackRow& r = rows_[i];
    disc.tracks.push_back(AudioDiscTrack{wavs[i], r.title, r.performer, r.songwriter, r.composer, r.isrc,
                                         r.pauseFrames, r.preEmphasis, r.copyPermitted});
  }
  return disc;
}

int CAudioCDProject::DeleteTempTracks() {
  std::string folder;
  {
    std::lock_guard<std::mutex> hold(lock_);
    folder.swap(workFolder_);
  }
  if (!folder.empty()) RemoveTree(folder.substr(0, folder.size() - 1));
  return result::kSuccess;
}

std::string CAudioCDProject::WorkFolder() const {
  std::lock_guard<std::mutex> hold(lock_);
  return workFolder_;
}

int CAudioCDProject::TrackRowOfItem(const std::string& item) {
  const size_t track = item.rfind("Track");
  if (track == std::string::npos) return -1;
  const size_t wav = item.find(".wav", track);
  if (wav == std::string::npos) return -1;
  const std::string digits = item.substr(track + 5, wav - track - 5);
  if (digits.empty() || digits.size() > 3 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return -1;
  const int n = std::stoi(digits);
  return n >= 1 ? n - 1 : -1;
}

void CAudioCDProject::GetWritingTrackCaption(const std::string& driveLabel, std::string* caption, int* value) const {
  const DriveStatus status = GetDriveStatus(DriveOfLabel(driveLabel));
  const int row = TrackRowOfItem(status.item);
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (row >= 0 && size_t(row) < rows_.size()) {
      *caption = rows_[size_t(row)].source;
      *value = status.percent;
      return;
    }
  }
  *caption = LoadLangText("UIText", 13);
  *value = 0;
}
