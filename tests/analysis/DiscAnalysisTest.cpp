// Looking into discs: the analysis tree, saving files from hostile and
// healthy discs, the sector dump and the device information rows, checked
// against the sources of the discs and against cd-info.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>

#include "burnctrl/BurnTestSupport.h"
#include "ByteFields.h"
#include "analysis/CAnaly_ISO.h"
#include "analysis/CGetCDData.h"
#include "analysis/DevInfo.h"
#include "analysis/DiscAnalysis.h"
#include "analysis/SectorView.h"
#include "DevDeque.h"
#include "VirtualRecorder.h"

namespace fs = std::filesystem;

namespace {

std::string Cli(const std::string& args, int* status) { return RunTool(std::string(VARNEX_CLI_PATH) + " " + args, status); }

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// Every regular file below `root`, by its path relative to it.
std::set<std::string> FilesBelow(const std::string& root) {
  std::set<std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file() || e.is_symlink()) files.insert(fs::relative(e.path(), root).string());
  return files;
}

// A folder with nested folders, long and non-ASCII names, an empty file and
// one file of several megabytes that spans many reads.
std::string MakeTree(const ScratchFolder& dir) {
  dir.Write("src/readme.txt", "hello disc");
  dir.Write("src/Long Folder Name/Inner file with spaces.txt", "inner");
  dir.Write("src/Long Folder Name/deeper/Übergrößen.txt", "umlauts");
  dir.Write("src/empty.dat", "");
  std::vector<uint8_t> big = PatternBytes(3 * 1024 * 1024 + 777, 7);
  dir.Write("src/big.bin", std::string(big.begin(), big.end()));
  return dir / "src";
}

struct IsoFiles {
  std::vector<uint8_t> image;
  DiscFiles files;
};

// Reads the file tree of an image held in memory.
bool ListImage(const std::vector<uint8_t>& image, DiscFiles* files) {
  UdfMemorySource source(image.data(), image.size());
  return ReadDiscFiles(&source, 0, 1, files);
}

// The offset of the directory record whose identifier starts at `id`.
size_t RecordOf(size_t id) { return id - 33; }

// Replaces the identifier of every directory record naming `from` by `to`
// (which may be shorter): the record keeps its length, the name its new one.
int RenameRecords(std::vector<uint8_t>* image, const std::string& from, const std::string& to) {
  int n = 0;
  for (size_t at = 33; at + from.size() <= image->size(); ++at) {
    if (std::memcmp(image->data() + at, from.data(), from.size()) != 0) continue;
    uint8_t* rec = image->data() + RecordOf(at);
    if (rec[32] != from.size()) continue;
    std::memcpy(rec + 33, to.data(), to.size());
    rec[32] = uint8_t(to.size());
    ++n;
  }
  return n;
}

std::string Utf16Be(const std::string& ascii) {
  std::string out;
  for (char c : ascii) {
    out.push_back('\0');
    out.push_back(c);
  }
  return out;
}

class FailingSource : public UdfSectorSource {
 public:
  FailingSource(UdfSectorSource* inner, uint32_t bad) : inner_(inner), bad_(bad) {}
  bool ReadSectors(uint32_t sector, uint32_t count, uint8_t* out) override {
    if (sector <= bad_ && bad_ < sector + count) return false;
    return inner_->ReadSectors(sector, count, out);
  }
  uint64_t SectorCount() const override { return inner_->SectorCount(); }

 private:
  UdfSectorSource* inner_;
  uint32_t bad_;
};

void WriteWav(const std::string& path, const std::vector<uint8_t>& pcm) {
  uint8_t h[44] = {};
  auto le32 = [&](int at, uint32_t v) { bytes::PutLE32(h + at, v); };
  std::memcpy(h, "RIFF", 4);
  le32(4, uint32_t(36 + pcm.size()));
  std::memcpy(h + 8, "WAVEfmt ", 8);
  le32(16, 16);
  bytes::PutLE16(h + 20, 1);
  bytes::PutLE16(h + 22, 2);
  le32(24, 44100);
  le32(28, 44100 * 4);
  bytes::PutLE16(h + 32, 4);
  bytes::PutLE16(h + 34, 16);
  std::memcpy(h + 36, "data", 4);
  le32(40, uint32_t(pcm.size()));
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(h), 44);
  out.write(reinterpret_cast<const char*>(pcm.data()), std::streamsize(pcm.size()));
}

// A drive that gives no full table of contents, as some DVD drives do.
class NoFullToc : public ScsiTransport {
 public:
  explicit NoFullToc(std::unique_ptr<VirtualRecorder> inner) : inner_(std::move(inner)) {}
  bool Execute(ScsiCommand& cmd) override {
    if (cmd.opcode() == 0x43 && (cmd.cdb[2] & 0x0F) == 2) {
      cmd.SetSense(5, 0x24, 0);
      return true;
    }
    return inner_->Execute(cmd);
  }
  std::string Path() const override { return inner_->Path(); }

 private:
  std::unique_ptr<VirtualRecorder> inner_;
};

std::unique_ptr<CDevCmdROM> WithoutFullToc(const std::string& state) {
  auto recorder = std::make_unique<VirtualRecorder>();
  std::string why;
  if (!recorder->Open(state, &why)) return nullptr;
  return std::make_unique<CDevCmdROM>(std::make_unique<NoFullToc>(std::move(recorder)), 3);
}

const UdfEntry* Find(const DiscFiles& files, const std::string& path) {
  for (const UdfEntry& e : files.entries)
    if (e.Path() == path) return &e;
  return nullptr;
}

}  // namespace

TEST(DiscFiles, ImagesOfGenisoimageAndXorrisoAreSavedEqualToTheirSources) {
  ScratchFolder dir;
  const std::string src = MakeTree(dir);
  int st = 0;
  std::vector<std::pair<std::string, std::string>> makers;
  if (HaveTool("genisoimage"))
    makers.push_back({"genisoimage", "genisoimage -quiet -J -joliet-long -R -V GENISO -o " + (dir / "g.iso") + " " + src});
  if (HaveTool("xorriso"))
    makers.push_back({"xorriso", "xorriso -as mkisofs -quiet -J -joliet-long -V XORR -o " + (dir / "x.iso") + " " + src});
  if (makers.empty()) GTEST_SKIP() << "neither genisoimage nor xorriso is installed";
  for (const auto& [name, command] : makers) {
    SCOPED_TRACE(name);
    std::string out = RunTool(command, &st);
    ASSERT_EQ(st, 0) << out;
    const std::string image = dir / (name == "xorriso" ? "x.iso" : "g.iso");
    out = Cli("analyse --files --drive image:" + image, &st);
    ASSERT_EQ(st, 0) << out;
    EXPECT_NE(out.find("Session 1\n  DATA TRACK 1 (ISO)\tmode 1\tstart 0"), std::string::npos) << out;
    // Both tools write Rock Ridge (xorriso unasked), which is read before Joliet.
    EXPECT_NE(out.find(name == "xorriso" ? "label \"XORR\" (Rock Ridge)" : "label \"GENISO\" (Rock Ridge)"),
              std::string::npos) << out;
    EXPECT_NE(out.find("Übergrößen.txt"), std::string::npos) << out;
    const std::string target = dir / ("out-" + name);
    out = Cli("extract-files --drive image:" + image + " -o " + target, &st);
    ASSERT_EQ(st, 0) << out;
    out = RunTool("diff -r " + src + " " + target, &st);
    EXPECT_EQ(st, 0) << out;
    // A selection saves just that folder, with its content, into the target.
    out = Cli("extract-files --drive image:" + image + " -o " + (dir / ("sel-" + name)) + " '/Long Folder Name'", &st);
    ASSERT_EQ(st, 0) << out;
    EXPECT_EQ(FilesBelow(dir / ("sel-" + name)),
              (std::set<std::string>{"Long Folder Name/Inner file with spaces.txt", "Long Folder Name/deeper/Übergrößen.txt"}));
    out = Cli("extract-files --drive image:" + image + " -o " + (dir / "none") + " /missing.txt", &st);
    EXPECT_NE(st, 0);
    EXPECT_NE(out.find("-443"), std::string::npos) << out;
  }
}

TEST(DiscFiles, NamesThatClimbOrClashStayInsideTheChosenFolderAndReplaceNothing) {
  if (!HaveTool("genisoimage")) GTEST_SKIP() << "genisoimage is not installed";
  ScratchFolder dir;
  for (int i = 1; i <= 6; ++i) dir.Write("src/aaaaaaa" + std::to_string(i) + ".txt", "content " + std::to_string(i));
  dir.Write("src/keep.txt", "from the disc");
  for (bool joliet : {false, true}) {
    SCOPED_TRACE(joliet ? "Joliet names" : "ISO 9660 names");
    int st = 0;
    const std::string iso = dir / (joliet ? "j.iso" : "p.iso");
    std::string out = RunTool("genisoimage -quiet " + std::string(joliet ? "-J " : "") + "-o " + iso + " " + (dir / "src"), &st);
    ASSERT_EQ(st, 0) << out;
    std::vector<uint8_t> image = Bytes(ReadWholeFile(iso));
    auto name = [&](int i) {
      return joliet ? Utf16Be("aaaaaaa" + std::to_string(i) + ".txt") : "AAAAAAA" + std::to_string(i) + ".TXT;1";
    };
    auto hostile = [&](const std::string& n) { return joliet ? Utf16Be(n) : n + ";1"; };
    ASSERT_EQ(RenameRecords(&image, name(1), hostile("../../up.txt")), 1);
    ASSERT_EQ(RenameRecords(&image, name(2), hostile("/tmp/abs")), 1);
    ASSERT_EQ(RenameRecords(&image, name(3), hostile("..")), 1);
    ASSERT_EQ(RenameRecords(&image, name(4), hostile("same")), 1);
    ASSERT_EQ(RenameRecords(&image, name(5), hostile("same")), 1);
    ASSERT_EQ(RenameRecords(&image, name(6), hostile("bell\x07")), 1);

    DiscFiles files;
    ASSERT_TRUE(ListImage(image, &files)) << files.error;
    EXPECT_EQ(files.joliet, joliet);
    const std::string target = dir / (joliet ? "j/chosen" : "p/chosen");
    fs::create_directories(target);
    // Something the user already has under a name the disc uses.
    std::ofstream(target + "/" + (joliet ? "keep.txt" : "KEEP.TXT")) << "the user's own";
    std::set<std::string> before = FilesBelow(dir.path());

    UdfMemorySource source(image.data(), image.size());
    CGetCDData saver(&source);
    EXPECT_TRUE(saver.Save(files.entries, {}, target)) << ::testing::PrintToString(saver.Report().failed);
    const GetCDDataReport& report = saver.Report();
    EXPECT_EQ(report.files, 7u);
    EXPECT_GE(report.renamed.size(), 5u) << "every changed name is reported";

    // Nothing appeared outside the chosen folder.
    for (const std::string& f : FilesBelow(dir.path())) {
      if (before.count(f)) continue;
      EXPECT_EQ(f.rfind(fs::relative(target, dir.path()).string() + "/", 0), 0u) << f;
    }
    EXPECT_FALSE(fs::exists("/tmp/abs"));
    // The user's file is untouched; the disc's file of that name is beside it.
    EXPECT_EQ(ReadWholeFile(target + "/" + (joliet ? "keep.txt" : "KEEP.TXT")), "the user's own");
    // Each of the 7 disc files is there once, with its own content.
    std::set<std::string> contents;
    for (const std::string& f : FilesBelow(target)) contents.insert(ReadWholeFile(target + "/" + f));
    for (int i = 1; i <= 6; ++i) EXPECT_TRUE(contents.count("content " + std::to_string(i))) << i;
    EXPECT_TRUE(contents.count("from the disc"));
    EXPECT_EQ(FilesBelow(target).size(), 8u) << ::testing::PrintToString(FilesBelow(target));
  }
}

TEST(DiscFiles, HostileDirectoriesEndTheWalkWithTheirReason) {
  if (!HaveTool("genisoimage")) GTEST_SKIP() << "genisoimage is not installed";
  ScratchFolder dir;
  dir.Write("src/SUBDIR/INNER/FILE.TXT", "x");
  dir.Write("src/TOP.TXT", "y");
  int st = 0;
  std::string out = RunTool("genisoimage -quiet -o " + (dir / "a.iso") + " " + (dir / "src"), &st);
  ASSERT_EQ(st, 0) << out;
  const std::vector<uint8_t> clean = Bytes(ReadWholeFile(dir / "a.iso"));
  DiscFiles files;
  ASSERT_TRUE(ListImage(clean, &files)) << files.error;
  CAnaly_ISO iso;
  UdfMemorySource cleanSource(clean.data(), clean.size());
  ASSERT_TRUE(iso.Open(&cleanSource, 0));
  const uint32_t root = iso.RootExtent();

  auto recordOf = [&](std::vector<uint8_t>& image, const std::string& name) -> uint8_t* {
    for (size_t at = 33; at + name.size() <= image.size(); ++at)
      if (image[at - 1] == name.size() && std::memcmp(&image[at], name.data(), name.size()) == 0)
        return &image[RecordOf(at)];
    return nullptr;
  };
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"a folder pointing back at the root", [&](std::vector<uint8_t>& im) { bytes::PutBoth32(recordOf(im, "INNER") + 2, root); }, "loops"},
      {"a folder past the end", [&](std::vector<uint8_t>& im) { bytes::PutBoth32(recordOf(im, "SUBDIR") + 2, 0x7FFFFFF0); }, "past the end"},
      {"a huge folder", [&](std::vector<uint8_t>& im) { bytes::PutBoth32(recordOf(im, "SUBDIR") + 10, 0xFFFFF800u); }, "impossible size"},
      {"a record too short for its name", [&](std::vector<uint8_t>& im) { recordOf(im, "TOP.TXT;1")[0] = 20; }, "damaged"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> image = clean;
    c.damage(image);
    DiscFiles damaged;
    EXPECT_FALSE(ListImage(image, &damaged));
    EXPECT_NE(damaged.error.find(c.reason), std::string::npos) << damaged.error;
  }
  // A file whose data lies past the end is reported, not saved.
  std::vector<uint8_t> image = clean;
  bytes::PutBoth32(recordOf(image, "TOP.TXT;1") + 2, uint32_t(image.size() / 2048 + 5));
  DiscFiles listed;
  ASSERT_TRUE(ListImage(image, &listed));
  UdfMemorySource source(image.data(), image.size());
  CGetCDData saver(&source);
  EXPECT_FALSE(saver.Save(listed.entries, {}, dir / "out"));
  ASSERT_EQ(saver.Report().failed.size(), 1u);
  EXPECT_NE(saver.Report().failed[0].find("past the end of the disc"), std::string::npos) << saver.Report().failed[0];
  EXPECT_FALSE(fs::exists(dir / "out/TOP.TXT"));
  EXPECT_TRUE(fs::exists(dir / "out/SUBDIR/INNER/FILE.TXT"));
}

TEST(DiscFiles, AnUnreadableSectorIsNamedAndStoppingKeepsNoPartialFile) {
  if (!HaveTool("genisoimage")) GTEST_SKIP() << "genisoimage is not installed";
  ScratchFolder dir;
  MakeTree(dir);
  int st = 0;
  std::string out = RunTool("genisoimage -quiet -J -o " + (dir / "a.iso") + " " + (dir / "src"), &st);
  ASSERT_EQ(st, 0) << out;
  std::vector<uint8_t> image = Bytes(ReadWholeFile(dir / "a.iso"));
  DiscFiles files;
  ASSERT_TRUE(ListImage(image, &files));
  const UdfEntry* big = Find(files, "big.bin");
  ASSERT_NE(big, nullptr);
  const uint32_t bad = StartSector(*big) + 1000;
  UdfMemorySource inner(image.data(), image.size());
  FailingSource source(&inner, bad);
  {
    CGetCDData saver(&source);
    EXPECT_FALSE(saver.Save(files.entries, {}, dir / "out"));
    ASSERT_EQ(saver.Report().failed.size(), 1u);
    EXPECT_NE(saver.Report().failed[0].find("sector " + std::to_string(bad) + " cannot be read"), std::string::npos)
        << saver.Report().failed[0];
    EXPECT_EQ(FilesBelow(dir / "out").count("big.bin"), 0u) << "a partial copy must not look complete";
    EXPECT_EQ(ReadWholeFile(dir / "out/readme.txt"), "hello disc");
    for (const std::string& f : FilesBelow(dir / "out")) EXPECT_EQ(f.find(".varnex-part"), std::string::npos) << f;
  }
  {
    // Stopped on the worker thread while the big file is half written.
    CGetCDData saver(&inner);
    saver.SetProgressHook([](const CGetCDData& s) {
      if (s.CurrentFile() == "big.bin" && s.BytesDone() > 1024 * 1024) const_cast<CGetCDData&>(s).Stop();
    });
    ASSERT_TRUE(saver.Start(files.entries, {}, dir / "stopped"));
    saver.Wait();
    EXPECT_TRUE(saver.Done());
    EXPECT_TRUE(saver.Report().stopped);
    EXPECT_TRUE(saver.Report().failed.empty()) << ::testing::PrintToString(saver.Report().failed);
    for (const std::string& f : FilesBelow(dir / "stopped")) {
      EXPECT_NE(f, "big.bin");
      EXPECT_EQ(f.find(".varnex-part"), std::string::npos) << f;
    }
  }
}

TEST(DiscFiles, AFileThatAppearsUnderTheChosenNameBeforeTheRenamingIsKept) {
  if (!HaveTool("genisoimage")) GTEST_SKIP() << "genisoimage is not installed";
  ScratchFolder dir;
  dir.Write("src/clash.txt", "clash from the disc");
  dir.Write("src/taken.txt", "taken from the disc");
  dir.Write("src/calm.txt", "calm from the disc");
  int st = 0;
  std::string out = RunTool("genisoimage -quiet -J -o " + (dir / "a.iso") + " " + (dir / "src"), &st);
  ASSERT_EQ(st, 0) << out;
  const std::vector<uint8_t> image = Bytes(ReadWholeFile(dir / "a.iso"));
  DiscFiles files;
  ASSERT_TRUE(ListImage(image, &files)) << files.error;
  const std::string target = dir / "out";
  // "taken.txt" is the user's already, so the disc's goes to "taken (2).txt";
  // another program then writes both chosen names while the files wait.
  dir.Write("out/taken.txt", "the user's first");
  UdfMemorySource source(image.data(), image.size());
  CGetCDData saver(&source);
  std::vector<std::string> named;
  saver.SetNamingHook([&](const std::string& localPath) {
    named.push_back(localPath);
    if (localPath == "clash.txt" || localPath == "taken (2).txt")
      std::ofstream(target + "/" + localPath) << "the user's, made meanwhile";
  });
  ASSERT_TRUE(saver.Start(files.entries, {}, target));
  saver.Wait();
  const GetCDDataReport& report = saver.Report();
  EXPECT_EQ(named.size(), 3u) << ::testing::PrintToString(named);

  // The user's files are as they were; the disc's two are named as not saved.
  EXPECT_EQ(ReadWholeFile(target + "/clash.txt"), "the user's, made meanwhile");
  EXPECT_EQ(ReadWholeFile(target + "/taken (2).txt"), "the user's, made meanwhile");
  EXPECT_EQ(ReadWholeFile(target + "/taken.txt"), "the user's first");
  EXPECT_EQ(ReadWholeFile(target + "/calm.txt"), "calm from the disc");
  EXPECT_FALSE(report.Complete());
  EXPECT_EQ(report.files, 1u);
  ASSERT_EQ(report.failed.size(), 2u) << ::testing::PrintToString(report.failed);
  for (const char* path : {"\"clash.txt\" not saved", "\"taken.txt\" not saved"})
    EXPECT_TRUE(std::any_of(report.failed.begin(), report.failed.end(),
                            [&](const std::string& f) { return f.find(path) != std::string::npos; }))
        << path << " missing in " << ::testing::PrintToString(report.failed);
  // No report claims that the disc's file went under a name it did not get.
  for (const std::string& r : report.renamed) EXPECT_EQ(r.find("taken (2).txt"), std::string::npos) << r;
  EXPECT_EQ(FilesBelow(target), (std::set<std::string>{"calm.txt", "clash.txt", "taken.txt", "taken (2).txt"}));
}

// Files are named in batches beside the saving of the next ones: every file
// of every batch comes out whole under its name, and a file that cannot take
// its name is reported whichever batch it was in.
TEST(DiscFiles, ManyFilesAreNamedInBatchesAndEachFailureIsReported) {
  if (!HaveTool("genisoimage")) GTEST_SKIP() << "genisoimage is not installed";
  ScratchFolder dir;
  constexpr int kFolders = 3, kPerFolder = 300;
  static_assert(kFolders * kPerFolder > 3 * CGetCDData::kMaxWaitingFiles);
  auto content = [](int f, int i) { return "folder " + std::to_string(f) + " file " + std::to_string(i) + std::string(size_t(i % 50), '.'); };
  auto name = [](int f, int i) {
    char n[32];
    std::snprintf(n, sizeof n, "f%d/file%03d.txt", f, i);
    return std::string(n);
  };
  for (int f = 0; f < kFolders; ++f)
    for (int i = 0; i < kPerFolder; ++i) dir.Write("src/" + name(f, i), content(f, i));
  int st = 0;
  std::string out = RunTool("genisoimage -quiet -J -o " + (dir / "many.iso") + " " + (dir / "src"), &st);
  ASSERT_EQ(st, 0) << out;
  const std::vector<uint8_t> image = Bytes(ReadWholeFile(dir / "many.iso"));
  DiscFiles files;
  ASSERT_TRUE(ListImage(image, &files)) << files.error;
  const std::string target = dir / "out";
  const std::string first = name(0, 7), last = name(kFolders - 1, kPerFolder - 1);
  UdfMemorySource source(image.data(), image.size());
  CGetCDData saver(&source);
  size_t named = 0;
  saver.SetNamingHook([&](const std::string& localPath) {
    ++named;
    if (localPath == first || localPath == last) std::ofstream(target + "/" + localPath) << "the user's";
  });
  ASSERT_TRUE(saver.Start(files.entries, {}, target));
  saver.Wait();
  const GetCDDataReport& report = saver.Report();
  EXPECT_EQ(named, size_t(kFolders * kPerFolder));
  EXPECT_EQ(report.files, uint64_t(kFolders * kPerFolder - 2));
  EXPECT_EQ(report.folders, uint64_t(kFolders));
  ASSERT_EQ(report.failed.size(), 2u) << ::testing::PrintToString(report.failed);
  for (const std::string& path : {first, last})
    EXPECT_TRUE(std::any_of(report.failed.begin(), report.failed.end(),
                            [&](const std::string& f) { return f.find("\"" + path + "\" not saved") != std::string::npos; }))
        << path << " missing in " << ::testing::PrintToString(report.failed);
  const std::set<std::string> below = FilesBelow(target);
  EXPECT_EQ(below.size(), size_t(kFolders * kPerFolder)) << "no partial file is left";
  for (int f = 0; f < kFolders; ++f)
    for (int i = 0; i < kPerFolder; ++i) {
      const std::string path = name(f, i);
      EXPECT_EQ(ReadWholeFile(target + "/" + path), path == first || path == last ? "the user's" : content(f, i)) << path;
    }
}

TEST(DiscFiles, SafeLocalNamesAreSingleComponentsOfBoundedLength) {
  std::string why;
  EXPECT_EQ(SafeLocalName("plain.txt", &why), "plain.txt");
  EXPECT_TRUE(why.empty());
  EXPECT_EQ(SafeLocalName("..", &why), "__");
  EXPECT_FALSE(why.empty());
  EXPECT_EQ(SafeLocalName("a/b\n", &why), "a_b_");
  std::string longName = std::string(200, 'x') + std::string(100, '\xC3') + ".flac";
  for (size_t i = 200; i < 300; i += 2) longName[i + 1] = '\xA4';  // "ä" repeated
  std::string safe = SafeLocalName(longName, &why);
  EXPECT_LE(safe.size(), CGetCDData::kMaxNameBytes);
  EXPECT_EQ(safe.substr(safe.size() - 5), ".flac");
  EXPECT_NE(uint8_t(safe[safe.size() - 6]), 0xC3) << "a character is never cut in half";
}

TEST(DiscAnalysis, SessionsOfAThreeSessionCdAgreeWithCdInfo) {
  ScratchFolder dir;
  int st = 0;
  const std::string drive = "--drive virtual:" + (dir / "ms.vdisc");
  std::string out = Cli("virtual create --media cd-r " + (dir / "ms.vdisc"), &st);
  ASSERT_EQ(st, 0) << out;
  for (int i = 1; i <= 3; ++i) {
    dir.Write("s" + std::to_string(i) + "/file" + std::to_string(i) + ".txt", "session " + std::to_string(i));
    out = Cli("burn --multisession " + drive + " --label S" + std::to_string(i) + " " + (dir / ("s" + std::to_string(i))), &st);
    ASSERT_EQ(st, 0) << out;
  }
  out = Cli("analyse " + drive, &st);
  ASSERT_EQ(st, 0) << out;
  std::smatch m;
  std::vector<uint32_t> starts;
  std::string rest = out;
  while (std::regex_search(rest, m, std::regex("DATA TRACK ([0-9]+) \\(ISO\\)\tmode [12]\tstart ([0-9]+)"))) {
    starts.push_back(uint32_t(std::stoul(m[2])));
    rest = m.suffix();
  }
  ASSERT_EQ(starts.size(), 3u) << out;
  for (int i = 1; i <= 3; ++i) EXPECT_NE(out.find("Session " + std::to_string(i) + "\n"), std::string::npos) << out;
  // The last session shows the files of all three.
  out = Cli("extract-files " + drive + " -o " + (dir / "all"), &st);
  ASSERT_EQ(st, 0) << out;
  for (int i = 1; i <= 3; ++i)
    EXPECT_EQ(ReadWholeFile(dir / ("all/s" + std::to_string(i) + "/file" + std::to_string(i) + ".txt")),
              "session " + std::to_string(i));

  if (!HaveTool("cd-info")) GTEST_SKIP() << "cd-info is not installed";
  out = Cli("virtual export " + drive + " --cue " + (dir / "ms.cue"), &st);
  ASSERT_EQ(st, 0) << out;
  std::string info = RunTool("cd-info --no-cddb --no-device-info --no-disc-mode --no-analyze --cue-file " + (dir / "ms.cue"), &st);
  std::vector<uint32_t> theirs;
  rest = info;
  while (std::regex_search(rest, m, std::regex("\n *([0-9]+): [0-9:]+ +([0-9]+) +data"))) {
    theirs.push_back(uint32_t(std::stoul(m[2])));
    rest = m.suffix();
  }
  EXPECT_EQ(starts, theirs) << info;
  // The analysis of the exported image agrees with that of the disc.
  out = Cli("analyse --drive image:" + (dir / "ms.cue"), &st);
  EXPECT_EQ(st, 0) << out;
}

TEST(DiscAnalysis, DvdPlusRWithUdfIsListedAndSavedThroughUdf) {
  ScratchFolder dir;
  const std::string src = MakeTree(dir);
  int st = 0;
  const std::string drive = "--drive virtual:" + (dir / "dvd.vdisc");
  std::string out = Cli("virtual create --media dvd+r " + (dir / "dvd.vdisc"), &st);
  ASSERT_EQ(st, 0) << out;
  out = Cli("burn " + drive + " --label DVDDATA " + src, &st);
  ASSERT_EQ(st, 0) << out;
  out = Cli("analyse " + drive, &st);
  ASSERT_EQ(st, 0) << out;
  EXPECT_TRUE(std::regex_search(out, std::regex("DATA TRACK 1 \\((UDF|UDF&ISO)\\)"))) << out;
  EXPECT_NE(out.find("UDF label \"DVDDATA\""), std::string::npos) << out;
  out = Cli("extract-files " + drive + " -o " + (dir / "out"), &st);
  ASSERT_EQ(st, 0) << out;
  out = RunTool("diff -r " + src + " " + (dir / "out/src"), &st);
  EXPECT_EQ(st, 0) << out;
  // Sector 16 of a DVD: no raw mode, 2048 bytes.
  out = Cli("sector " + drive + " 16 --raw", &st);
  EXPECT_NE(st, 0);
  out = Cli("sector " + drive + " 16 -o " + (dir / "Sector.dat"), &st);
  ASSERT_EQ(st, 0) << out;
  EXPECT_EQ(ReadWholeFile(dir / "Sector.dat").size(), 2048u);
}

TEST(DiscAnalysis, WithoutAFullTocDvdSessionsComeFromTheTrackInformation) {
  ScratchFolder dir;
  int st = 0;
  dir.Write("one/a.txt", "first");
  dir.Write("two/b.txt", "second");
  std::string out = Cli("virtual create --media dvd+r " + (dir / "dvd.vdisc") + " && " + VARNEX_CLI_PATH +
                            " virtual create --media cd-r " + (dir / "cd.vdisc"), &st);
  ASSERT_EQ(st, 0) << out;
  auto drive = WithoutFullToc(dir / "dvd.vdisc");
  ASSERT_NE(drive, nullptr);
  DiscAnalysis disc;
  EXPECT_FALSE(AnalyseDisc(*drive, &disc)) << "a blank disc has nothing to show";
  EXPECT_NE(disc.error.find("blank"), std::string::npos) << disc.error;
  for (const char* folder : {"one", "two"}) {
    out = Cli("burn --multisession --drive virtual:" + (dir / "dvd.vdisc") + " " + (dir / folder), &st);
    ASSERT_EQ(st, 0) << out;
    out = Cli("burn --multisession --drive virtual:" + (dir / "cd.vdisc") + " " + (dir / folder), &st);
    ASSERT_EQ(st, 0) << out;
  }
  drive = WithoutFullToc(dir / "dvd.vdisc");
  ASSERT_TRUE(AnalyseDisc(*drive, &disc)) << disc.error;
  EXPECT_TRUE(disc.tocFromTrackInfo);
  ASSERT_EQ(disc.sessions.size(), 2u);
  ASSERT_EQ(disc.sessions[1].tracks.size(), 1u);
  const AnalyTrack& second = disc.sessions[1].tracks[0];
  EXPECT_EQ(TrackText(second).rfind("DATA TRACK 2 (UDF", 0), 0u) << TrackText(second);
  EXPECT_EQ(second.start, disc.sessions[0].leadOut);
  EXPECT_EQ(LeadOutText(disc), "(Lead Out) " + std::to_string(second.start + second.length));
  // The fallback's tree agrees with what the drive's full table gives.
  auto full = DevDeque::OpenDrive("virtual:" + (dir / "dvd.vdisc"), 3, nullptr);
  ASSERT_NE(full, nullptr);
  DiscAnalysis reference;
  ASSERT_TRUE(AnalyseDisc(*full, &reference));
  EXPECT_FALSE(reference.tocFromTrackInfo);
  ASSERT_EQ(reference.sessions.size(), 2u);
  EXPECT_EQ(reference.sessions[1].tracks[0].start, second.start);
  EXPECT_EQ(reference.sessions[1].leadOut, disc.sessions[1].leadOut);
  // A CD always has a full table of contents: without one it is unreadable.
  drive = WithoutFullToc(dir / "cd.vdisc");
  EXPECT_FALSE(AnalyseDisc(*drive, &disc));
  EXPECT_TRUE(disc.sessions.empty());
}

TEST(DiscAnalysis, AudioCdShowsItsTracksWithTheirCdTextRows) {
  ScratchFolder dir;
  std::vector<uint8_t> pcm = PatternBytes(44100 * 4 * 2, 3);
  WriteWav(dir / "a.wav", pcm);
  WriteWav(dir / "b.wav", pcm);
  int st = 0;
  const std::string drive = "--drive virtual:" + (dir / "audio.vdisc");
  std::string out = Cli("virtual create --media audio --title Album --performer Band --track " + (dir / "a.wav") +
                            "::First::Singer --track " + (dir / "b.wav") + "::Second::Other " + (dir / "audio.vdisc"),
                        &st);
  ASSERT_EQ(st, 0) << out;
  out = Cli("analyse " + drive, &st);
  ASSERT_EQ(st, 0) << out;
  EXPECT_TRUE(std::regex_search(out, std::regex("  AUDIO TRACK 1\taudio\tstart 0\tlength [0-9]+\n    TITLE\tFirst\n    ARTIST\tSinger\n"))) << out;
  EXPECT_TRUE(std::regex_search(out, std::regex("  AUDIO TRACK 2\taudio\tstart [0-9]+\tlength 150\n    TITLE\tSecond\n    ARTIST\tOther\n"))) << out;
  // The rows as the list shows them.
  FS_CDTEXT_INFO text;
  std::strcpy(text.Tracks[2].szTitle, "Second");
  std::strcpy(text.Tracks[2].szISRC, "USXXX0000001");
  auto rows = CdTextRows(text, 2);
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0], (std::pair<std::string, std::string>{"TITLE", "Second"}));
  EXPECT_EQ(rows[2].first, "MESSAGE");
  EXPECT_EQ(rows[3].first, "COMPOSER");
  EXPECT_EQ(rows[4].first, "SONGWRITER");
  EXPECT_EQ(rows[5], (std::pair<std::string, std::string>{"ISRC", "USXXX0000001"}));
}

TEST(SectorView, SectorSixteenCookedAndRawAndSavedInTheSizeShown) {
  if (!HaveTool("genisoimage")) GTEST_SKIP() << "genisoimage is not installed";
  ScratchFolder dir;
  dir.Write("src/a.txt", "a");
  int st = 0;
  std::string out = RunTool("genisoimage -quiet -o " + (dir / "a.iso") + " " + (dir / "src"), &st);
  ASSERT_EQ(st, 0) << out;
  out = Cli("sector --drive image:" + (dir / "a.iso") + " 16 -o " + (dir / "Sector.dat"), &st);
  ASSERT_EQ(st, 0) << out;
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  ASSERT_EQ(lines.size(), 2u + 128u) << out;
  EXPECT_EQ(lines[0].substr(0, 12), "    |   0  1");
  EXPECT_EQ(lines[2].substr(0, 25), "   0|  01 43 44 30 30 31 ");
  EXPECT_EQ(lines[2].substr(56, 7), "| CD001");
  EXPECT_EQ(ReadWholeFile(dir / "Sector.dat").size(), 2048u);
  // The file is never replaced without being asked.
  out = Cli("sector --drive image:" + (dir / "a.iso") + " 17 -o " + (dir / "Sector.dat"), &st);
  EXPECT_NE(st, 0);
  EXPECT_EQ(ReadWholeFile(dir / "Sector.dat").substr(0, 6), "\x01" "CD001");

  // Raw: a pressed CD-ROM exported as BIN/CUE gives whole sectors.
  out = Cli("virtual create --media cd-rom --iso " + (dir / "a.iso") + " " + (dir / "rom.vdisc"), &st);
  ASSERT_EQ(st, 0) << out;
  out = Cli("virtual export --drive virtual:" + (dir / "rom.vdisc") + " --cue " + (dir / "rom.cue"), &st);
  ASSERT_EQ(st, 0) << out;
  for (const std::string& drive : {"virtual:" + (dir / "rom.vdisc"), "image:" + (dir / "rom.cue")}) {
    SCOPED_TRACE(drive);
    out = Cli("sector --drive " + drive + " 16 --raw -o " + (dir / "raw.dat") + " --replace", &st);
    ASSERT_EQ(st, 0) << out;
    std::istringstream raw(out);
    std::vector<std::string> rawLines;
    for (std::string l; std::getline(raw, l);) rawLines.push_back(l);
    ASSERT_EQ(rawLines.size(), 2u + 147u) << out;
    EXPECT_EQ(rawLines[2].substr(0, 55), "   0|  00 FF FF FF FF FF FF FF FF FF FF 00 00 02 16 01 ") << "sync, then 00:02:16 Mode 1";
    EXPECT_EQ(rawLines[3].substr(7, 17), "01 43 44 30 30 31");
    EXPECT_EQ(ReadWholeFile(dir / "raw.dat").size(), 2352u);
  }
}

TEST(DevInfo, RowsFollowTheCapabilitiesPageAndTheFeatureList) {
  uint8_t page[26] = {0x2A, 24, 0x3B /* CD-R, CD-RW, DVD-ROM, DVD-R, DVD-RAM read */, 0x03, 0x10, 0x13};
  // A feature list with DVD+RW (2A) present and DVD-R/-RW write (2F) absent.
  uint8_t config[24] = {0, 0, 0, 20, 0, 0, 0, 0x08, 0x00, 0x00, 0x03, 0x04, 0, 0x08, 0, 0, 0x00, 0x2A, 0x03, 0x04};
  std::vector<DevInfoRow> rows = DeviceInfoRows(page, sizeof page, config, sizeof config);
  ASSERT_EQ(rows.size(), 36u);  // the Blu-ray rows follow the 29 of old
  auto yes = [&](int r) { return rows[size_t(r)].support == DevInfoRow::kYes; };
  EXPECT_EQ(rows[0].support, DevInfoRow::kNone);
  EXPECT_EQ(rows[0].nameKey, 29);
  EXPECT_TRUE(yes(1)) << "C2 pointers, P5 bit 4";
  EXPECT_TRUE(yes(2) && yes(3));
  EXPECT_FALSE(yes(4));
  EXPECT_TRUE(yes(5)) << "Mode 2 Form 1, P4 bit 4";
  EXPECT_FALSE(yes(6));
  EXPECT_TRUE(yes(14) && yes(15) && yes(24) && yes(25)) << "DVD+RW feature rows go together";
  EXPECT_FALSE(yes(17) || yes(27)) << "no DVD-R/-RW write feature";
  EXPECT_TRUE(yes(12) && yes(13) && yes(16) && yes(18) && yes(19));
  EXPECT_TRUE(yes(22) && yes(23));
  EXPECT_FALSE(yes(26) || yes(28));
  EXPECT_EQ(rows[10].nameKey, 0);
  EXPECT_EQ(rows[28].nameKey, 57);
  // A feature list whose data length is 0 counts nothing present.
  std::memset(config, 0, 4);
  rows = DeviceInfoRows(page, sizeof page, config, sizeof config);
  EXPECT_FALSE(rows[14].support == DevInfoRow::kYes);

  ScratchFolder dir;
  int st = 0;
  std::string out = Cli("virtual create --media dvd+rw " + (dir / "rw.vdisc"), &st);
  ASSERT_EQ(st, 0) << out;
  out = Cli("dev-info --drive virtual:" + (dir / "rw.vdisc"), &st);
  ASSERT_EQ(st, 0) << out;
  EXPECT_NE(out.find("Writes CD-R"), std::string::npos) << out;
}
