#pragma once
// Writes one track at a time of a burn source to one recorder. A producer
// thread pulls sectors from the source into the ring buffer; a writer thread
// sends blocks of 16 or 32 sectors to the recorder. BurnMana also owns the
// command sequences that open a track on each kind of disc (begin) and close
// it afterwards (end).
//
// Several recorders burning one project at once take the cache path instead:
// each reads its source under the shared source lock into a 64 MiB cache of
// its own and writes the cache out between turns.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BurnCtrl/BufManaEx.h"
#include "BurnCtrl/BurnFile.h"
#include "BurnCtrl/interfaces/Recorder.h"

struct BurnOptions {
  bool multiSession = false;  // leave the disc open for another session
  bool eject = false;         // open the tray at the end
  bool testWrite = false;
  bool multiRecorder = false; // the cache path
  // Write-to-file mode: the track goes to this file instead of the disc (an
  // old file of that name is replaced); "" writes to the recorder.
  std::string outputFile;
  // The data disc's file system options (project::DiscOption bits; 0: the
  // defaults, Rock Ridge on).
  uint8_t discOptions = 0;
  eltorito::BootOptions boot;  // a bootable data disc (CD)
};

class BurnMana {
 public:
  static constexpr uint32_t kBufferSectors = 1000;
  static constexpr uint64_t kCacheBytes = 64ull << 20;
  static constexpr uint32_t kCacheChunk = 32;
  // Sectors the producer asks its source for at a time (well within the
  // ring buffer's 1000).
  static constexpr uint32_t kProducerRun = 64;
  static constexpr int kLongWritePollMs = 100;
  // A drive that answers "long write in progress" longer than this (in
  // polls, one minute) has stopped working.
  static constexpr int kLongWritePolls = 600;
  static constexpr int kWriteErrorRetries = 10;
  // Bound of every wait for the drive to become ready (in polls).
  static constexpr int kReadyPolls = 1800;
  // On overwritable media a track written from the disc's start keeps this
  // many of its first sectors back until the rest is on the disc: they hold
  // what makes a volume recognisable (the recognition sequence or primary
  // descriptor at 16, the descriptor sequences, the anchor at 256 and the
  // file set behind it) and the sectors 16, 256 and 512 by which such a disc
  // is judged blank. A burn cut short leaves a disc that reads as blank
  // instead of one that lists files it never wrote.
  static constexpr uint32_t kHeadSectors = 544;

  // Neither the recorder nor the source is owned; both outlive the manager.
  BurnMana(Recorder* recorder, BurnFile* source, const BurnOptions& options);
  ~BurnMana();
  BurnMana(const BurnMana&) = delete;
  BurnMana& operator=(const BurnMana&) = delete;

  // Opens the session and the track at the recorder's next writable address
  // (the session start on overwritable media) and readies the buffer.
  // `discKind` 1 is CD media; `layer0` and `lastTrack` are the values of a
  // DL disc that is appended to.
  bool PrepareProjectTrack(int session, int track, int discKind, uint32_t sessionStart,
                           uint32_t layer0 = 0, uint32_t lastTrack = 0);
  // An image's track goes out as the image holds it (disc kind by medium).
  bool PrepareImageTrack(int session, int track);
  void SetTestWrite() { options_.testWrite = true; }
  // 0 when the recorder is ready to write, else a numbered result or the
  // status of the failed device command.
  int BurnBegin();
  void StartBurn();
  bool IsBurnOver() const;
  // Returns once the track is written or the burn stopped or failed.
  void WaitUntilBurnOver();
  void StopBurn();
  // Waits until the producer and writer threads have ended (after a stop or
  // a failure, before the source is closed).
  void WaitForThreads() { JoinThreads(); }
  // Closes the track, and after the session's last track the session.
  int BurnEnd();

  int GetProgress() const;
  std::string GetCurrentItem() const;
  // 1 while all is well; a failure result once something went wrong.
  int GetStatus() const { return status_.load(); }
  // The first drive command that failed, with the drive and its sense, in
  // words for the user ("" while nothing failed).
  std::string GetFailure() const;
  Recorder* GetRecorder() const { return recorder_; }
  uint32_t GetTrackLength() const { return trackLength_; }
  uint32_t GetWritten() const { return written_.load(); }
  // Bytes of the current track: written so far, and in all.
  uint64_t GetBytesWritten() const { return uint64_t(std::min(written_.load(), trackLength_.load())) * trackSectorBytes_; }
  uint64_t GetBytesTotal() const { return uint64_t(trackLength_.load()) * trackSectorBytes_; }
  // How full the ring buffer between source and recorder was at the last
  // write, 0 to 100; -1 on the cache path, which has no ring buffer.
  int GetBufferFill() const { return bufferFill_.load(); }
  uint32_t GetNextWriteAddress() const { return nextWriteAddress_; }
  uint32_t SectorsPerWrite() const { return sectorsPerWrite_; }
  bool SplitWrites() const { return splitWrites_.load(); }
  int MediumType() const { return mediumType_; }
  const std::string& OutputFile() const { return outputFile_; }
  // Write-to-file mode: every write is appended to this file instead.
  void SetOutputFile(const std::string& path) { outputFile_ = path; }

  // The lock under which several recorders read their sources.
  static std::mutex& SourceLock();

 private:
  int BeginCd();
  int BeginDvdMinus();
  int BeginDvdMinusRDl();
  int BeginDvdPlusRDl();
  int BeginDvdPlus();
  int SetParam(const rec::WriteParam& p, const char* step);
  // A begin step whose command failed: logged, noted, and -701.
  int StepFailed(const char* step, const char* command);
  void NoteFailure(const std::string& command);
  bool WaitReady(int periodMs, int polls = kReadyPolls);
  void WaitWhileBusy(int periodMs);
  void RewriteUdfAnchor();
  // The steps of BurnEnd: the track's data onto the disc, then the session closed.
  void FlushTrack();
  void CloseSessionOnDisc();
  void SendClosingCommands(int lastInSession);
  int ClearOldVolume();
  bool SendOrHold(uint32_t address, const uint8_t* data, uint32_t count);
  bool WriteHead();

  void Produce();
  void WriteOut();
  void RunCachePath();
  // The cache path of a recorder whose job has one reader for all.
  void RunSharedPath(SharedReader& shared);
  bool WriteBlock(uint32_t address, const uint8_t* data, uint32_t count);
  bool WriteWithRetry(uint32_t address, const uint8_t* data, uint32_t count);
  bool AppendToOutput(const uint8_t* data, uint32_t bytes);
  void Fail(int result);
  void SetItem(const std::string& text);
  void JoinThreads();

  Recorder* recorder_;
  BurnFile* source_;
  BurnOptions options_;
  std::string outputFile_;

  int session_ = 0, discKind_ = 1, discTrack_ = 1;
  // Read by progress displays on other threads.
  std::atomic<int> track_{0}, lastTrack_{1};
  std::atomic<uint32_t> trackLength_{0};
  uint32_t sessionStart_ = 0;
  int mediumType_ = 0;
  uint32_t sectorSize_ = 2048, sectorsPerWrite_ = 16;
  // An audio track ends where its sound ends: its last write is short
  // instead of padded with silence to a whole block.
  bool exactEnd_ = false;
  uint32_t nextWriteAddress_ = 0;
  uint32_t layer0_ = 0, lastTrackValue_ = 0, jumpAddress_ = 0, remapBase_ = 0;
  bool closeFailed_ = false;
  // The held-back start of the track (kHeadSectors): how many sectors, where
  // the track starts, and what of it the writer has handed over so far.
  uint32_t headSectors_ = 0, trackStart_ = 0, headHeld_ = 0;
  std::vector<uint8_t> head_;

  BufManaEx buffer_;
  std::atomic<bool> stop_{false};
  // Told whenever the writing moves on or ends (see WaitUntilBurnOver).
  std::mutex overLock_;
  std::condition_variable overCv_;
  void NoteMoved();
  std::atomic<uint32_t> written_{0};
  std::atomic<uint32_t> trackSectorBytes_{2048};  // sectorSize_, for progress displays
  std::atomic<int> bufferFill_{0};
  std::atomic<int> status_{1};
  std::atomic<bool> splitWrites_{false};
  mutable std::mutex itemLock_;
  std::string item_ = "Processing...";
  std::string failure_;
  std::thread producer_, writer_;
};
