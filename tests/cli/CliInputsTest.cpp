// What varnex-cli makes of the files and names it is handed: two paths with
// one disc name, sources that went missing or changed kind since a project
// was saved, relative paths in a project file, sound files posing as video,
// damaged UDF entries, names with control characters, and a drive that
// refuses to read raw sectors.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "ByteFields.h"
#include "authoring/CECMA167.h"
#include "authoring/ProjectFile.h"
#include "burnctrl/BurnTestSupport.h"
#include "support/RunCommand.h"

namespace fs = std::filesystem;

namespace {

CommandResult Cli(const std::string& args) { return RunCommand(std::string(VARNEX_CLI_PATH) + " " + args); }

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Every file below `folder` with its content, "a/b.txt=content;" sorted.
std::string Tree(const std::string& folder) {
  std::vector<std::string> rows;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file())
      rows.push_back(fs::relative(e.path(), folder).string() + "=" + ReadWholeFile(e.path()));
  std::sort(rows.begin(), rows.end());
  std::string all;
  for (const auto& r : rows) all += r + ";";
  return all;
}

// The files of an image or drive as extract-files saves them.
std::string Extracted(const ScratchFolder& dir, const std::string& drive, const std::string& name) {
  CommandResult r = Cli("extract-files --drive " + drive + " -o " + Quoted(dir / name));
  EXPECT_EQ(r.status, 0) << r.output;
  return Tree(dir / name);
}

std::string NewDisc(const ScratchFolder& dir, const std::string& name, const std::string& medium) {
  CommandResult r = Cli("virtual create --media " + medium + " " + Quoted(dir / name));
  EXPECT_EQ(r.status, 0) << r.output;
  return "virtual:" + (dir / name);
}

bool Blank(const std::string& drive) { return Has(Cli("disc-info --drive " + drive).output, "blank: yes"); }

// A data project file holding file records (source, disc path) as given.
std::string ProjectFile(const std::string& label, const std::vector<std::pair<std::string, std::string>>& files) {
  std::string records;
  auto text = [](const std::string& s) {
    std::string len(2, '\0');
    bytes::PutLE16(reinterpret_cast<uint8_t*>(&len[0]), uint16_t(s.size()));
    return len + s;
  };
  for (const auto& [source, discPath] : files) records += std::string(1, char(project::kFileRecord)) + text(source) + text(discPath);
  std::string file = project::MakeHeader(project::kDataDisc, label, 1) + project::MakeTrackHeader(1, 2);
  std::string len(4, '\0');
  bytes::PutLE32(reinterpret_cast<uint8_t*>(&len[0]), uint32_t(records.size()));
  return file + len + records;
}

}  // namespace

TEST(CliInputs, TwoPathsWithOneDiscNameAreBothKeptOnEveryRoad) {
  ScratchFolder dir;
  dir.Write("a/same.txt", "from a");
  dir.Write("b/same.txt", "from b");
  dir.Write("a/dir/x.txt", "a x");
  dir.Write("a/dir/y.txt", "a y");
  dir.Write("b/dir/x.txt", "b x");
  dir.Write("b/dir/z.txt", "b z");
  const std::string paths = Quoted(dir / "a/same.txt") + " " + Quoted(dir / "b/same.txt") + " " + Quoted(dir / "a/dir") +
                            " " + Quoted(dir / "b/dir");
  // Folders are merged; files meeting a taken name are numbered, first come first named.
  const std::string want = "dir/x.txt=a x;dir/x~1.txt=b x;dir/y.txt=a y;dir/z.txt=b z;same.txt=from a;same~1.txt=from b;";
  for (const std::string udf : {"", " --udf"}) {
    SCOPED_TRACE(udf.empty() ? "ISO 9660" : "UDF");
    const std::string image = dir / ("i" + udf.substr(udf.empty() ? 0 : 3) + ".iso");
    CommandResult r = Cli("image" + udf + " -o " + Quoted(image) + " " + paths);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(Has(r.output, "same~1.txt")) << "the renaming is reported: " << r.output;
    EXPECT_EQ(Extracted(dir, "image:" + image, "out" + udf.substr(udf.empty() ? 0 : 3)), want);
  }
  CommandResult r = Cli("burn --drive image:" + Quoted(dir / "burnt.iso") + " " + paths);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(Extracted(dir, "image:" + (dir / "burnt.iso"), "burnt"), want);

  r = Cli("project save -o " + Quoted(dir / "p.bcd") + " " + paths);
  ASSERT_EQ(r.status, 0) << r.output;
  r = Cli("project show " + Quoted(dir / "p.bcd"));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(Has(r.output, "\\same~1.txt  <-  " + (dir / "b/same.txt"))) << r.output;
  EXPECT_TRUE(Has(r.output, "\\dir\\x~1.txt  <-  " + (dir / "b/dir/x.txt"))) << r.output;
  EXPECT_TRUE(Has(r.output, "\\dir\\y.txt  <-  ")) << r.output;

  // The same file twice is one file, not two.
  r = Cli("image -o " + Quoted(dir / "twice.iso") + " " + Quoted(dir / "a/same.txt") + " " + Quoted(dir / "a/same.txt"));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(Extracted(dir, "image:" + (dir / "twice.iso"), "twice"), "same.txt=from a;");
}

TEST(CliInputs, SourcesThatChangedSinceTheProjectWasSavedStopTheBurnBeforeTheDisc) {
  ScratchFolder dir;
  const std::string ok = dir.Write("src/ok.txt", "fine");
  const std::string gone = dir.Write("src/gone.txt", "soon gone");
  const std::string nowFolder = dir.Write("src/now-folder.txt", "soon a folder");
  const std::string fifo = dir.Write("src/fifo.txt", "soon a pipe");
  const std::string zero = dir.Write("src/zero.txt", "soon a device");
  const std::string project = dir / "p.bcd";
  CommandResult r = Cli("project save -o " + Quoted(project) + " " + Quoted(dir / "src"));
  ASSERT_EQ(r.status, 0) << r.output;
  fs::remove(gone);
  fs::remove(nowFolder);
  fs::create_directory(nowFolder);
  fs::remove(fifo);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  fs::remove(zero);
  fs::create_symlink("/dev/zero", zero);

  const std::string disc = NewDisc(dir, "d.vdisc", "cd-r");
  r = Cli("burn --drive " + disc + " --project " + Quoted(project));
  EXPECT_NE(r.status, 0) << r.output;
  for (const std::string& bad : {gone, nowFolder, fifo, zero}) EXPECT_TRUE(Has(r.output, bad)) << r.output;
  EXPECT_FALSE(Has(r.output, "\"" + ok + "\"")) << "a sound source is not named: " << r.output;
  EXPECT_TRUE(Blank(disc)) << "the write-once disc was used: " << r.output;

  // An MP3 project alike.
  dir.Write("mp3/one.mp3", "not really sound, but a file");
  const std::string lost = dir.Write("mp3/two.mp3", "soon gone");
  r = Cli("project save --mp3 -o " + Quoted(dir / "m.bcd") + " " + Quoted(dir / "mp3"));
  ASSERT_EQ(r.status, 0) << r.output;
  fs::remove(lost);
  const std::string mp3Disc = NewDisc(dir, "m.vdisc", "cd-r");
  r = Cli("burn --mp3 --drive " + mp3Disc + " --project " + Quoted(dir / "m.bcd"));
  EXPECT_NE(r.status, 0) << r.output;
  EXPECT_TRUE(Has(r.output, lost)) << r.output;
  EXPECT_TRUE(Blank(mp3Disc)) << r.output;

  // The same check stands before an image file is made.
  r = Cli("image -o " + Quoted(dir / "p.iso") + " --project " + Quoted(project));
  EXPECT_NE(r.status, 0) << r.output;
  EXPECT_TRUE(Has(r.output, gone)) << r.output;
  EXPECT_FALSE(fs::exists(dir / "p.iso"));
}

TEST(CliInputs, RelativeSourcesOfAProjectFileAreTakenFromItsFolder) {
  ScratchFolder dir;
  dir.Write("proj/media/song.txt", "relative source");
  const std::string project = dir.Write("proj/p.bcd", ProjectFile("REL", {{"media/song.txt", "\\song.txt"}}));
  // Run from another folder, which holds a decoy of the same relative path.
  dir.Write("elsewhere/media/song.txt", "decoy");
  CommandResult r = RunCommand("cd " + Quoted(dir / "elsewhere") + " && " + VARNEX_CLI_PATH + " image -o " +
                               Quoted(dir / "p.iso") + " --project " + Quoted(project));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(Extracted(dir, "image:" + (dir / "p.iso"), "out"), "song.txt=relative source;");
  r = RunCommand("cd / && " + std::string(VARNEX_CLI_PATH) + " project show " + Quoted(project));
  EXPECT_TRUE(Has(r.output, "\\song.txt  <-  " + (dir / "proj/media/song.txt"))) << r.output;
}

TEST(CliInputs, ASoundFileNamedAsVideoIsRefusedForEveryVideoDisc) {
  ScratchFolder dir;
  const std::string fake = dir / "song.mp4";
  CommandResult r = RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i sine=duration=2 -c:a aac " + Quoted(fake));
  ASSERT_EQ(r.status, 0) << r.output;
  for (const std::string kind : {"--vcd", "--svcd"}) {
    SCOPED_TRACE(kind);
    const std::string disc = NewDisc(dir, kind.substr(2) + ".vdisc", "cd-r");
    r = Cli("video " + kind + " --drive " + disc + " " + Quoted(fake));
    EXPECT_NE(r.status, 0) << r.output;
    EXPECT_TRUE(Has(r.output, fake)) << r.output;
    EXPECT_TRUE(Blank(disc)) << r.output;
  }
}

namespace {

// The sector of the UDF file entry whose information length is `size`.
size_t FileEntryOfSize(const std::string& image, uint64_t size) {
  for (size_t at = 0; at + 2048 <= image.size(); at += 2048) {
    const uint8_t* d = reinterpret_cast<const uint8_t*>(image.data() + at);
    if (bytes::LE16(d) == udf::kTagFileEntry && bytes::LE64(d + 56) == size) return at;
  }
  return std::string::npos;
}

}  // namespace

TEST(CliInputs, DamagedUdfEntriesAreNamedWhenTheyCannotBeSaved) {
  ScratchFolder dir;
  dir.Write("src/fine.txt", "a sound file");
  dir.Write("src/beyond.txt", std::string(3001, 'b'));
  dir.Write("src/broken.txt", std::string(3002, 'c'));
  const std::string image = dir / "u.iso";
  CommandResult r = Cli("image --udf -o " + Quoted(image) + " " + Quoted(dir / "src"));
  ASSERT_EQ(r.status, 0) << r.output;
  std::string bytesOf = ReadWholeFile(image);
  // One entry's data is said to lie far past the end; another entry's tag is damaged.
  const size_t beyond = FileEntryOfSize(bytesOf, 3001), broken = FileEntryOfSize(bytesOf, 3002);
  ASSERT_NE(beyond, std::string::npos);
  ASSERT_NE(broken, std::string::npos);
  uint8_t* fe = reinterpret_cast<uint8_t*>(&bytesOf[beyond]);
  const size_t ads = 176 + bytes::LE32(fe + 168);
  bytes::PutLE32(fe + ads + 4, 0x00F00000);
  CECMA167::RefreshTag(fe);
  bytesOf[broken + 36] ^= 0x55;  // the descriptor's CRC no longer fits
  std::ofstream(image, std::ios::binary | std::ios::trunc) << bytesOf;

  r = Cli("extract-files --drive image:" + Quoted(image) + " -o " + Quoted(dir / "out"));
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(Has(r.output, "\"src/beyond.txt\"")) << r.output;
  EXPECT_TRUE(Has(r.output, "\"src/broken.txt\"")) << r.output;
  EXPECT_TRUE(Has(r.output, "2 not saved")) << r.output;
  EXPECT_EQ(ReadWholeFile(dir / "out/src/fine.txt"), "a sound file");
}

TEST(CliInputs, ControlCharactersAreNeitherPrintedNorBurntRaw) {
  ScratchFolder dir;
  const std::string evil = "evil\x1b]0;owned\x07name.txt";
  dir.Write("src/" + evil, "payload");
  dir.Write("src/plain.txt", "plain");
  const std::string image = dir / "c.iso";
  CommandResult r = Cli("image -o " + Quoted(image) + " " + Quoted(dir / "src"));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_FALSE(Has(r.output, "\x1b")) << "an escape reached the terminal";
  EXPECT_TRUE(Has(r.output, "evil_]0;owned_name.txt")) << "the new name is shown: " << r.output;
  EXPECT_EQ(Extracted(dir, "image:" + image, "out"), "src/evil_]0;owned_name.txt=payload;src/plain.txt=plain;");

  // What a disc made elsewhere holds is shown escaped: a Joliet name given
  // control characters after the image was made.
  dir.Write("other/evilQQname.txt", "x");
  const std::string foreign = dir / "f.iso";
  r = Cli("image --no-rock -o " + Quoted(foreign) + " " + Quoted(dir / "other"));
  ASSERT_EQ(r.status, 0) << r.output;
  std::string bytesOf = ReadWholeFile(foreign);
  const std::string marker("\0Q\0Q", 4);
  size_t at = bytesOf.find(marker);
  ASSERT_NE(at, std::string::npos);
  bytesOf.replace(at, 4, std::string("\0\x1b\0\x07", 4));
  std::ofstream(foreign, std::ios::binary | std::ios::trunc) << bytesOf;
  r = Cli("analyse --files --drive image:" + Quoted(foreign));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_FALSE(Has(r.output, "\x1b")) << r.output;
  EXPECT_TRUE(Has(r.output, "evil\\x1b\\x07name.txt")) << r.output;
  // A label with a control character in a project file is refused like one on the command line.
  dir.Write("p/f.txt", "f");
  const std::string project = dir.Write("p.bcd", ProjectFile("BAD\x1b[2J", {{dir / "p/f.txt", "\\f.txt"}}));
  const std::string disc = NewDisc(dir, "l.vdisc", "cd-r");
  r = Cli("burn --drive " + disc + " --project " + Quoted(project));
  EXPECT_NE(r.status, 0);
  EXPECT_FALSE(Has(r.output, "\x1b")) << r.output;
  EXPECT_TRUE(Has(r.output, "control character")) << r.output;
  EXPECT_TRUE(Blank(disc));
}

TEST(CliInputs, AnalyseListsEachFolderBeforeItsLaterSiblingsWithIsoTimes) {
  ScratchFolder dir;
  dir.Write("src/a/inner.txt", "in a");
  dir.Write("src/b.txt", "b");
  dir.Write("src/c/deeper/leaf.txt", "leaf");
  const std::string image = dir / "t.iso";
  CommandResult r = Cli("image -o " + Quoted(image) + " " + Quoted(dir / "src"));
  ASSERT_EQ(r.status, 0) << r.output;
  r = Cli("analyse --files --drive image:" + Quoted(image));
  ASSERT_EQ(r.status, 0) << r.output;
  std::vector<std::string> names;
  std::regex row(R"(^ +(\S+)\t(\S+)\t)");
  std::smatch m;
  size_t pos = 0;
  while (pos < r.output.size()) {
    size_t end = r.output.find('\n', pos);
    std::string line = r.output.substr(pos, end - pos);
    pos = end == std::string::npos ? r.output.size() : end + 1;
    if (!std::regex_search(line, m, row)) continue;
    names.push_back(m[1]);
    EXPECT_TRUE(std::regex_match(m[2].str(), std::regex(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}([+-]\d{2}:\d{2})?)")))
        << line;
  }
  EXPECT_EQ(names, (std::vector<std::string>{"src/", "a/", "inner.txt", "b.txt", "c/", "deeper/", "leaf.txt"}))
      << r.output;
}

TEST(CliInputs, ADataCdIsCopiedFromADriveThatRefusesReadCd) {
  ScratchFolder dir;
  const std::string src = NewDisc(dir, "src.vdisc", "cd-r");
  CommandResult r = Cli("burn --drive " + src + " " VARNEX_SOURCE_DIR "/data/sample");
  ASSERT_EQ(r.status, 0) << r.output;
  r = Cli("virtual export --drive " + src + " --cue " + Quoted(dir / "src.cue"));
  ASSERT_EQ(r.status, 0) << r.output;
  r = Cli("virtual fault --drive " + src + " --refuse-read-cd");
  ASSERT_EQ(r.status, 0) << r.output;
  // The fault is real: a raw read of sector 0 is refused.
  r = Cli("sector --raw --drive " + src + " 16");
  EXPECT_NE(r.status, 0) << r.output;

  const std::string dst = NewDisc(dir, "dst.vdisc", "cd-r");
  r = Cli("copy --from " + src + " --to " + dst);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(Has(r.output, "READ (10)")) << "the user learns how the sectors were read: " << r.output;
  r = Cli("virtual export --drive " + dst + " --cue " + Quoted(dir / "dst.cue"));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(ReadWholeFile(dir / "src.bin") == ReadWholeFile(dir / "dst.bin")) << "the copy differs from its source";
  EXPECT_GT(ReadWholeFile(dir / "dst.bin").size(), 100u * 2352);
}
