// Moving and copying project entries between disc folders: nothing is lost,
// nothing overwritten, taken names become free ones and are reported.

#include <gtest/gtest.h>

#include "authoring/FileList.h"
#include "authoring/ProjectEdit.h"
#include "support/TestFolders.h"

namespace {

std::vector<std::string> DiscNames(const std::string& folder) {
  std::vector<FileListEntry> entries;
  EXPECT_TRUE(ReadFileList(folder, &entries));
  std::vector<std::string> names;
  for (const FileListEntry& e : entries) names.push_back(e.discName);
  return names;
}

// root/{a.txt, B.txt, Docs/{a.txt}, Docs/Deep/}
struct Project {
  ScratchFolder dir;
  std::string root = dir.Mkdir("root");
  std::string docs = dir.Mkdir("root/Docs");
  Project() {
    dir.Mkdir("root/Docs/Deep");
    EXPECT_TRUE(WriteFileList(root, {{"/src/a.txt", "a.txt"}, {"/src/b.txt", "B.txt"}}));
    EXPECT_TRUE(WriteFileList(docs, {{"/src/other-a.txt", "a.txt"}}));
  }
};

}  // namespace

TEST(ProjectEdit, MovedFilesTakeFreeNamesAndLeaveTheirOldFolder) {
  Project p;
  ProjectEditResult r;
  ASSERT_TRUE(MoveProjectEntries(p.root, {"a.txt", "B.txt"}, p.docs, &r)) << r.error;
  EXPECT_EQ(DiscNames(p.root), std::vector<std::string>{});
  EXPECT_EQ(DiscNames(p.docs), (std::vector<std::string>{"a.txt", "a (2).txt", "B.txt"}));
  ASSERT_EQ(r.renamed.size(), 1u);
  EXPECT_EQ(r.renamed[0].from, "a.txt");
  EXPECT_EQ(r.renamed[0].to, "a (2).txt");
  EXPECT_EQ(r.done, (std::vector<std::string>{"a (2).txt", "B.txt"}));
  // The moved entry still points at its own source, not at the one it met.
  std::vector<FileListEntry> entries;
  ASSERT_TRUE(ReadFileList(p.docs, &entries));
  EXPECT_EQ(entries[1].sourcePath, "/src/a.txt");
}

TEST(ProjectEdit, NamesCompareCaseInsensitivelyAndKeepTheirExtension) {
  Project p;
  EXPECT_EQ(FreeDiscName(p.root, "A.TXT", false), "A (2).TXT");
  EXPECT_EQ(FreeDiscName(p.root, "docs", true), "docs (2)");
  EXPECT_EQ(FreeDiscName(p.root, "new.txt", false), "new.txt");
  ASSERT_TRUE(WriteFileList(p.root, {{"/s", "a.txt"}, {"/s", "a (2).txt"}, {"/s", ".config"}}));
  EXPECT_EQ(FreeDiscName(p.root, "a.txt", false), "a (3).txt");
  EXPECT_EQ(FreeDiscName(p.root, ".config", false), ".config (2)");
}

TEST(ProjectEdit, FoldersMoveWithTheirContentButNeverIntoThemselves) {
  Project p;
  ProjectEditResult r;
  EXPECT_FALSE(MoveProjectEntries(p.root, {"Docs"}, p.docs + "/Deep", &r));
  EXPECT_NE(r.error.find("itself"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_directory(p.docs + "/Deep"));

  std::string other = p.dir.Mkdir("root/Other");
  ProjectEditResult moved;
  ASSERT_TRUE(MoveProjectEntries(p.root, {"Docs"}, other, &moved)) << moved.error;
  EXPECT_FALSE(std::filesystem::exists(p.docs));
  EXPECT_EQ(DiscNames(other + "/Docs"), std::vector<std::string>{"a.txt"});
  EXPECT_TRUE(std::filesystem::is_directory(other + "/Docs/Deep"));
  // A move into the folder the entries are in changes nothing.
  ProjectEditResult same;
  ASSERT_TRUE(MoveProjectEntries(p.root, {"a.txt"}, p.root, &same));
  EXPECT_EQ(DiscNames(p.root), (std::vector<std::string>{"a.txt", "B.txt"}));
  EXPECT_TRUE(same.renamed.empty());
}

TEST(ProjectEdit, CopiesKeepTheOriginalsAndAnEntryThatIsGoneIsReported) {
  Project p;
  ProjectEditResult r;
  ASSERT_TRUE(CopyProjectEntries(p.root, {"a.txt", "Docs"}, p.root, &r)) << r.error;
  EXPECT_EQ(DiscNames(p.root), (std::vector<std::string>{"a.txt", "B.txt", "a (2).txt"}));
  EXPECT_EQ(DiscNames(p.root + "/Docs (2)"), std::vector<std::string>{"a.txt"});
  EXPECT_EQ(DiscNames(p.docs), std::vector<std::string>{"a.txt"});
  EXPECT_EQ(r.renamed.size(), 2u);

  ProjectEditResult gone;
  EXPECT_FALSE(MoveProjectEntries(p.root, {"missing.txt"}, p.docs, &gone));
  EXPECT_NE(gone.error.find("missing.txt"), std::string::npos);
}
