// Importing the last session of a disc into a staging folder.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>

#include "BurnTestSupport.h"
#include "ByteFields.h"
#include "BurnCtrl/interfaces/RecorderSectors.h"
#include "authoring/CMultiCD.h"
#include "authoring/ImportedEntry.h"

namespace {

struct Staged {
  std::string descriptor, folder;
};

// A recorder whose disc holds the given image.
std::shared_ptr<FaultyRecorder> DiscWithImage(const ScratchFolder& dir, const std::string& image) {
  auto r = std::make_shared<FaultyRecorder>(dir / "disc.img", rec::kCdR, 0, 9);
  EXPECT_TRUE(r->CreateBlank(true));
  std::ofstream(r->WritingPath(), std::ios::binary) << ReadWholeFile(image);
  return r;
}

std::string MakeIso(const ScratchFolder& dir) {
  dir.Write("tree/Long Folder Name/Inner file.txt", "inner");
  dir.Write("tree/top.txt", "top");
  int st = 0;
  std::string log = RunTool("genisoimage -quiet -J -o " + (dir / "in.iso") + " " + (dir / "tree"), &st);
  EXPECT_EQ(st, 0) << log;
  return dir / "in.iso";
}

std::vector<Staged> Import(Recorder* r, bool* ok, uint32_t* next, bool* joliet, std::string* error = nullptr) {
  std::vector<Staged> staged;
  RecorderSectors disc(r);
  CMultiCD import(&disc, "/root", [&](const std::string& d, const std::string& f) {
    staged.push_back({d, f});
    return true;
  });
  *ok = import.Import(0, false, next);
  *joliet = import.JolietFound();
  if (error) *error = import.Error();
  return staged;
}

}  // namespace

TEST(CMultiCD, JolietNamesAndOldExtentsAreStagedInTheirFolders) {
  if (!HaveTool("genisoimage")) GTEST_SKIP() << "genisoimage is not installed";
  ScratchFolder dir;
  auto disc = DiscWithImage(dir, MakeIso(dir));
  bool ok = false, joliet = false;
  uint32_t next = 0;
  std::vector<Staged> staged = Import(disc.get(), &ok, &next, &joliet);
  ASSERT_TRUE(ok);
  EXPECT_TRUE(joliet);
  std::map<std::string, ImportedEntry> byPath;
  for (const Staged& s : staged) {
    ImportedEntry e;
    ASSERT_TRUE(ParseImportedEntry(s.descriptor, &e)) << s.descriptor;
    byPath[s.folder + "/" + e.name] = e;
  }
  ASSERT_EQ(byPath.count("/root/Long Folder Name/Inner file.txt"), 1u);
  ASSERT_EQ(byPath.count("/root/top.txt"), 1u);
  const ImportedEntry& top = byPath["/root/top.txt"];
  EXPECT_EQ(top.size, 3u);
  // The old extent holds the old bytes.
  uint8_t sector[2048];
  ASSERT_EQ(disc->ReadCD_Data(top.location, sector, 1), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(sector), 3), "top");
  uint32_t volume = uint32_t(ReadWholeFile(dir / "in.iso").size() / 2048);
  EXPECT_EQ(next % 16, 0u);
  EXPECT_GE(next, volume);
}

TEST(CMultiCD, ASupplementaryDescriptorWithoutEscapesLeavesThePrimaryTree) {
  if (!HaveTool("genisoimage")) GTEST_SKIP() << "genisoimage is not installed";
  ScratchFolder dir;
  std::string iso = MakeIso(dir);
  std::string bytes = ReadWholeFile(iso);
  for (int s = 16; s < 26; ++s)
    if (bytes[size_t(s) * 2048] == 2) std::memset(&bytes[size_t(s) * 2048 + 88], 0, 3);
  std::ofstream(iso, std::ios::binary) << bytes;
  auto disc = DiscWithImage(dir, iso);
  bool ok = false, joliet = true;
  uint32_t next = 0;
  std::vector<Staged> staged = Import(disc.get(), &ok, &next, &joliet);
  ASSERT_TRUE(ok);
  EXPECT_FALSE(joliet);
  bool sawTop = false;
  for (const Staged& s : staged) sawTop |= s.descriptor.find("<TOP.TXT>") != std::string::npos;
  EXPECT_TRUE(sawTop) << "the primary tree's names were expected";
}

TEST(CMultiCD, DamagedOrLoopingDirectoriesAreRefusedWithAReason) {
  if (!HaveTool("genisoimage")) GTEST_SKIP() << "genisoimage is not installed";
  ScratchFolder dir;
  std::string iso = MakeIso(dir);
  std::string good = ReadWholeFile(iso);
  // The root directory of the Joliet tree.
  size_t svd = 0;
  for (int s = 16; s < 26 && !svd; ++s)
    if (good[size_t(s) * 2048] == 2) svd = size_t(s) * 2048;
  ASSERT_NE(svd, 0u);
  const uint32_t root = bytes::LE32(reinterpret_cast<const uint8_t*>(&good[svd + 158]));
  const size_t firstChild = size_t(root) * 2048 + 34 + 34;  // behind "." and ".."
  {
    std::string bad = good;
    bad[firstChild] = 20;  // shorter than any record
    std::ofstream(iso, std::ios::binary) << bad;
    auto disc = DiscWithImage(dir, iso);
    bool ok = true, joliet = false;
    uint32_t next = 0;
    std::string error;
    Import(disc.get(), &ok, &next, &joliet, &error);
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find("damaged"), std::string::npos) << error;
  }
  {
    // A file in several extents cannot be carried whole: refused, not cut.
    std::string multi = good;
    multi[firstChild + 25] = char(uint8_t(multi[firstChild + 25]) | 0x80);
    std::ofstream(iso, std::ios::binary) << multi;
    auto disc = DiscWithImage(dir, iso);
    bool ok = true, joliet = false;
    uint32_t next = 0;
    std::string error;
    Import(disc.get(), &ok, &next, &joliet, &error);
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find("several extents"), std::string::npos) << error;
  }
  {
    // A folder whose extent is the root itself: the walk must end.
    std::string loop = good;
    for (size_t at = firstChild; at < size_t(root) * 2048 + 2048 && loop[at];) {
      if (uint8_t(loop[at + 25]) & 2) {
        bytes::PutLE32(reinterpret_cast<uint8_t*>(&loop[at + 2]), root);
        bytes::PutBE32(reinterpret_cast<uint8_t*>(&loop[at + 6]), root);
      }
      at += uint8_t(loop[at]);
    }
    std::ofstream(iso, std::ios::binary) << loop;
    auto disc = DiscWithImage(dir, iso);
    bool ok = true, joliet = false;
    uint32_t next = 0;
    std::string error;
    Import(disc.get(), &ok, &next, &joliet, &error);
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find("nested"), std::string::npos) << error;
  }
}

TEST(CMultiCD, AFolderWhoseRecordsFillSeveralSectorsIsStagedWhole) {
  if (!HaveTool("genisoimage")) GTEST_SKIP() << "genisoimage is not installed";
  // Sixty long names need several directory sectors in either tree; a sector
  // ends in padding wherever the next record would not fit.
  ScratchFolder dir;
  constexpr int kFiles = 60;
  std::set<std::string> want;
  for (int i = 0; i < kFiles; ++i) {
    char name[80];
    std::snprintf(name, sizeof name, "A long name of a file in a folder of many records %02d.txt", i);
    dir.Write(std::string("tree/Many/") + name, std::to_string(i));
    want.insert(name);
  }
  dir.Write("tree/zz last.txt", "last");
  for (bool withJoliet : {true, false}) {
    SCOPED_TRACE(withJoliet ? "Joliet tree" : "primary tree");
    int st = 0;
    std::string iso = dir / (withJoliet ? "joliet.iso" : "plain.iso");
    std::string log = RunTool(std::string("genisoimage -quiet ") + (withJoliet ? "-J " : "") + "-o " + iso + " " +
                                  (dir / "tree"),
                              &st);
    ASSERT_EQ(st, 0) << log;
    auto disc = DiscWithImage(dir, iso);
    bool ok = false, joliet = !withJoliet;
    uint32_t next = 0;
    std::string error;
    std::vector<Staged> staged = Import(disc.get(), &ok, &next, &joliet, &error);
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(joliet, withJoliet);
    std::set<std::string> inMany;
    bool sawLast = false;
    for (const Staged& s : staged) {
      ImportedEntry e;
      ASSERT_TRUE(ParseImportedEntry(s.descriptor, &e)) << s.descriptor;
      if (s.folder == "/root/Many" || s.folder == "/root/MANY") inMany.insert(e.name);
      sawLast |= s.folder == "/root" && (e.name == "zz last.txt" || e.name == "ZZ_LAST.TXT");
    }
    EXPECT_EQ(inMany.size(), size_t(kFiles)) << "files of the folder were left behind";
    if (withJoliet) EXPECT_EQ(inMany, want);
    EXPECT_TRUE(sawLast) << "the root's entry after the big folder is missing";
  }
}
