// What varnex-cli must never do to a user's files, whatever it is given:
// empty or replace a file nobody asked to replace, write through a planted
// link, wait forever on a FIFO, report an unreadable folder or a full disk as
// success, or burn a damaged image.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "BurnTestSupport.h"
#include "CDevCmdRW.h"
#include "ImageFileDisc.h"
#include "support/RunCommand.h"

namespace fs = std::filesystem;

namespace {

std::string Cli(const std::string& args, int* status) {
  return RunTool(std::string(VARNEX_CLI_PATH) + " " + args, status);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool IsIsoImage(const std::string& path) {
  std::string data = ReadWholeFile(path);
  return data.size() > 16 * 2048 + 6 && data.compare(16 * 2048 + 1, 5, "CD001") == 0;
}

}  // namespace

TEST(CliSafety, AnImageFileIsNeverEmptiedByEraseOrARefusedBurn) {
  ScratchFolder dir;
  int st = 0;
  const std::string image = dir.Write("earlier.iso", "an earlier image");
  for (const char* medium : {"", " --medium cd-rw", " --medium cd-r"}) {
    std::string out = Cli("erase --drive image:" + image + medium, &st);
    EXPECT_NE(st, 0) << out;
    EXPECT_EQ(ReadWholeFile(image), "an earlier image") << "erase" << medium << " touched the image file";
  }
  // A burn that fails before its end leaves the file as it was and no partial file.
  Cli("burn --replace --drive image:" + image + " " + (dir / "missing"), &st);
  EXPECT_NE(st, 0);
  EXPECT_EQ(ReadWholeFile(image), "an earlier image");
  EXPECT_EQ(FolderListing(dir.path()), "earlier.iso ");

  // The recorder itself: an erase of a written image starts over beside it.
  auto disc = std::make_unique<ImageFileDisc>(image, medium::kCdRw);
  ASSERT_TRUE(disc->CreateBlank(true, nullptr));
  {
    CDevCmdRW drive(std::move(disc), 11);
    EXPECT_EQ(drive.Blank(1), 0u);
  }
  EXPECT_EQ(ReadWholeFile(image), "an earlier image") << "a recorder that never closed a session replaced the file";
  EXPECT_EQ(FolderListing(dir.path()), "earlier.iso ");
}

TEST(CliSafety, AnExistingImageIsOnlyReplacedWhenAskedAndNeverThroughALink) {
  ScratchFolder dir;
  int st = 0;
  const std::string image = dir.Write("old.iso", "keep me");
  const std::string source = VARNEX_SOURCE_DIR "/data/sample/README.txt";
  std::string out = Cli("burn --drive image:" + image + " " + source, &st);
  EXPECT_NE(st, 0);
  EXPECT_TRUE(Has(out, "--replace")) << out;
  EXPECT_EQ(ReadWholeFile(image), "keep me");

  out = Cli("burn --replace --drive image:" + image + " " + source, &st);
  ASSERT_EQ(st, 0) << out;
  EXPECT_TRUE(IsIsoImage(image));
  EXPECT_FALSE(Exists(image + ".part"));

  // A link to a file elsewhere: refused, and with --replace the link itself
  // is replaced; the file it pointed at is never written.
  const std::string system = dir.Write("system/passwd", "root:x:0:0");
  fs::create_symlink(system, dir / "link.iso");
  out = Cli("burn --drive image:" + (dir / "link.iso") + " " + source, &st);
  EXPECT_NE(st, 0);
  EXPECT_TRUE(Has(out, "symbolic link")) << out;
  out = Cli("burn --replace --drive image:" + (dir / "link.iso") + " " + source, &st);
  EXPECT_EQ(st, 0) << out;
  EXPECT_EQ(ReadWholeFile(system), "root:x:0:0");
  EXPECT_FALSE(fs::is_symlink(dir / "link.iso"));
  EXPECT_TRUE(IsIsoImage(dir / "link.iso"));
}

TEST(CliSafety, PlantedLinksNeverRedirectATemporaryOrPartialFile) {
  ScratchFolder dir;
  int st = 0;
  const std::string victim = dir.Write("victim", "untouched");
  const std::string source = VARNEX_SOURCE_DIR "/data/sample/README.txt";
  auto plant = [&](const std::string& name) {
    fs::remove(dir / name);
    fs::create_symlink(victim, dir / name);
  };
  plant("out.iso.part");
  std::string out = Cli("burn --drive image:" + (dir / "out.iso") + " " + source, &st);
  EXPECT_NE(st, 0) << out;
  plant("img.iso.part");
  out = Cli("image -o " + (dir / "img.iso") + " " + source, &st);
  EXPECT_NE(st, 0) << out;
  plant("p.bcd.part");
  out = Cli("project save -o " + (dir / "p.bcd") + " " + source, &st);
  EXPECT_NE(st, 0) << out;  // a partial file this program did not leave is never touched
  EXPECT_TRUE(fs::is_symlink(dir / "p.bcd.part"));
  plant("d.vdisc.part");
  out = Cli("virtual create --media cd-r " + (dir / "d.vdisc"), &st);
  EXPECT_NE(st, 0) << out;
  EXPECT_EQ(ReadWholeFile(victim), "untouched");

  // A virtual recorder named through a link: the disc it names is burnt,
  // and the link stays a link.
  fs::create_directories(dir / "discs");
  out = Cli("virtual create --media cd-r " + (dir / "discs/real.vdisc"), &st);
  ASSERT_EQ(st, 0) << out;
  fs::create_symlink(dir / "discs/real.vdisc", dir / "alias.vdisc");
  plant("discs/real.vdisc.new");
  out = Cli("burn --drive virtual:" + (dir / "alias.vdisc") + " " + source, &st);
  ASSERT_EQ(st, 0) << out;
  EXPECT_TRUE(fs::is_symlink(dir / "alias.vdisc"));
  out = Cli("disc-info --drive virtual:" + (dir / "discs/real.vdisc"), &st);
  EXPECT_TRUE(Has(out, "blank: no")) << out;
  EXPECT_EQ(ReadWholeFile(victim), "untouched");
}

TEST(CliSafety, FifosAndDevicesAreRefusedAtOnce) {
  ScratchFolder dir;
  int st = 0;
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Each of these waited in open() for a writer that never comes.
  std::string out = Cli("udf-list " + fifo, &st);
  EXPECT_NE(st, 0) << out;
  out = Cli("virtual create --media cd-rom --iso " + fifo + " " + (dir / "p.vdisc"), &st);
  EXPECT_NE(st, 0) << out;
  EXPECT_FALSE(Exists(dir / "p.vdisc"));
  out = Cli("burn --drive image:" + (dir / "o.iso") + " --image " + fifo, &st);
  EXPECT_NE(st, 0) << out;
  out = Cli("burn --drive image:" + (dir / "o.iso") + " --image /dev/zero", &st);
  EXPECT_NE(st, 0) << out;
  out = Cli("project show " + fifo, &st);
  EXPECT_NE(st, 0) << out;
  out = Cli("burn --drive image:" + (dir / "o.iso") + " --audio " + fifo, &st);
  EXPECT_NE(st, 0) << out;
  EXPECT_FALSE(Exists(dir / "o.iso"));
}

TEST(CliSafety, CtrlCWhileWaitingForTheNextDiscStopsAndCleansUp) {
  ScratchFolder dir;
  int st = 0;
  const std::string disc = dir / "d.vdisc";
  ASSERT_EQ((Cli("virtual create --media cd-r " + disc, &st), st), 0);
  fs::create_directories(dir / "tmp");
  // The interrupt is sent once the command says it waits for a blank disc
  // (the disc it just burnt is not blank, so it would wait for ever).
  const std::string script = "TMPDIR=" + Quoted(dir / "tmp") + " " + VARNEX_CLI_PATH + " burn --copies 2 --drive virtual:" +
                             disc + " " VARNEX_SOURCE_DIR "/data/sample >" + Quoted(dir / "log") + " 2>&1 & pid=$!; " +
                             "until grep -q 'insert a blank disc' " + Quoted(dir / "log") +
                             "; do kill -0 $pid 2>/dev/null || break; sleep 0.05; done; kill -INT $pid; wait $pid; echo rc=$?";
  std::string out = RunTool("sh -c " + Quoted(script), &st);
  const std::string log = ReadWholeFile(dir / "log");
  EXPECT_TRUE(Has(log, "insert a blank disc")) << log;
  EXPECT_FALSE(Has(out, "rc=0")) << out << log;
  EXPECT_TRUE(Has(out, "rc=1")) << out << log;  // ended by the program, not killed by the signal
  EXPECT_EQ(FolderListing(dir / "tmp"), "") << "temporary files were left behind";
}

TEST(CliSafety, AnUnreadableFolderFailsTheCommand) {
  if (!HaveTool("setpriv")) GTEST_SKIP() << "setpriv is not installed: cannot run the CLI as an unprivileged user";
  // A tree an unprivileged user can walk, except for one folder.
  // In the system's temporary folder, not the run's private one: the
  // unprivileged user must be able to walk to it.
  char base[] = "/tmp/VarnexUnreadableXXXXXX";
  ASSERT_NE(::mkdtemp(base), nullptr);
  const std::string root = base;
  struct Remove {
    std::string root;
    ~Remove() {
      ::chmod((root + "/src/locked").c_str(), 0755);
      std::error_code ec;
      fs::remove_all(root, ec);
    }
  } removeAtEnd{root};
  fs::create_directories(root + "/src/locked");
  fs::create_directories(root + "/out");
  fs::create_directories(root + "/tmp");
  std::ofstream(root + "/src/open.txt") << "readable";
  std::ofstream(root + "/src/locked/secret.txt") << "secret";
  ::chmod(root.c_str(), 0755);
  ::chmod((root + "/src").c_str(), 0755);
  ::chmod((root + "/src/open.txt").c_str(), 0644);
  ::chmod((root + "/out").c_str(), 0777);
  ::chmod((root + "/tmp").c_str(), 0777);
  ::chmod((root + "/src/locked").c_str(), 0);
  std::string prefix = "";
  if (::geteuid() == 0) prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  int st = 0;
  std::string out = RunTool(prefix + "env TMPDIR=" + root + "/tmp " + VARNEX_CLI_PATH + " image -o " + root +
                                "/out/x.iso " + root + "/src",
                            &st);
  EXPECT_NE(st, 0) << out;
  EXPECT_TRUE(Has(out, "locked")) << out;
  EXPECT_FALSE(Exists(root + "/out/x.iso"));
  out = RunTool(prefix + "env TMPDIR=" + root + "/tmp " + VARNEX_CLI_PATH + " project save -o " + root +
                    "/out/p.bcd " + root + "/src",
                &st);
  EXPECT_NE(st, 0) << out;
}

TEST(CliSafety, DotNamesAreNeverWrittenHidden) {
  if (!HaveTool("isoinfo")) GTEST_SKIP() << "isoinfo (genisoimage) is not installed";
  ScratchFolder dir;
  dir.Write("src/.git/config", "[core]");
  dir.Write("src/.env", "A=1");
  dir.Write("src/plain.txt", "plain");
  int st = 0;
  std::string out = Cli("image -o " + (dir / "d.iso") + " " + (dir / "src"), &st);
  ASSERT_EQ(st, 0) << out;
  // isoinfo -l shows each record's extent and flags as "[ extent flags]".
  std::string listing = RunTool("isoinfo -R -l -i " + (dir / "d.iso"), &st);
  ASSERT_EQ(st, 0) << listing;
  std::regex record(R"(\[\s*\d+\s+([0-9a-fA-F]{2})\])");
  int records = 0;
  for (std::sregex_iterator it(listing.begin(), listing.end(), record), end; it != end; ++it) {
    ++records;
    EXPECT_EQ(std::stoi((*it)[1].str(), nullptr, 16) & 1, 0) << "hidden bit in " << it->str() << "\n" << listing;
  }
  EXPECT_GT(records, 4) << listing;
}

TEST(CliSafety, DamagedImagesAreRefusedBeforeTheRecorderIsTouched) {
  ScratchFolder dir;
  int st = 0;
  std::string cut(2048 * 20 + 100, '\0');
  std::ofstream(dir / "cut.iso", std::ios::binary) << cut;
  std::string out = Cli("burn --drive image:" + (dir / "o.iso") + " --image " + (dir / "cut.iso"), &st);
  EXPECT_NE(st, 0);
  EXPECT_TRUE(Has(out, "whole number")) << out;
  // An NRG footer whose chunk area lies outside the file.
  std::string nrg(2048 * 20, '\0');
  nrg += std::string("NER5") + std::string("\x7f\0\0\0\0\0\0\0", 8);
  std::ofstream(dir / "bad.nrg", std::ios::binary) << nrg;
  out = Cli("burn --drive image:" + (dir / "o.iso") + " --image " + (dir / "bad.nrg"), &st);
  EXPECT_NE(st, 0);
  EXPECT_TRUE(Has(out, "NRG")) << out;
  EXPECT_FALSE(Exists(dir / "o.iso"));
  EXPECT_FALSE(Exists(dir / "o.iso.part"));
}

TEST(CliSafety, SpeedsLabelsAndProjectPathsAreChecked) {
  ScratchFolder dir;
  int st = 0;
  const std::string source = VARNEX_SOURCE_DIR "/data/sample/README.txt";
  for (const char* speed : {"0", "-4", "nan", "inf", "x", ""}) {
    std::string out = Cli("burn --speed '" + std::string(speed) + "' --drive image:" + (dir / "o.iso") + " " + source, &st);
    EXPECT_NE(st, 0) << speed;
    EXPECT_TRUE(Has(out, "--speed")) << speed << ": " << out;
  }
  std::string out = RunTool("bash -c " + Quoted(std::string(VARNEX_CLI_PATH) + " image --label $'A\\001B' -o " + (dir / "l.iso") + " " + source), &st);
  EXPECT_NE(st, 0);
  EXPECT_TRUE(Has(out, "control character")) << out;
  EXPECT_FALSE(Exists(dir / "l.iso"));
  const std::string longLabel(40, 'L');
  out = Cli("image --label " + longLabel + " -o " + (dir / "l.iso") + " " + source, &st);
  EXPECT_EQ(st, 0) << out;
  EXPECT_TRUE(Has(out, "cut")) << out;
  EXPECT_FALSE(Has(out, "(code 0)")) << out;

  // A project saved from a relative path names its sources absolutely.
  dir.Write("rel/a.txt", "a");
  out = RunTool("cd " + Quoted(dir.path()) + " && " + VARNEX_CLI_PATH + " project save -o p.bcd rel", &st);
  ASSERT_EQ(st, 0) << out;
  out = Cli("project show " + (dir / "p.bcd"), &st);
  EXPECT_TRUE(Has(out, dir / "rel/a.txt")) << out;
}

// A full disk is said to be one, the partial output is removed and an
// existing disc state file stays as it was. The disk is a small tmpfs mounted
// in a mount namespace of the command's own (root only), so nothing outlives
// the test.
TEST(CliSafety, AFullDiskIsReportedAndLeavesNothingHalfWritten) {
  if (::geteuid() != 0 || !HaveTool("unshare")) GTEST_SKIP() << "needs root and unshare to mount a small tmpfs";
  ScratchFolder dir;
  int st = 0;
  const std::vector<uint8_t> big = PatternBytes(3 << 20, 7);
  fs::create_directories(dir / "src");
  std::ofstream(dir / "src/big.bin", std::ios::binary).write(reinterpret_cast<const char*>(big.data()), big.size());
  const std::string disc = dir / "d.vdisc";
  ASSERT_EQ((Cli("virtual create --media dvd+r " + disc, &st), st), 0);
  std::string out = Cli("burn --drive virtual:" + disc + " " + (dir / "src"), &st);
  ASSERT_EQ(st, 0) << out;
  ASSERT_EQ((Cli("virtual export --drive virtual:" + disc + " -o " + (dir / "big.iso"), &st), st), 0);
  fs::create_directories(dir / "full");
  const std::string cli = VARNEX_CLI_PATH, full = dir / "full";
  const std::string script =
      "mount -t tmpfs -o size=1m tmpfs " + full + " || { echo cannot-mount; exit 0; }; " +
      cli + " virtual create --media cd-r " + full + "/keep.vdisc >/dev/null; cp " + full + "/keep.vdisc " +
      dir.path() + "/keep.copy; " +
      "echo '== export'; " + cli + " virtual export --drive virtual:" + disc + " -o " + full + "/out.iso; echo rc=$?; echo ls: $(ls -A " + full + "); " +
      "echo '== image'; " + cli + " image -o " + full + "/img.iso " + dir.path() + "/src; echo rc=$?; echo ls: $(ls -A " + full + "); " +
      "echo '== pressed'; " + cli + " virtual create --media cd-rom --iso " + dir.path() + "/big.iso " + full +
      "/p.vdisc; echo rc=$?; echo ls: $(ls -A " + full + "); " +
      "dd if=/dev/zero of=" + full + "/filler bs=4k 2>/dev/null; " +
      "echo '== replace'; " + cli + " virtual create --replace --media cd-rw " + full + "/keep.vdisc; echo rc=$?; " +
      "cmp " + full + "/keep.vdisc " + dir.path() + "/keep.copy && echo kept; echo ls: $(ls -A " + full + "); " +
      "echo '== burn'; " + cli + " burn --drive image:" + full + "/b.iso " + dir.path() + "/src; echo rc=$?; echo ls: $(ls -A " + full + ")";
  out = RunTool("unshare -m sh -c " + Quoted(script), &st);
  if (Has(out, "cannot-mount")) GTEST_SKIP() << "tmpfs cannot be mounted here: " << out;
  auto section = [&](const std::string& name) {
    size_t at = out.find("== " + name);
    size_t end = out.find("== ", at + 3);
    return at == std::string::npos ? std::string() : out.substr(at, end == std::string::npos ? end : end - at);
  };
  // What the full disk holds after each command.
  auto left = [&](const std::string& s) {
    size_t at = s.find("ls:");
    return at == std::string::npos ? std::string("?") : s.substr(at, s.find('\n', at) - at);
  };
  for (const char* name : {"export", "image", "pressed"}) {
    std::string s = section(name);
    EXPECT_TRUE(Has(s, "rc=1")) << s;
    EXPECT_TRUE(Has(s, "disk is full")) << s;
    EXPECT_EQ(left(s), "ls: keep.vdisc keep.vdisc.sectors") << "output left behind: " << s;
  }
  std::string s = section("replace");
  EXPECT_TRUE(Has(s, "rc=1")) << s;
  EXPECT_TRUE(Has(s, "disk is full")) << s;
  EXPECT_TRUE(Has(s, "kept")) << "the existing disc was damaged: " << s;
  EXPECT_EQ(left(s), "ls: filler keep.vdisc keep.vdisc.sectors") << s;
  s = section("burn");
  EXPECT_TRUE(Has(s, "rc=1")) << s;
  EXPECT_EQ(left(s), "ls: filler keep.vdisc keep.vdisc.sectors") << s;
}

TEST(CliSafety, ADiscLeftWithAnUnfinishedSessionIsRefusedUntilErased) {
  ScratchFolder dir;
  int st = 0;
  const std::vector<uint8_t> data = PatternBytes(3 << 20, 3);
  std::ofstream(dir / "big.bin", std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
  for (const char* medium : {"cd-r", "cd-rw"}) {
    const std::string disc = dir / (std::string(medium) + ".vdisc");
    ASSERT_EQ((Cli("virtual create --media " + std::string(medium) + " " + disc, &st), st), 0);
    ASSERT_EQ((Cli("virtual fault --drive virtual:" + disc + " --write-error 20 --times 100", &st), st), 0);
    std::string out = Cli("burn --drive virtual:" + disc + " " + (dir / "big.bin"), &st);
    ASSERT_NE(st, 0) << out;
    Cli("virtual fault --drive virtual:" + disc + " --clear", &st);
    for (const char* multi : {"", " --multisession"}) {
      out = Cli("burn" + std::string(multi) + " --drive virtual:" + disc + " " VARNEX_SOURCE_DIR "/data/sample", &st);
      EXPECT_NE(st, 0) << medium << multi << ": a burn behind the broken session was reported as success\n" << out;
      EXPECT_TRUE(Has(out, "-923") && Has(out, "Erase")) << out;
    }
    if (std::string(medium) == "cd-rw") {
      ASSERT_EQ((Cli("erase --drive virtual:" + disc, &st), st), 0);
      out = Cli("burn --drive virtual:" + disc + " " VARNEX_SOURCE_DIR "/data/sample", &st);
      EXPECT_EQ(st, 0) << out;
    }
  }
}
