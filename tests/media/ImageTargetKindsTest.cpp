// Every kind of disc written into an image file is the disc a recorder gets:
// one job writes it to image:FILE and to a virtual recorder at once (so both
// carry the same layout and time), and the image equals what the virtual
// recorder's disc exports to. Images that must keep whole CD sectors are
// CUE sheets with their BIN file; the independent readers judge them too.

#include <gtest/gtest.h>

#include "media/DvdTestSupport.h"
#include "media/MediaTestSupport.h"

namespace {

CommandResult Cli(const std::string& args) { return RunCommand(std::string(VARNEX_CLI_PATH) + " " + args); }

// The virtual recorder's disc as an ISO image or as a CUE sheet with its BIN.
std::string Exported(const ScratchFolder& dir, const std::string& vdisc, const std::string& out) {
  const bool cue = out.size() > 4 && out.substr(out.size() - 4) == ".cue";
  CommandResult r = Cli("virtual export --drive virtual:" + vdisc + (cue ? " --cue " : " -o ") + Quoted(dir / out));
  EXPECT_EQ(r.status, 0) << r.output;
  return dir / out;
}

std::string Bin(const std::string& cue) { return cue.substr(0, cue.size() - 4) + ".bin"; }

void ExpectSameDisc(const std::string& image, const std::string& exported) {
  const std::string a = ReadWholeFile(image), b = ReadWholeFile(exported);
  EXPECT_GT(a.size(), 100u * 2048) << image;
  EXPECT_EQ(a.size(), b.size()) << image;
  EXPECT_TRUE(a == b) << image << " differs from the disc the recorder got";
}

}  // namespace

TEST(ImageTargetKinds, DataAndMp3DiscsEqualTheRecordersDisc) {
  ScratchFolder dir;
  const std::string a = dir.Write("src/a.txt", std::string(400000, 'a'));
  const std::string tone = MakeTone(dir, "tone.mp3", 1);
  for (const std::string& kind : {std::string("data"), std::string("mp3")}) {
    SCOPED_TRACE(kind);
    const std::string vd = dir / (kind + ".vdisc"), image = dir / (kind + ".iso");
    ASSERT_EQ(Cli("virtual create --media cd-r " + vd).status, 0);
    CommandResult r = Cli("burn --label SAME " + std::string(kind == "mp3" ? "--mp3 " : "") + "--drive image:" +
                          Quoted(image) + " --drive virtual:" + vd + " " + Quoted(a) + " " + Quoted(tone));
    ASSERT_EQ(r.status, 0) << r.output;
    ExpectSameDisc(image, Exported(dir, vd, kind + "-vd.iso"));
    r = RunCommand("isoinfo -J -f -i " + Quoted(image));
    EXPECT_NE(r.output.find("tone.mp3"), std::string::npos) << r.output;
    if (kind == "data") EXPECT_NE(r.output.find("a.txt"), std::string::npos) << r.output;
  }
}

TEST(ImageTargetKinds, AnAudioCdIsACueSheetWithItsBinAndAPlainImageIsRefused) {
  ScratchFolder dir;
  const std::string one = MakeTone(dir, "one.wav", 2), two = MakeTone(dir, "two.wav", 1);
  const std::string vd = dir / "audio.vdisc", cue = dir / "audio.cue";
  ASSERT_EQ(Cli("virtual create --media cd-r " + vd).status, 0);
  CommandResult r = Cli("audio burn --drive image:" + Quoted(cue) + " --drive virtual:" + vd + " " + Quoted(one) + " " +
                        Quoted(two));
  ASSERT_EQ(r.status, 0) << r.output;
  const std::string exported = Exported(dir, vd, "vd.cue");
  ExpectSameDisc(Bin(cue), Bin(exported));
  r = RunCommand("cd-info --no-device-info --cue-file " + Quoted(cue));
  EXPECT_NE(r.output.find("audio"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("  2: "), std::string::npos) << "two tracks:\n" << r.output;
  // A sheet already there is kept unless --replace says otherwise.
  r = Cli("audio burn --drive image:" + Quoted(cue) + " " + Quoted(one));
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(ReadWholeFile(Bin(cue)) == ReadWholeFile(Bin(exported)));
  // A plain image cannot keep audio sectors: refused before anything is written.
  r = Cli("audio burn --drive image:" + Quoted(dir / "audio.iso") + " " + Quoted(one));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find(".cue"), std::string::npos) << r.output;
  EXPECT_FALSE(std::filesystem::exists(dir / "audio.iso"));
}

TEST(ImageTargetKinds, VideoCdsAndADvdEqualTheRecordersDiscAndPassTheirReaders) {
  ScratchFolder dir;
  PrivateTemp temp;
  const std::string clip = MakeClip(dir, "clip.mp4", 2);
  for (const std::string& kind : {std::string("vcd"), std::string("svcd")}) {
    SCOPED_TRACE(kind);
    const std::string vd = dir / (kind + ".vdisc"), cue = dir / (kind + ".cue");
    ASSERT_EQ(Cli("virtual create --media cd-r " + vd).status, 0);
    CommandResult r = Cli("video --" + kind + " --drive image:" + Quoted(cue) + " --drive virtual:" + vd + " " + Quoted(clip));
    ASSERT_EQ(r.status, 0) << r.output;
    ExpectSameDisc(Bin(cue), Bin(Exported(dir, vd, kind + "-vd.cue")));
    r = RunCommand("vcd-info -B -c " + Quoted(cue) + " -f -E -T -p -I -P");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("WARN"), std::string::npos) << r.output;
  }
  const std::string vd = dir / "dvd.vdisc", iso = dir / "dvd.iso";
  ASSERT_EQ(Cli("virtual create --media dvd-r " + vd).status, 0);
  CommandResult r = Cli("video --dvd --drive image:" + Quoted(iso) + " --drive virtual:" + vd + " " + Quoted(clip));
  ASSERT_EQ(r.status, 0) << r.output;
  ExpectSameDisc(iso, Exported(dir, vd, "dvd-vd.iso"));
  std::string said;
  EXPECT_EQ(LsdvdLengths(iso, &said).size(), 1u) << said;
  EXPECT_TRUE(temp.Left().empty());
}

TEST(ImageTargetKinds, ACopyIntoAnImageEqualsTheCopyOntoARecorder) {
  ScratchFolder dir;
  const std::string source = dir / "source.vdisc", target = dir / "target.vdisc";
  const std::string file = dir.Write("src/copy me.txt", std::string(300000, 'c'));
  ASSERT_EQ(Cli("virtual create --media cd-r " + source).status, 0);
  ASSERT_EQ(Cli("virtual create --media cd-r " + target).status, 0);
  ASSERT_EQ(Cli("burn --label COPY --drive virtual:" + source + " " + Quoted(file)).status, 0);
  CommandResult r = Cli("copy --from virtual:" + source + " --to image:" + Quoted(dir / "copy.iso"));
  ASSERT_EQ(r.status, 0) << r.output;
  r = Cli("copy --from virtual:" + source + " --to virtual:" + target);
  ASSERT_EQ(r.status, 0) << r.output;
  ExpectSameDisc(dir / "copy.iso", Exported(dir, target, "target.iso"));
  // Several targets at once, a recorder and an image among them: the source
  // is read once and every target gets the same disc.
  const std::string other = dir / "other.vdisc", third = dir / "third.vdisc";
  ASSERT_EQ(Cli("virtual create --media cd-r " + other).status, 0);
  ASSERT_EQ(Cli("virtual create --media cd-r " + third).status, 0);
  r = Cli("copy --from virtual:" + source + " --to virtual:" + other + " --to virtual:" + third + " --to image:" +
          Quoted(dir / "several.iso"));
  ASSERT_EQ(r.status, 0) << r.output;
  ExpectSameDisc(dir / "several.iso", dir / "copy.iso");
  ExpectSameDisc(Exported(dir, other, "other.iso"), dir / "copy.iso");
  ExpectSameDisc(Exported(dir, third, "third.iso"), dir / "copy.iso");
  // Whole sectors too: the copy as a CUE sheet equals the recorder's.
  r = Cli("copy --from virtual:" + source + " --to image:" + Quoted(dir / "copy.cue"));
  ASSERT_EQ(r.status, 0) << r.output;
  ExpectSameDisc(dir / "copy.bin", Bin(Exported(dir, target, "target.cue")));
}
