// Volumes that must come out the same, byte for byte, whatever the writers
// are built on: a data disc's image and a DVD-Video disc's header, laid out
// at a fixed time in a fixed time zone from sources with fixed dates. The
// digests are those of the images the writers made before they shared one
// ISO 9660 module.

#include <gtest/gtest.h>

#include "authoring/DvdVolume.h"
#include "authoring/FileList.h"
#include "authoring/ImportedEntry.h"
#include "authoring/IsoTestSupport.h"
#include "support/TestFolders.h"

namespace {

constexpr time_t kStamp = 1767225600;  // 2026-01-01 00:00:00 UTC

uint64_t Fnv1a(const uint8_t* p, size_t n) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001b3ull;
  return h;
}

// A tree with every kind of name the layout treats apart: ISO collisions,
// Joliet names cut at 103 characters, characters beyond the basic plane,
// empty and multi-sector files and a folder whose records fill sectors.
std::string DataImage(const ScratchFolder& src, const ScratchFolder& staging, uint32_t start) {
  std::vector<std::string> files = {"readme", "archive.tar.gz", std::string(150, 'n') + ".txt",
                                    "report-jan1.txt", "report-jan2.txt", "\xc3\x9c" "bersicht \xe2\x82\xac.txt",
                                    "photo \xf0\x9f\x93\xb7.jpg", "deep/er/and/deeper/leaf.txt"};
  for (int i = 0; i < 70; ++i) files.push_back("big folder/file number " + std::to_string(i) + " with a long name.txt");
  time_t when = kStamp - 86400 * 40;
  for (const std::string& f : files) Stamp(src.Write("tree/" + f, f + " holds this"), when += 3607);
  Stamp(src.Write("tree/empty", ""), when += 11);
  Stamp(src.Write("tree/tail.bin", std::string(5000, 't')), when += 13);
  // Listed by hand, in a fixed order: the data follows the lists' order.
  files.push_back("empty");
  files.push_back("tail.bin");
  for (const std::string& f : files) {
    const size_t slash = f.rfind('/');
    const std::string folder = slash == std::string::npos ? staging.path() : staging.Mkdir(f.substr(0, slash));
    EXPECT_TRUE(AppendFileListEntry(folder, {src / ("tree/" + f), f.substr(slash + 1)}));
  }
  ImportedEntry old{ImportedEntry::kFile, "old.txt", {120, 5, 6, 7, 8, 9, 4}, 5, 24};
  EXPECT_TRUE(AppendFileListEntry(staging.path(), {FormatImportedEntry(old), "old.txt"}));

  // The plain layout: the POSIX entries carry owners and access times that
  // differ from machine to machine.
  return ServeDataTrack(staging.path(), start, kStamp, "Golden Disc", project::kNoRockRidge);
}

}  // namespace

TEST(IsoGolden, DataDiscImagesStayByteForByte) {
  FixedZone zone("XST-5:30");
  for (uint32_t start : {0u, 30000u}) {
    SCOPED_TRACE(start);
    ScratchFolder src, staging;
    const std::string image = DataImage(src, staging, start);
    const uint64_t digest = Fnv1a(reinterpret_cast<const uint8_t*>(image.data()), image.size());
    EXPECT_EQ(digest, start == 0 ? 0x6c0656f40ab3eea2ull : 0xf3818c40a80d4862ull) << std::hex << digest;
  }
}

TEST(IsoGolden, DvdVideoHeadersStayByteForByte) {
  FixedZone zone("XST-5:30");
  std::vector<DvdFileRecord> records;
  for (const char* name : {"VIDEO_TS.IFO", "VIDEO_TS.VOB", "VIDEO_TS.BUP", "VTS_01_0.IFO", "VTS_01_1.VOB",
                           "VTS_01_0.BUP"})
    records.push_back({"", name, 0, 0, 12345});
  PackDvdRecords(&records);
  std::vector<uint8_t> header;
  uint32_t total = 0;
  std::string why;
  ASSERT_TRUE(LayOutDvdHeader(MakeDvdHeaderTemplate(), MakeDvdFileEntryTemplate(), MakeDvdEndTemplate(),
                              "Summer holiday 2026", records, kStamp, &header, &total, &why))
      << why;
  const uint64_t digest = Fnv1a(header.data(), header.size());
  EXPECT_EQ(digest, 0xb534f120c0e5e6aull) << std::hex << digest;
}
