#pragma once
// The sector source of a burn. A project source walks a burn job (a project
// file): audio tracks come from their WAV files, the data track from the ISO
// 9660 layout on CD media (disc kind 1) or the UDF layout on DVD and BD media.
// An image source serves a disc image file as one data track.
//
// Every source is walked session by session, track by track:
//   OpenSession, OpenTrack, ReadSector x TrackLength, CloseTrack, CloseSession.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "authoring/TrackImageBuilder.h"
#include "media/CAudioFile.h"
#include "authoring/ElTorito.h"

class BurnFile {
 public:
  enum TrackKind : int { kAudio = 1, kData = 2 };

  virtual ~BurnFile() = default;

  virtual int FirstSession() const = 0;
  virtual int LastSession() const = 0;
  virtual bool OpenSession(int session) = 0;
  virtual int FirstTrack() const = 0;
  virtual int LastTrack() const = 0;
  // Prepares a track whose first sector will be written at `startAddress`.
  virtual bool OpenTrack(int track, uint32_t startAddress) = 0;
  virtual int GetTrackKind() const = 0;
  uint32_t SectorSize() const { return GetTrackKind() == kAudio ? 2352 : 2048; }
  virtual uint32_t GetTrackLength() const = 0;
  // Fills `buffer` (SectorSize() bytes, zeroed by the caller) with the next
  // sector of the open track.
  virtual void ReadSector(uint8_t* buffer) = 0;
  // The next `count` sectors into `out` (count × SectorSize() bytes, no need
  // to clear it first): the same bytes as `count` calls of ReadSector.
  virtual void ReadSectors(uint8_t* out, uint32_t count);
  virtual void CloseTrack() { ++closedTracks_; }
  // Lets go of everything the open track holds (its layout's temporary
  // files) without counting it as closed: the end of a failed job.
  virtual void Release() {}
  virtual void CloseSession() {}
  // What is being read, for the progress text (asked by the reading thread).
  virtual std::string CurrentItem() const = 0;
  // What tells the open track's bytes from another source's of the same
  // length and start, where the length does not (a data track laid out from
  // a staging tree of its own); {0, 0} when the job alone says it.
  virtual std::pair<uint64_t, uint64_t> ContentDigest() const { return {0, 0}; }
  // A DL disc appended to: layer-0 capacity and the last recorded track's
  // size minus one.
  void SetLayerValues(uint32_t layer0, uint32_t lastTrack) { layer0_ = layer0, lastTrackValue_ = lastTrack; }
  // The source files that could not be read while serving (their sectors
  // went out as zeros).
  std::vector<std::string> UnreadableSources() const;
  int ClosedTracks() const { return closedTracks_; }
  const std::string& LastError() const { return lastError_; }
  // A source file whose sectors went out as zeros; also told by a reader
  // that served this burn from another recorder's source.
  void NoteUnreadable(const std::string& path);

 protected:
  std::string lastError_;
  uint32_t layer0_ = 0, lastTrackValue_ = 0;
  int closedTracks_ = 0;

 private:
  mutable std::mutex unreadableLock_;
  std::vector<std::string> unreadable_;
};

class BurnFileProject : public BurnFile, private TrackSourceListener {
 public:
  // `discKind` 1: CD media (ISO 9660 with Joliet); anything else: UDF.
  BurnFileProject(std::string jobPath, std::string stagingRoot, int discKind);
  ~BurnFileProject() override;
  // Reads the job's session and track table. False (LastError) when the
  // file cannot be read or is damaged.
  bool Load();

  int FirstSession() const override { return firstSession_; }
  int LastSession() const override { return lastSession_; }
  bool OpenSession(int session) override;
  int FirstTrack() const override;
  int LastTrack() const override;
  bool OpenTrack(int track, uint32_t startAddress) override;
  int GetTrackKind() const override;
  uint32_t GetTrackLength() const override { return length_; }
  void ReadSector(uint8_t* buffer) override;
  void ReadSectors(uint8_t* out, uint32_t count) override;
  void CloseTrack() override;
  void Release() override;
  std::string CurrentItem() const override;
  std::pair<uint64_t, uint64_t> ContentDigest() const override {
    return track_ && track_->kind != kAudio ? content_ : std::pair<uint64_t, uint64_t>{0, 0};
  }
  // Every data track is laid out with this recording time and volume serial
  // (see TrackImageBuilder::SetBuildStamp).
  void SetBuildStamp(time_t when, uint32_t serial) {
    stampTime_ = when;
    stampSerial_ = serial;
  }
  // Makes the data track bootable (ISO 9660 only: a UDF disc is refused).
  void SetBoot(const eltorito::BootOptions& boot) { boot_ = boot; }

 private:
  struct Track {
    int number = 0;
    int kind = 0;
    std::string audioPath;
  };
  struct Session {
    int number = 0;
    std::vector<Track> tracks;
  };
  void SourceUnreadable(const std::string& path) override { NoteUnreadable(path); }
  const Track* FindTrack(int track) const;
  // Lays out the open data track at startAddress_ into builder_.
  bool LayOut();
  // A digest of all the open data track is laid out from (job, staging
  // tree, start, stamp), in a job of several recorders; contentKnown_ false
  // when it could not be read (the value then matches no other source's).
  std::pair<uint64_t, uint64_t> TrackContent(uint32_t startAddress);
  void LayOutDeferred();

  std::string jobPath_, stagingRoot_;
  int discKind_ = 1;
  int firstSession_ = 0, lastSession_ = -1;
  std::vector<Session> sessions_;
  const Session* session_ = nullptr;
  const Track* track_ = nullptr;
  uint32_t length_ = 0;
  std::unique_ptr<TrackImageBuilder> builder_;
  uint32_t startAddress_ = 0;  // of builder_'s layout
  bool served_ = false;        // sectors of builder_ were read
  // The open track's length came from another recorder's layout; its own
  // is made at the first read.
  bool deferred_ = false;
  std::pair<uint64_t, uint64_t> content_{0, 0};
  bool contentKnown_ = false;
  // A layout closed unread, kept for the next opening of its track.
  std::unique_ptr<TrackImageBuilder> kept_;
  const Track* keptFor_ = nullptr;
  uint32_t keptStart_ = 0;
  eltorito::BootOptions boot_;
  time_t stampTime_ = 0;
  uint32_t stampSerial_ = 0;
  CAudioFile audio_;
};

class CDevCmdROM;

// A disc image (ISO, BIN with CUE, NRG) read through the device library's
// image device: its sessions come from the full table of contents, each
// track's start and size from READ TRACK INFORMATION.
class BurnFileImage : public BurnFile {
 public:
  explicit BurnFileImage(std::string imagePath);
  ~BurnFileImage() override;
  // False (LastError) when the file is missing or is no readable image.
  bool Load();

  int FirstSession() const override;
  int LastSession() const override;
  bool OpenSession(int session) override;
  int FirstTrack() const override;
  int LastTrack() const override;
  bool OpenTrack(int track, uint32_t startAddress) override;
  int GetTrackKind() const override;
  uint32_t GetTrackLength() const override;
  void ReadSector(uint8_t* buffer) override;
  std::string CurrentItem() const override { return path_; }

  static constexpr uint32_t kReadAhead = 32;

 private:
  struct Track {
    int number = 0;
    uint32_t start = 0, length = 0;
    bool audio = false;
  };
  struct Session {
    int number = 0;
    std::vector<Track> tracks;
  };

  std::string path_;
  std::unique_ptr<CDevCmdROM> image_;
  std::vector<Session> sessions_;
  const Session* session_ = nullptr;
  const Track* track_ = nullptr;
  uint32_t next_ = 0;  // next sector of the track to serve
  std::vector<uint8_t> ahead_;
  uint32_t aheadStart_ = 0, aheadCount_ = 0;
};
