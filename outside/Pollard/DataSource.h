#pragma once
// A source of a whole disc for the burn library: its sessions and tracks and
// their sectors, read in the order they are written. A CD source hands out
// raw 2352-byte sectors (audio PCM, or data sectors with sync, header and
// ECC); DVD and BD sources 2048-byte user data.
//
// A track covers its pre-gap (index 0) and its data (index 1 to the next
// track's pre-gap or the lead-out). Reading starts at the track's start
// address; SetStartAdd moves into the pre-gap. The pre-gap of a session's
// first track and any pre-gap sector the source cannot give are made as
// empty sectors of the track's kind.

#include <cstdint>
#include <string>
#include <vector>

#include "DevTypes.h"

// What kind of disc a source holds (the values of CDevCmdROM::GetDiscType).
enum CD_TYPE : int { CD_TYPE_NONE = 0, CD_TYPE_CD = 1, CD_TYPE_DVD = 2, CD_TYPE_BD = 3 };

// The sector form of a data track.
enum MODE_FORM : int { MODE_FORM_MODE1 = 0, MODE_FORM_MODE2_FORM1 = 1, MODE_FORM_MODE2_FORM2 = 2,
                       MODE_FORM_MODE2_FORMLESS = 3 };

struct SourceTrack {
  int number = 1;
  int session = 1;
  uint8_t control = 4;     // control nibble: 4 a data track, 0 audio; copy and pre-emphasis bits kept
  MODE_FORM form = MODE_FORM_MODE1;  // data tracks only
  int32_t pregapStart = 0; // index 0; equal to start when the track has no pre-gap
  int32_t start = 0;       // index 1
  int32_t length = 0;      // sectors from index 1 to the next pre-gap or the lead-out
  std::string isrc;        // 12 characters (IsValidIsrc), or empty
  std::vector<int32_t> indexes;  // LBAs of index 2, 3, ... in order, inside (start, End())
  bool IsAudio() const { return (control & 0x04) == 0; }
  int32_t End() const { return start + length; }
};

struct SourceSession {
  int number = 1;
  std::vector<SourceTrack> tracks;
  // Sessions after the first: the CD-Text packs of their own lead-in,
  // speaking of their own tracks (empty for none). The first session's are
  // the disc's, DiscLayout::cdText.
  std::vector<uint8_t> cdText;
  int32_t LeadOut() const { return tracks.empty() ? 0 : tracks.back().End(); }
};

struct DiscLayout {
  int discType = CD_TYPE_NONE;
  int profile = 0;         // MMC profile of the source medium
  bool complete = true;    // the source disc was closed (disc status 2)
  int sectorSize = 2048;   // 2352 on CD
  std::vector<SourceSession> sessions;
  // What a CD carries beside its sectors, written with its first session:
  // CD-Text packs (18 bytes each with their CRCs, as BuildCdTextPacks makes
  // them; empty for none) in the lead-in, and the media catalogue number
  // (13 digits, or empty) in the sub-channel.
  std::vector<uint8_t> cdText;
  std::string mcn;
  // The CD-Text packs written in the lead-in of session `session`.
  const std::vector<uint8_t>& LeadInText(int session) const;
  int TrackCount() const;
  const SourceTrack* Track(int number) const;
  // Sectors from the first pre-gap to the last lead-out (what is read).
  int64_t SectorsToRead() const;
  // The whole layout's reasons to be refused ("" when sound).
  std::string Check() const;
};

class DataSource {
 public:
  virtual ~DataSource();
  virtual bool OpenSession(int session);
  virtual bool OpenTrack(int track);
  virtual void CloseSession();
  virtual void CloseTrack();
  virtual int GetFirstTrackNo(int session);
  virtual int GetLastTrackNo(int session);
  virtual int GetDiscType();
  virtual int GetSessionNum();
  virtual int GetTrackNum();
  virtual int GetTrackMode();      // control nibble of the open track (bit 4: data)
  virtual int GetTrackModeForm();  // MODE_FORM of the open track
  virtual long GetTrackLength();
  // `count` sectors from the read position of the open track, which moves
  // on. False when the source cannot give them (GetLastError says why) or
  // they lie past the track's end.
  virtual bool GetSectorData(uint8_t* buffer, int count) = 0;
  virtual bool GetSessionInfo(SessionInfo& info);
  virtual bool SetStartAdd(long lba);
  // A second, independent reader of the same source (nullptr when none).
  virtual DataSource* CloneSource() = 0;
  virtual long GetTrackStartAdd();
  virtual void GetCurrBurnFile(char* text, int size);

  // Beside the slots: the whole layout, the sector size, why the last call failed.
  const DiscLayout& Layout() const { return layout_; }
  int GetSectorSize() const { return layout_.sectorSize; }
  long GetTrackPregapAdd() const;
  long GetReadAdd() const { return position_; }
  const std::string& GetLastError() const { return error_; }

 protected:
  const SourceTrack* Open() const { return layout_.Track(track_); }
  // Empty sectors of the open track's kind: silence, or data sectors of zeros.
  void MakeEmptySectors(int32_t lba, uint8_t* buffer, int count) const;
  bool Fail(const std::string& why) {
    error_ = why;
    return false;
  }

  DiscLayout layout_;
  int session_ = 0;
  int track_ = 0;
  long position_ = 0;
  std::string error_;
};
