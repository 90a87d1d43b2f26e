#pragma once
// A drive with a disc in it, answering MMC commands from a model of the disc:
// its sessions and tracks, what is recorded, the write parameters. The virtual
// recorder and the image-file device are this target over different sector
// stores; the answers follow what recorders give, refusals included.

#include <array>
#include <cstdint>
#include <string>
#include <vector>
#include <utility>

#include "CdSector.h"
#include "MediumTable.h"
#include "ScsiTransport.h"

struct DiscTrack {
  int number = 1;
  int session = 1;
  int32_t start = 0;     // first LBA
  int32_t size = 0;      // reserved size, or the final size once closed
  int32_t recorded = 0;  // sectors written from the start
  cdsector::Mode mode = cdsector::Mode::Mode1;  // Audio, Mode1 or a Mode 2 form (any form: a Mode 2 track)
  bool closed = false;
  bool reserved = false;
  uint8_t flags = 0;     // control bits a cue sheet gave: 0x1 pre-emphasis, 0x2 copy permitted, 0x8 four channels
  std::string isrc;      // 12 characters, or empty
  std::vector<int32_t> indexes;  // LBAs of index 2, 3, ... in order (index 1 is `start`)
  int32_t End() const { return start + ((closed || reserved) ? size : recorded); }
  bool IsAudio() const { return mode == cdsector::Mode::Audio; }
  // The control nibble of the table of contents.
  uint8_t Control() const { return uint8_t((IsAudio() ? 0 : 4) | (flags & (IsAudio() ? 0x0B : 0x02))); }
};

struct DiscModel {
  uint16_t profile = 0;       // current MMC profile; 0: no disc
  int32_t capacity = 0;       // sectors of the user data area
  bool trayOpen = false;
  bool pressed = false;       // a read-only disc
  bool finalized = false;     // sequential media: closed, nothing can be added
  bool formatted = false;     // overwritable media
  int closedSessions = 0;     // sequential media
  uint8_t sessionFormat = 0;  // CD: 0x00 CD-DA/CD-ROM, 0x20 CD-ROM XA
  int32_t layer0 = 0;         // DL media: sectors of layer 0
  std::vector<DiscTrack> tracks;  // in disc order
  std::vector<uint8_t> cdText;    // CD-Text packs, 18 bytes each
  // The lead-in CD-Text of later sessions, by session number (first session's: cdText).
  std::vector<std::pair<int, std::vector<uint8_t>>> laterCdText;
  std::string mcn;                // media catalogue number: 13 digits, or empty
};

class MmcDiscTarget : public ScsiTransport {
 public:
  bool Execute(ScsiCommand& cmd) override;

  const DiscModel& Model() const { return model_; }
  // A new blank disc of a medium (a DVD-RAM comes formatted).
  static DiscModel BlankModel(uint16_t profile, int32_t capacity);

  // Lead-out start of the last closed session (0 when none).
  int32_t LeadOutOfSession(int session) const;
  // Where the next track would start: the invisible track.
  int32_t NextTrackStart() const;
  // Raw 2352-byte form of a CD sector (synthesised from the stored form).
  bool ReadRaw(int32_t lba, uint8_t* raw2352, cdsector::Mode* mode = nullptr);
  // User data of a data sector (2048 bytes); false for audio and form 2.
  bool ReadUser2048(int32_t lba, uint8_t* out);
  const DiscTrack* TrackAt(int32_t lba) const;
  // The track whose pre-gap (the sectors between it and the track before it
  // in its session) holds `lba`; null when none.
  const DiscTrack* PregapTrack(int32_t lba) const;
  // Where the lead-in of the session to be written starts: what READ DISC
  // INFORMATION names, and where a session-at-once write with CD-Text begins.
  int32_t LeadInStart() const { return NextTrackStart() - 150 - 4500 - 1; }

 protected:
  // The stored form of one sector: 2352 (raw), 2048 or 2336 (user data).
  // Returns the byte count; 0 when nothing is stored (reads as zero bytes).
  virtual int ReadStored(int32_t lba, uint8_t* buf) = 0;
  virtual bool WriteStored(int32_t lba, const uint8_t* buf, int size) = 0;
  // True when the store keeps a CD's data sectors as their 2048 bytes of
  // user data alone (a plain image): such sectors are then handed to
  // WriteStoredRun as they come, never encoded whole only to be cut back.
  virtual bool KeepsUserData() const { return false; }
  // `count` consecutive 2048-byte sectors; stores may do it in one go.
  virtual bool WriteStoredRun(int32_t lba, const uint8_t* buf, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
      if (!WriteStored(lba + int32_t(i), buf + size_t(i) * 2048, 2048)) return false;
    return true;
  }
  // `count` consecutive raw (2352-byte) CD sectors; stores may do it in one
  // go.
  virtual bool WriteStoredRawRun(int32_t lba, const uint8_t* raw, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
      if (!WriteStored(lba + int32_t(i), raw + size_t(i) * 2352, 2352)) return false;
    return true;
  }
  // `count` consecutive sectors stored as 2048 bytes of user data each, in
  // one go. False when the store cannot give all of them that way (raw
  // sectors, a hole, a short file); they are then read one by one, so a run
  // never answers differently from its sectors.
  virtual bool ReadStoredRun(int32_t lba, uint8_t* out, uint32_t count) {
    (void)lba, (void)out, (void)count;
    return false;
  }
  // The same for sound: `count` consecutive sectors of an audio track as the
  // store keeps them whole (2352 bytes each, a hole reading as silence).
  // False when the store does not keep whole sectors.
  virtual bool ReadWholeRun(int32_t lba, uint8_t* out, uint32_t count) {
    (void)lba, (void)out, (void)count;
    return false;
  }
  virtual bool FlushStore() { return true; }
  // Called after every command that changed the model.
  virtual void ModelChanged() {}
  // A chance to answer before the disc model does (faults, locks).
  virtual bool Intercept(ScsiCommand& cmd) { (void)cmd; return false; }
  // Clears the sector store after a full blank.
  virtual void StoreErased() {}
  virtual const char* Product() const = 0;
  // Burn-proof (BUFE of the write parameters): an empty buffer pauses the
  // laser instead of spoiling the track.
  bool BurnProof() const { return bufe_; }
  // The write speed the host asked for (SET CD SPEED), in kB/s; 0xFFFF: the
  // fastest the drive can.
  uint16_t HostWriteSpeed() const { return writeSpeed_; }
  // The speed the recorder writes at whatever it is asked, in kB/s; 0: as
  // fast as each speed it lists. The speeds it offers stop there.
  virtual uint32_t PacedWriteSpeed() const { return 0; }

  DiscModel model_;

 private:
  void Inquiry(ScsiCommand& c);
  void TestUnitReady(ScsiCommand& c);
  void RequestSense(ScsiCommand& c);
  void StartStop(ScsiCommand& c);
  void PreventAllow(ScsiCommand& c);
  void GetConfiguration(ScsiCommand& c);
  void ModeSense(ScsiCommand& c);
  void ModeSelect(ScsiCommand& c);
  void ReadDiscInformation(ScsiCommand& c);
  void ReadTrackInformation(ScsiCommand& c);
  void ReadToc(ScsiCommand& c);
  void ReadSubChannel(ScsiCommand& c);
  // The tracks the table of contents lists, and the last session it covers.
  std::vector<const DiscTrack*> TocTracks(int* lastSession) const;
  // Format 0 (false: no such track) and format 2 of READ TOC.
  bool FormattedToc(std::vector<uint8_t>& a, const std::vector<const DiscTrack*>& tracks, uint8_t number,
                    bool msf) const;
  void FullToc(std::vector<uint8_t>& a, const std::vector<const DiscTrack*>& tracks, int lastSession) const;
  void ReadCapacity(ScsiCommand& c);
  void ReadFormatCapacities(ScsiCommand& c);
  void Read10(ScsiCommand& c, int32_t lba, uint32_t count);
  void ReadCd(ScsiCommand& c);
  // The formatted Q sub-channel (16 bytes) of `lba` in track `t`, or in its pre-gap.
  std::array<uint8_t, 16> SubQ(int32_t lba, const DiscTrack* t, bool pregap) const;
  void Write10(ScsiCommand& c, int32_t lba, uint32_t count);
  // Write10 on an overwritable disc, on a CD written session at once, and
  // at the start of a new track.
  void WriteOverwritable(ScsiCommand& c, DiscModel& m, int32_t lba, uint32_t count);
  void WriteCueSectors(ScsiCommand& c, int32_t lba, uint32_t count);
  void WriteNewTrack(ScsiCommand& c, DiscModel& m, int32_t lba, uint32_t count);
  void ReserveTrack(ScsiCommand& c);
  void CloseTrackSession(ScsiCommand& c);
  void SyncCache(ScsiCommand& c);
  void Blank(ScsiCommand& c);
  void FormatUnit(ScsiCommand& c);
  void ReadDvdStructure(ScsiCommand& c);
  void SendDvdStructure(ScsiCommand& c);
  void SendCueSheet(ScsiCommand& c);
  void SetCdSpeed(ScsiCommand& c);
  void GetPerformance(ScsiCommand& c);
  void ReadBufferCapacity(ScsiCommand& c);

  bool NeedMedium(ScsiCommand& c);
  bool CanWrite(ScsiCommand& c);
  void Reply(ScsiCommand& c, const std::vector<uint8_t>& answer);
  std::vector<uint8_t> Page05() const;
  std::vector<uint8_t> Page2A() const;
  std::vector<uint16_t> WriteSpeeds() const;
  // The raw sectors of the CD write being stored, kept between writes.
  std::vector<uint8_t> rawRun_;
  std::vector<uint8_t> TrackInfo(const DiscTrack* t, bool invisible) const;
  DiscTrack* OpenTrack();
  int LastTrackNumber() const;
  int OpenSessionNumber() const { return model_.closedSessions + 1; }
  bool StoreSectors(ScsiCommand& c, DiscTrack& t, int32_t lba, uint32_t count);
  void CloseOpenTracks(DiscModel& m);
  void CommitCueSheet();
  DiscModel& Active() { return simulating_ ? sim_ : model_; }

  // Write parameters (mode page 05).
  uint8_t writeType_ = 1;
  uint8_t trackMode_ = 4;
  uint8_t dataBlockType_ = 8;
  uint8_t multiSession_ = 0;  // 3: another session may follow
  bool testWrite_ = false;
  bool bufe_ = true;
  bool lsValid_ = false, fixedPacket_ = false;
  uint8_t linkSize_ = 0;
  uint32_t packetSize_ = 0;
  uint8_t sessionFormat_ = 0;

  bool preventRemoval_ = false;
  uint16_t readSpeed_ = 0xFFFF, writeSpeed_ = 0xFFFF;
  uint8_t lastSense_[18] = {0x70, 0, 0, 0, 0, 0, 0, 10};

  // Simulated writing works on a copy of the model.
  bool simulating_ = false;
  DiscModel sim_;

  // A session-at-once cue sheet waiting for its data.
  struct CueTrack {
    int number;
    int32_t start;       // index 1
    int32_t pregap;      // index 0, or start when none
    cdsector::Mode mode;
    uint8_t pregapForm;  // data form of the cue sheet for the pre-gap and
    uint8_t form;        // for the track: what each sector the host sends holds
    uint8_t control = 0; // the track's control nibble
    std::vector<int32_t> indexes;  // index 2 on
    std::string isrc;
  };
  bool cuePending_ = false;
  std::vector<CueTrack> cue_;
  int32_t cueNext_ = 0, cueLeadOut_ = 0;
  std::string cueMcn_;
  // The lead-in carries CD-Text: the host sends it from LeadInStart() as
  // 96 bytes of R-W sub-channel a sector; the packs of its first round are kept.
  bool cueText_ = false;
  std::vector<uint8_t> cuePacks_;
  bool cuePacksRepeat_ = false;  // the round of packs is complete
  void TakeLeadIn(const uint8_t* block96);
  // The cue sheet's track a sector belongs to; none before its first pre-gap.
  const CueTrack* CueTrackAt(int32_t at) const;
};
