#pragma once
// Writing a whole session of a source to a recorder at once. On CD the
// session is described to the drive by a cue sheet (SEND CUE SHEET) and
// written from the pre-gap of its first track (LBA -150 on a blank disc) to
// its lead-out in one run of raw sectors. The cue sheet carries the source's
// catalogue number, each track's ISRC, control flags and index points above
// 1; a session's CD-Text packs (the disc's for the first) are written in its lead-in
// (lead-in data form 0x41: from where READ DISC INFORMATION says the lead-in
// starts, 96 bytes of R-W sub-channel a sector, the packs over and over).
// On DVD and BD each track is
// reserved (when its size allows) and written, and the session closed.
//
// Calling order: BurnBegin (0: ready), Burn (returns at once; the writing
// runs on a thread of its own), poll IsOver, BurnEnd (0: the session is on
// the disc). GetBurnProgress, GetCurrBurnFile and BurnStop may be called from
// any thread while the manager exists.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CDevCmdRW.h"
#include "DataSource.h"

class BurnManaBase {
 public:
  virtual ~BurnManaBase();
  virtual int BurnEnd() = 0;
  virtual int BurnBegin() = 0;

  // Called on the writing thread whenever the percent done or the item
  // being written changes, so that nobody needs to poll (set before Burn).
  using ProgressHook = std::function<void(int percent, const std::string& item)>;
  void SetProgressHook(ProgressHook hook) { hook_ = std::move(hook); }

  bool IsOver() const { return over_; }
  void BurnStop() { stop_ = true; }
  bool WasStopped() const { return stop_; }
  int GetBurnProgress() const;
  void GetCurrBurnFile(char* text, int size) const;
  // Why BurnBegin or the writing failed ("" when they did not).
  std::string GetLastError() const;

 protected:
  void SetItem(const std::string& text);
  bool Fail(const std::string& why);
  // Tells the hook when the percent done has moved (or `force`).
  void Report(bool force = false);

  std::atomic<bool> over_{false};
  std::atomic<bool> stop_{false};
  std::atomic<int64_t> done_{0}, total_{0};
  mutable std::mutex textLock_;
  std::string item_, error_;
  ProgressHook hook_;
  int reported_ = -1;  // the writing thread's own
};

// What BurnBegin and BurnEnd return besides 0.
enum BURN_RESULT : int {
  BURN_OK = 0,
  BURN_NOT_READY = 1,       // no disc, or the recorder does not answer
  BURN_WRONG_MEDIUM = 2,    // the disc cannot take this source (kind, address, closed)
  BURN_REFUSED = 3,         // the recorder refused a command that prepares the writing
  BURN_SOURCE_FAILED = 4,   // the source could not be read
  BURN_WRITE_FAILED = 5,    // writing or closing failed
  BURN_STOPPED = 6,         // BurnStop
};

class BurnMana_SAO : public BurnManaBase {
 public:
  // `source` and `target` stay the caller's and must outlive the manager.
  // `session` counts from 1; `keepOpen` leaves the disc open for another
  // session; `startAddress` is where a CD's first session begins (-150).
  BurnMana_SAO(DataSource* source, CDevCmdRW* target, int session, bool keepOpen, long startAddress);
  ~BurnMana_SAO() override;

  // The recorder goes through the writing without writing (set before BurnBegin).
  void SetTestWrite(bool on) { testWrite_ = on; }

  int BurnBegin() override;
  bool Burn();
  int BurnEnd() override;

  // The cue sheet of the session (CD sources), 8 bytes an entry.
  std::vector<uint8_t> CueSheet() const;

 private:
  int BeginCd();
  int BeginDvd();
  void Run();
  int WriteTrack(const SourceTrack& t, bool cd);
  int WriteLeadIn();
  bool WritesLeadIn() const;
  long ProgramStart() const;
  int CloseDvd();
  int Refused(const char* what);

  DataSource* source_;
  CDevCmdRW* target_;
  int session_;
  bool keepOpen_;
  bool testWrite_ = false;
  long startAddress_;
  long leadInStart_ = 0;
  const SourceSession* layout_ = nullptr;
  bool begun_ = false;
  bool overwritable_ = false;
  int result_ = BURN_OK;
  std::thread worker_;
};
