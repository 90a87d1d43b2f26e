// The video disc project without a recorder: which files it takes, where
// thumbnails are taken, the capacity rule, the project file, and refusals
// before anything is converted or written.

#include <gtest/gtest.h>
#include <unistd.h>

#include "jobs/CVideoDiscProject.h"
#include "media/MediaTestSupport.h"

TEST(VideoDiscProject, TakesVideoFileNamesInAnyCaseAndNothingElse) {
  for (const char* taken : {"clip.MoV", "a.mpg", "B.MPEG", "c.avi", "d.m1v", "e.vob", "f.mp4", "g.mkv", "h.m2ts",
                            "AVSEQ01.DAT", "dir.x/i.ts"})
    EXPECT_TRUE(CVideoDiscProject::IsVideoFileName(taken)) << taken;
  for (const char* refused : {"notes.txt", "song.mp3", "mpg", ".mpg", "a.mpg.part", "dir.avi/readme", ""})
    EXPECT_FALSE(CVideoDiscProject::IsVideoFileName(refused)) << refused;
}

TEST(VideoDiscProject, ThumbnailSeekAndCapacityBoundaries) {
  EXPECT_EQ(CVideoDiscProject::ThumbnailSeek(8), 0);
  EXPECT_EQ(CVideoDiscProject::ThumbnailSeek(10), 0);
  EXPECT_EQ(CVideoDiscProject::ThumbnailSeek(11), 5);
  const uint32_t capacity = 359847;
  EXPECT_TRUE(CVideoDiscProject::FitsCapacity(capacity - 10240, capacity));
  EXPECT_FALSE(CVideoDiscProject::FitsCapacity(capacity - 10240 + 1, capacity));
  EXPECT_FALSE(CVideoDiscProject::FitsCapacity(1, 5000)) << "a disc smaller than the reserve takes nothing";
}

TEST(VideoDiscProject, KindsCarryTheirLabelsAndProjectBytes) {
  CVideoDiscProject p(CVideoDiscProject::kSuperVideoCd);
  EXPECT_EQ(p.Label(), "SVCD");
  p.SetMode(CVideoDiscProject::kVideoCd);
  EXPECT_EQ(p.Label(), "VCD");
  EXPECT_EQ(CVideoDiscProject::Info(CVideoDiscProject::kVideoCd)->projectKind, 4);
  EXPECT_EQ(CVideoDiscProject::Info(CVideoDiscProject::kDvdVideo)->projectKind, 6);
  EXPECT_EQ(CVideoDiscProject::Info(7), nullptr);
  EXPECT_EQ(p.PrepareVideoDisc(nullptr), CVideoDiscProject::kEmptyProject);
}

TEST(VideoDiscProject, ProjectFileRoundTripsAndDamagedOnesAreRefused) {
  ScratchFolder dir;
  ConverterStandIn converter(ProbeOnlyConverter(dir));
  CVideoDiscProject p(CVideoDiscProject::kVideoCd);
  const std::string a = dir.Write("a clip.avi", "x"), b = dir.Write("b.mpg", "y");
  ASSERT_EQ(p.AddVideoFile(a), CVideoDiscProject::kAdded);
  ASSERT_EQ(p.AddVideoFile(b), CVideoDiscProject::kAdded);
  EXPECT_EQ(p.AddVideoFile(dir.Write("c.txt", "z")), CVideoDiscProject::kSkipped);
  p.SetLabel("SUMMER");
  const std::string file = dir / "v.bcd";
  std::string error;
  ASSERT_TRUE(p.SaveVideoProject(file, &error)) << error;

  CVideoDiscProject q(CVideoDiscProject::kVideoCd);
  std::vector<std::string> skipped;
  ::unlink(b.c_str());  // gone since: reported, left out
  ASSERT_TRUE(q.LoadVideoProject(file, &error, &skipped)) << error;
  EXPECT_EQ(q.Label(), "SUMMER");
  ASSERT_EQ(q.ItemCount(), 1u);
  EXPECT_EQ(q.Items()[0].source, a);
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_NE(skipped[0].find(b), std::string::npos) << skipped[0];

  // Cut off, or claiming more items than it holds: refused, the items kept.
  std::string body = ReadWholeFile(file);
  for (const std::string& bad : {body.substr(0, 200), body.substr(0, body.size() - 1), std::string(600, '\xFF')}) {
    EXPECT_FALSE(q.LoadVideoProject(dir.Write("bad.bcd", bad), &error));
    EXPECT_NE(error.find("bad.bcd"), std::string::npos) << error;
    EXPECT_EQ(q.ItemCount(), 1u);
  }
  // A path too long for the file's 260 bytes is refused, not cut.
  CVideoDiscProject r;
  ASSERT_EQ(r.AddVideoFile(dir.Write(std::string(250, 'n') + ".avi", "x")), CVideoDiscProject::kAdded);
  EXPECT_FALSE(r.SaveVideoProject(dir / "long.bcd", &error));
  EXPECT_NE(error.find("longer"), std::string::npos) << error;
}

TEST(VideoDiscProject, PreparingRefusesWhatCannotGoOnTheDiscAndLeavesNothingBehind) {
  ScratchFolder dir;
  PrivateTemp temp;
  ConverterStandIn converter(ProbeOnlyConverter(dir));
  CVideoDiscProject p(CVideoDiscProject::kVideoCd);
  const std::string clip = dir.Write("clip.avi", "not mpeg");
  ASSERT_EQ(p.AddVideoFile(clip), CVideoDiscProject::kAdded);

  std::atomic<bool> stop{true};
  EXPECT_EQ(p.PrepareVideoDisc(nullptr, &stop), result::kBurnStopped);
  // The stand-in converter converts nothing: no item, and nobody is asked.
  bool asked = false;
  EXPECT_EQ(p.PrepareVideoDisc([&](const std::string&) { return asked = true; }),
            CVideoDiscProject::kNothingConverted);
  EXPECT_FALSE(asked);
  // Without re-encoding, a file that is not an MPEG stream of the kind is named.
  p.SetReencode(false);
  EXPECT_EQ(p.PrepareVideoDisc(nullptr), CVideoDiscProject::kNotMpegOfKind);
  EXPECT_NE(p.LastError().find(clip), std::string::npos) << p.LastError();
  EXPECT_TRUE(p.ControlImage().empty());
  EXPECT_TRUE(temp.Left().empty()) << "a work folder or control track stayed behind";
  EXPECT_EQ(p.BurnVideoDisc(0), CVideoDiscProject::kEmptyProject) << "nothing prepared, nothing burnt";
}

TEST(VideoDiscProject, DvdKindTakesItsOwnInputsAndProjectsOfUpTo260Titles) {
  ScratchFolder dir;
  PrivateTemp temp;
  ConverterStandIn converter(ProbeOnlyConverter(dir));
  CVideoDiscProject p(CVideoDiscProject::kDvdVideo);
  EXPECT_EQ(p.Label(), "DVD");
  // A Video CD track or a sound file makes no title.
  EXPECT_EQ(p.AddVideoFile(dir.Write("AVSEQ01.DAT", "x")), CVideoDiscProject::kSkipped);
  EXPECT_EQ(p.AddVideoFile(dir.Write("song.wma", "x")), CVideoDiscProject::kSkipped);
  const std::string clip = dir.Write("clip.MoV", "x");
  for (int i = 0; i < 260; ++i) ASSERT_EQ(p.AddVideoFile(clip), CVideoDiscProject::kAdded) << i;
  EXPECT_EQ(p.AddVideoFile(clip), CVideoDiscProject::kLimitReached);

  // A DVD project keeps all 260 titles through its file; a Video CD's holds 99 at most.
  std::string error;
  const std::string file = dir / "dvd.bcd";
  ASSERT_TRUE(p.SaveVideoProject(file, &error)) << error;
  int kind = 0;
  std::string label;
  std::vector<std::string> paths;
  ASSERT_TRUE(CVideoDiscProject::ReadVideoProject(file, &kind, &label, &paths, &error)) << error;
  EXPECT_EQ(kind, 6);
  EXPECT_EQ(label, "DVD");
  EXPECT_EQ(paths.size(), 260u);
  std::string body = ReadWholeFile(file);
  body[4] = 4;
  EXPECT_FALSE(CVideoDiscProject::ReadVideoProject(dir.Write("vcd.bcd", body), &kind, &label, &paths, &error));
  EXPECT_NE(error.find("260"), std::string::npos) << error;

  // A title whose file has gone is named before any tool runs; nothing stays behind.
  CVideoDiscProject q(CVideoDiscProject::kDvdVideo);
  const std::string gone = dir.Write("gone.mp4", "x");
  ASSERT_EQ(q.AddVideoFile(gone), CVideoDiscProject::kAdded);
  ::unlink(gone.c_str());
  EXPECT_EQ(q.PrepareVideoDisc(nullptr), result::kSourceUnreadable);
  EXPECT_NE(q.LastError().find(gone), std::string::npos) << q.LastError();
  EXPECT_EQ(q.BurnVideoDisc(0), CVideoDiscProject::kEmptyProject) << "nothing prepared, nothing burnt";
  EXPECT_TRUE(temp.Left().empty());
}
