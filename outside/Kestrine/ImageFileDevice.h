#pragma once
// The image-file device: an image file answered as a disc in a drive. An
// existing ISO, BIN (with or without CUE) or NRG image reads as a pressed
// disc; a missing or empty file is a blank recordable disc whose data track
// is written into the file as an ISO image.

#include <string>

#include "ImageLayout.h"
#include "MmcDiscTarget.h"

class ImageFileDevice : public MmcDiscTarget {
 public:
  ~ImageFileDevice() override;
  bool Open(const std::string& path, std::string* error);
  std::string Path() const override { return "image:" + path_; }
  bool Writing() const { return writing_; }

 protected:
  int ReadStored(int32_t lba, uint8_t* buf) override;
  bool ReadStoredRun(int32_t lba, uint8_t* out, uint32_t count) override;
  bool WriteStored(int32_t lba, const uint8_t* buf, int size) override;
  bool WriteStoredRun(int32_t lba, const uint8_t* buf, uint32_t count) override;
  bool KeepsUserData() const override { return writing_; }
  bool FlushStore() override;
  const char* Product() const override { return "Image File"; }

 private:
  bool OpenForWriting(std::string* error);
  std::string path_;
  ImageLayout layout_;
  std::vector<int> fds_;
  bool writing_ = false;
};
