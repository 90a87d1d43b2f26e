// The data track of a burn job is opened twice before it is written: once
// for the fit check, once for the burn.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "BurnCtrl/BurnFile.h"
#include "BurnTestSupport.h"

namespace {

struct Job {
  ScratchFolder dir;
  std::string file;
  std::unique_ptr<StagedProject> project;
  std::string path;
  explicit Job(size_t bytes) {
    file = WriteBytes(dir, "src/data.bin", PatternBytes(bytes, 5));
    project = std::make_unique<StagedProject>(std::vector<std::string>{file});
    path = dir / "job.bcd";
    CFileManager writer;
    writer.SetMode(CFileManager::kModeData);
    std::string error;
    EXPECT_TRUE(writer.SaveDataProject(project->root(), path, "KEPT", &error, Existing::kReplace)) << error;
  }
  // The job as one recorder of a run (stamp `serial`) burns it, from the job
  // file and staging tree given or the job's own.
  // Stamp time 0: a burn of its own, not one of a run.
  std::unique_ptr<BurnFileProject> Source(uint32_t serial, const std::string& jobFile = "",
                                          const std::string& root = "", time_t when = 1700000000) const {
    auto src = std::make_unique<BurnFileProject>(jobFile.empty() ? path : jobFile,
                                                 root.empty() ? project->root() : root, 2);
    src->SetBuildStamp(when, serial);
    EXPECT_TRUE(src->Load()) << src->LastError();
    EXPECT_TRUE(src->OpenSession(src->FirstSession()));
    return src;
  }
  void Grow(size_t bytes) const {
    std::ofstream(file, std::ios::app | std::ios::binary) << std::string(bytes, 'x');
  }
};

std::vector<uint8_t> ReadTrack(BurnFile& src) {
  std::vector<uint8_t> out(size_t(src.GetTrackLength()) * 2048);
  src.ReadSectors(out.data(), src.GetTrackLength());
  return out;
}

}  // namespace

// What the check measured is what is burnt: a file that grows in between
// does not make the burnt track longer than the one that was found to fit.
TEST(BurnFileProject, TheLayoutCheckedIsTheLayoutBurnt) {
  Job job(300 << 10);
  auto src = job.Source(0, "", "", 0);
  const int track = src->FirstTrack();
  ASSERT_TRUE(src->OpenTrack(track, 0));
  const uint32_t checked = src->GetTrackLength();
  src->CloseTrack();
  job.Grow(1 << 20);
  ASSERT_TRUE(src->OpenTrack(track, 0));
  EXPECT_EQ(src->GetTrackLength(), checked);
  // The kept layout serves the whole track from its first sector: the file
  // as it was laid out, whole.
  const std::vector<uint8_t> burnt = ReadTrack(*src), data = PatternBytes(300 << 10, 5);
  EXPECT_NE(std::search(burnt.begin(), burnt.end(), data.begin(), data.end()), burnt.end());
  EXPECT_TRUE(src->UnreadableSources().empty());
  src->CloseTrack();

  // Laid out anew: at another start, and once its sectors have been read.
  ASSERT_TRUE(src->OpenTrack(track, 0));
  EXPECT_GT(src->GetTrackLength(), checked) << "a track already read is laid out again";
  src->CloseTrack();
  ASSERT_TRUE(src->OpenTrack(track, 0));
  src->CloseTrack();
  ASSERT_TRUE(src->OpenTrack(track, 5000));
  const std::vector<uint8_t> moved = ReadTrack(*src);
  EXPECT_GT(moved.size(), burnt.size()) << "another start is laid out anew";
  src->Release();
}

// Every recorder of a run has its own copy of the job and of its staging
// tree: the track is laid out by one of them, the others take its length and
// lay it out only when their own source has to be read after all.
TEST(BurnFileProject, CopiesOfOneJobInARunShareTheLayout) {
  Job job(300 << 10);
  const std::string jobCopy = job.dir / "copy.bcd", rootCopy = job.dir / "copy-root";
  std::filesystem::copy(job.path, jobCopy);
  std::filesystem::copy(job.project->root(), rootCopy, std::filesystem::copy_options::recursive);

  auto first = job.Source(1);
  ASSERT_TRUE(first->OpenTrack(first->FirstTrack(), 0));
  const uint32_t length = first->GetTrackLength();
  job.Grow(1 << 20);  // a layout made from now on is longer
  auto second = job.Source(1, jobCopy, rootCopy);
  ASSERT_TRUE(second->OpenTrack(second->FirstTrack(), 0));
  EXPECT_EQ(second->GetTrackLength(), length) << "laid out by the first";
  ReadTrack(*first);
  EXPECT_TRUE(first->UnreadableSources().empty());
  // Made late from files that changed, the layout cannot stand in for the
  // one being written: the burn is not passed as a good one.
  ReadTrack(*second);
  EXPECT_FALSE(second->UnreadableSources().empty());

  // Another run lays out anew; a copy laid out late from the same files
  // serves the same sectors.
  auto third = job.Source(2);
  ASSERT_TRUE(third->OpenTrack(third->FirstTrack(), 0));
  EXPECT_GT(third->GetTrackLength(), length);
  auto fourth = job.Source(2, jobCopy, rootCopy);
  ASSERT_TRUE(fourth->OpenTrack(fourth->FirstTrack(), 0));
  EXPECT_EQ(fourth->GetTrackLength(), third->GetTrackLength());
  const std::vector<uint8_t> fed = ReadTrack(*third);
  EXPECT_TRUE(ReadTrack(*fourth) == fed);
  EXPECT_TRUE(fourth->UnreadableSources().empty());
  // A staging tree of its own (a session imported from its disc) is laid
  // out by itself.
  CFileManager more;
  more.SetStagingRoot(rootCopy);
  ASSERT_TRUE(more.AddPath(nullptr, nullptr, WriteBytes(job.dir, "more/extra.bin", PatternBytes(1 << 20, 6)), rootCopy));
  auto fifth = job.Source(2, jobCopy, rootCopy);
  ASSERT_TRUE(fifth->OpenTrack(fifth->FirstTrack(), 0));
  EXPECT_GT(fifth->GetTrackLength(), third->GetTrackLength());
}
