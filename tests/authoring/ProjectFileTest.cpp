#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "ByteFields.h"
#include "authoring/CFileManager.h"
#include "authoring/FileList.h"
#include "authoring/ProjectFile.h"
#include "support/TestFolders.h"

namespace {

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

std::string SaveStaged(const std::string& staging, const std::string& out, const std::string& label,
                       int mode = CFileManager::kModeData) {
  CFileManager m;
  m.SetMode(mode);
  EXPECT_TRUE(m.SaveDataProject(staging, out, label));
  return ReadWholeFile(out);
}

// A data project whose tree block holds exactly `records`.
std::string ProjectWithRecords(const std::string& records) {
  std::string file = project::MakeHeader(project::kDataDisc, "X", 1) + project::MakeTrackHeader(1, 2);
  std::string len(4, '\0');
  bytes::PutLE32(reinterpret_cast<uint8_t*>(&len[0]), uint32_t(records.size()));
  return file + len + records;
}

std::string Record(uint8_t kind, const std::string& a, const std::string& b) {
  std::string r(1, char(kind));
  r += char(a.size() & 0xFF);
  r += char(a.size() >> 8);
  r += a;
  r += char(b.size() & 0xFF);
  r += char(b.size() >> 8);
  return r + b;
}

}  // namespace

TEST(ProjectFile, EmptyAndOneFileProjectsHaveTheirExactBytes) {
  ScratchFolder staging, out;
  std::string empty = SaveStaged(staging.path(), out / "empty.bcd", "A label of twenty ch");
  ASSERT_EQ(empty.size(), 452u);
  EXPECT_EQ(bytes::LE32(Bytes(empty)), 256u);
  EXPECT_EQ(empty[4], 2);
  EXPECT_EQ(std::string(empty.data() + 5, 15), std::string("A label of twen", 14) + '\0');
  EXPECT_EQ(empty.substr(256, 3), "\1\1\1");
  EXPECT_EQ(empty.substr(320, 4), "\1\1\1\1");
  EXPECT_EQ(empty.substr(384, 3), "\1\2\1");
  EXPECT_EQ(bytes::LE32(Bytes(empty) + 448), 0u);
  EXPECT_EQ(ReadProjectKind(out / "empty.bcd"), 2);

  ASSERT_TRUE(AppendFileListEntry(staging.path(), {"/home/u/a.txt", "a.txt"}));
  std::string one = SaveStaged(staging.path(), out / "one.bcd", "L", CFileManager::kModeMp3);
  EXPECT_EQ(one[4], 3);
  EXPECT_EQ(one.substr(448), std::string("\x18\0\0\0", 4) + Record(2, "/home/u/a.txt", "\\a.txt"));
}

TEST(ProjectFile, SavingALoadedProjectGivesTheSameBytes) {
  ScratchFolder src, staging, again, out;
  src.Write("Music/Live/song one.mp3", "1");
  src.Write("Music/b.mp3", "2");
  src.Write("readme", "3");
  src.Mkdir("Empty folder");
  CFileManager m;
  m.SetStagingRoot(staging.path());
  for (const char* p : {"Music", "readme", "Empty folder"}) ASSERT_TRUE(m.AddPath(nullptr, nullptr, src / p, staging.path()));
  ASSERT_TRUE(AppendFileListEntry(staging / "Music", {"<1><old.mp3><7A0C0810172B20><10><3>", "old.mp3"}));
  std::string first = SaveStaged(staging.path(), out / "a.bcd", "Round trip");

  CFileManager loader;
  loader.SetStagingRoot(again.path());
  PlainProjectTree tree;
  std::string label;
  ASSERT_TRUE(loader.LoadDataProject(&tree, out / "a.bcd", &label));
  EXPECT_EQ(label, "Round trip");
  EXPECT_EQ(tree.Text(tree.Root()), "Round trip");
  EXPECT_NE(tree.Find(tree.Find(tree.Root(), "Music"), "Live"), nullptr);
  EXPECT_EQ(SaveStaged(again.path(), out / "b.bcd", "Round trip"), first);
}

TEST(ProjectFile, HostileAndDamagedFilesLoseNothingOutsideTheProject) {
  // The staging root lies two folders deep in the test's own scratch folder,
  // so that whatever escapes it still lands where the test can see it and
  // is removed with it.
  ScratchFolder box, out;
  const std::string staging = box.Mkdir("outer/staging");
  std::string escape = Record(1, "", "\\..\\..\\escaped\\") + Record(2, "/etc/passwd", "\\..\\x.txt") +
                       Record(2, "/bin/sh", "\\ok\\sh");
  std::string path = box.Write("outer/hostile.bcd", ProjectWithRecords(escape));
  CFileManager m;
  m.SetStagingRoot(staging);
  EXPECT_TRUE(m.LoadDataProject(nullptr, path));
  EXPECT_FALSE(std::filesystem::exists(box / "escaped"));
  EXPECT_FALSE(std::filesystem::exists(box / "outer/x.txt"));
  for (const auto& e : std::filesystem::recursive_directory_iterator(box.path())) {
    const std::string p = e.path().string();
    EXPECT_TRUE(p == box / "outer" || p == path || p.rfind(staging, 0) == 0) << "written outside the staging folder: " << p;
  }
  std::vector<FileListEntry> ok;
  ReadFileList(staging + "/ok", &ok);
  ASSERT_EQ(ok.size(), 1u);

  std::string cut = ProjectWithRecords(Record(2, "/a", "\\a") + Record(2, "/b", "\\b"));
  cut.resize(cut.size() - 3);
  ScratchFolder staging2;
  CFileManager m2;
  m2.SetStagingRoot(staging2.path());
  std::string error;
  EXPECT_FALSE(m2.LoadDataProject(nullptr, out.Write("cut.bcd", cut), nullptr, &error));
  EXPECT_NE(error.find("damaged"), std::string::npos);
  std::vector<FileListEntry> kept;
  ReadFileList(staging2.path(), &kept);
  EXPECT_EQ(kept.size(), 1u);  // the records before the cut were loaded

  EXPECT_FALSE(m2.LoadDataProject(nullptr, out.Write("short.bcd", "abc")));
  EXPECT_EQ(ReadProjectKind(out / "short.bcd"), 0);
  std::string audio = project::MakeHeader(project::kAudioCD, "", 0);
  EXPECT_FALSE(m2.LoadDataProject(nullptr, out.Write("audio.bcd", audio)));
  std::string bigMark = ProjectWithRecords("");
  bigMark[3] = 0x7F;  // the length field lies far beyond the file
  EXPECT_FALSE(m2.LoadDataProject(nullptr, out.Write("mark.bcd", bigMark)));
}

TEST(ProjectFile, AudioProjectCountsRowsUpToTheFirstGap) {
  ScratchFolder dir;
  std::vector<std::string> rows = {dir.Write("1.wav", "a"), dir.Write("2.wav", "b"), dir.Write("3.wav", "c"),
                                   "  ", dir.Write("5.wav", "e")};
  ASSERT_TRUE(SaveAudioProject(dir / "a.bcd", rows));
  std::string f = ReadWholeFile(dir / "a.bcd");
  EXPECT_EQ(f[4], 1);
  EXPECT_EQ(f.substr(320, 4), "\1\3\1\3");
  EXPECT_EQ(f.substr(384, 2), "\1\1");
  std::vector<std::string> back;
  ASSERT_TRUE(LoadAudioProject(dir / "a.bcd", &back));
  EXPECT_EQ(back, std::vector<std::string>(rows.begin(), rows.begin() + 3));
  size_t second = 384 + 64 + 4 + rows[0].size() + 64;
  EXPECT_EQ(f.substr(second, 2), "\2\1");
}

TEST(ProjectFile, AnAudioProjectKeepsItsFilesAndOlderBlocksStillLoad) {
  ScratchFolder dir;
  AudioProjectDisc disc;
  disc.title = "Album";
  disc.tracks.push_back(AudioProjectTrack{dir.Write("1.wav", "a"), "One"});
  disc.filesPlace = 1;
  disc.filesLabel = "EXTRA";
  disc.files = {dir.Write("extra/notes.txt", "n"), dir / "extra"};
  ASSERT_TRUE(SaveAudioProject(dir / "a.bcd", disc));
  AudioProjectDisc back;
  std::string why;
  ASSERT_TRUE(LoadAudioProject(dir / "a.bcd", &back, &why)) << why;
  EXPECT_EQ(back.filesPlace, 1);
  EXPECT_EQ(back.filesLabel, "EXTRA");
  EXPECT_EQ(back.files, disc.files);
  EXPECT_EQ(back.tracks.at(0).title, "One");

  // The same block as the first version wrote it: the texts and no files.
  std::string f = ReadWholeFile(dir / "a.bcd");
  const size_t mark = f.find("VXAD");
  ASSERT_NE(mark, std::string::npos);
  const size_t body = mark + 12;
  const size_t filesAt = f.size() - (1 + 2 + 5 + 2 + (2 + disc.files[0].size()) + (2 + disc.files[1].size()));
  std::string v1 = f.substr(0, mark + 4) + std::string("\1\0\0\0", 4);
  const uint32_t size = uint32_t(filesAt - body);
  v1.append(reinterpret_cast<const char*>(&size), 4).append(f.substr(body, filesAt - body));
  dir.Write("v1.bcd", v1);
  ASSERT_TRUE(LoadAudioProject(dir / "v1.bcd", &back, &why)) << why;
  EXPECT_EQ(back.title, "Album");
  EXPECT_EQ(back.filesPlace, 0);
  EXPECT_TRUE(back.files.empty());
  // A block cut off inside its list of files is damaged, not read short.
  std::string cut = f.substr(0, f.size() - 3);
  const uint32_t shorter = uint32_t(f.size() - 3 - body);
  std::memcpy(&cut[mark + 8], &shorter, 4);
  dir.Write("cut.bcd", cut);
  EXPECT_FALSE(LoadAudioProject(dir / "cut.bcd", &back, &why));
  EXPECT_NE(why.find("damaged"), std::string::npos) << why;
}
