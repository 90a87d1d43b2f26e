#pragma once
// The source of a Video CD or Super Video CD: track 1 the control track (a
// file of 2048-byte sectors, written as Mode 2 Form 1), then one Mode 2
// Form 2 track per MPEG item, laid out as VcdTracks.h says. MPEG files are
// cut into 2324-byte payloads whose sub-headers say what each holds (video,
// audio or nothing); ".DAT" items, already raw sectors behind their RIFF
// header, are copied sector by sector at their new addresses.

#include <string>
#include <vector>

#include "DataSource.h"

class DataSource_VCD : public DataSource {
 public:
  // `kind` is kept for the callers (they pass 2); `controlImage` the control
  // track; the first `count` of `items` are the MPEG items in disc order.
  DataSource_VCD(int kind, const std::string& controlImage, int count, const std::vector<std::string>& items);
  ~DataSource_VCD() override;

  // False (GetLastError says why) when the control image or an item cannot
  // be read; nothing is written from a source that is not valid.
  bool IsValid() const { return valid_; }

  bool GetSectorData(uint8_t* buffer, int count) override;
  DataSource* CloneSource() override;
  void GetCurrBurnFile(char* text, int size) override;
  // The item path of MPEG track `track` (from 2), "" for the control track.
  std::string ItemOfTrack(int track) const;

  // The sub-header (file, channel, sub-mode, coding) of an MPEG payload.
  static void MpegSubheader(const uint8_t* payload, bool last, uint8_t out[4]);

 private:
  bool ReadControlSector(int32_t lba, uint8_t* raw);
  bool ReadItemSector(const SourceTrack& t, int32_t lba, uint8_t* raw);
  bool OpenItem(int track);

  int kind_;
  std::string control_;
  std::vector<std::string> items_;
  std::vector<int64_t> dataSectors_;  // per item, without margins
  bool valid_ = false;
  int fd_ = -1;       // the file of the open track
  int fdTrack_ = 0;
};
