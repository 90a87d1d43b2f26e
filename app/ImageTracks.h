#pragma once
// What the data disc window shows of an opened image file: its tracks, the
// file systems at the start of a data track, and the folders of an ISO 9660
// volume. Everything read is checked against the file's length.

#include <cstdint>
#include <string>
#include <vector>

struct ImageTrack {
  int number = 1;
  bool audio = false;
  bool iso = false;
  bool udf = false;
};

struct ImageDirEntry {
  std::string name;
  bool folder = false;
  uint64_t size = 0;
  uint32_t lba = 0;
  std::string date;  // "YYYY-MM-DD hh:mm"
};

// A plain image (ISO or IMG) holds one data track. False, with a reason, for
// a file that cannot be read or is too short to be a disc image.
bool ReadImageTracks(const std::string& imagePath, std::vector<ImageTrack>* tracks, std::string* error);

// The entries of a folder ("/" or "/A/B") of the image's ISO 9660 volume.
bool ListIsoFolder(const std::string& imagePath, const std::string& folder,
                   std::vector<ImageDirEntry>* entries);
