// One answer for what file systems a track carries, whoever asks.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "ByteFields.h"
#include "FileSystemCheck.h"

namespace {

// A track of sectors given by number; the others read as zeros, and reading
// stops at `end`.
struct Track {
  std::map<uint32_t, std::vector<uint8_t>> sectors;
  uint32_t end = 1000;
  void Descriptor(uint32_t at, uint8_t type, const char* id) {
    std::vector<uint8_t> s(2048);
    s[0] = type;
    std::memcpy(&s[1], id, 5);
    sectors[at] = s;
  }
  int Judge() const {
    return fscheck::Judge([this](uint32_t n, uint8_t* out) {
      if (n >= end) return false;
      auto it = sectors.find(n);
      if (it == sectors.end())
        std::memset(out, 0, 2048);
      else
        std::memcpy(out, it->second.data(), 2048);
      return true;
    });
  }
};

std::vector<uint8_t> Anchor(bool goodChecksum) {
  std::vector<uint8_t> s(2048);
  bytes::PutLE16(s.data(), 2);
  bytes::PutLE16(s.data() + 2, 2);
  bytes::PutLE32(s.data() + 12, 256);
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i)
    if (i != 4) sum = uint8_t(sum + s[i]);
  s[4] = goodChecksum ? sum : uint8_t(sum + 1);
  return s;
}

}  // namespace

TEST(FileSystemCheck, IsoUdfAndBridgeVolumes) {
  Track iso;
  iso.Descriptor(16, 1, "CD001");
  iso.Descriptor(17, 2, "CD001");
  iso.Descriptor(18, 255, "CD001");
  EXPECT_EQ(iso.Judge(), fscheck::kIso9660);

  Track bridge = iso;  // the UDF extended area right behind the ISO terminator
  bridge.Descriptor(19, 0, "BEA01");
  bridge.Descriptor(20, 0, "NSR02");
  bridge.Descriptor(21, 0, "TEA01");
  EXPECT_EQ(bridge.Judge(), fscheck::kIso9660 | fscheck::kUdf);

  Track udf;
  udf.Descriptor(16, 0, "BEA01");
  udf.Descriptor(17, 0, "NSR03");
  udf.Descriptor(18, 0, "TEA01");
  EXPECT_EQ(udf.Judge(), fscheck::kUdf);

  Track none;
  EXPECT_EQ(none.Judge(), 0);
}

TEST(FileSystemCheck, RecognitionEndsAtAZeroSectorOrAnUnreadableOne) {
  Track gap;
  gap.Descriptor(16, 1, "CD001");
  gap.Descriptor(18, 0, "NSR02");  // behind a zero sector: not part of the area
  EXPECT_EQ(gap.Judge(), fscheck::kIso9660);

  Track shortTrack;  // a track that ends inside the area still has its ISO volume
  shortTrack.Descriptor(16, 1, "CD001");
  shortTrack.Descriptor(17, 255, "CD001");
  shortTrack.Descriptor(18, 0, "BEA01");
  shortTrack.end = 19;
  EXPECT_EQ(shortTrack.Judge(), fscheck::kIso9660);
}

TEST(FileSystemCheck, AnAnchorWithoutRecognitionAreaCountsOnlyWithAValidTag) {
  Track anchored;
  anchored.sectors[256] = Anchor(true);
  EXPECT_EQ(anchored.Judge(), fscheck::kUdf);
  Track data;
  data.sectors[256] = Anchor(false);  // file data that happens to start with 02 00
  EXPECT_EQ(data.Judge(), 0);
}
