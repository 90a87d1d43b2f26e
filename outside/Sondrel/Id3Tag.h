#pragma once
// ID3 version 2.3 tags for MP3 files: text frames in UTF-16 with a byte-order
// mark, which every player reads. Texts come from CD-Text, whose bytes are
// ISO 8859-1 on most discs; a text that is valid UTF-8 is taken as UTF-8.

#include <cstdint>
#include <string>
#include <vector>

struct AudioTags {
  std::string title;        // TIT2
  std::string artist;       // TPE1
  std::string album;        // TALB: the disc's title
  std::string albumArtist;  // TPE2: the disc's performer
  std::string composer;     // TCOM
  int track = 0;            // TRCK "track/total" (0: none)
  int trackTotal = 0;
  bool Empty() const {
    return title.empty() && artist.empty() && album.empty() && albumArtist.empty() && composer.empty() && track == 0;
  }
};

// The whole tag, header included; empty when there is nothing to say.
std::vector<uint8_t> BuildId3v2Tag(const AudioTags& tags);

// A CD-Text field (raw bytes) as UTF-8.
std::string CdTextToUtf8(const char* text, size_t maxLength);
