#pragma once
// A blank disc whose sectors go into a file: the recorder behind an
// "image:FILE" target. It is the disc model of the virtual recorder over a
// file, so it keeps the rules of the medium it stands for (sequential media
// are written at the next writable address only, a closed disc takes nothing
// more, a disc is never written past its capacity), and every writer of the
// engine (track at once, session at once, a copy) writes it as it writes a
// disc in a drive.
//
// The disc is written into "FILE.part" and put in place only when the job
// that wrote it ends complete; until then FILE is left as it was, and a job
// that fails or is stopped removes the partial file.
//
// A name ending in ".cue" keeps the disc whole: raw 2352-byte sectors in the
// BIN file beside it and a CUE sheet naming the tracks (audio, Mode 2 and
// pre-gaps as they are). Any other name is a plain image of 2048-byte
// sectors, which holds the user data of Mode 1 and Mode 2 Form 1 sectors.

#include <atomic>
#include <cstdint>
#include <string>

#include "MmcDiscTarget.h"
#include "OutputFile.h"

class ImageFileDisc : public MmcDiscTarget {
 public:
  // `capacity` 0: as many sectors as the free space of the file system that
  // holds `path`.
  ImageFileDisc(std::string path, uint16_t profile, uint32_t capacity = 0);
  ~ImageFileDisc() override;

  // Whether an image of this name keeps whole CD sectors (a CUE sheet with
  // its BIN file) rather than the user data of data sectors.
  static bool KeepsWholeSectors(const std::string& path);

  // Starts from a blank disc. Anything at the place (the BIN file's too) is
  // refused, and with `replace` a regular file is replaced (a link or a
  // folder never is). False with `why` set when refused or when the file
  // cannot be created.
  bool CreateBlank(bool replace, std::string* why);
  const std::string& FilePath() const { return path_; }
  std::string Path() const override { return "image:" + path_; }
  // True once the disc has been put in place.
  bool Published() const { return published_; }
  // The file the sectors are written into while the disc is written.
  std::string WritingPath() const;

  // A complete job puts the image in place (the BIN file, then its sheet);
  // an incomplete one leaves the place as it was. Either way the target
  // holds no disc to write afterwards. False when the image could not be
  // put in place.
  bool JobEnded(bool complete) override;

 protected:
  int ReadStored(int32_t lba, uint8_t* buf) override;
  bool ReadStoredRun(int32_t lba, uint8_t* out, uint32_t count) override;
  bool WriteStored(int32_t lba, const uint8_t* buf, int size) override;
  bool WriteStoredRun(int32_t lba, const uint8_t* buf, uint32_t count) override;
  bool KeepsUserData() const override { return !whole_; }
  bool FlushStore() override;
  void StoreErased() override;
  bool Intercept(ScsiCommand& cmd) override;
  const char* Product() const override { return "Image File"; }

 private:
  bool Publish();
  int Slot() const { return whole_ ? 2352 : 2048; }

  std::string path_;
  std::string dataPath_;  // the BIN file beside a sheet, else the image itself
  uint16_t profile_;
  uint32_t capacity_;
  bool whole_;
  Existing existing_ = Existing::kKeep;
  OutputFile data_;
  int readFd_ = -1;  // the image once it is in place, for reading it back
  std::atomic<bool> published_{false};
};
