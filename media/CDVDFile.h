#pragma once
// DVD-Video authoring: up to 260 video files become a VIDEO_TS folder in a
// work folder of its own, plus the header of the disc's file systems, and
// a table of the files in the order they follow the header on the disc.
//
// Two engines are tried in order. The first converts each title in one
// converter run to a DVD program stream; the second makes MPEG-2 video and
// AC-3 sound separately and multiplexes them. Both end with the authoring
// tool, driven by the same authoring script. Every tool runs in a process
// group of its own: cancelling ends exactly the tool this object started.

#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "authoring/DvdVolume.h"
#include "foundation/ResultCodes.h"


class CDVDFile {
 public:
  static constexpr int kMaxTitles = 260;
  static constexpr int kPathSize = 260;
  enum { kNtsc = 1, kPal = 2 };
  enum { kAspect4x3 = 1, kAspect16x9 = 2 };

  CDVDFile();
  virtual ~CDVDFile();
  CDVDFile(const CDVDFile&) = delete;
  CDVDFile& operator=(const CDVDFile&) = delete;

  // `table` holds `count` source paths of kPathSize bytes each. 1 when the
  // VIDEO_TS folder, the header and the file table are ready; otherwise a
  // result above, with nothing of the run left behind.
  int Build(const std::string& label, int reencode, int tvSystem, int aspect, int count, const char* table);
  // The same with the paths as a list.
  int Build(const std::string& label, int reencode, int tvSystem, int aspect, const std::vector<std::string>& inputs);

  // Copies the source path of every file into consecutive kPathSize slots
  // and returns how many there are (0 without a table): the VIDEO_TS files
  // in disc order, then the file holding the disc's closing sector.
  int GetFileTable(char* table) const;
  const std::string& GetHeaderFile() const { return headerFile_; }
  // Deletes the header file and the work folder with everything in it.
  void CleanUp();

  // Set from another thread to stop Build: the running tool is ended.
  std::atomic<bool> cancel{false};
  // Percent of the run, 0 to 100.
  std::atomic<int> progress{0};

  // What the run is doing now ("Title 2 of 3: MPEG-2 video"), for progress
  // captions, in the user's language.
  std::string CurrentStep() const;
  // The language texts of the steps ([UIText]).
  enum StepText { kStepNone = 0, kStepConvert = 1180, kStepVideo = 1181, kStepSound = 1182, kStepMultiplex = 1183,
                  kStepAuthor = 1184, kStepLayOut = 1185 };
  // Why the last Build failed, with the failing tool's last lines.
  const std::string& LastError() const { return lastError_; }
  // Which engine made the folder (1 or 2; 0 before a successful Build).
  int EngineUsed() const { return engine_; }

  const std::string& WorkFolder() const { return workFolder_; }
  const std::vector<DvdFileRecord>& Records() const { return records_; }
  int FileCount() const { return int(records_.size()); }
  // Slots GetFileTable fills: the files and the closing sector.
  int TableCount() const { return records_.empty() ? 0 : int(records_.size()) + 1; }
  int TitleCount() const { return titleCount_; }
  uint32_t TotalSectors() const { return totalSectors_; }

  // The authoring script for titles, one chapter each.
  struct Title {
    std::string file;
    bool converted = false;
  };
  static std::string AuthoringScript(const std::string& workFolder, const std::vector<Title>& titles, int tvSystem,
                                     int aspect);
  // Whether an input goes to the authoring tool as it is.
  static bool UsedDirectly(const std::string& path, int reencode);
  // The converter's argument texts of the second engine, after the changes
  // today's converter needs (see the table in the .cpp).
  static std::string VideoArguments(const std::string& source, const std::string& base, int tvSystem, int aspect);
  static std::string SoundArguments(const std::string& source, const std::string& base);
  static std::string MultiplexArguments(const std::string& base);
  // The last few lines a tool printed.
  static std::string LastLines(const std::string& output, int lines = 6);

 private:
  int FirstEngine(int reencode, int tvSystem, int aspect, const std::vector<std::string>& inputs);
  int SecondEngine(int reencode, int tvSystem, int aspect, const std::vector<std::string>& inputs);
  int Author(const std::vector<Title>& titles, int tvSystem, int aspect);
  int CollectFiles();
  bool MakeWorkFolder();
  void RemoveWorkFolder();
  int Fail(int code, const std::string& why, const std::string& toolOutput = "");
  void SetStep(StepText text, size_t title = 0, size_t titles = 0);
  bool StopAsked() const { return cancel.load(); }

  std::string label_;
  std::string headerFile_;
  std::string closingFile_;  // in the work folder
  std::string workFolder_;  // ends in "/"
  int titleCount_ = 0;
  uint32_t totalSectors_ = 0;
  int engine_ = 0;
  std::vector<DvdFileRecord> records_;
  std::string lastError_;
  mutable std::mutex stepLock_;
  StepText step_ = kStepNone;
  size_t stepTitle_ = 0, stepTitles_ = 0;
};
