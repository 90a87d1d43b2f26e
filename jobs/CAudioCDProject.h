#pragma once
// The audio CD project: the ordered rows of sound files that become the
// tracks of an audio CD, their play times and the estimated size, the rules
// for adding files and folders, the project file, and the two steps of a
// burn: converting every row to a CD WAV ("Track%d.wav" in a work folder of
// its own) and writing those WAVs as one audio CD. The window and
// varnex-cli both drive this class; it knows nothing of either.
//
// Every member may be called from any thread: the rows are guarded by one
// lock, the flags of a running add are atomic.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "BurnCtrl/AudioDisc.h"
#include "authoring/CFileManager.h"
#include "OutputFile.h"
#include "foundation/ResultCodes.h"

struct AudioTrackRow {
  std::string name;      // file name with extension
  std::string duration;  // "hh:mm:ss" as probed, the fraction cut off
  std::string source;    // full path
  uint64_t bytes = 0;    // estimated bytes on the disc (whole sectors)
  // What the disc says of the track: CD-Text (UTF-8, from the file's tags
  // when it is added), its ISRC, its flags and the silence before it.
  std::string title, performer, songwriter, composer;
  std::string isrc;
  int pauseFrames = 0;  // 1/75 s, 0 to 750; whichever track is first has 2 s instead
  bool preEmphasis = false;
  bool copyPermitted = false;
};

// Files on the disc besides its sound (AudioDiscFiles::Place says where).
struct AudioDataFiles {
  AudioDiscFiles::Place place = AudioDiscFiles::kNone;
  std::vector<std::string> paths;  // files and folders, each put at the top of the volume
  std::string label;               // the volume's name; "" for "DataCD"
};

// The files of a disc staged as a data project for one burn; they go when
// this goes.
class StagedDiscFiles : public FileManagerListener {
 public:
  StagedDiscFiles() = default;
  ~StagedDiscFiles() override;
  StagedDiscFiles(const StagedDiscFiles&) = delete;
  StagedDiscFiles& operator=(const StagedDiscFiles&) = delete;
  // Fills `out` for the burn (nothing to do without files). result::kSuccess,
  // or the failure with its reasons (a file gone, a name refused) added to
  // `notices`.
  int Stage(const AudioDataFiles& files, AudioDiscFiles* out, std::vector<std::string>* notices);
  void Refused(const std::string& path, AddRefusal reason) override;

 private:
  std::string root_;
  std::vector<std::string> refused_;
};

// What the disc says of itself.
struct AudioDiscText {
  std::string title, performer;  // CD-Text, UTF-8
  std::string mcn;               // 13 digits, or empty
};

class CAudioCDProject {
 public:
  static constexpr size_t kMaxTracks = 99;  // the audio CD track limit
  // Results beyond the recorder command layer's.
  static constexpr int kNothingConverted = result::kAudioNothingConverted;  // or the user gave up after a failure
  static constexpr int kNoWorkFolder = result::kNoWorkFolder;
  static constexpr int kEmptyProject = result::kEmptyProject;

  CAudioCDProject() = default;
  ~CAudioCDProject();
  CAudioCDProject(const CAudioCDProject&) = delete;
  CAudioCDProject& operator=(const CAudioCDProject&) = delete;

  // Whether a file name has one of the sound extensions taken (".mp3",
  // ".wav", ".aac", ".ogg", ".wma", ".flac", ".m4a", ".opus", any case).
  static bool IsSoundFileName(const std::string& path);
  // Probes a file with the converter: 1 with the estimated bytes and sectors
  // and the play time ("00:03:25"); 0 when the converter gives no play time
  // or finds no sound in it; -1 when the play time is under one second.
  // `row`, when given, also gets the texts of the file's tags.
  static int ProbeSoundFile(const std::string& path, uint64_t* bytes, uint32_t* sectors, std::string* duration,
                            AudioTrackRow* row = nullptr, AudioDiscText* album = nullptr);

  // ---- adding
  enum AddOutcome { kAdded, kSkipped, kLimitReached, kUndecodable, kCancelled };
  // Starts an add operation: clears its cancel, limit and undecodable notes.
  void BeginAdd();
  // One file: skipped silently unless its name is a sound file name;
  // refused at the 100th track (the rest of the operation is cancelled) and
  // when the converter cannot read it (noted for the end of the operation).
  AddOutcome AddAudioFile(const std::string& path);
  // Every file below a folder, in name order, sub-folders as they come.
  void AddAudioFolder(const std::string& folder);
  // Files and folders, as the file dialog, a drop or a paste give them.
  void AddPaths(const std::vector<std::string>& paths);
  void CancelAdd() { cancel_ = true; }
  bool AddCancelled() const { return cancel_; }
  bool LimitReached() const { return limitReached_; }
  // The files of this add operation the converter could not read.
  std::vector<std::string> Undecodable() const;
  // The file being probed now, for the add progress window.
  std::string CurrentFile() const;

  // ---- the rows
  std::vector<AudioTrackRow> Rows() const;
  size_t RowCount() const;
  uint64_t TotalBytes() const;
  double TotalMB() const;            // bytes / 1048576; exactly 0 without rows
  int64_t GetTotalMB() const { return int64_t(TotalMB()); }
  // Removes rows (indexes in any order) and returns the row to select after
  // it: the one now at the first removed position, or the new last row; -1
  // when no row is left.
  int DeleteRows(std::vector<int> rows);
  void Clear();
  // Moves a block of selected rows; return the new indexes of the moved
  // rows (unchanged when nothing moves).
  std::vector<int> MoveUp(std::vector<int> rows);
  std::vector<int> MoveDown(std::vector<int> rows);
  // Moves the selected rows in front of row `before` (RowCount() = the end),
  // as a drag inside the list does.
  std::vector<int> MoveRowsTo(std::vector<int> rows, int before);

  // Takes the texts, codes, flags and pause of `values` into row `row` (its
  // file stays). False with `why` when the row is gone or a value cannot be
  // written (an ISRC that is none, a pause beyond 10 s).
  bool SetRowDetails(int row, const AudioTrackRow& values, std::string* why = nullptr);
  AudioDiscText DiscText() const;
  // False with `why` for a catalogue number that is not 13 digits.
  bool SetDiscText(const AudioDiscText& text, std::string* why = nullptr);
  // Every row after the first gets this pause (the first keeps its 2 s).
  void SetPauseAfterFirst(int frames);
  // Writing track by track with 2-second gaps instead of a session at once.
  void SetTrackAtOnce(bool on) { trackAtOnce_ = on; }
  bool TrackAtOnce() const { return trackAtOnce_; }
  // Files to go on the disc with the sound: an Enhanced CD or a mixed-mode
  // CD. Kept in the project file; checked and staged only when burnt.
  void SetDataFiles(const AudioDataFiles& files);
  AudioDataFiles DataFiles() const;
  // Adds the bytes of the files below `path` (itself, when a file) to
  // `bytes`; false when it is gone.
  static bool FilesBytes(const std::string& path, uint64_t* bytes);
  // Why the project cannot be burnt onto a disc of `freeSectors` (0: not
  // asked) as it stands, before anything is converted: more CD-Text than the
  // packs hold, more play time with the pauses (and room for the files, as
  // their sizes let it be judged) than the disc holds, files that are gone,
  // files with track-at-once. "" when
  // nothing stands in the way; `notices` gets texts that lose characters.
  std::string BurnRefusal(uint64_t freeSectors, std::vector<std::string>* notices = nullptr) const;
  // Sectors the disc will take: the 2-second start, the pauses, the tracks
  // as estimated (each at least 4 seconds).
  uint64_t EstimatedSectors() const;
  // The disc as the engine writes it from the prepared WAVs (PreparedTracks).
  AudioDisc DiscToWrite(const std::vector<std::string>& wavs) const;
  // What the last burn wanted the user to know besides its result.
  std::vector<std::string> BurnNotices() const;

  // ---- project file
  bool SaveAudioProject(const std::string& path, std::string* error, Existing existing = Existing::kKeep);
  // Replaces the rows with the project's; rows whose file is gone are left
  // out (and named in `missing`), undecodable ones noted as during an add.
  bool LoadAudioProject(const std::string& path, std::string* error, std::vector<std::string>* missing = nullptr);
  const std::string& ProjectPath() const { return projectPath_; }
  void SetProjectPath(const std::string& path) { projectPath_ = path; }

  // ---- burning
  // Asked when some rows could not be converted: true burns the others
  // (their rows are removed), false gives up (-510). The argument names the
  // rows that failed, one "name: reason" a line.
  using KeepGoingQuestion = std::function<bool(const std::string& failures)>;
  // Told before each row is converted: its index, the row count, its name.
  using TrackProgress = std::function<void(int row, int rows, const std::string& name)>;
  // Converts every row into the work folder. 1, or a negative result; on
  // every way out but success the work folder is removed. `stop` ends the
  // converter at once and gives -920 (burn stopped).
  int PrepareTracks(const KeepGoingQuestion& ask, const std::atomic<bool>* stop = nullptr,
                    const TrackProgress& progress = nullptr);
  // The prepared WAVs, in order: Track1.wav, Track2.wav, ... up to the first
  // that does not exist.
  std::vector<std::string> PreparedTracks() const;
  // Writes the prepared WAVs as one audio CD on a recorder of the command
  // layer. 0 with "Message" 18 shown when the disc is not a blank CD-R or
  // CD-RW.
  int BurnTracks(int drive, bool testWrite);
  // Deletes the work folder with its files. Always 1.
  int DeleteTempTracks();
  std::string WorkFolder() const;
  // The row being written on a drive ("UIText" 13 and 0 when none is
  // known): the source path of the row whose Track%d.wav is being written,
  // and the drive's progress.
  void GetWritingTrackCaption(const std::string& driveLabel, std::string* caption, int* value) const;
  // The row whose track `item` ("/…/Track3.wav") is, or -1.
  static int TrackRowOfItem(const std::string& item);

 private:
  void AddRowLocked(AudioTrackRow row);

  mutable std::mutex lock_;
  std::vector<AudioTrackRow> rows_;
  std::string workFolder_;  // ends in "/" while it exists
  std::string projectPath_;
  std::string currentFile_;
  std::vector<std::string> undecodable_;
  AudioDiscText disc_;
  AudioDataFiles dataFiles_;
  std::vector<std::string> burnNotices_;
  std::atomic<bool> trackAtOnce_{false};
  std::atomic<bool> cancel_{false};
  std::atomic<bool> limitReached_{false};
};
