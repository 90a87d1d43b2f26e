// The POSIX entries of ISO records: built, placed, read back, and the images
// that carry them checked by readers nobody here wrote.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "ByteFields.h"
#include "OutputFile.h"
#include "authoring/CAnaly_UDF.h"
#include "authoring/CDataFile.h"
#include "authoring/CFileManager.h"
#include "authoring/CMultiCD.h"
#include "authoring/ImportedEntry.h"
#include "authoring/IsoTestSupport.h"
#include "authoring/FileList.h"
#include "authoring/IsoReader.h"
#include "authoring/Iso9660.h"
#include "authoring/Iso9660RockRidge.h"
#include "authoring/ProjectFile.h"
#include "support/RunCommand.h"
#include "foundation/TempFiles.h"
#include "support/TestFolders.h"

namespace {

std::string Cli() { return Quoted(VARNEX_CLI_PATH); }

// Reads continuation areas out of one in-memory "disc" of sectors.
rockridge::ReadArea AreaReader(const std::string& disc) {
  return [&disc](uint32_t block, uint32_t offset, uint32_t length, std::string* out) {
    const size_t at = size_t(block) * iso9660::kBlock + offset;
    if (at + length > disc.size()) return false;
    out->assign(disc, at, length);
    return true;
  };
}

// Places entries into a record of `room` bytes with the continuation area at
// block 0 of a disc, and decodes them back.
rockridge::Decoded RoundTrip(const std::vector<std::string>& entries, size_t room) {
  std::string area;
  const rockridge::Placement placed = rockridge::Place(entries, room, &area);
  EXPECT_LE(placed.systemUse.size(), room);
  area.resize((area.size() + iso9660::kBlock - 1) / iso9660::kBlock * iso9660::kBlock, '\0');
  // No piece of the continuation area crosses a sector.
  return rockridge::Decode(reinterpret_cast<const uint8_t*>(placed.systemUse.data()), placed.systemUse.size(), 0,
                           AreaReader(area));
}

std::string Repeat(const std::string& s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

}  // namespace

TEST(RockRidgeEntries, LongNamesAndLinksComeBackWholeThroughContinuationAreas) {
  // 255 bytes of UTF-8 with characters of two and three bytes.
  const std::string name = Repeat("é", 60) + Repeat("日", 45);
  ASSERT_EQ(name.size(), 255u);
  rockridge::Attributes a;
  a.mode = S_IFLNK | 0777;
  a.modified = -86400 * 365 * 20;          // before 1970
  a.accessed = 1700000000;
  a.changed = time_t(4102444800) + 3600;  // 2100, beyond 2038
  // A target longer than one entry (and than one continuation sector), with
  // a component longer than one component record, ".", "..", and "/".
  const std::string target = "/" + Repeat("d", 300) + "/./../" + Repeat("segment/", 300) + "end";
  std::vector<std::string> entries{rockridge::Presence(true)};
  for (auto& e : rockridge::Names(name)) entries.push_back(e);
  entries.push_back(rockridge::Posix(a));
  entries.push_back(rockridge::Times(a));
  for (auto& e : rockridge::Link(target)) entries.push_back(e);
  for (const auto& e : entries) ASSERT_LE(e.size(), rockridge::kMaxEntry);

  for (size_t room : {size_t(40), size_t(180), size_t(221)}) {
    const rockridge::Decoded d = RoundTrip(entries, room);
    EXPECT_EQ(d.damage, "");
    EXPECT_EQ(d.name, name) << room;
    EXPECT_EQ(d.linkTarget, target) << room;
    EXPECT_TRUE(d.isLink);
    EXPECT_EQ(d.attributes.mode, a.mode);
    EXPECT_EQ(d.attributes.modified, a.modified);
    EXPECT_EQ(d.attributes.accessed, a.modified) << "no access time is written: copies stay equal";
    EXPECT_EQ(d.attributes.changed, a.changed);
  }
  // Everything that fits stays in the record.
  std::string area;
  const rockridge::Placement small = rockridge::Place({rockridge::Posix(a)}, 200, &area);
  EXPECT_TRUE(area.empty());
  EXPECT_TRUE(small.ceOffsets.empty());
}

TEST(RockRidgeEntries, RelativeLinksKeepTheirFormAndAContinuationLoopEnds) {
  for (const std::string& target : {std::string("a/b"), std::string("../up/x"), std::string("self"),
                                    std::string("./here"), std::string("/")}) {
    std::string use;
    for (auto& e : rockridge::Link(target)) use += e;
    const rockridge::Decoded d =
        rockridge::Decode(reinterpret_cast<const uint8_t*>(use.data()), use.size(), 0, nullptr);
    EXPECT_EQ(d.linkTarget, target);
  }
  // A CE pointing at itself: decoding stops and says so.
  std::string disc(iso9660::kBlock, '\0');
  const std::string nm = rockridge::Names("x")[0];
  const std::string ce = rockridge::Continuation(0, 0, uint32_t(nm.size() + rockridge::kContinuationEntry));
  disc.replace(0, nm.size(), nm);
  disc.replace(nm.size(), ce.size(), ce);
  const rockridge::Decoded d =
      rockridge::Decode(reinterpret_cast<const uint8_t*>(ce.data()), ce.size(), 0, AreaReader(disc));
  EXPECT_NE(d.damage, "");
  // An entry that claims more than its area holds is damage, not a read past it.
  std::string bad = rockridge::Posix({});
  bad[2] = char(200);
  EXPECT_NE(rockridge::Decode(reinterpret_cast<const uint8_t*>(bad.data()), bad.size(), 0, nullptr).damage, "");
}

TEST(RockRidgeEntries, NormalisedOwnersAndModes) {
  rockridge::Attributes a;
  a.uid = a.gid = 1000;
  a.mode = S_IFREG | 04750;
  EXPECT_EQ(rockridge::Normalised(a).mode, uint32_t(S_IFREG | 0555));
  EXPECT_EQ(rockridge::Normalised(a).uid, 0u);
  a.mode = S_IFREG | 0000;
  EXPECT_EQ(rockridge::Normalised(a).mode, uint32_t(S_IFREG | 0444));
  a.mode = S_IFDIR | 0700;
  EXPECT_EQ(rockridge::Normalised(a).mode, uint32_t(S_IFDIR | 0555));
}

TEST(RockRidgeProject, TheProjectFileKeepsTheChoiceAndOlderFilesMeanRockRidge) {
  ScratchFolder dir;
  const std::string staging = dir.Mkdir("staging");
  CFileManager writer;
  writer.SetDiscOptions(project::kNoRockRidge | project::kRockNormalised);
  ASSERT_TRUE(writer.SaveDataProject(staging, dir / "p.bcd", "Kept", nullptr, Existing::kReplace));
  EXPECT_EQ(project::ReadJobOptions(dir / "p.bcd"), project::kNoRockRidge | project::kRockNormalised);
  CFileManager reader;
  reader.SetStagingRoot(dir.Mkdir("again"));
  std::string label;
  ASSERT_TRUE(reader.LoadDataProject(nullptr, dir / "p.bcd", &label));
  EXPECT_EQ(reader.DiscOptions(), project::kNoRockRidge | project::kRockNormalised);
  EXPECT_EQ(label, "Kept");
  // A file from before the option: the byte is zero, Rock Ridge is on.
  CFileManager plain;
  ASSERT_TRUE(plain.SaveDataProject(staging, dir / "old.bcd", "Old", nullptr, Existing::kReplace));
  EXPECT_EQ(project::ReadJobOptions(dir / "old.bcd"), 0);
}

namespace {

// A link target that exists (links that lead nowhere are refused when
// added), longer than one SL entry, with components longer than one
// component record.
std::string LongTarget(const ScratchFolder& far) {
  const std::string target = far / (Repeat("x", 250) + "/" + Repeat("y", 252) + "/target");
  if (!std::filesystem::exists(target)) far.Write(Repeat("x", 250) + "/" + Repeat("y", 252) + "/target", "far\n");
  return target;
}

// A tree with what Linux discs carry: modes, owners, links, hard links,
// long names, deep folders, old and far dates.
void MakePosixTree(const ScratchFolder& src, const ScratchFolder& far) {
  src.Write("plain.txt", "plain\n");
  src.Write("script.sh", "#!/bin/sh\n");
  chmod((src / "script.sh").c_str(), 0750);
  src.Write("locked", "mode 000\n");
  chmod((src / "locked").c_str(), 0);
  ASSERT_EQ(chown((src / "plain.txt").c_str(), 1234, 5678), 0);
  src.Write(Repeat("é", 60) + Repeat("日", 45), "long name\n");
  std::string deep;
  for (int i = 1; i <= 20; ++i) deep += "level" + std::to_string(i) + "/";
  src.Write(deep + "bottom.txt", "twenty levels down\n");
  ASSERT_EQ(symlink("plain.txt", (src / "to-plain").c_str()), 0);
  ASSERT_EQ(symlink("/etc/hostname", (src / "absolute").c_str()), 0);
  // A target longer than an SL entry, with components longer than a component record.
  ASSERT_EQ(symlink(LongTarget(far).c_str(), (src / "long-link").c_str()), 0);
  src.Write("hard/a.bin", std::string(10000, 'h'));
  ASSERT_EQ(link((src / "hard/a.bin").c_str(), (src / "hard/b.bin").c_str()), 0);
  src.Write("old.txt", "1960\n");
  src.Write("future.txt", "2100\n");
  const timespec old[2] = {{-315619200, 0}, {-315619200, 0}};        // 1960-01-01
  const timespec future[2] = {{4102444800, 0}, {4102444800, 0}};     // 2100-01-01
  utimensat(AT_FDCWD, (src / "old.txt").c_str(), old, 0);
  utimensat(AT_FDCWD, (src / "future.txt").c_str(), future, 0);
}

CommandResult Image(const ScratchFolder& src, const std::string& iso, const std::string& extra = "") {
  return RunCommand(Cli() + " image " + extra + " -o " + Quoted(iso) + " --label Posix " + Quoted(src.path()) + "/*");
}

}  // namespace

TEST(RockRidgeImage, IndependentReadersSeeModesOwnersLinksAndLongNames) {
  ScratchFolder src, out, far;
  MakePosixTree(src, far);
  const std::string iso = out / "rr.iso";
  CommandResult r = Image(src, iso);
  ASSERT_EQ(r.status, 0) << r.output;

  CommandResult d = RunCommand("isoinfo -d -i " + Quoted(iso));
  EXPECT_NE(d.output.find("Rock Ridge signatures version 1 found"), std::string::npos) << d.output;

  CommandResult lsdl = RunCommand("xorriso -indev " + Quoted(iso) + " -find / -exec lsdl 2>&1");
  ASSERT_EQ(lsdl.status, 0) << lsdl.output;
  const std::string& x = lsdl.output;
  EXPECT_TRUE(std::regex_search(x, std::regex("-rw-r--r-- +1 1234 +5678 .*'/plain.txt'"))) << x;
  EXPECT_TRUE(std::regex_search(x, std::regex("-rwxr-x--- .*'/script.sh'"))) << x;
  EXPECT_TRUE(std::regex_search(x, std::regex("---------- .*'/locked'"))) << x;
  EXPECT_TRUE(std::regex_search(x, std::regex("lrwxrwxrwx .*'/to-plain' -> 'plain.txt'"))) << x;
  EXPECT_TRUE(std::regex_search(x, std::regex("'/absolute' -> '/etc/hostname'"))) << x;
  EXPECT_NE(x.find("'/long-link' -> '" + LongTarget(far) + "'"), std::string::npos) << x;
  EXPECT_NE(x.find("/" + Repeat("é", 60) + Repeat("日", 45) + "'"), std::string::npos) << x;
  EXPECT_NE(x.find("level20/bottom.txt'"), std::string::npos) << x;
  EXPECT_TRUE(std::regex_search(x, std::regex("1960 +'/old.txt'"))) << x;
  EXPECT_TRUE(std::regex_search(x, std::regex("2100 +'/future.txt'"))) << x;
  EXPECT_EQ(x.find("SORRY"), std::string::npos) << x;
  EXPECT_EQ(x.find("FAILURE"), std::string::npos) << x;

  CommandResult rr = RunCommand("isoinfo -R -l -i " + Quoted(iso));
  ASSERT_EQ(rr.status, 0) << rr.output;
  EXPECT_TRUE(std::regex_search(rr.output, std::regex("-rwxr-x--- .*script.sh"))) << rr.output;
  EXPECT_TRUE(std::regex_search(rr.output, std::regex("to-plain -> plain.txt"))) << rr.output;

  // Hard links: both names point at one copy of the data.
  CommandResult ext = RunCommand("isoinfo -R -l -i " + Quoted(iso) + " | grep -E ' [ab]\\.bin'");
  std::smatch ma;
  std::regex extent("\\[ *([0-9]+) [0-9]+\\] +[ab]\\.bin");
  std::vector<std::string> extents;
  for (std::sregex_iterator it(ext.output.begin(), ext.output.end(), extent), end; it != end; ++it)
    extents.push_back((*it)[1]);
  ASSERT_EQ(extents.size(), 2u) << ext.output;
  EXPECT_EQ(extents[0], extents[1]) << ext.output;

  // 7-Zip lists the same files; the Joliet tree keeps them all.
  CommandResult z = RunCommand("7zz l " + Quoted(iso));
  EXPECT_EQ(z.status, 0) << z.output;
  EXPECT_NE(z.output.find("script.sh"), std::string::npos) << z.output;
  EXPECT_NE(z.output.find("bottom.txt"), std::string::npos) << z.output;
  CommandResult j = RunCommand("isoinfo -J -l -i " + Quoted(iso));
  EXPECT_NE(j.output.find("to-plain"), std::string::npos) << j.output;
  EXPECT_NE(j.output.find("b.bin"), std::string::npos) << j.output;
}

TEST(RockRidgeImage, NoRockLeavesItOutAndNormalisedHidesOwners) {
  ScratchFolder src, out;
  src.Write("a.txt", "a\n");
  ASSERT_EQ(chown((src / "a.txt").c_str(), 1234, 5678), 0);
  chmod((src / "a.txt").c_str(), 0600);
  ASSERT_EQ(Image(src, out / "plain.iso", "--no-rock").status, 0);
  EXPECT_EQ(RunCommand("isoinfo -d -i " + Quoted(out / "plain.iso")).output.find("Rock Ridge signatures"),
            std::string::npos);
  ASSERT_EQ(Image(src, out / "norm.iso", "--rock-normalised").status, 0);
  CommandResult lsdl = RunCommand("xorriso -indev " + Quoted(out / "norm.iso") + " -find / -exec lsdl 2>&1");
  EXPECT_TRUE(std::regex_search(lsdl.output, std::regex("-r--r--r-- +1 0 +0 .*'/a.txt'"))) << lsdl.output;
}

TEST(RockRidgeImage, ExtractFilesRestoresModesTimesAndLinksAsLinks) {
  ScratchFolder src, out, outside;
  MakePosixTree(src, outside);
  // A link that leads out of wherever the files are saved.
  const std::string secret = outside.Write("secret", "untouched\n");
  ASSERT_EQ(symlink(secret.c_str(), (src / "escape").c_str()), 0);
  const std::string iso = out / "rr.iso";
  CommandResult made = Image(src, iso);
  ASSERT_EQ(made.status, 0) << made.output;
  CommandResult r = RunCommand(Cli() + " extract-files --drive image:" + Quoted(iso) + " -o " + Quoted(out / "x"));
  ASSERT_EQ(r.status, 0) << r.output;

  struct stat st;
  ASSERT_EQ(lstat((out / "x/script.sh").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u);
  ASSERT_EQ(lstat((out / "x/locked").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0u);
  ASSERT_EQ(lstat((out / "x/old.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, -315619200);
  ASSERT_EQ(lstat((out / "x/future.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 4102444800);
  EXPECT_EQ(ReadWholeFile(out / ("x/" + Repeat("é", 60) + Repeat("日", 45))), "long name\n");
  for (const auto& [name, target] : std::vector<std::pair<std::string, std::string>>{
           {"to-plain", "plain.txt"}, {"absolute", "/etc/hostname"}, {"escape", secret},
           {"long-link", LongTarget(outside)}}) {
    ASSERT_EQ(lstat((out / ("x/" + name)).c_str(), &st), 0) << name;
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << name;
    char buffer[4096] = {};
    ASSERT_GT(readlink((out / ("x/" + name)).c_str(), buffer, sizeof buffer - 1), 0);
    EXPECT_EQ(std::string(buffer), target);
  }
  // Nothing was written through the link that leads out.
  EXPECT_EQ(ReadWholeFile(secret), "untouched\n");
  EXPECT_EQ(ReadWholeFile(out / ("x/level1/level2/level3/level4/level5/level6/level7/level8/level9/level10/"
                                 "level11/level12/level13/level14/level15/level16/level17/level18/level19/"
                                 "level20/bottom.txt")),
            "twenty levels down\n");
  EXPECT_EQ(ReadWholeFile(out / "x/hard/b.bin"), std::string(10000, 'h'));
}

TEST(MultiExtent, AFileOf4GiBAndMoreIsOneFileToEveryReader) {
  // The source is sparse and reads as zeros, so an image whose data area is
  // a hole is the image the whole build would write: only the metadata is
  // served, and no test needs 4 GiB of disk.
  ScratchFolder staging, src, out;
  const uint64_t size = (uint64_t(4) << 30) + 5000;
  const std::string big = src / "huge.bin";
  { std::ofstream(big) << ""; }
  ASSERT_EQ(truncate(big.c_str(), off_t(size)), 0);
  ASSERT_TRUE(AppendFileListEntry(staging.path(), {big, "huge.bin"}));
  std::vector<LayoutNotice> notices;
  EXPECT_TRUE(CDataFile::ReviewProject(staging.path(), &notices));
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].kind, LayoutNotice::kSplitInExtents);

  TempFile job{"bcd"};
  CFileManager m;
  ASSERT_TRUE(m.SaveDataProject(staging.path(), job.path(), "Big", nullptr, Existing::kReplace));
  CDataFile track;
  ASSERT_TRUE(track.Build(job.path(), false, false, staging.path(), 0)) << track.LastError();
  EXPECT_GE(uint64_t(track.VolumeSpaceSize()) * kSectorSize, size);
  std::string head(size_t(track.FirstDataSector()) * kSectorSize, '\0');
  track.GetSectors(reinterpret_cast<uint8_t*>(&head[0]), track.FirstDataSector());
  const std::string iso = out / "big.iso";
  { std::ofstream(iso, std::ios::binary) << head; }
  ASSERT_EQ(truncate(iso.c_str(), off_t(uint64_t(track.GetTrackLength()) * kSectorSize)), 0);

  // Our own reader: one entry, two extents, the whole size.
  UdfImageSource source(iso);
  IsoReader reader;
  ASSERT_TRUE(reader.Open(&source, 0)) << reader.LastError();
  std::vector<UdfEntry> seen;
  ASSERT_TRUE(reader.Walk([&](const UdfEntry& e) {
    seen.push_back(e);
    return IsoReader::kGoOn;
  })) << reader.LastError();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].name, "huge.bin");
  EXPECT_EQ(seen[0].size, size);
  ASSERT_EQ(seen[0].sectors.size(), 2u);
  EXPECT_EQ(seen[0].sectors[1].first, seen[0].sectors[0].first + seen[0].sectors[0].second / kSectorSize);

  const std::string want = std::to_string(size);
  CommandResult x = RunCommand("xorriso -indev " + Quoted(iso) + " -find / -exec lsdl 2>&1");
  EXPECT_TRUE(std::regex_search(x.output, std::regex(" " + want + " .*'/huge.bin'"))) << x.output;
  CommandResult z = RunCommand("7zz l " + Quoted(iso));
  EXPECT_NE(z.output.find(want), std::string::npos) << z.output;
  EXPECT_EQ(z.output.find("ERROR"), std::string::npos) << z.output;
  CommandResult j = RunCommand("xorriso -read_fs norock -indev " + Quoted(iso) + " -find / -exec lsdl 2>&1");
  EXPECT_TRUE(std::regex_search(j.output, std::regex(" " + want + " .*huge.bin"))) << j.output;
}

namespace {

std::map<std::string, UdfEntry> ReadSession(UdfSectorSource& source, uint32_t start, bool* rock) {
  IsoReader reader;
  std::map<std::string, UdfEntry> seen;
  EXPECT_TRUE(reader.Open(&source, start)) << reader.LastError();
  EXPECT_TRUE(reader.Walk([&](const UdfEntry& e) {
    seen[e.Path()] = e;
    return IsoReader::kGoOn;
  })) << reader.LastError();
  *rock = reader.RockRidge();
  return seen;
}

std::map<std::string, UdfEntry> ReadSession(const std::string& disc, uint32_t start, bool* rock) {
  UdfMemorySource source(reinterpret_cast<const uint8_t*>(disc.data()), disc.size());
  return ReadSession(source, start, rock);
}

}  // namespace

TEST(RockRidgeSessions, AnAppendedSessionWritesTheEarlierSessionsEntriesAgain) {
  for (const bool firstHasRock : {true, false}) {
    SCOPED_TRACE(firstHasRock);
    ScratchFolder src, first, second;
    const std::string tool = src.Write("tool", "#!/bin/sh\n");
    chmod(tool.c_str(), 0751);
    const timespec old[2] = {{-315619200, 0}, {-315619200, 0}};
    utimensat(AT_FDCWD, tool.c_str(), old, 0);
    ASSERT_EQ(symlink("tool", (src / "ln").c_str()), 0);
    ASSERT_TRUE(AppendFileListEntry(first.path(), {tool, "tool"}));
    ASSERT_TRUE(AppendFileListEntry(first.path(), {src / "ln", "ln"}));
    std::string disc = ServeDataTrack(first.path(), 0, 1767225600, "S1", firstHasRock ? 0 : project::kNoRockRidge);

    UdfMemorySource source(reinterpret_cast<const uint8_t*>(disc.data()), disc.size());
    CMultiCD import(&source, second.path(), [&](const std::string& d, const std::string& folder) {
      ImportedEntry e;
      return ParseImportedEntry(d, &e) && AppendFileListEntry(folder, {d, e.name});
    });
    uint32_t next = 0;
    ASSERT_TRUE(import.Import(0, false, &next)) << import.Error();
    ASSERT_TRUE(AppendFileListEntry(second.path(), {src.Write("new.txt", "new"), "new.txt"}));
    disc.resize(size_t(next) * kSectorSize, '\0');
    disc += ServeDataTrack(second.path(), next, 1767225600 + 60, "S2");

    bool rock = false;
    std::map<std::string, UdfEntry> seen = ReadSession(disc, next, &rock);
    EXPECT_TRUE(rock);
    ASSERT_EQ(seen.count("tool"), 1u);
    ASSERT_EQ(seen.count("new.txt"), 1u);
    EXPECT_EQ(seen["new.txt"].mode & 0777, 0644u);
    if (firstHasRock) {
      EXPECT_EQ(seen["tool"].mode, uint32_t(S_IFREG | 0751));
      EXPECT_EQ(seen["tool"].modified, -315619200);
      ASSERT_EQ(seen.count("ln"), 1u);
      EXPECT_TRUE(seen["ln"].link);
      EXPECT_EQ(seen["ln"].linkTarget, "tool");
    } else {
      // A session without Rock Ridge said nothing of modes: plain files, readable by all.
      EXPECT_EQ(seen["tool"].mode, uint32_t(S_IFREG | 0644));
      EXPECT_EQ(seen["ln"].link, false);  // written as the file it pointed at
    }
    // The old data is pointed at, not copied.
    EXPECT_LT(seen["tool"].sectors[0].first, next);
  }
}

TEST(RockRidgeSessions, FoldersTooDeepForIso9660AreMovedAndReadWhereTheyBelongInEverySession) {
  ScratchFolder src, first, second, out;
  // Twenty levels, and two folders of one name that both have to move.
  std::string deep;
  for (int i = 1; i <= 20; ++i) deep += "level" + std::to_string(i) + "/";
  std::filesystem::create_directories(first / deep);
  ASSERT_TRUE(AppendFileListEntry(first / deep, {src.Write("bottom.txt", "bottom\n"), "bottom.txt"}));
  for (const std::string top : {"a", "z"}) {
    const std::string folder = top + "/b/c/d/e/f/g/h/i";
    std::filesystem::create_directories(first / folder);
    ASSERT_TRUE(AppendFileListEntry(first / folder, {src.Write(top + ".txt", top), top + ".txt"}));
  }
  std::string disc = ServeDataTrack(first.path(), 0, 1767225600, "Deep");

  // ISO 9660 readers see no folder below the eighth level; the moved ones
  // stand in one folder at the top.
  const std::string iso = out / "deep.iso";
  ASSERT_TRUE(WriteWholeFile(iso, disc, Existing::kKeep, nullptr));
  CommandResult plain = RunCommand("isoinfo -l -i " + Quoted(iso) + " | grep 'Directory listing of'");
  ASSERT_EQ(plain.status, 0) << plain.output;
  size_t deepest = 0;
  std::istringstream lines(plain.output);
  for (std::string line; std::getline(lines, line);)
    deepest = std::max<size_t>(deepest, size_t(std::count(line.begin(), line.end(), '/')));
  EXPECT_EQ(deepest, 8u) << plain.output;  // "/" and seven folders: the root's level and seven more
  EXPECT_NE(plain.output.find("/RR_MOVED/"), std::string::npos) << plain.output;
  // Rock Ridge readers see every folder where it belongs.
  CommandResult lsdl = RunCommand("xorriso -indev " + Quoted(iso) + " -find / -exec lsdl 2>&1");
  EXPECT_NE(lsdl.output.find("'/" + deep + "bottom.txt'"), std::string::npos) << lsdl.output;
  EXPECT_NE(lsdl.output.find("'/a/b/c/d/e/f/g/h/i/a.txt'"), std::string::npos) << lsdl.output;
  EXPECT_NE(lsdl.output.find("'/z/b/c/d/e/f/g/h/i/z.txt'"), std::string::npos) << lsdl.output;
  EXPECT_EQ(lsdl.output.find("FAILURE"), std::string::npos) << lsdl.output;

  // So does our reader, which leaves the folder of moved folders out, and an
  // appended session writes the tree again whole.
  bool rock = false;
  std::map<std::string, UdfEntry> seen = ReadSession(disc, 0, &rock);
  EXPECT_EQ(seen.count(deep + "bottom.txt"), 1u);
  for (const auto& [path, entry] : seen) EXPECT_EQ(path.find("rr_moved"), std::string::npos) << path;
  UdfMemorySource source(reinterpret_cast<const uint8_t*>(disc.data()), disc.size());
  CMultiCD import(&source, second.path(), [&](const std::string& d, const std::string& folder) {
    ImportedEntry e;
    if (!ParseImportedEntry(d, &e)) return false;
    if (e.kind == ImportedEntry::kFolder) return std::filesystem::create_directories(folder + "/" + e.name);
    return AppendFileListEntry(folder, {d, e.name});
  });
  uint32_t next = 0;
  ASSERT_TRUE(import.Import(0, false, &next)) << import.Error();
  disc.resize(size_t(next) * kSectorSize, '\0');
  disc += ServeDataTrack(second.path(), next, 1767225600 + 60, "Deep2");
  seen = ReadSession(disc, next, &rock);
  ASSERT_EQ(seen.count(deep + "bottom.txt"), 1u);
  EXPECT_LT(seen[deep + "bottom.txt"].sectors[0].first, next);  // the old data, pointed at
  EXPECT_EQ(seen.count("a/b/c/d/e/f/g/h/i/a.txt"), 1u);
  EXPECT_EQ(seen.count("z/b/c/d/e/f/g/h/i/z.txt"), 1u);
  for (const auto& [path, entry] : seen) EXPECT_EQ(path.find("rr_moved"), std::string::npos) << path;
}

TEST(RockRidgeSessions, ImportedDescriptorsKeepThePosixViewWhateverTheNameAndTarget) {
  ImportedEntry e;
  e.name = "odd {name}, with > and <.txt";
  e.date = {126, 1, 2, 3, 4, 5, 0};
  e.size = 0;
  e.location = 77;
  e.extents = {{90, 2}};
  e.posix = true;
  e.mode = S_IFLNK | 0777;
  e.uid = 1234, e.gid = 5678;
  e.modified = -315619200, e.accessed = 1, e.changed = 4102444800;
  e.link = true;
  e.linkTarget = "../a,b}{c/\x01\xff";
  ImportedEntry back;
  ASSERT_TRUE(ParseImportedEntry(FormatImportedEntry(e), &back)) << FormatImportedEntry(e);
  EXPECT_EQ(back.name, e.name);
  EXPECT_EQ(back.location, 77u);
  EXPECT_EQ(back.extents, e.extents);
  EXPECT_TRUE(back.posix);
  EXPECT_EQ(back.mode, e.mode);
  EXPECT_EQ(back.uid, 1234u);
  EXPECT_EQ(back.modified, e.modified);
  EXPECT_EQ(back.changed, e.changed);
  EXPECT_TRUE(back.link);
  EXPECT_EQ(back.linkTarget, e.linkTarget);
  // Descriptors written before the POSIX view still load, without it.
  e.posix = e.link = false;
  ASSERT_TRUE(ParseImportedEntry(FormatImportedEntry(e), &back));
  EXPECT_FALSE(back.posix);
  EXPECT_EQ(back.name, e.name);
  // A damaged POSIX part is refused, not half read.
  EXPECT_FALSE(ParseImportedEntry("<1><n><7E010203040500><0><77>{1,2}", &back));
  EXPECT_FALSE(ParseImportedEntry("<1><n><7E010203040500><0><77>{1,2,3,4,5,6,0G}", &back));
}

TEST(MultiExtent, AnAppendedSessionPointsAtEveryExtentOfTheEarlierFile) {
  // Sparse as above: the first session's data area is a hole.
  ScratchFolder first, second, src, out;
  const uint64_t size = (uint64_t(4) << 30) + 5000;
  const std::string big = src / "huge.bin";
  { std::ofstream(big) << ""; }
  ASSERT_EQ(truncate(big.c_str(), off_t(size)), 0);
  ASSERT_TRUE(AppendFileListEntry(first.path(), {big, "huge.bin"}));
  TempFile job{"bcd"};
  CFileManager m;
  ASSERT_TRUE(m.SaveDataProject(first.path(), job.path(), "Big", nullptr, Existing::kReplace));
  CDataFile track;
  ASSERT_TRUE(track.Build(job.path(), false, false, first.path(), 0)) << track.LastError();
  std::string head(size_t(track.FirstDataSector()) * kSectorSize, '\0');
  track.GetSectors(reinterpret_cast<uint8_t*>(&head[0]), track.FirstDataSector());
  const std::string iso = out / "big.iso";
  { std::ofstream(iso, std::ios::binary) << head; }
  ASSERT_EQ(truncate(iso.c_str(), off_t(uint64_t(track.GetTrackLength()) * kSectorSize)), 0);

  uint32_t next = 0;
  {
    UdfImageSource source(iso);
    CMultiCD import(&source, second.path(), [&](const std::string& d, const std::string& folder) {
      ImportedEntry e;
      return ParseImportedEntry(d, &e) && AppendFileListEntry(folder, {d, e.name});
    });
    ASSERT_TRUE(import.Import(0, false, &next)) << import.Error();
  }
  ASSERT_TRUE(AppendFileListEntry(second.path(), {src.Write("new.txt", "new\n"), "new.txt"}));
  const std::string session2 = ServeDataTrack(second.path(), next, 1767225600, "Big2");
  {
    std::fstream f(iso, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(std::streamoff(uint64_t(next) * kSectorSize));
    f.write(session2.data(), std::streamsize(session2.size()));
    ASSERT_TRUE(f.good());
  }

  // Both sessions' readers see one file of the whole size at the same extents.
  auto read = [&](uint32_t start) {
    UdfImageSource source(iso);
    bool rock = false;
    return ReadSession(source, start, &rock);
  };
  std::map<std::string, UdfEntry> before = read(0), after = read(next);
  ASSERT_EQ(after.count("huge.bin"), 1u);
  EXPECT_EQ(after["huge.bin"].size, size);
  EXPECT_EQ(after["huge.bin"].sectors, before["huge.bin"].sectors);
  EXPECT_EQ(after.count("new.txt"), 1u);
  const std::string want = std::to_string(size);
  CommandResult x = RunCommand("xorriso -load sbsector " + std::to_string(next) + " -indev " + Quoted(iso) +
                               " -find / -exec lsdl 2>&1");
  EXPECT_TRUE(std::regex_search(x.output, std::regex(" " + want + " .*'/huge.bin'"))) << x.output;
  EXPECT_NE(x.output.find("'/new.txt'"), std::string::npos) << x.output;
}
