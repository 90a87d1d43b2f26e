#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <filesystem>
#include <fstream>

#include "authoring/CFileManager.h"
#include "authoring/FileList.h"
#include "authoring/ImportedEntry.h"
#include "support/TestFolders.h"

namespace {

class Recorder : public SizeTotalListener {
 public:
  void SizePiece(uint32_t wParam, uint32_t lParam) override {
    SizeTotalListener::SizePiece(wParam, lParam);
    pieces.emplace_back(wParam, lParam);
  }
  void Refused(const std::string& path, AddRefusal reason) override {
    refused.push_back(path);
    (void)reason;
  }
  void CurrentFileChanged(const std::string& text) override { texts.push_back(text); }
  std::vector<std::pair<uint32_t, uint32_t>> pieces;
  std::vector<std::string> refused;
  std::vector<std::string> texts;
};

struct Project {
  Project() {
    manager.SetStagingRoot(staging.path());
    manager.SetListener(&listener);
  }
  std::vector<FileListEntry> List(const std::string& rel = "") {
    std::vector<FileListEntry> entries;
    ReadFileList(rel.empty() ? staging.path() : staging / rel, &entries);
    return entries;
  }
  ScratchFolder staging, sources;
  CFileManager manager;
  Recorder listener;
  PlainProjectTree tree;
};

}  // namespace

TEST(FileManager, AddingAFolderTwiceReplacesTheFirstCopy) {
  Project p;
  p.sources.Write("one/Music/a.mp3", "aaa");
  p.sources.Write("one/Music/Live/b.mp3", "bb");
  p.sources.Write("two/Music/c.mp3", "c");
  ASSERT_TRUE(p.manager.AddPath(&p.tree, p.tree.Root(), p.sources / "one/Music", p.staging.path()));
  EXPECT_EQ(p.listener.total(), 5u);
  TreeItem music = p.tree.Find(p.tree.Root(), "Music");
  ASSERT_NE(music, nullptr);
  ASSERT_NE(p.tree.Find(music, "Live"), nullptr);
  EXPECT_EQ(p.manager.GetItemPath(&p.tree, p.tree.Find(music, "Live")), p.staging / "Music/Live");

  ASSERT_TRUE(p.manager.AddPath(&p.tree, p.tree.Root(), p.sources / "two/Music", p.staging.path()));
  ASSERT_EQ(p.List("Music").size(), 1u);
  EXPECT_EQ(p.List("Music")[0].discName, "c.mp3");
  EXPECT_FALSE(std::filesystem::exists(p.staging / "Music/Live"));
  EXPECT_EQ(p.tree.Children(p.tree.Root()).size(), 1u);
}

TEST(FileManager, FilesAreListedOnceAndCaseDiffersIsNotADuplicate) {
  Project p;
  std::string a = p.sources.Write("a.txt", "x");
  std::string upper = p.sources.Write("A.TXT", "y");
  ASSERT_TRUE(p.manager.AddPath(nullptr, nullptr, a, p.staging.path()));
  ASSERT_TRUE(p.manager.AddPath(nullptr, nullptr, a, p.staging.path()));
  ASSERT_TRUE(p.manager.AddPath(nullptr, nullptr, upper, p.staging.path()));
  auto list = p.List();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].sourcePath, a);
  EXPECT_EQ(p.manager.FileNameExists(p.staging.path(), "a.txt"), 2);
  EXPECT_EQ(p.manager.FileNameExists(p.staging.path(), a), 2);  // either field counts
  EXPECT_EQ(p.manager.FileNameExists(p.staging.path(), "b.txt"), 0);
  EXPECT_FALSE(p.manager.AddPath(nullptr, nullptr, p.sources / "missing.txt", p.staging.path()));
  EXPECT_EQ(p.listener.refused.size(), 1u);
}

TEST(FileManager, Mp3ModeKeepsOnlyMp3Files) {
  Project p;
  p.manager.SetMode(CFileManager::kModeMp3);
  p.sources.Write("drop/one.mp3", "1");
  p.sources.Write("drop/TWO.MP3", "2");
  p.sources.Write("drop/three.wav", "3");
  ASSERT_TRUE(p.manager.AddPath(nullptr, nullptr, p.sources / "drop", p.staging.path()));
  auto list = p.List("drop");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].discName, "TWO.MP3");
  EXPECT_EQ(list[1].discName, "one.mp3");
}

TEST(FileManager, LargeSizesArriveInPiecesAndTooLargeFilesAreRefused) {
  Project p;
  std::string big = p.sources / "big.bin";
  { std::ofstream(big) << ""; }
  ASSERT_EQ(truncate(big.c_str(), 5000000000LL), 0);  // sparse: takes no room
  ASSERT_TRUE(p.manager.AddPath(nullptr, nullptr, big, p.staging.path()));
  ASSERT_EQ(p.listener.pieces.size(), 3u);
  EXPECT_EQ(p.listener.pieces[0], std::make_pair(0u, 0x7FFFFFFFu));
  EXPECT_EQ(p.listener.pieces[1], std::make_pair(0u, 0x7FFFFFFFu));
  EXPECT_EQ(p.listener.pieces[2], std::make_pair(1u, uint32_t(5000000000ull % 0x7FFFFFFF)));
  EXPECT_EQ(p.listener.total(), 5000000000u);

  Project iso;
  iso.manager.SetMaxFileSize(CFileManager::kIsoFileSizeLimit);
  EXPECT_FALSE(iso.manager.AddPath(nullptr, nullptr, big, iso.staging.path()));
  EXPECT_EQ(iso.listener.refused, std::vector<std::string>{big});
  EXPECT_TRUE(iso.List().empty());
}

TEST(FileManager, NeverAddsTheProjectIntoItselfNorFollowsLinkLoops) {
  Project p;
  EXPECT_FALSE(p.manager.AddPath(nullptr, nullptr, p.staging.path(), p.staging.path()));
  p.sources.Write("tree/sub/f.txt", "f");
  std::filesystem::create_directory_symlink(p.sources / "tree", p.sources / "tree/sub/back");
  ASSERT_TRUE(p.manager.AddPath(nullptr, nullptr, p.sources / "tree", p.staging.path()));
  EXPECT_TRUE(std::filesystem::exists(p.staging / "tree/sub"));
  EXPECT_FALSE(std::filesystem::exists(p.staging / "tree/sub/back"));
  EXPECT_EQ(p.listener.refused.size(), 2u);  // the project folder, then the loop
}

TEST(FileManager, LinksAreFollowedToTheirRealFoldersButNeverIntoTheProject) {
  Project p;
  p.sources.Write("tree/sub/f.txt", "f");
  p.sources.Write("tree/sub/deeper/g.txt", "gg");
  namespace fs = std::filesystem;
  fs::create_directory_symlink(p.sources / "tree/sub", p.sources / "tree/alias");  // beside it: followed
  fs::create_directory_symlink(p.sources / "tree/sub", p.sources / "tree/sub/deeper/up");  // a loop
  fs::create_directory_symlink(p.staging.path(), p.sources / "tree/project");
  p.staging.Mkdir("inner");
  fs::create_directory_symlink(p.staging / "inner", p.sources / "tree/sub/into");
  // Reached through a link itself, the tree is still known by its real folders.
  fs::create_directory_symlink(p.sources / "tree", p.sources / "way");
  ASSERT_FALSE(p.manager.AddPath(nullptr, nullptr, p.sources / "way", p.staging.path()));
  ASSERT_EQ(p.List("way/alias").size(), 1u);
  EXPECT_EQ(p.List("way/alias")[0].sourcePath, p.sources / "way/alias/f.txt");
  EXPECT_EQ(p.List("way/alias/deeper").size(), 1u);
  EXPECT_FALSE(fs::exists(p.staging / "way/sub/deeper/up"));
  EXPECT_FALSE(fs::exists(p.staging / "way/project"));
  EXPECT_FALSE(fs::exists(p.staging / "way/sub/into"));
  EXPECT_EQ(p.listener.total(), 6u);
  // The loop and the way into the project, below each way to them; a link
  // to the project's own root is passed over.
  EXPECT_EQ(p.listener.refused,
            (std::vector<std::string>{p.sources / "way/alias/deeper/up", p.sources / "way/alias/into",
                                      p.sources / "way/sub/deeper/up", p.sources / "way/sub/into"}));
}

TEST(FileManager, AddingAFolderTreeReadsNoListBack) {
  for (bool keep : {false, true}) {  // as the window adds, and as the command line does
    Project p;
    p.manager.SetKeepEveryPath(keep);
    for (int d = 0; d < 3; ++d)
      for (int f = 0; f < 5; ++f) p.sources.Write("tree/d" + std::to_string(d) + "/f" + std::to_string(f), "x");
    p.sources.Write("tree/top.txt", "top");
    const uint64_t before = FileListsOpenedForReading();
    ASSERT_TRUE(p.manager.AddPath(&p.tree, p.tree.Root(), p.sources / "tree", p.staging.path()));
    EXPECT_EQ(FileListsOpenedForReading() - before, 0u) << "every path kept: " << keep;
    EXPECT_EQ(p.List("tree/d2").size(), 5u);
    EXPECT_EQ(p.List("tree").size(), 1u);
    EXPECT_EQ(p.listener.total(), 18u);
    EXPECT_EQ(p.tree.Children(p.tree.Find(p.tree.Root(), "tree")).size(), 3u);
  }
}

TEST(FileManager, AWalkPassesOverTheProjectAndOddFoldersAndAddsAllElse) {
  ScratchFolder sources;
  // The project lives inside the tree being added, between folders that are added.
  const std::string staging = sources.Mkdir("top/b-project");
  CFileManager manager;
  Recorder listener;
  PlainProjectTree tree;
  manager.SetStagingRoot(staging);
  manager.SetListener(&listener);
  sources.Write("top/a/1/f.txt", "1");
  sources.Write("top/a/2/f.txt", "22");
  sources.Write("top/back\\slash/x/f.txt", "333");
  sources.Write("top/c/f.txt", "4444");
  sources.Write("top/c/d/e/f.txt", "55555");
  ASSERT_TRUE(manager.AddPath(&tree, tree.Root(), sources / "top", staging));
  EXPECT_EQ(listener.total(), 12u);
  for (const char* folder : {"top/a/1", "top/a/2", "top/c", "top/c/d/e"}) {
    std::vector<FileListEntry> entries;
    ReadFileList(staging + "/" + folder, &entries);
    EXPECT_EQ(entries.size(), 1u) << folder;
  }
  EXPECT_FALSE(std::filesystem::exists(staging + "/top/b-project"));
  EXPECT_EQ(listener.refused, std::vector<std::string>{sources / "top/back\\slash"});
  TreeItem top = tree.Find(tree.Root(), "top");
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(tree.Children(top).size(), 2u);
}

TEST(FileManager, AWalkStoppedWhileFoldersAreReadAheadEnds) {
  // Stops at the first file it lists, with far more folders read ahead than taken.
  class Stopper : public FileManagerListener {
   public:
    void CurrentFileChanged(const std::string&) override {
      ++files;
      manager->Stop();
    }
    CFileManager* manager = nullptr;
    int files = 0;
  };
  ScratchFolder sources, staging;
  for (int i = 0; i < 150; ++i) sources.Write("many/d" + std::to_string(1000 + i) + "/f", "x");
  CFileManager manager;
  Stopper stopper;
  stopper.manager = &manager;
  manager.SetStagingRoot(staging.path());
  manager.SetListener(&stopper);
  EXPECT_FALSE(manager.AddPath(nullptr, nullptr, sources / "many", staging.path()));
  EXPECT_EQ(stopper.files, 1);
  EXPECT_FALSE(std::filesystem::exists(staging / "many/d1001"));
}

TEST(FileManager, KeptPathsNumberAFolderMeetingAListedFile) {
  Project p;
  p.manager.SetKeepEveryPath(true);
  p.sources.Write("one/pack/x", "1");
  p.sources.Write("one/pack/sub/a.txt", "a");
  p.sources.Write("two/pack/x/inner.txt", "22");
  p.sources.Write("two/pack/sub/a.txt", "b");
  p.sources.Write("two/pack/y", "3");
  ASSERT_TRUE(p.manager.AddPath(nullptr, nullptr, p.sources / "one/pack", p.staging.path()));
  ASSERT_TRUE(p.manager.AddPath(nullptr, nullptr, p.sources / "two/pack", p.staging.path()));
  auto pack = p.List("pack");
  ASSERT_EQ(pack.size(), 2u);
  EXPECT_EQ(pack[0].discName, "x");
  EXPECT_EQ(pack[1].discName, "y");
  ASSERT_EQ(p.List("pack/x~1").size(), 1u);  // the folder, beside the file of its name
  auto sub = p.List("pack/sub");             // folders of one name merge
  ASSERT_EQ(sub.size(), 2u);
  EXPECT_EQ(sub[1].discName, "a~1.txt");
}

TEST(FileManager, AListThatCannotBeWrittenStaysWholeAndCountsNothing) {
  Project p;
  p.manager.SetKeepEveryPath(true);  // the second folder goes into the first one's list
  p.sources.Write("one/pack/a.txt", "a");
  for (int i = 0; i < 40; ++i) p.sources.Write("two/pack/f" + std::to_string(i) + ".txt", "xx");
  ASSERT_TRUE(p.manager.AddPath(nullptr, nullptr, p.sources / "one/pack", p.staging.path()));
  ASSERT_EQ(p.listener.total(), 1u);
  // The list may grow by three and a half entries: the disc is full.
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit small = old;
  small.rlim_cur = filels::kEntrySize * 4 + filels::kEntrySize / 2;
  auto handler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool added = p.manager.AddPath(nullptr, nullptr, p.sources / "two/pack", p.staging.path());
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, handler);
  EXPECT_FALSE(added);
  EXPECT_FALSE(p.listener.refused.empty());
  std::vector<FileListEntry> entries;
  std::string error;
  EXPECT_TRUE(ReadFileList(p.staging / "pack", &entries, &error)) << error;
  // What the totals show is what the list holds.
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(p.listener.total(), 1u + 2u * (entries.size() - 1));
}

TEST(FileManager, ImportedEntriesShareFoldersWithNewFiles) {
  Project p;
  ImportedEntry folder{ImportedEntry::kFolder, "Docs"};
  ImportedEntry file{ImportedEntry::kFile, "old.txt", {100, 1, 2, 3, 4, 5, 0}, 1234, 40};
  ASSERT_TRUE(p.manager.AddPath(nullptr, nullptr, FormatImportedEntry(folder), p.staging.path()));
  ASSERT_TRUE(p.manager.AddPath(nullptr, nullptr, FormatImportedEntry(file), p.staging / "Docs"));
  ASSERT_TRUE(p.manager.AddPath(nullptr, nullptr, p.sources.Write("new.txt", "n"), p.staging / "Docs"));
  auto list = p.List("Docs");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_TRUE(list[0].IsImported());
  EXPECT_EQ(list[0].discName, "old.txt");
  ImportedEntry evil{ImportedEntry::kFolder, "../escape"};
  EXPECT_FALSE(p.manager.AddPath(nullptr, nullptr, FormatImportedEntry(evil), p.staging.path()));
}

TEST(FileManager, BackgroundAdditionStopsWhenAsked) {
  Project p;
  for (int i = 0; i < 50; ++i) p.sources.Write("many/f" + std::to_string(i), "x");
  std::atomic<int> finished{0};
  ASSERT_TRUE(p.manager.StartAddPaths(&p.tree, p.tree.Root(), p.staging.path(), {p.sources / "many"},
                                      [&](bool) { ++finished; }));
  p.manager.Wait();
  EXPECT_EQ(finished.load(), 1);
  EXPECT_EQ(p.List("many").size(), 50u);

  p.manager.Stop();
  EXPECT_FALSE(p.manager.AddPath(nullptr, nullptr, p.sources / "many", p.staging / "other"));
}

#include "authoring/CDataCD.h"
#include "authoring/ProjectFile.h"

TEST(DataCD, OwnsItsFolderAndWritesTheMp3Playlist) {
  ScratchFolder src;
  src.Write("Album/01 intro.mp3", "1");
  src.Write("Album/cover.jpg", "c");
  src.Write("single.mp3", "s");
  std::string root;
  {
    CDataCD disc;
    root = disc.GetStagingRoot();
    ASSERT_TRUE(disc.AddPath(src / "Album", "Music\\Rock", true));
    ASSERT_TRUE(disc.AddPath(src / "single.mp3", "\\", true));
    EXPECT_FALSE(disc.AddPath(src / "single.mp3", "\\..\\", true));
    std::vector<FileListEntry> album;
    ReadFileList(root + "/Music/Rock/Album", &album);
    ASSERT_EQ(album.size(), 1u);  // the picture is not an MP3

    ASSERT_TRUE(disc.MakePlaylist(src / "p.bcd", "Mix"));
    ASSERT_TRUE(disc.MakePlaylist(src / "p.bcd", "Mix"));  // made again: still one playlist
    std::vector<FileListEntry> top;
    ReadFileList(root, &top);
    ASSERT_EQ(top.size(), 2u);
    EXPECT_EQ(top[1].discName, "Playlist.M3U");
    EXPECT_EQ(ReadWholeFile(top[1].sourcePath), "Music\\Rock\\Album\\01 intro.mp3\r\nsingle.mp3\r\n");
    EXPECT_EQ(ReadProjectKind(src / "p.bcd"), 3);
  }
  EXPECT_FALSE(std::filesystem::exists(root));
}
