#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>

#include "ByteFields.h"
#include "authoring/CDataFile.h"
#include "authoring/CFileManager.h"
#include "authoring/DiscNames.h"
#include "authoring/FileList.h"
#include "authoring/ImportedEntry.h"
#include "authoring/StagingFolder.h"
#include "support/TestFolders.h"

namespace {

const uint8_t* At(const std::string& image, uint32_t sector) {
  return reinterpret_cast<const uint8_t*>(image.data()) + size_t(sector) * kSectorSize;
}

class Unreadable : public TrackSourceListener {
 public:
  void SourceUnreadable(const std::string& path) override { paths.push_back(path); }
  std::vector<std::string> paths;
};

// A staged project laid out and served whole into memory (small trees only).
struct Laid {
  // `stamp`: the recording time of the volume (0: the time of the build).
  explicit Laid(const std::string& staging, uint32_t start = 0, const std::string& label = "TEST", time_t stamp = 0) {
    CFileManager m;
    EXPECT_TRUE(m.SaveDataProject(staging, job.path(), label, nullptr, Existing::kReplace));
    if (stamp) track.SetBuildStamp(stamp, 0);
    track.SetSourceListener(&unreadable);
    built = track.Build(job.path(), false, false, staging, start);
  }
  std::string Serve() {
    std::string image(size_t(track.GetTrackLength()) * kSectorSize, '\0');
    for (uint32_t i = 0; i < track.GetTrackLength(); ++i)
      track.GetSectorData(reinterpret_cast<uint8_t*>(&image[size_t(i) * kSectorSize]), kSectorSize);
    return image;
  }
  TempFile job{"bcd"};
  CDataFile track;
  Unreadable unreadable;
  bool built = false;
};

struct Record {
  std::string ident;
  uint32_t location, length;
  uint8_t flags;
  const uint8_t* raw;
};

// The records of a directory extent (location relative to the track start).
std::vector<Record> ReadDirectory(const std::string& image, uint32_t sector) {
  const uint8_t* p = At(image, sector);
  uint32_t length = bytes::LE32(p + 10);
  std::vector<Record> records;
  for (uint32_t pos = 0; pos < length;) {
    if (p[pos] == 0) {
      pos = (pos / kSectorSize + 1) * kSectorSize;
      continue;
    }
    EXPECT_LE(pos % kSectorSize + p[pos], kSectorSize) << "a record crosses a sector boundary";
    records.push_back({std::string(reinterpret_cast<const char*>(p + pos + 33), p[pos + 32]),
                       bytes::LE32(p + pos + 2), bytes::LE32(p + pos + 10), p[pos + 25], p + pos});
    pos += p[pos];
  }
  return records;
}

}  // namespace

TEST(IsoLayout, EmptyProjectIsAValidMinimalVolume) {
  ScratchFolder staging;
  Laid laid(staging.path());
  ASSERT_TRUE(laid.built) << laid.track.LastError();
  // 27 + root extent + its Rock Ridge continuation area (the ER entry) + 4 path tables + Joliet root.
  EXPECT_EQ(laid.track.VolumeSpaceSize(), 34u);
  EXPECT_EQ(laid.track.GetTrackLength(), 600u);
  std::string image = laid.Serve();
  const uint8_t* pvd = At(image, 16);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(pvd), 6), "\1CD001");
  EXPECT_EQ(bytes::LE32(pvd + 80), 34u);
  EXPECT_EQ(bytes::BE32(pvd + 84), 34u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(pvd + 40), 5), std::string("TEST\0", 5));
  EXPECT_EQ(bytes::LE32(pvd + 156 + 2), 27u);  // the root is the only ISO extent
  EXPECT_EQ(bytes::LE32(pvd + 132), 10u);      // one root record in the path table
  EXPECT_EQ(At(image, 17)[0], 2);
  EXPECT_EQ(At(image, 18)[0], 255);
  auto root = ReadDirectory(image, 27);
  ASSERT_EQ(root.size(), 2u);
  EXPECT_EQ(root[1].location, 27u);  // ".." of the root is the root
}

TEST(IsoLayout, NamesAreShortenedAsPlannedAndKeptUnique) {
  using discnames::IsoFileIdentifier;
  EXPECT_EQ(IsoFileIdentifier("readme"), "readme");
  EXPECT_EQ(IsoFileIdentifier("longfilename"), "longfi;1");
  EXPECT_EQ(IsoFileIdentifier("archive.tar.gz"), "archive..gz;1");
  EXPECT_EQ(IsoFileIdentifier("Photo.JPEG"), "Photo.JPE;1");
  EXPECT_EQ(discnames::IsoFolderIdentifier("Documents"), "Document");

  std::vector<discnames::FolderEntryName> names = {{"report-jan1.txt"}, {"report-jan2.txt"},
                                                   {"Documents1", true}, {"Documents2", true},
                                                   {std::string(150, 'n') + ".txt"}, {std::string(150, 'n') + ".txt "},
                                                   {"bad\xff name"}};
  discnames::NameFolderEntries(&names);
  EXPECT_EQ(names[0].iso, "report-j.txt;1");
  EXPECT_EQ(names[1].iso, "report-1.txt;1");
  EXPECT_EQ(names[2].iso, "Document");
  EXPECT_EQ(names[3].iso, "Documen1");
  EXPECT_TRUE(names[4].jolietShortened);
  EXPECT_EQ(names[4].joliet.size(), discnames::kJolietMaxChars);
  EXPECT_EQ(names[4].joliet.substr(names[4].joliet.size() - 4), u".txt");
  EXPECT_NE(names[4].joliet, names[5].joliet);
  EXPECT_TRUE(names[6].refused);
}

TEST(IsoLayout, RecordsPointAtTheDataAndNeverCrossSectors) {
  ScratchFolder staging, src;
  CFileManager m;
  m.SetStagingRoot(staging.path());
  for (int i = 0; i < 120; ++i)
    src.Write("big folder/file number " + std::to_string(i) + " with a long name.txt", std::to_string(i));
  src.Write("empty", "");
  src.Write("tail.bin", std::string(5000, 't'));
  ASSERT_TRUE(m.AddPath(nullptr, nullptr, src / "big folder", staging.path()));
  ASSERT_TRUE(m.AddPath(nullptr, nullptr, src / "empty", staging.path()));
  ASSERT_TRUE(m.AddPath(nullptr, nullptr, src / "tail.bin", staging.path()));
  Laid laid(staging.path());
  ASSERT_TRUE(laid.built) << laid.track.LastError();
  std::string image = laid.Serve();
  const uint8_t* pvd = At(image, 16);
  auto root = ReadDirectory(image, bytes::LE32(pvd + 158));
  ASSERT_EQ(root.size(), 5u);
  EXPECT_EQ(root[2].ident, "big fold");
  auto big = ReadDirectory(image, root[2].location);
  EXPECT_EQ(big.size(), 122u);
  EXPECT_GT(bytes::LE32(At(image, root[2].location) + 10), kSectorSize);  // a multi-sector extent
  for (size_t i = 2; i < big.size(); ++i) {
    std::string data(reinterpret_cast<const char*>(At(image, big[i].location)), big[i].length);
    EXPECT_EQ(data.size(), big[i].length);
  }
  const Record& empty = root[3];
  const Record& tail = root[4];
  EXPECT_EQ(empty.ident, "empty");
  EXPECT_EQ(tail.location, empty.location + 1);  // an empty file takes one sector
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(At(image, tail.location)), 5000), std::string(5000, 't'));

  // Joliet: whole names in 16-bit characters, ";1" on files.
  const uint8_t* svd = At(image, 17);
  auto jroot = ReadDirectory(image, bytes::LE32(svd + 158));
  ASSERT_EQ(jroot.size(), 5u);
  EXPECT_EQ(jroot[4].ident, std::string("\0t\0a\0i\0l\0.\0b\0i\0n\0;\0" "1", 20));
}

TEST(IsoLayout, ContinuesASessionAtS) {
  ScratchFolder staging, src;
  ImportedEntry old{ImportedEntry::kFile, "old.txt", {120, 5, 6, 7, 8, 9, 4}, 5, 24};
  ASSERT_TRUE(AppendFileListEntry(staging.path(), {FormatImportedEntry(old), "old.txt"}));
  ASSERT_TRUE(AppendFileListEntry(staging.path(), {src.Write("new.txt", "new"), "new.txt"}));
  Laid laid(staging.path(), 30000);
  ASSERT_TRUE(laid.built) << laid.track.LastError();
  std::string image = laid.Serve();  // sector n of the track is sector 30000 + n of the disc
  const uint8_t* pvd = At(image, 16);
  EXPECT_EQ(bytes::LE32(pvd + 158), 30027u);
  EXPECT_EQ(bytes::LE32(pvd + 80), 30000u + laid.track.VolumeSpaceSize());
  auto root = ReadDirectory(image, 27);
  ASSERT_EQ(root.size(), 4u);
  EXPECT_EQ(root[0].location, 30027u);
  EXPECT_EQ(root[2].ident, "new.txt;1");
  EXPECT_EQ(root[2].location, laid.track.FirstDataSector());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(At(image, root[2].location - 30000)), 3), "new");
  EXPECT_EQ(root[3].ident, "old.txt;1");
  EXPECT_EQ(root[3].location, 24u);  // imported data stays where it is
  EXPECT_EQ(root[3].length, 5u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(root[3].raw + 18), 7), "\x78\x05\x06\x07\x08\x09\x04");
}

TEST(IsoLayout, DatesCarryTheRealOffsetOfTheirLocalTime) {
  const char* oldTz = std::getenv("TZ");
  std::string saved = oldTz ? oldTz : "";
  setenv("TZ", "XST-5:30", 1);  // 5 h 30 min east of UTC: 22 quarter hours
  tzset();
  ScratchFolder staging, src;
  ASSERT_TRUE(AppendFileListEntry(staging.path(), {src.Write("f.txt", "x"), "f.txt"}));
  Laid laid(staging.path());
  ASSERT_TRUE(laid.built);
  std::string image = laid.Serve();
  if (oldTz) setenv("TZ", saved.c_str(), 1);
  else unsetenv("TZ");
  tzset();
  EXPECT_EQ(At(image, 16)[813 + 16], 22);
  auto root = ReadDirectory(image, 27);
  EXPECT_EQ(root[2].raw[24], 22);
  EXPECT_EQ(root[0].raw[24], 22);
}

TEST(IsoLayout, SourcesThatChangeOrVanishDoNotShiftOtherFiles) {
  ScratchFolder staging, src;
  std::string grows = src.Write("a-grows", std::string(3000, 'a'));
  std::string gone = src.Write("b-gone", std::string(100, 'b'));
  std::string shrinks = src.Write("c-shrinks", std::string(5000, 'c'));
  std::string last = src.Write("d-last", "last file");
  for (const std::string& f : {grows, gone, shrinks, last})
    ASSERT_TRUE(AppendFileListEntry(staging.path(), {f, f.substr(f.rfind('/') + 1)}));
  Laid laid(staging.path());
  ASSERT_TRUE(laid.built);
  { std::ofstream(grows, std::ios::app) << std::string(10000, 'A'); }
  unlink(gone.c_str());
  ASSERT_EQ(truncate(shrinks.c_str(), 10), 0);
  std::string image = laid.Serve();
  auto root = ReadDirectory(image, 27);
  ASSERT_EQ(root.size(), 6u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(At(image, root[5].location)), 9), "last file");
  EXPECT_EQ(At(image, root[3].location)[0], 0);  // the vanished file's sector stays zero
  EXPECT_EQ(laid.unreadable.paths, std::vector<std::string>{gone});
  EXPECT_EQ(At(image, root[4].location)[10], 0);  // what the shrunk file lost reads as zeros
  EXPECT_EQ(At(image, root[2].location + 1)[0], 'a');
  EXPECT_EQ(At(image, root[2].location + 1)[3000 - kSectorSize], 0);  // growth is not served
}

TEST(IsoLayout, RefusesWhatItCannotDescribe) {
  ScratchFolder staging, src;
  std::string big = src / "huge.bin";
  { std::ofstream(big) << ""; }
  ASSERT_EQ(truncate(big.c_str(), 4294967296LL), 0);  // 4 GiB, sparse
  ASSERT_TRUE(AppendFileListEntry(staging.path(), {big, "huge.bin"}));
  std::vector<LayoutNotice> notices;
  // Kept in several extents now, with a word for readers that do not know them.
  EXPECT_TRUE(CDataFile::ReviewProject(staging.path(), &notices));
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].kind, LayoutNotice::kSplitInExtents);
  Laid laid(staging.path());
  EXPECT_TRUE(laid.built) << laid.track.LastError();

  ScratchFolder staging2;
  ASSERT_TRUE(AppendFileListEntry(staging2.path(), {src.Write("ok", "x"), "bad\xfe"}));
  notices.clear();
  EXPECT_FALSE(CDataFile::ReviewProject(staging2.path(), &notices));
  Laid bad(staging2.path());
  EXPECT_FALSE(bad.built);

  ScratchFolder staging3;
  Laid noJob(staging3.path());
  EXPECT_FALSE(noJob.track.Build("/nonexistent/job.bcd", false, false, staging3.path(), 0));
}

TEST(IsoLayout, ServingInRunsGivesTheSameBytesAsSectorBySector) {
  ScratchFolder staging, src;
  std::string text;
  for (int i = 0; i < 9000; ++i) text += char('a' + i % 26);
  std::vector<std::string> files = {src.Write("a", text), src.Write("b-empty", ""), src.Write("c", text + text),
                                    src.Write("d-gone", text), src.Write("e-shrinks", text + text + text),
                                    src.Write("f", "tail")};
  for (const std::string& f : files) ASSERT_TRUE(AppendFileListEntry(staging.path(), {f, NamePart(f)}));
  // One recording time for both: two builds may fall in different seconds.
  const time_t stamp = 1765000000;
  Laid one(staging.path(), 0, "TEST", stamp), runs(staging.path(), 0, "TEST", stamp);
  ASSERT_TRUE(one.built && runs.built);
  unlink(files[3].c_str());
  ASSERT_EQ(truncate(files[4].c_str(), 10000), 0);
  std::string expected = one.Serve();
  std::string got(expected.size(), '\x55');
  auto* out = reinterpret_cast<uint8_t*>(&got[0]);
  for (uint32_t done = 0, step = 1; done < runs.track.GetTrackLength(); step = step % 7 + 1) {
    uint32_t n = std::min(step, runs.track.GetTrackLength() - done);
    runs.track.GetSectors(out + size_t(done) * kSectorSize, n);
    done += n;
  }
  EXPECT_TRUE(got == expected) << "runs and single sectors differ";
  EXPECT_EQ(runs.unreadable.paths, one.unreadable.paths);
}

TEST(IsoLayout, MetadataThatCannotBeReadBackIsReportedNotServedAsZeros) {
  ScratchFolder staging;
  staging.Write("a.txt", "some data");
  PrivateTemp temp;
  Laid laid(staging.path());
  ASSERT_TRUE(laid.built) << laid.track.LastError();
  TruncateEveryFile(temp.path());
  std::vector<uint8_t> sector(kSectorSize);
  int worst = 0;
  for (uint32_t i = 0; i < laid.track.GetTrackLength(); ++i)
    worst = std::min(worst, laid.track.GetSectorData(sector.data(), kSectorSize));
  EXPECT_EQ(worst, -1);
  ASSERT_EQ(laid.unreadable.paths.size(), 1u) << "the loss is told once";
  EXPECT_EQ(laid.unreadable.paths[0].rfind(temp.path(), 0), 0u) << laid.unreadable.paths[0];
}
